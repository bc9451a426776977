#pragma once

#include "model/setlistrow.h"

#include <QDialog>

#include <memory>
#include <optional>

class MessageBoxes;
class PeakScan;
class SongEditView;
class PlaybackControl;
class PlayingSong;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;

// Shapes one song of the set list for this set, while listening to it: where
// it starts and ends, fades, sections cut out, the silence at its head and
// tail, its key and tempo. Points are set at the playing position (ここから /
// ここまで), moved with the player's keys, or typed. The edited length shows as
// the set list will show it. The song file is never touched; OK hands the
// edits back, Cancel leaves the row as it was.
class SongEditsPanel : public QDialog
{
    Q_OBJECT

public:
    SongEditsPanel(const QString &path, const QString &title, const SetListRowExtras &extras, PlaybackControl *playback,
                   MessageBoxes *boxes, QWidget *parent = nullptr);
    ~SongEditsPanel() override;

    // The row's extras with the edits as the panel holds them now.
    [[nodiscard]] SetListRowExtras rowExtras() const;
    // The edits as the panel holds them now (what OK gives).
    [[nodiscard]] const SongEdits &edits() const { return m_edits; }

    // Times as the panel shows and reads them: "m:ss.mmm" (hours in front when
    // there are any); read back also as plain seconds or "h:mm:ss".
    [[nodiscard]] static QString timeText(qint64 ms);
    [[nodiscard]] static std::optional<qint64> msOfTime(QStringView text);

protected:
    void done(int result) override;

private:
    void build();
    void showEdits();
    void readControls();
    void showLength();
    void showPosition();
    [[nodiscard]] qint64 sourcePositionMs() const;
    void listen(bool edited, qint64 fromMs);
    void stop();
    void seekBy(qint64 ms);
    void trimSilence();
    void addCut();
    void removeCut();
    QPushButton *button(const QString &text, const char *name);
    QLineEdit *timeEdit(const char *name, const QString &accessible);

    const QString m_path;
    SetListRowExtras m_extras;
    SongEdits m_edits;
    qint64 m_songMs = 0;
    PlaybackControl *m_playback;
    MessageBoxes *m_boxes;
    bool m_showing = false;        // controls being filled: no edits read back
    std::unique_ptr<PlayingSong> m_playing;
    bool m_playingEdited = false;  // the edited song plays, not the source
    SongEdits m_playingEdits;      // the edits it plays with

    QLineEdit *m_start = nullptr;
    QLineEdit *m_end = nullptr;
    QDoubleSpinBox *m_fadeIn = nullptr;
    QDoubleSpinBox *m_fadeOut = nullptr;
    QLineEdit *m_cutFrom = nullptr;
    QLineEdit *m_cutTo = nullptr;
    QListWidget *m_cuts = nullptr;
    QLabel *m_silence = nullptr;
    QSpinBox *m_key = nullptr;
    QSpinBox *m_tempo = nullptr;
    QLabel *m_length = nullptr;
    QLabel *m_position = nullptr;
    QTimer *m_tick = nullptr;
    SongEditView *m_view = nullptr;
    QList<SongEdits> m_undo;  // the edits before each change, the last one last
    SongEdits m_shownEdits;   // the edits as last shown
    bool m_undoing = false;
    bool m_built = false;     // the panel is shown as it opened: changes from here on
    std::unique_ptr<PeakScan> m_outline;
};
