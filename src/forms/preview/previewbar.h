#pragma once

#include "model/peaks.h"
#include "model/songedits.h"

#include <QToolBar>

#include <optional>

class QLabel;
class WaveformSlider;

// Where the preview is: "00:01:23 / 00:04:12" and a seek bar the mouse drags,
// drawn as the song's outline once it is known.
// The bar follows the song, except while the user holds its handle; letting go,
// or clicking beside the handle, asks to move the song there.
class PreviewBar : public QToolBar
{
    Q_OBJECT

public:
    explicit PreviewBar(QWidget *parent = nullptr);

    void showPosition(qint64 positionMs, qint64 lengthMs);
    // Nothing plays.
    void showIdle();
    // The outline of the song playing, as its edits shape it (a part-made one too).
    void showOutline(std::optional<Peaks> peaks, const SongEdits &edits);

Q_SIGNALS:
    void seekRequested(qint64 ms);

private:
    QLabel *m_position = nullptr;
    WaveformSlider *m_seek = nullptr;
};
