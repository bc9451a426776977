#include "forms/show/showcontroller.h"

#include "forms/main/form1.h"
#include "forms/inputblocker.h"
#include "forms/show/showwindow.h"
#include "forms/slotstatusbar.h"
#include "model/showresume.h"
#include "platform/desktop/messageboxes.h"
#include "platform/storage/setliststorage.h"
#include "platform/storage/settingsfile.h"

#include <QAction>
#include <QActionGroup>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
// Kept beside the folder settings, one value a file, like them: the fade in milliseconds.
const QString FadeStoreName = u"fadedata.dat"_s;
// Where a running show stands, for a restart after it was cut short.
const QString StateStoreName = u"showstate.dat"_s;
// Where the last show stood when it was ended, for one ended by mistake.
const QString EndedStoreName = u"showended.dat"_s;
// The GO keys taught, and the screen the show goes to.
const QString KeysStoreName = u"showkeys.dat"_s;
const QString ScreenStoreName = u"showscreen.dat"_s;
// Between the set list's name and the time in a record's file name.
const QString RecordMark = u"_本番記録_"_s;
} // namespace

ShowController::ShowController(Form1 *form, PlaybackControl *playback, MessageBoxes *boxes,
                               QWidget *host, SlotStatusBar *slot, std::function<QString()> setListFile)
    : QObject(host)
    , m_form(form)
    , m_playback(playback)
    , m_boxes(boxes)
    , m_host(host)
    , m_slot(slot)
    , m_setListFile(std::move(setListFile))
{
    m_menu = new QMenu(u"本番(&S)"_s, host);
    m_menu->setObjectName(u"showMenu"_s);
    // Owned by the window, so that whatever blocks its input blocks the key too.
    m_startAction = new QAction(u"本番モード"_s, host);
    m_startAction->setObjectName(u"showAction"_s);
    m_startAction->setShortcut(QKeySequence(Qt::Key_F7));
    m_menu->addAction(m_startAction);
    connect(m_startAction, &QAction::triggered, this, [this] { start(); });
    m_againAction = new QAction(u"終えた本番を続きから開く"_s, host);
    m_againAction->setObjectName(u"showAgainAction"_s);
    m_menu->addAction(m_againAction);
    connect(m_againAction, &QAction::triggered, this, &ShowController::openEndedAgain);

    const int stored = SettingsFile::read(m_form->AppFolder() + FadeStoreName).toInt();
    for (int ms : FadeChoicesMs)
        if (ms == stored)
            m_fadeMs = ms;
    QMenu *fades = m_menu->addMenu(u"Esc のフェードアウト"_s);
    fades->setObjectName(u"showFadeMenu"_s);
    auto *group = new QActionGroup(fades);
    for (int ms : FadeChoicesMs) {
        QAction *choice = fades->addAction(u"%1 秒"_s.arg(ms / 1000));
        choice->setObjectName(u"showFade%1Action"_s.arg(ms));
        choice->setCheckable(true);
        choice->setChecked(ms == m_fadeMs);
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, ms] { chooseFade(ms); });
    }

    m_screen = SettingsFile::read(m_form->AppFolder() + ScreenStoreName);
    m_screenMenu = m_menu->addMenu(u"本番の画面"_s);
    m_screenMenu->setObjectName(u"showScreenMenu"_s);
    // Screens come and go (a projector plugged in at the venue): listed as the menu opens.
    connect(m_screenMenu, &QMenu::aboutToShow, this, &ShowController::fillScreenMenu);
    fillScreenMenu();

    m_keys = ShowKeys::fromText(SettingsFile::read(m_form->AppFolder() + KeysStoreName));
    QAction *forget = m_menu->addAction(u"覚えた GO キーを消す"_s);
    forget->setObjectName(u"showForgetKeysAction"_s);
    connect(forget, &QAction::triggered, this, [this] {
        m_keys.forget();
        (void)SettingsFile::write(m_form->AppFolder() + KeysStoreName, QString());
        m_boxes->inform(m_host, u"覚えた GO キーを消しました。GO は Space / Enter / PageDown / → です"_s, u"お知らせ"_s);
    });
}

void ShowController::fillScreenMenu()
{
    m_screenMenu->clear();
    auto *group = new QActionGroup(m_screenMenu);
    const auto add = [&](const QString &text, const QString &name) {
        QAction *a = m_screenMenu->addAction(text);
        a->setCheckable(true);
        a->setChecked(name == m_screen);
        a->setData(name);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, name] {
            m_screen = name;
            (void)SettingsFile::write(m_form->AppFolder() + ScreenStoreName, name);
        });
        return a;
    };
    add(u"自動（2 画面ならメインウィンドウのない画面）"_s, QString())->setObjectName(u"showScreenAutoAction"_s);
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        const QRect g = screens[i]->geometry();
        add(u"%1（%2×%3）"_s.arg(screens[i]->name()).arg(g.width()).arg(g.height()), screens[i]->name())
            ->setObjectName(u"showScreen%1Action"_s.arg(i + 1));
    }
}

QScreen *ShowController::showScreen() const
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    QStringList names;
    for (const QScreen *screen : screens)
        names << screen->name();
    const QScreen *main = m_host->screen();
    const qsizetype at = ShowScreen::choose(names, main ? main->name() : QString(), m_screen);
    return at >= 0 ? screens.at(at) : nullptr;
}

ShowController::~ShowController()
{
    delete m_window;
}

void ShowController::chooseFade(int ms)
{
    m_fadeMs = ms;
    // Remembering is a convenience: the choice holds for this run anyway.
    (void)SettingsFile::write(m_form->AppFolder() + FadeStoreName, QString::number(ms));
}

QString ShowController::recordPath() const
{
    // Beside the set list's file; else where the set goes out, else beside the settings.
    const QString file = m_setListFile ? m_setListFile() : QString();
    QString folder = file.isEmpty() ? m_form->outputFolder() : QFileInfo(file).absolutePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = m_form->AppFolder();
    QString name = file.isEmpty() ? m_form->setName() : QFileInfo(file).completeBaseName();
    // A set name may hold what no file name can.
    static const QRegularExpression unsafe(u"[\\\\/:*?\"<>|\\x00-\\x1f]"_s);
    name.replace(unsafe, u"_"_s);
    if (name.trimmed().isEmpty())
        name = u"セットリスト"_s;
    if (!folder.endsWith(u'/') && !folder.endsWith(u'\\'))
        folder += u'/';
    return folder + name + RecordMark + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmm"_s) + u".txt"_s;
}

QString ShowController::latestRecord(const QString &setListFile)
{
    if (setListFile.isEmpty())
        return {};
    const QFileInfo file(setListFile);
    // Matched by its start rather than a wildcard: a set's name may hold * or [.
    const QString start = file.completeBaseName() + RecordMark;
    for (const QFileInfo &candidate : QDir(file.absolutePath()).entryInfoList({ u"*.txt"_s }, QDir::Files, QDir::Time))
        if (candidate.fileName().startsWith(start))
            return candidate.absoluteFilePath();
    return {};
}

QString ShowController::statePath() const
{
    return m_form->AppFolder() + StateStoreName;
}

void ShowController::offerToContinue(const std::function<bool(const QString &)> &open)
{
    m_openSetList = open;
    const QString path = statePath();
    if (!QFileInfo::exists(path))
        return;
    const auto bytes = SetListStorage::read(path);
    const QByteArray *text = std::get_if<QByteArray>(&bytes);
    const std::optional<ShowResume> state = text ? ShowResume::parse(*text) : std::nullopt;
    if (!state) {
        QFile::remove(path);
        return;
    }
    const QString started = state->startedMs > 0
        ? QDateTime::fromMSecsSinceEpoch(state->startedMs).toString(u"M月d日 H:mm"_s) + u" に始めた"_s
        : QString();
    const QString song = QFileInfo(state->songs.at(state->next)).completeBaseName();
    const QString prompt = u"前回%1本番（%2）は途中で終わっています。\n%3 曲目「%4」から本番モードを続けますか？\n"
                           "「いいえ」を選ぶと、この続きは破棄されます。"_s
                               .arg(started, state->setName)
                               .arg(state->next + 1)
                               .arg(song);
    if (!m_boxes->ask(m_host, prompt, u"本番の続き"_s)) {
        QFile::remove(path);
        return;
    }
    goOn(*state);
}

void ShowController::openEndedAgain()
{
    if (m_window || !m_startAction->isEnabled())
        return;
    const QString path = m_form->AppFolder() + EndedStoreName;
    const auto bytes = SetListStorage::read(path);
    const QByteArray *text = std::get_if<QByteArray>(&bytes);
    const std::optional<ShowResume> state = text ? ShowResume::parse(*text) : std::nullopt;
    if (!state) {
        m_boxes->inform(m_host, u"続きから開ける本番はありません"_s, u"本番の続き"_s);
        return;
    }
    goOn(*state);
}

void ShowController::goOn(const ShowResume &resumed)
{
    const ShowResume *state = &resumed;
    const QString song = QFileInfo(state->songs.at(state->next)).completeBaseName();
    const auto open = m_openSetList ? m_openSetList : std::function<bool(const QString &)>([](const QString &) { return false; });
    // The set as it was played: its file when that still holds it, else (never
    // saved, changed since it was saved, or the file gone) put together again
    // from the songs with their edits, notes and follow marks.
    const bool fromFile = !state->setListFile.isEmpty() && open(state->setListFile) && playedAsSaved(*state);
    if (!fromFile && !m_form->replaceSetList(state->songs, state->setName, state->extras))
        return;
    // The slot and pause of the day, not the ones the set list's file was saved with.
    if (state->slotKept) {
        m_slot->setSlot(state->slotSeconds);
        m_slot->setPauseSeconds(int(std::clamp<qint64>(state->pauseSeconds, 0, 3600)));
    }
    QStringList paths;
    for (const SetListEntry &entry : m_form->setListEntries())
        paths.append(entry.path);
    // Songs found again elsewhere (moved with the set list) keep their places.
    std::optional<qsizetype> at = state->nextIn(paths);
    if (!at && state->next < paths.size())
        at = state->next;
    if (!at) {
        m_boxes->inform(m_host, u"続きの曲「%1」がセットリストにありません"_s.arg(song), u"本番の続き"_s);
        return;
    }
    start(*at, &*state);
}

bool ShowController::playedAsSaved(const ShowResume &state) const
{
    const QList<SetListEntry> entries = m_form->setListEntries();
    if (entries.size() != state.songs.size())
        return false;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).path != state.songs.at(i))
            return false;
        // A state that carries no rows' extras (one written before it kept
        // them) leaves the file's own.
        if (state.extras.isEmpty())
            continue;
        const SetListRowExtras &saved = entries.at(i).extras;
        const SetListRowExtras &played = state.extras.at(i);
        if (saved.edits != played.edits || saved.note != played.note || saved.follows != played.follows)
            return false;
    }
    return true;
}

void ShowController::start(qsizetype from, const ShowResume *resumed)
{
    if (m_window || !m_startAction->isEnabled())
        return;
    const QList<SetListEntry> entries = m_form->setListEntries();
    if (entries.isEmpty()) {
        m_boxes->inform(m_host, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return;
    }
    // One player for the show: a preview playing now gives way.
    if (m_form->isPlaying())
        m_form->stopPreview();

    ShowWindow::Setup setup;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        setup.songs.append({ int(i + 1), entries[i].path, entries[i].title, entries[i].seconds.value_or(0) * 1000,
                             entries[i].extras.follows, entries[i].extras.note.simplified() });
    }
    setup.pauseMs = qint64(m_slot->pauseSeconds()) * 1000;
    if (const auto slot = m_slot->slotSeconds())
        setup.slotMs = *slot * 1000;
    setup.fadeMs = m_fadeMs;
    setup.title = m_form->setName().isEmpty() ? u"セットリスト"_s : m_form->setName();
    setup.recordPath = recordPath();
    setup.statePath = statePath();
    setup.endedPath = m_form->AppFolder() + EndedStoreName;
    setup.setListFile = m_setListFile ? m_setListFile() : QString();
    setup.from = qBound<qsizetype>(0, from, setup.songs.size() - 1);
    if (resumed) {
        setup.startedEpochMs = resumed->startedMs;
        // The plan began as many songs before the next one as it did, wherever that moved.
        setup.planFrom = qMax<qsizetype>(0, setup.from - (resumed->next - resumed->planFrom));
    }
    for (const SetListEntry &entry : entries)
        setup.extras.append(entry.extras);
    setup.keys = m_keys;
    if (m_levels) {
        QStringList paths;
        for (const ShowRun::Song &song : std::as_const(setup.songs))
            paths.append(song.path);
        const auto gains = m_levels(paths);
        if (!gains) {
            m_boxes->inform(m_host, u"音量の測定を中止したため、本番モードを開きませんでした"_s, u"お知らせ"_s);
            return;
        }
        setup.gains = *gains;
    }

    // The main window shows the set as it was and takes nothing while the show runs.
    m_lock = std::make_unique<InputBlocker>(m_host);
    m_startAction->setEnabled(false);
    m_window = new ShowWindow(std::move(setup), m_playback, m_boxes);
    connect(m_window, &ShowWindow::keysTaught, this, [this](const ShowKeys &keys) {
        m_keys = keys;
        (void)SettingsFile::write(m_form->AppFolder() + KeysStoreName, keys.toText());
    });
    connect(m_window, &ShowWindow::closed, this, [this] {
        m_lock.reset();
        m_startAction->setEnabled(true);
        m_window->deleteLater();
        m_window = nullptr;
    });
    if (QScreen *screen = showScreen()) {
        // Full screen goes to the screen the window is on; covering it already
        // holds where no window manager makes a window full screen (a bare X
        // server on a stage computer).
        m_window->setScreen(screen);
        m_window->setGeometry(screen->geometry());
    }
    m_window->showFullScreen();
    m_window->activateWindow();
    m_window->setFocus();
}
