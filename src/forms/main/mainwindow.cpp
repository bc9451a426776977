#include "forms/main/mainwindow.h"

#include "forms/preview/previewbar.h"
#include "forms/edits/songeditscontroller.h"
#include "forms/preview/previewcontroller.h"
#include "forms/show/showcontroller.h"
#include "forms/slotstatusbar.h"
#include "model/setlistfile.h"
#include "model/songtable.h"
#include "platform/audio/disc/discwriter.h"
#include "platform/desktop/cdimagedialog.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/storage/recentsetlists.h"
#include "platform/storage/setliststorage.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString RecentStoreName = u"recent.dat"_s;
const QString Notice = u"お知らせ"_s;
// A message naming many songs stays readable and fits on the screen.
constexpr int MaxNamedSongs = 30;
constexpr int MaxNameLength = 200;

QString elided(const QString &name)
{
    return name.size() > MaxNameLength ? name.left(MaxNameLength) + u"…"_s : name;
}

QString missingSongsMessage(const QStringList &names)
{
    QString message = u"見つからなかった曲があります"_s;
    for (qsizetype i = 0; i < names.size() && i < MaxNamedSongs; ++i)
        message += u'\n' + elided(names[i]);
    if (names.size() > MaxNamedSongs)
        message += u"\nほか %1 曲"_s.arg(names.size() - MaxNamedSongs);
    return message;
}

} // namespace

MainWindow::MainWindow(const Form1Services &services, SetListDialog *fileDialog, QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_fileDialog(fileDialog)
{
    Q_ASSERT(fileDialog);
    setObjectName(u"MainWindow"_s);
    m_form = new Form1(services, this);
    setCentralWidget(m_form);
    // The client area keeps its fixed size; the window grows by the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_recentStore = m_form->AppFolder() + RecentStoreName;
    m_recent = RecentSetLists::load(m_recentStore);

    m_systemCdDialog = std::make_unique<SystemCdImageDialog>();
    m_cdDialog = m_systemCdDialog.get();
    createSlotBar();
    createFileMenu();
    createEditMenu();
    placePreview();
    placeShow();
    placeEdits();
    createHelpMenu();
    addToolBar(Qt::BottomToolBarArea, m_exportBar);

    connect(m_form, &Form1::setListChanged, this, [this] { setModified(true); });
    connect(m_form, &Form1::setNameChanged, this, [this] { setModified(true); });
    connect(m_form, &Form1::availabilityChanged, this, &MainWindow::updateActions);
    m_form->setLeaveCheck([this] {
        if (!maySetListGo())
            return false;
        m_leaving = true;
        return true;
    });
    updateActions();
    updateTitle();
    // Once the window is up, so that the question has it behind it.
    if (m_show)
        QTimer::singleShot(0, this, [this] { m_show->offerToContinue([this](const QString &f) { return openSetList(f); }); });
}

void MainWindow::placePreview()
{
    if (!m_services.playback)
        return;
    m_preview = new PreviewController(m_form, m_services.playback, m_services.boxes, this, m_slotBar);
    menuBar()->addMenu(m_preview->menu());
    addToolBar(Qt::BottomToolBarArea, m_preview->bar());
    m_slotBar->addPermanentWidget(m_preview->runClock());
    connect(m_preview, &PreviewController::message, this, [this](const QString &text) {
        if (text.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(text);
    });
}

void MainWindow::placeShow()
{
    if (!m_services.playback || !m_services.media)
        return;
    m_show = new ShowController(m_form, m_services.playback, m_services.boxes, this, m_slotBar,
                                [this] { return m_file; });
    m_show->setLevels([this](const QStringList &paths) { return showGains(paths); });
    menuBar()->addMenu(m_show->menu());
}

void MainWindow::placeEdits()
{
    if (!m_services.playback || !m_services.media)
        return;
    m_edits = new SongEditsController(m_form, m_services.playback, m_services.boxes, this, m_slotBar);
    m_editMenu->addSeparator();
    m_editMenu->addAction(m_edits->editAction());
    m_editMenu->addAction(m_edits->fitAction());
    m_editMenu->addAction(m_edits->fitSelectedAction());
}

QAction *MainWindow::addEntry(QMenu *menu, const QString &text, const QKeySequence &shortcut)
{
    // Owned by the window rather than the menu, so that a running scan or
    // export, which blocks the window's input, blocks the shortcut too.
    auto *action = new QAction(text, this);
    action->setShortcut(shortcut);
    menu->addAction(action);
    return action;
}

void MainWindow::createFileMenu()
{
    m_fileMenu = menuBar()->addMenu(u"ファイル(&F)"_s);
    m_fileMenu->setObjectName(u"fileMenu"_s);
    m_newAction = addEntry(m_fileMenu, u"新しいセットリスト"_s, QKeySequence(u"Ctrl+N"_s));
    m_newAction->setObjectName(u"newSetListAction"_s);
    connect(m_newAction, &QAction::triggered, this, &MainWindow::newSetList);
    m_openAction = addEntry(m_fileMenu, u"セットリストを開く…"_s, QKeySequence(u"Ctrl+O"_s));
    m_openAction->setObjectName(u"openSetListAction"_s);
    connect(m_openAction, &QAction::triggered, this, &MainWindow::chooseAndOpen);
    m_saveAction = addEntry(m_fileMenu, u"セットリストを保存"_s, QKeySequence(u"Ctrl+S"_s));
    m_saveAction->setObjectName(u"saveSetListAction"_s);
    connect(m_saveAction, &QAction::triggered, this, &MainWindow::save);
    m_saveAsAction = addEntry(m_fileMenu, u"名前を付けて保存…"_s, QKeySequence(u"Ctrl+Shift+S"_s));
    m_saveAsAction->setObjectName(u"saveSetListAsAction"_s);
    connect(m_saveAsAction, &QAction::triggered, this, &MainWindow::saveAs);
    m_recentMenu = m_fileMenu->addMenu(u"最近使ったセットリスト"_s);
    m_recentMenu->setObjectName(u"recentMenu"_s);
    rebuildRecentMenu();
    m_fileMenu->addSeparator();
    addSheetEntries(m_fileMenu);
    m_fileMenu->addSeparator();
    addCdEntries(m_fileMenu);
    createExportOptions(m_fileMenu);
    m_fileMenu->addSeparator();
    m_quitAction = addEntry(m_fileMenu, u"終了"_s, QKeySequence(u"Ctrl+Q"_s));
    m_quitAction->setObjectName(u"quitAction"_s);
    connect(m_quitAction, &QAction::triggered, this, [this] { m_form->trigger(Form1::Action::Exit); });
}

void MainWindow::createEditMenu()
{
    m_editMenu = menuBar()->addMenu(u"編集(&E)"_s);
    m_editMenu->setObjectName(u"editMenu"_s);
    // The keys are shown, not bound: the tables handle them where they apply,
    // and a window-wide binding would fire them in every text box too.
    const struct
    {
        QString text;
        Form1::Action action;
    } entries[] = {
        { u"選択曲をリストへ追加\tEnter"_s, Form1::Action::AddSong },
        { u"選択行リストから削除\tDel"_s, Form1::Action::DeleteSong },
        { u"選択行上に\tCtrl+↑"_s, Form1::Action::MoveUp },
        { u"選択行下に\tCtrl+↓"_s, Form1::Action::MoveDown },
    };
    for (const auto &entry : entries) {
        QAction *action = addEntry(m_editMenu, entry.text);
        const Form1::Action what = entry.action;
        connect(action, &QAction::triggered, this, [this, what] { m_form->trigger(what); });
        m_formActions.append({ action, what });
    }
}

void MainWindow::createHelpMenu()
{
    m_helpMenu = menuBar()->addMenu(u"ヘルプ(&H)"_s);
    m_helpMenu->setObjectName(u"helpMenu"_s);
    QAction *help = addEntry(m_helpMenu, u"使い方"_s, QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, [this] { m_form->trigger(Form1::Action::Help); });
    m_formActions.append({ help, Form1::Action::Help });
    QAction *about = addEntry(m_helpMenu, u"Korvanda について"_s);
    about->setObjectName(u"aboutAction"_s);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::updateActions()
{
    for (const auto &[action, what] : std::as_const(m_formActions))
        action->setEnabled(m_form->isAvailable(what));
    // Starting over or opening another set list is locked with the exit button.
    const bool unlocked = m_form->isAvailable(Form1::Action::Exit);
    for (QAction *action : { m_newAction, m_openAction, m_quitAction })
        action->setEnabled(unlocked);
    m_recentMenu->menuAction()->setEnabled(unlocked && !m_recent.isEmpty());
}

void MainWindow::updateTitle()
{
    setWindowTitle(m_file.isEmpty() ? u"Korvanda"_s : QFileInfo(m_file).fileName() + u"[*] - Korvanda"_s);
    setWindowModified(!m_file.isEmpty() && m_modified);
}

void MainWindow::setModified(bool modified)
{
    m_modified = modified;
    updateTitle();
}

bool MainWindow::maySetListGo()
{
    // A set list that was never saved is let go without a word, as always.
    if (m_file.isEmpty() || !m_modified)
        return true;
    switch (m_services.boxes->askYesNoCancel(this, u"セットリストの変更を保存しますか？"_s, u"確認"_s)) {
    case MessageBoxes::Answer::Yes:
        return save();
    case MessageBoxes::Answer::No:
        return true;
    case MessageBoxes::Answer::Cancel:
        break;
    }
    return false;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_leaving || maySetListGo()) {
        m_leaving = true;
        event->accept();
        return;
    }
    event->ignore();
}

void MainWindow::newSetList()
{
    if (!m_newAction->isEnabled() || !maySetListGo())
        return;
    m_form->clearSetList();
    m_file.clear();
    m_incomplete = false;
    setModified(false);
}

void MainWindow::chooseAndOpen()
{
    if (!m_openAction->isEnabled() || !maySetListGo())
        return;
    const QString start = m_file.isEmpty() ? (m_recent.isEmpty() ? QDir::homePath() : m_recent.first()) : m_file;
    const QString path = m_fileDialog->fileToOpen(this, QFileInfo(start).absolutePath());
    if (!path.isEmpty())
        openSetList(path);
}

void MainWindow::openRecent(const QString &path)
{
    if (!m_openAction->isEnabled())
        return;
    if (!SetListStorage::isRegularFile(path)) {
        m_services.boxes->inform(this, u"セットリストのファイルが見つかりません。一覧から外します。\n%1"_s.arg(path), Notice);
        m_recent.removeAll(path);
        (void)RecentSetLists::save(m_recentStore, m_recent);
        rebuildRecentMenu();
        return;
    }
    if (maySetListGo())
        openSetList(path);
}

bool MainWindow::openSetList(const QString &path)
{
    const auto refuse = [&](const QString &reason) {
        m_services.boxes->inform(this, u"セットリストを開けませんでした。\n%1\n理由: %2"_s.arg(path, reason), Notice);
        return false;
    };
    const auto bytes = SetListStorage::read(path);
    if (const auto *reason = std::get_if<QString>(&bytes))
        return refuse(*reason);
    SetListFile::ReadError error{};
    const std::optional<SetListFile> file = SetListFile::parse(std::get<QByteArray>(bytes), &error);
    if (!file) {
        return refuse(error == SetListFile::ReadError::Empty ? u"空のファイルです"_s
                                                             : u"プレイリストではありません（文字でないデータを含んでいます）"_s);
    }
    if (file->entries.isEmpty())
        return refuse(u"曲が 1 曲も書かれていません"_s);

    const QString folder = QFileInfo(path).absolutePath();
    QStringList found;
    QList<SetListRowExtras> extras;
    QStringList missing;
    if (file->entries.size() <= SongTable::MaxDataRows) {
        // Songs move between computers: a song not at its path is looked for
        // under its name in the library folder.
        const QString library = m_form->libraryFolder();
        for (const SetListEntry &entry : file->entries) {
            const QString atPath = SetListFile::resolve(entry.path, folder);
            const QString name = SetListFile::fileNameOf(entry.path);
            const QString inLibrary = library.isEmpty() || name.isEmpty() ? QString() : library + u'/' + name;
            if (SetListStorage::isRegularFile(atPath))
                found << atPath, extras << entry.extras;
            else if (!inLibrary.isEmpty() && SetListStorage::isRegularFile(inLibrary))
                found << QDir::cleanPath(inLibrary), extras << entry.extras;
            else
                missing << (name.isEmpty() ? entry.path : name);
        }
    } else {
        // Too many to hold: the set list refuses them all with its own message.
        for (const SetListEntry &entry : file->entries)
            found << entry.path;
    }
    if (found.isEmpty()) {
        // Nothing to show: the set list on screen is worth more than an empty one.
        m_services.boxes->inform(this, missingSongsMessage(missing), Notice);
        return false;
    }
    if (!m_form->replaceSetList(found, file->name, extras))
        return false;

    m_file = QFileInfo(path).absoluteFilePath();
    m_incomplete = !missing.isEmpty();
    takeSlotFrom(*file);
    setModified(false);
    remember(m_file);
    if (!missing.isEmpty())
        m_services.boxes->inform(this, missingSongsMessage(missing), Notice);
    return true;
}

bool MainWindow::save()
{
    if (m_file.isEmpty() || m_incomplete)
        return saveAs();
    return writeTo(m_file);
}

bool MainWindow::saveAs()
{
    QString suggestion = m_file;
    if (suggestion.isEmpty()) {
        const QString folder = m_recent.isEmpty() ? QDir::homePath() : QFileInfo(m_recent.first()).absolutePath();
        const QString name = m_form->setName().isEmpty() ? u"セットリスト"_s : m_form->setName();
        suggestion = folder + u'/' + name + u".m3u8"_s;
    }
    const QString path = m_fileDialog->fileToSave(this, suggestion);
    return !path.isEmpty() && writeTo(path);
}

bool MainWindow::writeTo(const QString &path)
{
    const QList<SetListEntry> songs = m_form->setListEntries();
    if (songs.isEmpty()) {
        m_services.boxes->inform(this, u"セットリストに曲がセットされていません"_s, Notice);
        return false;
    }
    const QString target = QFileInfo(path).absoluteFilePath();
    const QString folder = QFileInfo(target).absolutePath();
    SetListFile file;
    file.name = m_form->setName();
    putSlotInto(file);
    for (const SetListEntry &song : songs) {
        // A line break in a path would split it into two lines of the playlist.
        if (song.path.contains(u'\n') || song.path.contains(u'\r')) {
            m_services.boxes->inform(this, u"名前に改行を含む曲はプレイリストに書けません。\n%1"_s.arg(song.path), Notice);
            return false;
        }
        file.entries.append({ SetListFile::pathForPlaylist(song.path, folder), song.title, song.seconds, song.extras });
    }
    if (const auto failure = SetListStorage::write(target, file.toBytes())) {
        m_services.boxes->inform(this, u"セットリストを保存できませんでした。\n保存先: %1\n理由: %2"_s.arg(target, *failure),
                                 Notice);
        return false;
    }
    m_file = target;
    m_incomplete = false;
    setModified(false);
    remember(target);
    return true;
}

void MainWindow::remember(const QString &path)
{
    m_recent = RecentSetLists::withFront(m_recent, path);
    // The recent list is a convenience; failing to keep it is not worth a message.
    (void)RecentSetLists::save(m_recentStore, m_recent);
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu()
{
    m_recentMenu->clear();
    for (qsizetype i = 0; i < m_recent.size(); ++i) {
        const QString path = m_recent[i];
        QAction *action = m_recentMenu->addAction(u"&%1 %2"_s.arg(i + 1).arg(QFileInfo(path).fileName()));
        action->setToolTip(path);
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] { openRecent(path); });
    }
    if (m_quitAction)
        updateActions();
}

void MainWindow::showAbout()
{
    m_services.boxes->inform(this,
                             u"Korvanda %1\n演奏者のためのセットリスト作成ソフト\n\n%3\nライセンス: プロプライエタリ\n"
                             u"設定の保存場所: %2"_s.arg(QCoreApplication::applicationVersion(),
                                                          QDir::toNativeSeparators(m_form->AppFolder()),
                                                          slotAndSheetHelp()),
                             u"Korvanda について"_s);
}
