#include "forms/waveform/songeditview.h"

#include "platform/audio/peaks/samplewindow.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// How near a handle a press takes it rather than the song beneath.
constexpr int GripPixels = 6;
// The closest view: a few dozen frames across the picture.
constexpr double FewestFrames = 48;
} // namespace

SongEditView::SongEditView(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(80);
    setMouseTracking(true);
    // Clicked, it takes the zoom keys.
    setFocusPolicy(Qt::ClickFocus);
}

void SongEditView::setOutline(std::optional<Peaks> peaks)
{
    m_peaks = std::move(peaks);
    update();
}


void SongEditView::setEdits(const SongEdits &edits, qint64 songMs)
{
    m_edits = edits;
    // What the picture shows, for a screen reader: the points are typed in the boxes beside it.
    const auto clock = [](qint64 ms) { return u"%1:%2.%3"_s.arg(ms / 60000).arg(ms / 1000 % 60, 2, 10, QChar(u'0')).arg(ms % 1000, 3, 10, QChar(u'0')); };
    setAccessibleDescription(u"始まり %1、終わり %2、切り取り %3 か所"_s.arg(clock(edits.startMs), clock(edits.endMs.value_or(songMs)))
                                 .arg(edits.cuts.size()));
    if (qMax<qint64>(0, songMs) != m_songMs) {
        m_songMs = qMax<qint64>(0, songMs);
        showRange(0, double(m_songMs));
    }
    update();
}

void SongEditView::showRange(double fromMs, double toMs)
{
    const int rate = m_peaks ? m_peaks->rate() : 44100;
    const double fewest = FewestFrames * 1000.0 / rate;
    const double span = std::clamp(toMs - fromMs, std::min(fewest, double(m_songMs)), double(m_songMs));
    m_viewFrom = std::clamp(fromMs, 0.0, double(m_songMs) - span);
    m_viewTo = m_viewFrom + span;
    update();
}

void SongEditView::zoom(double factor, double aroundMs)
{
    // The point under the pointer stays under it.
    const double share = m_viewTo > m_viewFrom ? (aroundMs - m_viewFrom) / (m_viewTo - m_viewFrom) : 0.5;
    const double span = (m_viewTo - m_viewFrom) / factor;
    showRange(aroundMs - share * span, aroundMs - share * span + span);
}

void SongEditView::wheelEvent(QWheelEvent *event)
{
    const QPoint steps = event->angleDelta();
    if (event->modifiers() & Qt::ShiftModifier || steps.x() != 0) {
        const double by = -double(steps.x() != 0 ? steps.x() : steps.y()) / 120.0 * (m_viewTo - m_viewFrom) / 8;
        showRange(m_viewFrom + by, m_viewTo + by);
    } else if (steps.y() != 0) {
        zoom(std::pow(1.25, steps.y() / 120.0), double(msAt(int(event->position().x()))));
    }
    event->accept();
}

void SongEditView::keyPressEvent(QKeyEvent *event)
{
    const double middle = (m_viewFrom + m_viewTo) / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(2, middle);
        break;
    case Qt::Key_Minus:
        zoom(0.5, middle);
        break;
    case Qt::Key_0:
        showRange(0, double(m_songMs));
        break;
    case Qt::Key_BracketLeft:
        m_keyHandle = Handle::Start;
        break;
    case Qt::Key_BracketRight:
        m_keyHandle = Handle::End;
        break;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const qint64 by = (event->key() == Qt::Key_Left ? -1 : 1) * (event->modifiers() & Qt::ShiftModifier ? 1 : 10);
        if (m_keyHandle == Handle::Start) {
            m_edits.startMs = std::clamp<qint64>(m_edits.startMs + by, 0, endMs() - 1);
            Q_EMIT startDropped(m_edits.startMs, false);
        } else {
            m_edits.endMs = std::clamp<qint64>(endMs() + by, m_edits.startMs + 1, m_songMs);
            Q_EMIT endDropped(*m_edits.endMs, false);
        }
        update();
        break;
    }
    default:
        QWidget::keyPressEvent(event);
    }
}

bool SongEditView::event(QEvent *event)
{
    // With the picture focused, the arrows move a point rather than the song playing.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

std::vector<Peaks::Point> SongEditView::columnsInView(int w)
{
    std::vector<Peaks::Point> columns(size_t(qMax(0, w)));
    if (!m_peaks || w <= 0 || m_peaks->frames() <= 0)
        return columns;
    const int rate = m_peaks->rate();
    const qint64 from = qint64(m_viewFrom * rate / 1000.0), to = qMax(from + 1, qint64(std::ceil(m_viewTo * rate / 1000.0)));
    // The outline while a pixel holds a point of it or more; closer, the samples themselves.
    if (double(to - from) / w >= double(Peaks::FineFrames) || m_path.isEmpty())
        return m_peaks->rangeColumns(w, from, to);
    if (m_samplesFrom < 0 || from < m_samplesFrom || to > m_samplesFrom + qint64(m_samples.size() / 2)) {
        // A little either side, so that a small scroll reads nothing again.
        const qint64 margin = to - from;
        const SampleWindow::Samples read = SampleWindow::read(m_path, qMax<qint64>(0, from - margin), 3 * margin);
        m_samples = read.stereo;
        m_samplesFrom = read.stereo.empty() ? -1 : read.from;
    }
    if (m_samplesFrom < 0)
        return m_peaks->rangeColumns(w, from, to);
    const double step = double(m_viewTo - m_viewFrom) * rate / 1000.0 / w;
    const double start = m_viewFrom * rate / 1000.0;
    const qint64 held = qint64(m_samples.size() / 2);
    // The line through the samples, at a fractional frame.
    const auto value = [&](double t, int c) {
        const qint64 k = qint64(std::floor(t)) - m_samplesFrom;
        const auto at = [&](qint64 i) { return i >= 0 && i < held ? m_samples[size_t(2 * i + c)] : 0.0f; };
        const float f = float(t - std::floor(t));
        return at(k) * (1 - f) + at(k + 1) * f;
    };
    for (int x = 0; x < w; ++x) {
        // Each column: the line's ends in it and every sample between them.
        const double a = start + step * x, b = a + step;
        Peaks::Point &p = columns[size_t(x)];
        for (int c = 0; c < 2; ++c) {
            float lo = std::min(value(a, c), value(b, c)), hi = std::max(value(a, c), value(b, c));
            for (qint64 k = qint64(std::ceil(a)); double(k) < b; ++k) {
                lo = std::min(lo, value(double(k), c));
                hi = std::max(hi, value(double(k), c));
            }
            p.min = c == 0 ? lo : std::min(p.min, lo);
            p.max = c == 0 ? hi : std::max(p.max, hi);
        }
    }
    return columns;
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
    const double span = m_viewTo - m_viewFrom;
    return width() > 0 ? std::clamp<qint64>(qint64(std::llround(m_viewFrom + double(x) * span / width())), 0, m_songMs) : 0;
}

int SongEditView::xOf(qint64 ms) const
{
    const double span = m_viewTo - m_viewFrom;
    return span > 0 ? int(std::clamp(std::lround((double(ms) - m_viewFrom) * width() / span), -100000L, 100000L)) : 0;
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
        const std::vector<Peaks::Point> columns = columnsInView(w);
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
