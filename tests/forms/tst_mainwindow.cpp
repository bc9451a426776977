// Set lists kept in files through the window's menus: open, the unsaved-changes
// question, what a bad file leaves behind, and a save on a full disk.
#include "support/formfixture.h"

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
        shown.append({ prompt, caption });
        return threeWay.isEmpty() ? Answer::Cancel : threeWay.takeFirst();
    }
    QList<Answer> threeWay;
};

// The file dialogs pick the one file the test names.
class Files : public SetListDialog
{
public:
    QString fileToOpen(QWidget *, const QString &) override { return chosen; }
    QString fileToSave(QWidget *, const QString &) override { return chosen; }
    QString chosen;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    void menu(const char *name) { m_window->findChild<QAction *>(QLatin1StringView(name))->trigger(); }
    // The set list as shown: "number|name|length" per row, then the total.
    QStringList shown() const
    {
        const QAbstractItemModel *model = m_window->findChild<QAbstractItemView *>(u"MSHFlexGrid2"_s)->model();
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r)
            rows << QStringList{ model->index(r, 0).data().toString(), model->index(r, 1).data().toString(),
                                 model->index(r, 3).data().toString() }.join(u'|');
        return rows << m_window->findChild<QLineEdit *>(u"Text6"_s)->text();
    }
    // A window whose set list of two songs was saved as set.m3u8 (in `folder`),
    // then changed when asked.
    void savedSetList(bool changed, const QString &folder = {})
    {
        m_window.reset();
        m_window = std::make_unique<MainWindow>(Form1Services{ &m_boxes, &m_folders, &m_media, path(u"cfg"_s) },
                                                &m_files);
        QVERIFY(m_window->form()->replaceSetList({ path(u"夜明け.wav"_s), path(u"2部/#海.wav"_s) }, u"金曜"_s));
        m_files.chosen = (folder.isEmpty() ? m_dir.path() : folder) + u"/set.m3u8"_s;
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
        QVERIFY(MediaGen::tone(path(u"夜明け.wav"_s), 2.0) && MediaGen::tone(path(u"2部/#海.wav"_s), 3.0)
                && MediaGen::tone(path(u"lib/遠く.wav"_s), 4.0));
    }

    void windowsPlaylistFoundThroughLibrary()
    {
        savedSetList(false);
        m_window->findChild<QLineEdit *>(u"Text1"_s)->setText(path(u"lib"_s));
        // CP932, backslashes, drive letters: 遠く is in the library, gone.mp3 nowhere.
        QFile file(path(u"win.m3u"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("D:\\\x89\xb9\x8a\x79\\\x89\x93\x82\xad.wav\r\nC:\\gone.mp3\r\n2\x95\x94\\#\x8a\x43.wav\r\n");
        file.close();
        QVERIFY(m_window->openSetList(path(u"win.m3u"_s)));
        QCOMPARE(shown(), (QStringList{ u"01|遠く.wav|00:00:04"_s, u"02|#海.wav|00:00:03"_s, u"00:00:07"_s }));
        QCOMPARE(m_boxes.lastPrompt(), u"見つからなかった曲があります\ngone.mp3"_s);
        QCOMPARE(m_window->recentFiles(), (QStringList{ path(u"win.m3u"_s), path(u"set.m3u8"_s) }));
        // Saving over it would drop the missing song: the save asks for a name.
        m_files.chosen.clear();
        menu("saveSetListAction");
        QCOMPARE(contents(path(u"win.m3u"_s)).left(2), "D:"_ba);
    }

    void badFileLeavesSetList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << QByteArray() << u"空のファイル"_s;
        QTest::newRow("binary") << "\x7f" "ELF\x02\x01\x00\xff\xfe\x81\x20"_ba << u"プレイリストではありません"_s;
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
        QTemporaryDir dir;
        const QString bad = dir.filePath(u"bad"_s);
        if (bytes == "dir") {
            QVERIFY(QDir().mkdir(bad));
        } else if (bytes == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
        } else {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.setPermissions(bytes == "0000" ? QFile::Permissions() : file.permissions());
        }
        QVERIFY(!m_window->openSetList(bad));
        QVERIFY2(m_boxes.lastPrompt().contains(reason), qPrintable(m_boxes.lastPrompt()));
        QCOMPARE(shown(), before);
        QCOMPARE(m_window->currentFile(), path(u"set.m3u8"_s));
    }

    void unsavedChangesAsked_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<Answer>("answer");
        for (const QString &way : { u"new"_s, u"open"_s, u"close"_s, u"exit"_s }) {
            for (const Answer answer : { Answer::Yes, Answer::No, Answer::Cancel })
                QTest::addRow("%s, %d", qPrintable(way), int(answer)) << way << answer;
        }
    }
    void unsavedChangesAsked()
    {
        QFETCH(QString, way);
        QFETCH(Answer, answer);
        savedSetList(true);
        const QByteArray before = contents(path(u"set.m3u8"_s));
        m_window->show();
        m_boxes.threeWay = { answer };
        m_boxes.answers = { true }; // Yes to the exit question
        if (way == u"close")
            m_window->close();
        else
            menu(way == u"new" ? "newSetListAction" : way == u"open" ? "openSetListAction" : "quitAction");
        QCOMPARE(m_boxes.shown.constLast().prompt, u"セットリストの変更を保存しますか？"_s);
        QCOMPARE(contents(path(u"set.m3u8"_s)) != before, answer == Answer::Yes);
        const bool ending = way == u"close" || way == u"exit";
        QCOMPARE(m_window->isVisible(), answer == Answer::Cancel || !ending);
        QCOMPARE(m_window->isWindowModified(), answer == Answer::Cancel || (ending && answer == Answer::No));
    }

    void fullDiskKeepsOldFile()
    {
        if (geteuid() != 0)
            QSKIP("mounting a tmpfs needs root");
        const QString disk = path(u"disk"_s);
        QVERIFY(QDir().mkpath(disk));
        QCOMPARE(QProcess::execute(u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, disk }), 0);
        const auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, { u"-l"_s, disk }); });
        savedSetList(true, disk);
        const QByteArray before = contents(disk + u"/set.m3u8"_s);
        QFile filler(disk + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) { }
        filler.close();
        menu("saveSetListAction");
        QVERIFY2(m_boxes.lastPrompt().contains(u"空き容量が足りません"_s), qPrintable(m_boxes.lastPrompt()));
        QCOMPARE(contents(disk + u"/set.m3u8"_s), before);
        QCOMPARE(QDir(disk).entryList(QDir::Files).size(), 2);
        QVERIFY(m_window->isWindowModified());
    }
};

KORVANDA_FORM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
