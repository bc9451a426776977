#include "forms/preview/previewbar.h"

#include "forms/waveform/waveformslider.h"
#include "model/durations.h"

#include <QLabel>
#include <QSlider>

#include <limits>

using namespace Qt::StringLiterals;

namespace {
// The step of a click beside the handle, as the arrow keys step.
constexpr int PageStepMs = 5000;
} // namespace

PreviewBar::PreviewBar(QWidget *parent)
    : QToolBar(u"試聴"_s, parent)
    , m_position(new QLabel(this))
    , m_seek(new WaveformSlider(this))
{
    setObjectName(u"previewBar"_s);
    setMovable(false);
    setFloatable(false);
    m_position->setObjectName(u"previewPosition"_s);
    m_seek->setObjectName(u"previewSeekBar"_s);
    m_seek->setAccessibleName(u"再生位置"_s);
    m_seek->setToolTip(u"つまみをドラッグして聴きたい所へ移動します（再生中は ← → で 5 秒、End で最後の 15 秒）"_s);
    m_seek->setPageStep(PageStepMs);
    // The arrow keys are the window's while a song plays; the bar takes no focus
    // so that they never move it twice.
    m_seek->setFocusPolicy(Qt::NoFocus);
    m_seek->setMinimumWidth(400);
    addWidget(new QLabel(u" 試聴 "_s, this));
    addWidget(m_position);
    addWidget(m_seek);

    connect(m_seek, &QSlider::sliderReleased, this, [this] { Q_EMIT seekRequested(m_seek->value()); });
    connect(m_seek, &QSlider::actionTriggered, this, [this](int action) {
        // A drag asks once, when the handle is let go.
        if (action != QAbstractSlider::SliderMove)
            Q_EMIT seekRequested(m_seek->sliderPosition());
    });
    showIdle();
}

void PreviewBar::showPosition(qint64 positionMs, qint64 lengthMs)
{
    // A song the probe gives no length for still shows how far it has played.
    const qint64 shown = qMax<qint64>(0, lengthMs > 0 ? qMin(positionMs, lengthMs) : positionMs);
    m_position->setText(FormatLength(double(shown)) + u" / "_s + FormatLength(double(lengthMs)));
    m_seek->setEnabled(lengthMs > 0);
    if (m_seek->isSliderDown())
        return;
    m_seek->setRange(0, int(qMin<qint64>(lengthMs, std::numeric_limits<int>::max())));
    m_seek->setValue(int(qBound<qint64>(0, positionMs, qint64(m_seek->maximum()))));
}

void PreviewBar::showIdle()
{
    m_position->setText(u"--:--:-- / --:--:--"_s);
    m_seek->setRange(0, 0);
    m_seek->setEnabled(false);
    m_seek->setOutline(std::nullopt);
}

void PreviewBar::showOutline(std::optional<Peaks> peaks, const SongEdits &edits)
{
    m_seek->setOutline(std::move(peaks), edits);
}
