#pragma once

#include "model/peaks.h"
#include "model/songedits.h"

#include <QWidget>

#include <optional>

// The whole song as the edit panel shapes it: its outline, the part before the
// start and after the end dimmed, the cuts hatched, the fades drawn as the level
// they give, and the playhead. The start and the end are handles the mouse drags
// (their times given as they move, and where they were let go, to snap unless
// Alt is held); the corners of the fades at the top drag their lengths; a drag
// across the song marks a cut; a click elsewhere asks to hear it from there.
// The wheel (or + and -) zooms around the pointer, down to the song's single
// samples, read from its file as they come into view; Shift with the wheel
// scrolls, 0 shows the whole song again. From the keyboard, [ and ] take the
// start or the end, and ← → move it by 10 ms (Shift: 1 ms).
class SongEditView : public QWidget
{
    Q_OBJECT

public:
    explicit SongEditView(QWidget *parent = nullptr);

    void setOutline(std::optional<Peaks> peaks);
    // The file whose samples are drawn when the view comes closer than its outline.
    void setSamplesFrom(const QString &path) { m_path = path; }
    // The part of the song in view, in its own milliseconds.
    void showRange(double fromMs, double toMs);
    [[nodiscard]] double viewFromMs() const { return m_viewFrom; }
    [[nodiscard]] double viewToMs() const { return m_viewTo; }
    // The columns the picture draws, `width` wide: from the outline, or closer
    // than it the samples (read as they come into view).
    [[nodiscard]] std::vector<Peaks::Point> columnsInView(int width);
    void setEdits(const SongEdits &edits, qint64 songMs);
    // Where the song is heard now, in its own time; none while nothing plays.
    void setPlayhead(std::optional<qint64> ms);

    // The song's time at a pixel of the picture, and back.
    [[nodiscard]] qint64 msAt(int x) const;
    [[nodiscard]] int xOf(qint64 ms) const;
    [[nodiscard]] bool hasOutline() const { return m_peaks.has_value(); }
    [[nodiscard]] bool hasWholeOutline() const { return m_peaks && m_peaks->isComplete(); }
    // A handle is being dragged: its changes are one change, made when it is let go.
    [[nodiscard]] bool isDragging() const { return m_dragging != Handle::None && m_dragging != Handle::Cut; }

    [[nodiscard]] QSize sizeHint() const override { return { 600, 110 }; }

Q_SIGNALS:
    void startDragged(qint64 ms);
    void endDragged(qint64 ms);
    void startDropped(qint64 ms, bool snap);
    void endDropped(qint64 ms, bool snap);
    void fadeInDragged(qint64 ms);
    void fadeOutDragged(qint64 ms);
    void cutDragged(qint64 fromMs, qint64 toMs, bool snap);
    void playFrom(qint64 ms);
    // A handle was let go of (after its last dragged or dropped signal).
    void dragEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    enum class Handle { None, Start, End, FadeIn, FadeOut, Cut };
    [[nodiscard]] Handle handleAt(int x, int y) const;
    [[nodiscard]] qint64 endMs() const;
    void zoom(double factor, double aroundMs);

    std::optional<Peaks> m_peaks;
    SongEdits m_edits;
    qint64 m_songMs = 0;
    std::optional<qint64> m_playhead;
    QString m_path;
    double m_viewFrom = 0;
    double m_viewTo = 0;
    std::vector<float> m_samples; // stereo, from frame m_samplesFrom
    qint64 m_samplesFrom = -1;
    Handle m_dragging = Handle::None;
    int m_pressX = 0;
    Handle m_keyHandle = Handle::Start; // the handle the arrow keys move
    bool m_moved = false; // the press became a drag
};
