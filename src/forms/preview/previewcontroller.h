#pragma once

#include "model/runthrough.h"
#include "model/songedits.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <optional>

class Form1;
class PeakScan;
class MessageBoxes;
class PlaybackControl;
class PreviewBar;
class QAction;
class QLabel;
class QMenu;
class QTimer;
class QWidget;
class SlotStatusBar;

// Listening as a performer does, beside the play and stop buttons: where the
// song is and moving in it (the bar, ← / →, End, Space), the set list's songs
// (F5), a run-through of the set against the slot (F6), and the device the
// sound goes to. Owns its menu, its bar, its clock and their state; the window
// only places them.
class PreviewController : public QObject
{
    Q_OBJECT

public:
    // `host` owns the actions, so that whatever blocks the window's input
    // blocks their keys too; `slot` gives the slot and the pause.
    PreviewController(Form1 *form, PlaybackControl *playback, MessageBoxes *boxes, QWidget *host,
                      const SlotStatusBar *slot);
    ~PreviewController() override;

    [[nodiscard]] QMenu *menu() const { return m_menu; }
    [[nodiscard]] PreviewBar *bar() const { return m_bar; }
    // The run-through's clock, shown once a run-through starts.
    [[nodiscard]] QLabel *runClock() const { return m_runClock; }

Q_SIGNALS:
    // A line for the status bar; empty clears it.
    void message(const QString &text);

private:
    QAction *addEntry(const QString &text, const QKeySequence &key);
    void rebuildOutputMenu();
    void chooseOutput(const QByteArray &id, const QString &name);
    void restoreOutput();
    void availabilityChanged();
    void tick();
    void showPosition();
    [[nodiscard]] qint64 positionMs() const;
    void seekTo(qint64 ms);
    [[nodiscard]] bool outputPresent() const;
    bool stopIfOutputVanished();
    void startRunThrough();
    void advanceRunThrough();
    void endRun();
    void skipSong();
    void showRunClock();
    // Draws the song playing on the seek bar, as `edits` shape it.
    void showOutline(const SongEdits &edits);

    Form1 *m_form;
    PlaybackControl *m_playback;
    MessageBoxes *m_boxes;
    QWidget *m_host;
    const SlotStatusBar *m_slot;

    QMenu *m_menu = nullptr;
    PreviewBar *m_bar = nullptr;
    QTimer *m_tick = nullptr;
    // The outline of the song playing, made (or read from the disk) as it plays.
    std::unique_ptr<PeakScan> m_outline;
    SongEdits m_outlineEdits;
    QMenu *m_outputMenu = nullptr;
    QAction *m_runThroughAction = nullptr;
    QList<QAction *> m_whilePlaying;
    QLabel *m_runClock = nullptr;
    std::optional<RunThrough> m_run;
    QElapsedTimer m_runTime;
    bool m_runStartingSong = false;
    QString m_armed;
    // The exact length of the song in Text5, probed once per song.
    QString m_lengthPath;
    qint64 m_lengthMs = 0;
    QString m_outputName;
    bool m_outputWasPresent = false;
};
