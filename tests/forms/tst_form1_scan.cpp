// Listing the source folder into the library, and previewing a song.
#include "support/fixtures.h"
#include "support/formfixture.h"
#include "support/mediagen.h"

#include "forms/form2.h"
#include "platform/media/libraryscanner.h"

#include <QLabel>
#include <QProgressDialog>
#include <QSemaphore>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

using fixtures::writeFile;

namespace {

const QString Marker = u"これはフォルダです"_s;

// Length queries that wait until the test lets them go: storage slow enough for
// the user to give up cannot be made for real in a test.
class SlowMedia : public MediaCommands
{
public:
    int sendString(const QString &command, QString *reply, int) override
    {
        if (command.startsWith(u"status"_s)) {
            gate.acquire();
            gate.release();
            *reply = u"1000"_s;
        }
        return 0;
    }
    QSemaphore gate;
};

} // namespace

class TestForm1Scan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(u"missing tools: "_s + missing.join(u", "_s)));
    }

    void listsSortsMarksAndNumbers()
    {
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"b.mp3"_s), 3.0));
        QVERIFY(MediaGen::tone(dir.filePath(u"A.wav"_s), 2.0));
        QVERIFY(MediaGen::tone(dir.filePath(u"x.flac"_s), 1.0)); // a four-letter extension is marked, yet probed
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        QVERIFY(writeFile(dir.filePath(u"ab"_s), {})); // too short a name to be listed
        FormFixture f;
        f.edit(u"Text1"_s)->setText(dir.path());
        f.click(u"Command11"_s);
        const SongTable &lib = f.library();
        QCOMPARE(columnTexts(lib, 0), (QStringList{ u"1"_s, u"2"_s, u"3"_s, u"4"_s }));
        QCOMPARE(columnTexts(lib, 1), (QStringList{ u"A.wav"_s, u"b.mp3"_s, Marker + u"sub"_s, Marker + u"x.flac"_s }));
        QCOMPARE(columnTexts(lib, 2), (QStringList{ dir.filePath(u"A.wav"_s), dir.filePath(u"b.mp3"_s),
                                                    dir.filePath(u"sub"_s), dir.filePath(u"x.flac"_s) }));
        QCOMPARE(columnTexts(lib, 3), (QStringList{ u"00:00:02"_s, u"00:00:03"_s, u"00:00:00"_s, u"00:00:01"_s }));
        for (int r = 1; r <= 4; ++r)
            QCOMPARE(lib.cellAt(r, 1).backColor.has_value(), r >= 3);
        QCOMPARE(lib.Row(), 1);
        QCOMPARE(f.form->focusWidget(), f.widget(u"MSHFlexGrid1"_s));
        // The hidden path field holds the entry the file system listed last.
        QStringList listed = LibraryScanner::listFolder(dir.path());
        listed.removeIf([](const QString &n) { return n.size() < 3; });
        QCOMPARE(f.text(u"Text5"_s), dir.filePath(listed.last()));
        QVERIFY(f.boxes.shown.isEmpty());
    }

    void rescanReplacesEverything()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"aaa"_s));
        FormFixture f;
        f.edit(u"Text1"_s)->setText(dir.path() + u'/'); // used as typed
        f.click(u"Command11"_s);
        QCOMPARE(columnTexts(f.library(), 1), QStringList{ Marker + u"aaa"_s });
        QVERIFY(f.library().cellAt(1, 1).backColor);
        QVERIFY(QDir(dir.path()).rmdir(u"aaa"_s));
        QVERIFY(writeFile(dir.filePath(u"song.mp3"_s), {}));
        f.click(u"Command11"_s);
        QCOMPARE(columnTexts(f.library(), 2), QStringList{ dir.path() + u"//song.mp3"_s });
        QVERIFY(!f.library().cellAt(1, 1).backColor); // a song never keeps the folder highlight
        QVERIFY(QFile::remove(dir.filePath(u"song.mp3"_s)));
        f.click(u"Command11"_s);
        QCOMPARE(columnTexts(f.library(), 0), QStringList{ u"1"_s });
        QCOMPARE(columnTexts(f.library(), 1), QStringList{ QString() });
    }

    void refusalsLeaveTheLibrary_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("no folder") << QString() << u"フォルダの指定ができていません"_s;
        QTest::newRow("missing folder") << u"/no/such/folder"_s << u"読み込み元のフォルダーがありません"_s;
        QTest::newRow("more entries than the table holds") << u"full"_s << u"32767"_s;
    }
    void refusalsLeaveTheLibrary()
    {
        QFETCH(QString, folder);
        QFETCH(QString, prompt);
        QTemporaryDir dir;
        if (folder == "full"_L1) {
            for (int i = 0; i <= SongTable::MaxDataRows; ++i)
                ::close(::open(QFile::encodeName(dir.filePath(u"s%1.mp3"_s.arg(i))).constData(), O_CREAT | O_WRONLY, 0644));
            folder = dir.path();
        }
        FormFixture f;
        f.setLibrary({ { u"kept.mp3"_s, u"00:01:00"_s } });
        f.edit(u"Text1"_s)->setText(folder);
        f.click(u"Command11"_s);
        QVERIFY2(f.boxes.lastPrompt().contains(prompt), qPrintable(f.boxes.lastPrompt()));
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(columnTexts(f.library(), 1), QStringList{ u"kept.mp3"_s });
    }

    void badEntriesNeverStopTheScan()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u".empty.mp3"_s), {})); // hidden entries are listed too
        QVERIFY(writeFile(dir.filePath(u"junk.mp3"_s), QByteArray(5000, '\xff')));
        QVERIFY(MediaGen::tone(dir.filePath(u"cut.mp3"_s), 2.0));
        QVERIFY(QFile::resize(dir.filePath(u"cut.mp3"_s), 3000));
        QVERIFY(QDir(dir.path()).mkdir(u"Disc.001"_s)); // a folder named like a song
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.mp3"_s)).constData(), 0644), 0);
        QVERIFY(QFile::link(dir.filePath(u"loop.mp3"_s), dir.filePath(u"loop.mp3"_s)));
        const QByteArray badName = QFile::encodeName(dir.path()) + "/bad\xff\xfe.mp3";
        ::close(::open(badName.constData(), O_CREAT | O_WRONLY, 0644));
        FormFixture f;
        f.edit(u"Text1"_s)->setText(dir.path());
        f.click(u"Command11"_s);
        ::unlink(badName.constData()); // QTemporaryDir cannot remove a name it cannot decode
        QCOMPARE(f.library().Rows() - 1, 7);
        for (int r = 1; r < f.library().Rows(); ++r)
            QVERIFY(f.library().textAt(r, 3) == u"00:00:00"_s || f.library().textAt(r, 1) == u"cut.mp3"_s);
        QVERIFY(columnTexts(f.library(), 1).contains(u"Disc.001"_s));
    }

    void cancelLeavesTheLibraryAsItWas()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 8; ++i)
            QVERIFY(writeFile(dir.filePath(u"song%1.mp3"_s.arg(i)), {}));
        SlowMedia media;
        FormFixture f({}, &media);
        f.form->show();
        f.setLibrary({ { u"before.mp3"_s, u"00:01:00"_s } });
        f.edit(u"Text1"_s)->setText(dir.path());
        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(f.form->findChild<QProgressDialog *>() && f.form->findChild<QProgressDialog *>()->isVisible(), 10000);
            sawDialog = true;
            // The window takes no clicks while the scan runs and cannot be closed under it.
            QTest::mouseClick(f.widget(u"Command14"_s), Qt::LeftButton);
            QVERIFY(!f.form->close());
            f.form->findChild<QProgressDialog *>()->cancel();
            media.gate.release();
        });
        f.click(u"Command11"_s);
        QVERIFY(sawDialog && f.form->isVisible() && !f.form->helpWindow());
        QCOMPARE(columnTexts(f.library(), 1), QStringList{ u"before.mp3"_s });
    }

    void previewLocksTheWindowUntilStop()
    {
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"song.wav"_s), 1.0));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        FormFixture f;
        f.form->show();
        f.click(u"Command20"_s);
        QCOMPARE(f.boxes.lastPrompt(), u"楽曲が選択されていません"_s);
        QCOMPARE(f.boxes.lastCaption(), QString());
        f.edit(u"Text1"_s)->setText(dir.path());
        f.click(u"Command11"_s);
        QWidgetList locked, free;
        for (const char *name : { "MSHFlexGrid1", "Command11", "Command3", "Command9", "Command10" })
            locked << f.widget(QString::fromLatin1(name));
        for (const char *name : { "Command2", "Command5", "Command6", "Command20", "Command30", "MSHFlexGrid2", "Command14" })
            free << f.widget(QString::fromLatin1(name));
        const auto lockedWhilePlaying = [&](bool playing) {
            for (QWidget *w : locked)
                QVERIFY2(w->isEnabled() != playing, qPrintable(w->objectName()));
            for (QWidget *w : free)
                QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
            QCOMPARE(f.widget<QLabel>(u"Label9"_s)->isVisible(), playing);
        };
        f.click(u"Command20"_s);
        QCOMPARE(f.text(u"Text5"_s), dir.filePath(u"song.wav"_s));
        lockedWhilePlaying(true);
        QTRY_VERIFY(f.media.isPlaying(f.text(u"Text5"_s)));
        // The song ending by itself changes nothing until stop.
        QTRY_VERIFY_WITH_TIMEOUT(!f.media.isPlaying(f.text(u"Text5"_s)), 10000);
        lockedWhilePlaying(true);
        f.click(u"Command30"_s);
        lockedWhilePlaying(false);
        QVERIFY(f.media.openPaths().isEmpty());
        // A marked row plays nothing, but the window locks until stop all the same.
        f.library().setRow(2);
        f.click(u"Command20"_s);
        QCOMPARE(f.text(u"Text5"_s), dir.filePath(Marker + u"sub"_s));
        lockedWhilePlaying(true);
        f.click(u"Command30"_s);
        lockedWhilePlaying(false);
        QCOMPARE(f.boxes.shown.size(), 1);
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Scan)
#include "tst_form1_scan.moc"
