#pragma once

#include "model/showoptions.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class Form1;
class InputBlocker;
class MediaCommands;
class MessageBoxes;
class PlaybackControl;
class QAction;
class QMenu;
class QScreen;
class QWidget;
class ShowWindow;
class SlotStatusBar;
struct ShowResume;

// 本番モード: the set list played as the show (F7), in a full-screen window of
// its own, while the main window stays as it is and takes no input; and the
// length of the fade that Esc starts. Owns its menu and the show window; the
// main window only places the menu.
class ShowController : public QObject
{
    Q_OBJECT

public:
    // `setListFile` names the set list's file, beside which the record goes;
    // empty when the set list was never saved.
    ShowController(Form1 *form, PlaybackControl *playback, MessageBoxes *boxes, QWidget *host,
                   SlotStatusBar *slot, std::function<QString()> setListFile);
    ~ShowController() override;

    [[nodiscard]] QMenu *menu() const { return m_menu; }
    // The show running, if one is.
    [[nodiscard]] ShowWindow *window() const { return m_window; }
    [[nodiscard]] int fadeMs() const { return m_fadeMs; }
    // The songs' gains for the show (by file; empty: as they are), nothing
    // when the user cancelled; asked as each show opens.
    using Levels = std::function<std::optional<QHash<QString, float>>(const QStringList &paths)>;
    void setLevels(Levels levels) { m_levels = std::move(levels); }
    // At start-up: a show cut short last time (closed by the system, a crash)
    // is offered to go on at the song that was next; `open` opens its set
    // list's file. Declined, the offer is not made again.
    void offerToContinue(const std::function<bool(const QString &)> &open);

    static constexpr int FadeChoicesMs[] = { 1000, 2000, 3000, 5000 };

    // The newest show record beside a set list's file; empty when there is none.
    [[nodiscard]] static QString latestRecord(const QString &setListFile);

private:
    // Whether the set list just opened from its file is the set as the show played it.
    [[nodiscard]] bool playedAsSaved(const ShowResume &state) const;
    // `resumed`: the show cut short that goes on at `from`.
    void start(qsizetype from = 0, const ShowResume *resumed = nullptr);
    void chooseFade(int ms);
    // A show ended (by mistake, perhaps) opened again at the song where it stood.
    void openEndedAgain();
    void goOn(const ShowResume &state);
    void fillScreenMenu();
    [[nodiscard]] QScreen *showScreen() const;
    [[nodiscard]] QString recordPath() const;
    [[nodiscard]] QString statePath() const;

    Form1 *m_form;
    PlaybackControl *m_playback;
    MessageBoxes *m_boxes;
    QWidget *m_host;
    SlotStatusBar *m_slot;
    std::function<QString()> m_setListFile;
    Levels m_levels;

    QMenu *m_menu = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_againAction = nullptr;
    std::function<bool(const QString &)> m_openSetList;
    int m_fadeMs = 2000;
    ShowKeys m_keys;
    QMenu *m_screenMenu = nullptr;
    // The screen's name as the system gives it; empty: chosen as the show opens.
    QString m_screen;
    ShowWindow *m_window = nullptr;
    std::unique_ptr<InputBlocker> m_lock;
};
