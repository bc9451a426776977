#include "forms/waveform/songeditview.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace {
// How near a handle a press takes it rather than the song beneath.
constexpr int GripPixels = 6;
} // namespace

SongEditView::SongEditView(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(80);
    setMouseTracking(true);
}

void SongEditView::setOutline(std::optional<Peaks> peaks)
{
    m_peaks = std::move(peaks);
    update();
}

void SongEditView::setEdits(const SongEdits &edits, qint64 songMs)
{
    m_edits = edits;
    m_songMs = qMax<qint64>(0, songMs);
    update();
}

void SongEditView::setPlayhead(std::optional<qint64> ms)
{
    if (m_playhead == ms)
        return;
    m_playhead = ms;
    update();
}

qint64 SongEditView::msAt(int x) const
{
    return width() > 0 ? std::clamp<qint64>(qint64(std::llround(double(x) * double(m_songMs) / width())), 0, m_songMs) : 0;
}

int SongEditView::xOf(qint64 ms) const
{
    return m_songMs > 0 ? int(std::lround(double(ms) * width() / double(m_songMs))) : 0;
}

qint64 SongEditView::endMs() const
{
    return m_edits.endMs.value_or(m_songMs);
}

SongEditView::Handle SongEditView::handleAt(int x, int y) const
{
    const SongEdits fitted = m_edits.fitted(m_songMs);
    // The fades' corners lie at the top, where the level line is full.
    if (y <= 2 * GripPixels) {
        if (std::abs(x - xOf(fitted.startMs + fitted.fadeInMs)) <= GripPixels && fitted.fadeInMs > 0)
            return Handle::FadeIn;
        if (std::abs(x - xOf(endMs() - fitted.fadeOutMs)) <= GripPixels && fitted.fadeOutMs > 0)
            return Handle::FadeOut;
    }
    const int start = xOf(m_edits.startMs), end = xOf(endMs());
    if (std::abs(x - end) <= GripPixels && (std::abs(x - end) <= std::abs(x - start) || x > end))
        return Handle::End;
    return std::abs(x - start) <= GripPixels ? Handle::Start : Handle::None;
}

void SongEditView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const int w = width(), h = height();
    const double middle = h / 2.0, half = h / 2.0 - 2;
    // The fades' level over the song's own time, from the edits laid out in milliseconds.
    const SongEdits fitted = m_edits.fitted(m_songMs);
    const EditPlan plan(fitted, m_songMs, 1000);
    const auto gainAt = [&](qint64 ms) {
        if (ms < fitted.startMs || ms >= fitted.endMs.value_or(m_songMs))
            return 1.0f;
        for (const SongEdits::Cut &c : fitted.cuts)
            if (ms >= c.fromMs && ms < c.toMs)
                return 1.0f;
        return plan.fadeGain(plan.joinedFrame(ms));
    };
    if (m_peaks && m_peaks->frames() > 0 && m_songMs > 0) {
        const std::vector<Peaks::Point> columns = m_peaks->columns(w);
        painter.setPen(palette().color(QPalette::Highlight));
        for (int x = 0; x < int(columns.size()); ++x) {
            const Peaks::Point &p = columns[size_t(x)];
            const float g = gainAt(msAt(x));
            const int top = int(std::floor(middle - double(std::clamp(p.max * g, -1.0f, 1.0f)) * half));
            const int bottom = int(std::ceil(middle - double(std::clamp(p.min * g, -1.0f, 1.0f)) * half));
            painter.drawLine(x, qMin(top, bottom - 1), x, bottom);
        }
    }
    // The fades' level as a line over the kept part.
    QPen level(palette().color(QPalette::Text));
    level.setWidthF(1.5);
    painter.setPen(level);
    if (fitted.fadeInMs > 0 || fitted.fadeOutMs > 0) {
        QPointF last;
        for (int x = xOf(fitted.startMs); x <= xOf(fitted.endMs.value_or(m_songMs)); ++x) {
            const QPointF at(x, 2 + (1.0 - gainAt(msAt(x))) * (h - 4));
            if (!last.isNull())
                painter.drawLine(last, at);
            last = at;
        }
    }
    // What is not heard: before the start, after the end (dimmed), and the cuts (hatched).
    QColor dim = palette().color(QPalette::Window);
    dim.setAlphaF(0.75f);
    painter.fillRect(QRect(0, 0, xOf(fitted.startMs), h), dim);
    const int endX = xOf(fitted.endMs.value_or(m_songMs));
    painter.fillRect(QRect(endX, 0, w - endX, h), dim);
    for (const SongEdits::Cut &c : fitted.cuts) {
        const QRect cut(xOf(c.fromMs), 0, qMax(1, xOf(c.toMs) - xOf(c.fromMs)), h);
        painter.fillRect(cut, dim);
        painter.fillRect(cut, QBrush(palette().color(QPalette::Text), Qt::BDiagPattern));
    }
    // The handles, and where the song is heard.
    painter.setPen(QPen(QColor(0x00, 0x90, 0x30), 2));
    painter.drawLine(xOf(fitted.startMs), 0, xOf(fitted.startMs), h);
    painter.setPen(QPen(QColor(0xc0, 0x20, 0x20), 2));
    painter.drawLine(endX, 0, endX, h);
    // The fades' corners, to drag their lengths.
    painter.setPen(palette().color(QPalette::Text));
    painter.setBrush(palette().color(QPalette::Base));
    if (fitted.fadeInMs > 0)
        painter.drawRect(xOf(fitted.startMs + fitted.fadeInMs) - 3, 1, 6, 6);
    if (fitted.fadeOutMs > 0)
        painter.drawRect(xOf(fitted.endMs.value_or(m_songMs) - fitted.fadeOutMs) - 3, 1, 6, 6);
    if (m_playhead) {
        painter.setPen(QPen(palette().color(QPalette::Text), 1));
        painter.drawLine(xOf(*m_playhead), 0, xOf(*m_playhead), h);
    }
}

void SongEditView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_songMs <= 0)
        return QWidget::mousePressEvent(event);
    m_pressX = int(event->position().x());
    m_moved = false;
    m_dragging = handleAt(m_pressX, int(event->position().y()));
    if (m_dragging == Handle::None)
        m_dragging = Handle::Cut; // a click, unless it moves
}

void SongEditView::mouseMoveEvent(QMouseEvent *event)
{
    const int x = int(event->position().x());
    if (m_dragging == Handle::None) {
        const Handle over = handleAt(x, int(event->position().y()));
        setCursor(over == Handle::None ? Qt::PointingHandCursor : Qt::SizeHorCursor);
        return;
    }
    m_moved = m_moved || std::abs(x - m_pressX) > 3;
    // A handle stops at the other one: the start stays before the end.
    const qint64 ms = msAt(x);
    switch (m_dragging) {
    case Handle::Start:
        m_edits.startMs = std::min(ms, endMs() - 1);
        Q_EMIT startDragged(m_edits.startMs);
        break;
    case Handle::End:
        m_edits.endMs = std::max(ms, m_edits.startMs + 1);
        Q_EMIT endDragged(*m_edits.endMs);
        break;
    case Handle::FadeIn:
        m_edits.fadeInMs = std::clamp<qint64>(ms - m_edits.startMs, 0, endMs() - m_edits.startMs);
        Q_EMIT fadeInDragged(m_edits.fadeInMs);
        break;
    case Handle::FadeOut:
        m_edits.fadeOutMs = std::clamp<qint64>(endMs() - ms, 0, endMs() - m_edits.startMs);
        Q_EMIT fadeOutDragged(m_edits.fadeOutMs);
        break;
    case Handle::Cut:
    case Handle::None:
        break;
    }
    update();
}

void SongEditView::mouseReleaseEvent(QMouseEvent *event)
{
    const Handle was = m_dragging;
    if (was != Handle::None && was != Handle::Cut)
        mouseMoveEvent(event);
    m_dragging = Handle::None;
    const bool snap = !(event->modifiers() & Qt::AltModifier);
    const int x = int(event->position().x());
    if (was == Handle::Start)
        Q_EMIT startDropped(m_edits.startMs, snap);
    else if (was == Handle::End)
        Q_EMIT endDropped(*m_edits.endMs, snap);
    else if (was == Handle::Cut && m_moved)
        Q_EMIT cutDragged(msAt(std::min(x, m_pressX)), msAt(std::max(x, m_pressX)), snap);
    else if (was == Handle::Cut)
        Q_EMIT playFrom(msAt(x));
    if (was != Handle::None && was != Handle::Cut)
        Q_EMIT dragEnded();
}
