// Listing the source folder into the library, and previewing a song.
#include "support/fixtures.h"
#include "support/formfixture.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include "forms/main/probeprogress.h"
#include "model/libraryentry.h"

#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using fixtures::writeFile;

const QString Marker = u"これはフォルダです"_s;

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
        QVERIFY(MediaGen::tone(dir.filePath(u"x.flac"_s), 1.0)); // a song with a four-letter extension
        QVERIFY(MediaGen::tone(dir.filePath(u"e aiff.AIFF"_s), 1.0));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        QVERIFY(QDir(dir.path()).mkdir(u"folder.opus"_s)); // named like a song, still a folder
        QVERIFY(writeFile(dir.filePath(u"ab"_s), {})); // too short a name to be listed
        FormFixture f;
        f.scan(dir.path());
        const SongTable &lib = f.library();
        QCOMPARE(columnTexts(lib, 0), (QStringList{ u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s }));
        QCOMPARE(columnTexts(lib, 1), (QStringList{ u"A.wav"_s, u"b.mp3"_s, u"e aiff.AIFF"_s, u"x.flac"_s,
                                                    Marker + u"folder.opus"_s, Marker + u"sub"_s }));
        QCOMPARE(columnTexts(lib, 3), (QStringList{ u"00:00:02"_s, u"00:00:03"_s, u"00:00:01"_s, u"00:00:01"_s,
                                                    u"00:00:00"_s, u"00:00:00"_s }));
        for (int r = 1; r <= 6; ++r)
            QCOMPARE(lib.cellAt(r, 1).backColor.has_value(), r >= 5);
        QCOMPARE(lib.Row(), 1);
        QCOMPARE(f.form->focusWidget(), f.widget(u"MSHFlexGrid1"_s));
        QVERIFY(f.boxes.shown.isEmpty());
        // Added like any song, titled without the whole extension.
        f.form->MSHFlexGrid1().setRow(3);
        f.click(u"Command2"_s);
        QCOMPARE(f.setList().textAt(1, 1), u"e aiff.AIFF"_s);
        QCOMPARE(LibraryEntry::titleOf(u"e aiff.AIFF"_s), u"e aiff"_s);
    }

    void rescanReplacesEverything()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"aaa"_s));
        FormFixture f;
        f.scan(dir.path() + u'/'); // used as typed
        QVERIFY(f.library().cellAt(1, 1).backColor);
        QVERIFY(QDir(dir.path()).rmdir(u"aaa"_s));
        QVERIFY(writeFile(dir.filePath(u"song.mp3"_s), {}));
        f.click(u"Command11"_s);
        QCOMPARE(columnTexts(f.library(), 2), QStringList{ dir.path() + u"//song.mp3"_s });
        QVERIFY(!f.library().cellAt(1, 1).backColor); // a song never keeps the folder highlight
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
        for (int i = 0; folder == "full"_L1 && i <= SongTable::MaxDataRows; ++i)
            ::close(::open(QFile::encodeName(dir.filePath(u"s%1.mp3"_s.arg(i))).constData(), O_CREAT | O_WRONLY, 0644));
        FormFixture f;
        f.setLibrary({ { u"kept.mp3"_s, u"00:01:00"_s } });
        f.scan(folder == "full"_L1 ? dir.path() : folder);
        QVERIFY2(f.boxes.lastPrompt().contains(prompt), qPrintable(f.boxes.lastPrompt()));
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(columnTexts(f.library(), 1), QStringList{ u"kept.mp3"_s });
    }

    void badEntriesNeverStopTheScan()
    {
        SKIP_WITHOUT(SystemOnly::noFifos()); // nor names in no encoding: Windows names are UTF-16
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u".empty.mp3"_s), {})); // hidden entries are listed too
        QVERIFY(writeFile(dir.filePath(u"junk.mp3"_s), QByteArray(5000, '\xff')));
        QVERIFY(MediaGen::tone(dir.filePath(u"cut.mp3"_s), 2.0));
        QVERIFY(QFile::resize(dir.filePath(u"cut.mp3"_s), 3000));
        QVERIFY(QDir(dir.path()).mkdir(u"Disc.001"_s)); // a folder named like a song
        QVERIFY(SystemOnly::makeFifo(dir.filePath(u"pipe.mp3"_s)));
        QVERIFY(QFile::link(dir.filePath(u"loop.mp3"_s), dir.filePath(u"loop.mp3"_s)));
        const QByteArray badName = QFile::encodeName(dir.path()) + "/bad\xff\xfe.mp3";
        ::close(::open(badName.constData(), O_CREAT | O_WRONLY, 0644));
        FormFixture f;
        f.scan(dir.path());
        ::unlink(badName.constData()); // QTemporaryDir cannot remove a name it cannot decode
        QCOMPARE(f.library().Rows() - 1, 7);
        for (int r = 1; r < f.library().Rows(); ++r)
            QVERIFY(f.library().textAt(r, 3) == u"00:00:00"_s || f.library().textAt(r, 1) == u"cut.mp3"_s);
    }

    // Slow probing shows its progress dialog, and the dialog's cancel button stops
    // the work and keeps its result from being taken.
    void slowProbingCancels()
    {
        FormFixture f;
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        constexpr int Steps = 12;
        std::atomic<bool> stopped{ false };
        bool dialogSeen = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (auto *dialog : f.form->findChildren<QProgressDialog *>())
                if (dialog->isVisible())
                    dialogSeen = true, dialog->findChild<QPushButton *>()->click();
        });
        watch.start(20);
        const auto result = probeWithProgress(f.form.get(), Steps, u"test"_s, [&] {
            return QtConcurrent::run([&](QPromise<QList<double>> &promise) {
                promise.setProgressRange(0, Steps);
                for (int i = 1; i <= Steps && !promise.isCanceled(); ++i)
                    QThread::msleep(60), promise.setProgressValue(i);
                stopped = promise.isCanceled();
                if (!stopped)
                    promise.addResult(QList<double>(Steps, 1000.0));
            });
        });
        QVERIFY(dialogSeen && stopped && !result);
    }

    void previewLocksTheWindowUntilStop()
    {
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"song.wav"_s), 1.0));
        FormFixture f;
        f.form->show();
        f.scan(dir.path());
        const auto lockedWhilePlaying = [&](bool playing) {
            for (const char *name : { "MSHFlexGrid1", "Command11", "Command3", "Command9", "Command10" })
                QVERIFY2(f.widget(QString::fromLatin1(name))->isEnabled() != playing, name);
            for (const char *name : { "Command2", "Command5", "Command6", "Command20", "Command30", "MSHFlexGrid2", "Command14" })
                QVERIFY2(f.widget(QString::fromLatin1(name))->isEnabled(), name);
            QCOMPARE(f.widget<QLabel>(u"Label9"_s)->isVisible(), playing);
        };
        f.click(u"Command20"_s);
        lockedWhilePlaying(true);
        QTRY_VERIFY(f.media.isPlaying(dir.filePath(u"song.wav"_s)));
        // The song ending by itself changes nothing until stop.
        QTRY_VERIFY_WITH_TIMEOUT(!f.media.isPlaying(dir.filePath(u"song.wav"_s)), 10000);
        lockedWhilePlaying(true);
        f.click(u"Command30"_s);
        lockedWhilePlaying(false);
        QVERIFY(f.media.openPaths().isEmpty());
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Scan)
#include "tst_form1_scan.moc"
