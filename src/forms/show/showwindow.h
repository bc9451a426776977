#pragma once

#include "model/setlistrow.h"
#include "model/showoptions.h"
#include "model/showrun.h"
#include "model/songedits.h"

#include <QElapsedTimer>
#include <QHash>
#include <QWidget>

#include <memory>

struct ShowResume;
class MessageBoxes;
class PlaybackControl;
class PlayingSong;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTemporaryDir;
class QTimer;
class SleepGuard;
class SongCheck;
class PeakScan;
class WaveformSlider;

// The show as the performer sees it from two metres: the song playing and its
// time left (huge), the next song, the slot's time left turning amber and red
// and flashing once over, and ahead or behind the plan. The keys:
//   GO     Space, Enter, PageDown, →   plays the next song, never stops one;
//          and the keys taught with キーを覚える (a pedal, a remote)
//   Esc    fades the song out; again during the fade: cuts it
// The show ends only by the 本番を終了 button (or closing the window), whose
// question no key answers: a GO key can never end it.
//   Back   ←, PageUp, Backspace        selects the song just played again
// Each song plays as its own row shapes it (a song used twice is two songs)
// and is held by the window alone. The next song is armed while the one before plays.
// When the sound server goes away or the device is pulled, the song is held
// where it was heard and goes on from there at the next GO once there is
// sound again; nothing sounds without a GO. Before the first GO every
// song is decoded once to its end and the result shown, with a test tone for
// the line; the system is kept awake while the window is open. When the show
// ends its record is written to `recordPath` and shown.
class ShowWindow : public QWidget
{
    Q_OBJECT

public:
    struct Setup
    {
        QList<ShowRun::Song> songs;
        qint64 pauseMs = 0;
        std::optional<qint64> slotMs;
        int fadeMs = 2000;
        QString title;
        QString recordPath;
        // Where the show stands is kept here while it runs, for a restart to go
        // on from; empty: nowhere. A show ended leaves where it stood in
        // `endedPath`, to be opened again if it was ended by mistake.
        QString statePath;
        QString endedPath;
        QString setListFile;
        // The song to start at: not 0 when a show cut short goes on.
        qsizetype from = 0;
        // A show cut short that goes on: its first GO (milliseconds since the
        // epoch, 0: none) and the song its plan began at.
        qint64 startedEpochMs = 0;
        qsizetype planFrom = 0;
        // The rows' extras, one per song: each row plays with its own edits, and
        // they are kept with where the show stands.
        QList<SetListRowExtras> extras;
        ShowKeys keys;
        // Each song file's gain, the set at one level; a file not here plays as it is.
        QHash<QString, float> gains;
    };

    ShowWindow(Setup setup, PlaybackControl *playback, MessageBoxes *boxes, QWidget *parent = nullptr);
    ~ShowWindow() override;

    [[nodiscard]] const ShowRun &run() const { return m_run; }
    [[nodiscard]] bool isFinished() const { return m_finished; }
    // Where the record went; empty until the show ends, or when writing failed.
    [[nodiscard]] QString recordFile() const { return m_recordFile; }

Q_SIGNALS:
    // The window closed after the show ended.
    void closed();
    // A key was taught to be GO.
    void keysTaught(const ShowKeys &keys);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    QLabel *addLabel(const char *name, const QString &role);
    void setText(QLabel *label, const QString &text);
    void go(int key, bool autoRepeat);
    void stop();
    void back();
    void tick();
    void startPlaying();
    void armSelected();
    void checkDevice();
    void refresh();
    void showCheck();
    void playTone();
    void stopTone();
    void saveState();
    void learnKey(int key);
    [[nodiscard]] std::unique_ptr<PlayingSong> open(qsizetype index) const;
    void interrupt(const QString &why);
    void saveEnded();
    // Where the show stands, with `next` the song to go on with.
    [[nodiscard]] ShowResume stateAt(qsizetype next) const;
    [[nodiscard]] QString hint() const;
    void say(const QString &text, bool warning);
    bool askToEnd();
    void endByButton();
    void finish();
    [[nodiscard]] qint64 now() const { return m_clock.elapsed(); }

    Setup m_setup;
    PlaybackControl *m_playback;
    MessageBoxes *m_boxes;
    ShowRun m_run;
    QElapsedTimer m_clock;
    QTimer *m_tick = nullptr;

    std::unique_ptr<PlayingSong> m_playing;
    // Whether the record's start of the song playing is the moment it was heard.
    bool m_startHeard = false;
    std::unique_ptr<PlayingSong> m_fading;
    std::unique_ptr<PlayingSong> m_armed;
    qint64 m_armedFromMs = 0; // where it was armed: 0, or where it goes on from
    qsizetype m_armedIndex = -1;
    qint64 m_playingLengthMs = 0;
    bool m_deviceMissing = false;
    bool m_outputLost = false;
    bool m_finished = false;
    QString m_recordFile;
    qint64 m_sayUntil = 0;
    qint64 m_startedEpochMs = 0;
    qint64 m_goAt = -1'000'000; // the last GO that started a song
    qsizetype m_savedNext = -1;
    SleepGuard *m_sleep = nullptr;
    SongCheck *m_check = nullptr;
    std::unique_ptr<QTemporaryDir> m_toneDir;
    QString m_tonePath;
    std::unique_ptr<PlayingSong> m_toneSong;
    bool m_learning = false;

    QLabel *m_banner = nullptr;
    QLabel *m_song = nullptr;
    QLabel *m_songLeft = nullptr;
    WaveformSlider *m_overview = nullptr;
    std::unique_ptr<PeakScan> m_outline; // the song playing's
    QLabel *m_next = nullptr;
    QLabel *m_note = nullptr;
    QLabel *m_slotLeft = nullptr;
    QLabel *m_plan = nullptr;
    QLabel *m_message = nullptr;
    QLabel *m_checkLabel = nullptr;
    QPushButton *m_tone = nullptr;
    QPushButton *m_learn = nullptr;
    QPlainTextEdit *m_record = nullptr;
    QPushButton *m_close = nullptr;
    QPushButton *m_end = nullptr;
    QHash<QLabel *, QString> m_roles;
};
