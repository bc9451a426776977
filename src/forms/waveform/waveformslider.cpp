#include "forms/waveform/waveformslider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <cmath>

WaveformSlider::WaveformSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent) {}

void WaveformSlider::setOutline(std::optional<Peaks> peaks, const SongEdits &edits)
{
    if (!peaks && !m_peaks)
        return;
    m_peaks = std::move(peaks);
    m_edits = edits;
    m_columnsWidth = -1;
    // Room for the picture; a plain slider keeps its own height.
    if (minimumHeight() < 30 && m_peaks)
        setMinimumHeight(30);
    update();
}

std::vector<Peaks::Point> WaveformSlider::columns(int width) const
{
    if (!m_peaks || width <= 0)
        return {};
    if (m_columnsWidth != width) {
        // The edits are laid on the song as the outline knows it; a part-made
        // outline is drawn over the length it has so far.
        const Peaks &p = *m_peaks;
        const qint64 songMs = p.frames() * 1000 / qMax(1, p.rate());
        if (m_edits.isEmpty() || !p.isComplete()) {
            m_columns = p.columns(width);
        } else {
            const EditPlan plan(m_edits.fitted(songMs), p.frames(), p.rate());
            m_columns = p.columns(width, &plan);
        }
        m_columnsWidth = width;
    }
    return m_columns;
}

void WaveformSlider::paintEvent(QPaintEvent *event)
{
    if (!m_peaks) {
        QSlider::paintEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect area(groove.left(), 2, groove.width(), height() - 4);
    const std::vector<Peaks::Point> cols = columns(area.width());
    QPainter painter(this);
    const QColor played = palette().color(isEnabled() ? QPalette::Highlight : QPalette::Mid);
    QColor ahead = palette().color(QPalette::WindowText);
    ahead.setAlphaF(isEnabled() ? 0.45f : 0.25f);
    const double span = double(maximum() - minimum());
    const int playedTo = span > 0 ? area.left() + int(std::lround(double(sliderPosition() - minimum()) / span * area.width()))
                                  : area.left();
    const double middle = area.center().y() + 0.5, half = area.height() / 2.0;
    for (int x = 0; x < int(cols.size()); ++x) {
        const Peaks::Point &p = cols[size_t(x)];
        const int px = area.left() + x;
        painter.setPen(px <= playedTo ? played : ahead);
        // At least a pixel, so that a quiet passage still shows where the song is.
        const int top = int(std::floor(middle - double(std::clamp(p.max, -1.0f, 1.0f)) * half));
        const int bottom = int(std::ceil(middle - double(std::clamp(p.min, -1.0f, 1.0f)) * half));
        painter.drawLine(px, qMin(top, bottom - 1), px, bottom);
    }
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
