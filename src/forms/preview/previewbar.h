#pragma once

#include <QToolBar>

class QLabel;
class QSlider;

// Where the preview is: "00:01:23 / 00:04:12" and a seek bar the mouse drags.
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

Q_SIGNALS:
    void seekRequested(qint64 ms);

private:
    QLabel *m_position = nullptr;
    QSlider *m_seek = nullptr;
};
