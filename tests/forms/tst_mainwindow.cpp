// Set lists kept in files through the window's menus: save, open, the recent
// list, the unsaved-changes question and what a bad file leaves behind.
#include "formfixture.h"

#include "forms/mainwindow.h"
#include "platform/desktop/setlistdialog.h"
#include "support/mediagen.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Answer = MessageBoxes::Answer;

namespace {

class Boxes : public ScriptedBoxes
{
public:
    Answer askYesNoCancel(QWidget *, const QString &prompt, const QString &caption) override
    {
        shown.append({ prompt, caption, true });
        return threeWay.isEmpty() ? Answer::Cancel : threeWay.takeFirst();
    }
    QList<Answer> threeWay;
};

class Files : public SetListDialog
{
public:
    QString fileToOpen(QWidget *, const QString &) override { return open; }
    QString fileToSave(QWidget *, const QString &) override { return save; }
    QString open;
    QString save;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Boxes m_boxes;
    ScriptedFolderDialog m_folders;
    Files m_files;
    MediaService m_media;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    void restart()
    {
        m_window.reset();
        m_window = std::make_unique<MainWindow>(Form1Services{ &m_boxes, &m_folders, &m_media, path(u"cfg"_s) },
                                                &m_files);
    }
    void menu(const char *name) { m_window->findChild<QAction *>(QLatin1StringView(name))->trigger(); }
    QString field(const char *name) { return m_window->findChild<QLineEdit *>(QLatin1StringView(name))->text(); }
    // The set list as shown: "number|name|length" per row, then the total.
    QStringList shown()
    {
        const QAbstractItemModel *model = m_window->findChild<QAbstractItemView *>(u"MSHFlexGrid2"_s)->model();
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r)
            rows << QStringList{ model->index(r, 0).data().toString(), model->index(r, 1).data().toString(),
                                 model->index(r, 3).data().toString() }.join(u'|');
        return rows << field("Text6");
    }
    // A saved set list of the three songs, changed afterwards when asked.
    void savedSetList(bool changed)
    {
        restart();
        QVERIFY(m_window->form()->replaceSetList({ path(u"夜明け.wav"_s), path(u"2部/#海.wav"_s) }, u"金曜"_s));
        m_files.save = path(u"set.m3u8"_s);
        menu("saveSetListAsAction");
        if (changed)
            m_window->form()->trigger(Form1::Action::MoveUp);
        m_boxes.shown.clear();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!MediaGen::missingTools().isEmpty())
            QSKIP("ffmpeg, lame and sox are needed");
        for (const QString &folder : { u"2部"_s, u"lib"_s, u"cfg"_s })
            QVERIFY(QDir(m_dir.path()).mkpath(folder));
        QVERIFY(MediaGen::tone(path(u"夜明け.wav"_s), 2.0));
        QVERIFY(MediaGen::tone(path(u"2部/#海.wav"_s), 3.0));
        QVERIFY(MediaGen::tone(path(u"lib/遠く.wav"_s), 4.0));
    }

    void saveRestartOpen()
    {
        savedSetList(false);
        QCOMPARE(contents(path(u"set.m3u8"_s)),
                 u"#EXTM3U\n#PLAYLIST:金曜\n#EXTINF:2,夜明け\n夜明け.wav\n#EXTINF:3,#海\n2部/#海.wav\n"_s.toUtf8());
        const QStringList before = shown();
        restart();
        QCOMPARE(m_window->recentFiles(), QStringList{ path(u"set.m3u8"_s) });
        QVERIFY(m_window->openSetList(path(u"set.m3u8"_s)));
        QCOMPARE(shown(), before);
        QCOMPARE(field("Text3"), u"金曜"_s);
        QCOMPARE(m_window->windowTitle(), u"set.m3u8[*] - Korvanda"_s);
        QVERIFY(!m_window->isWindowModified());
    }

    void windowsPlaylistFoundThroughLibrary()
    {
        restart();
        m_window->findChild<QLineEdit *>(u"Text1"_s)->setText(path(u"lib"_s));
        // CP932, backslashes, a drive letter; the middle song is nowhere.
        put(path(u"win.m3u"_s), "D:\\\x89\xb9\x8a\x79\\\x89\x93\x82\xad.wav\r\nC:\\gone.mp3\r\n2\x95\x94\\#\x8a\x43.wav\r\n"_ba);
        QVERIFY(m_window->openSetList(path(u"win.m3u"_s)));
        QCOMPARE(shown(), (QStringList{ u"01|遠く.wav|00:00:04"_s, u"02|#海.wav|00:00:03"_s, u"00:00:07"_s }));
        QCOMPARE(m_boxes.lastPrompt(), u"見つからなかった曲があります\ngone.mp3"_s);
        // Saving over it would drop the missing song: it goes through the dialog.
        m_files.save.clear();
        menu("saveSetListAction");
        QCOMPARE(contents(path(u"win.m3u"_s)).left(2), "D:"_ba);
    }

    void badFileLeavesSetList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << QByteArray() << u"空のファイル"_s;
        QTest::newRow("binary") << "\x7f" "ELF\x02\x00\x01"_ba << u"プレイリストではありません"_s;
        QTest::newRow("1 MB line") << QByteArray(1 << 20, 'x') << u"見つからなかった曲があります"_s;
        QTest::newRow("100,000 lines") << "a.wav\n"_ba.repeated(100000) << u"曲までしか追加できません"_s;
        QTest::newRow("directory") << "dir"_ba << u"フォルダです"_s;
        QTest::newRow("FIFO") << "fifo"_ba << u"普通のファイルではありません"_s;
        if (geteuid() != 0)
            QTest::newRow("unreadable") << "0000"_ba << u"アクセスが許可されていません"_s;
    }
    void badFileLeavesSetList()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        savedSetList(false);
        const QStringList before = shown();
        const QString bad = path(u"bad"_s);
        QFile::remove(bad);
        if (bytes == "dir")
            QVERIFY(QDir(m_dir.path()).mkdir(u"bad"_s));
        else if (bytes == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
        else
            put(bad, bytes);
        if (bytes == "0000")
            QVERIFY(QFile::setPermissions(bad, {}));
        QVERIFY(!m_window->openSetList(bad));
        QVERIFY2(m_boxes.lastPrompt().contains(reason), qPrintable(m_boxes.lastPrompt()));
        QCOMPARE(shown(), before);
        QCOMPARE(m_window->currentFile(), path(u"set.m3u8"_s));
        if (!QDir(bad).removeRecursively())
            QFile::remove(bad);
    }

    void unsavedChangesAsked_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("proceeds");
        QTest::addColumn<bool>("saved");
        for (const QString &way : { u"new"_s, u"open"_s, u"close"_s, u"exit"_s }) {
            QTest::addRow("%s, yes", qPrintable(way)) << way << Answer::Yes << true << true;
            QTest::addRow("%s, no", qPrintable(way)) << way << Answer::No << true << false;
            QTest::addRow("%s, cancel", qPrintable(way)) << way << Answer::Cancel << false << false;
        }
    }
    void unsavedChangesAsked()
    {
        QFETCH(QString, way);
        QFETCH(Answer, answer);
        QFETCH(bool, proceeds);
        QFETCH(bool, saved);
        savedSetList(true);
        const QByteArray before = contents(path(u"set.m3u8"_s));
        m_window->show();
        m_boxes.threeWay = { answer };
        m_boxes.answers = { true }; // Yes to the exit question
        m_files.open = path(u"set.m3u8"_s);
        if (way == u"new")
            menu("newSetListAction");
        else if (way == u"open")
            menu("openSetListAction");
        else if (way == u"close")
            m_window->close();
        else
            menu("quitAction");
        QCOMPARE(m_boxes.shown.constLast().prompt, u"セットリストの変更を保存しますか？"_s);
        QCOMPARE(contents(path(u"set.m3u8"_s)) != before, saved);
        const bool ending = way == u"close" || way == u"exit";
        QCOMPARE(m_window->isVisible(), !proceeds || !ending);
        QCOMPARE(m_window->isWindowModified(), !proceeds || (ending && answer == Answer::No));
    }

    void fullDiskKeepsOldFile()
    {
        if (geteuid() != 0)
            QSKIP("mounting a tmpfs needs root");
        const QString disk = path(u"disk"_s);
        QVERIFY(QDir().mkpath(disk));
        QVERIFY(QProcess::execute(u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, disk }) == 0);
        const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, { u"-l"_s, disk }); });
        savedSetList(true);
        QVERIFY(QFile::copy(path(u"set.m3u8"_s), disk + u"/set.m3u8"_s));
        QFile filler(disk + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) { }
        filler.close();
        m_files.save = disk + u"/set.m3u8"_s;
        menu("saveSetListAsAction");
        QVERIFY2(m_boxes.lastPrompt().contains(u"空き容量が足りません"_s), qPrintable(m_boxes.lastPrompt()));
        QCOMPARE(contents(disk + u"/set.m3u8"_s), contents(path(u"set.m3u8"_s)));
        QCOMPARE(QDir(disk).entryList(QDir::Files).size(), 2);
        QVERIFY(m_window->isWindowModified());
    }
};

KORVANDA_FORM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
