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
class SongEditView : public QWidget
{
    Q_OBJECT

public:
    explicit SongEditView(QWidget *parent = nullptr);

    void setOutline(std::optional<Peaks> peaks);
    void setEdits(const SongEdits &edits, qint64 songMs);
    // Where the song is heard now, in its own time; none while nothing plays.
    void setPlayhead(std::optional<qint64> ms);

    // The song's time at a pixel of the picture, and back.
    [[nodiscard]] qint64 msAt(int x) const;
    [[nodiscard]] int xOf(qint64 ms) const;
    [[nodiscard]] bool hasOutline() const { return m_peaks.has_value(); }
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

private:
    enum class Handle { None, Start, End, FadeIn, FadeOut, Cut };
    [[nodiscard]] Handle handleAt(int x, int y) const;
    [[nodiscard]] qint64 endMs() const;

    std::optional<Peaks> m_peaks;
    SongEdits m_edits;
    qint64 m_songMs = 0;
    std::optional<qint64> m_playhead;
    Handle m_dragging = Handle::None;
    int m_pressX = 0;
    bool m_moved = false; // the press became a drag
};
