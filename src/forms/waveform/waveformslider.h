#pragma once

#include "model/peaks.h"
#include "model/songedits.h"

#include <QSlider>

#include <optional>
#include <vector>

// A seek bar that shows the song it moves in: the song's outline as it is heard
// (its edits applied: the kept parts joined, the fades' level) drawn along the
// bar, the part already played in full colour and the rest dimmed, the handle
// over it. Without an outline (not made yet, or none) it is a plain slider; the
// keys, the mouse and what it tells the accessibility tools stay a slider's.
class WaveformSlider : public QSlider
{
    Q_OBJECT

public:
    explicit WaveformSlider(QWidget *parent = nullptr);

    // The outline to draw, a part-made one too, and the edits the song plays
    // with; nothing clears it.
    void setOutline(std::optional<Peaks> peaks, const SongEdits &edits = {});
    [[nodiscard]] bool hasOutline() const { return m_peaks.has_value(); }
    // The columns drawn, for `width` pixels: what the picture shows.
    [[nodiscard]] std::vector<Peaks::Point> columns(int width) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<Peaks> m_peaks;
    SongEdits m_edits;
    mutable std::vector<Peaks::Point> m_columns;
    mutable int m_columnsWidth = -1;
};
