// Listing the source folder into the library table, and previewing a song.
#include "formfixture.h"

#include "forms/form2.h"
#include "forms/songgrid.h"
#include "model/songtable.h"
#include "platform/media/libraryscanner.h"
#include "support/mediagen.h"
#include "support/tonerecorder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Marker = u"これはフォルダです"_s;

void touch(const QString &path, const QByteArray &bytes = {})
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Length queries that wait until the test lets them go: storage slow enough
// for the user to give up cannot be made for real in a test.
class SlowMedia : public MediaCommands
{
public:
    int sendString(const QString &command, QString *reply, int) override
    {
        if (command.startsWith(u"status"_s)) {
            gate.acquire();
            gate.release();
            if (reply)
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
        const QStringList missing = MediaGen::missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(u"missing tools: "_s + missing.join(u", "_s)));
    }

    void listsSortsMarksAndNumbers()
    {
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"b.mp3"_s), 3.0));
        QVERIFY(MediaGen::tone(dir.filePath(u"A.wav"_s), 2.0));
        QVERIFY(MediaGen::tone(dir.filePath(u"x.flac"_s), 1.0));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        touch(dir.filePath(u"ab"_s)); // too short a name to be listed

        FormFixture f;
        f.form->show();
        f.form->Text1->setText(dir.path());
        f.form->Command11->click();

        const SongTable &lib = f.form->MSHFlexGrid1();
        QCOMPARE(columnTexts(lib, 0), (QStringList{ u"1"_s, u"2"_s, u"3"_s, u"4"_s }));
        QCOMPARE(columnTexts(lib, 1), (QStringList{ u"A.wav"_s, u"b.mp3"_s, Marker + u"sub"_s, Marker + u"x.flac"_s }));
        QCOMPARE(columnTexts(lib, 2), (QStringList{ dir.filePath(u"A.wav"_s), dir.filePath(u"b.mp3"_s),
                                               dir.filePath(u"sub"_s), dir.filePath(u"x.flac"_s) }));
        // x.flac is a real song, but the name test only sees a four-letter
        // extension; it is probed all the same.
        QCOMPARE(columnTexts(lib, 3), (QStringList{ u"00:00:02"_s, u"00:00:03"_s, u"00:00:00"_s, u"00:00:01"_s }));
        for (int r = 1; r <= 4; ++r) {
            QCOMPARE(lib.cellAt(r, 1).alignment, int(SongTable::AlignLeftCenter));
            QCOMPARE(lib.cellAt(r, 1).backColor.has_value(), r >= 3);
        }
        QCOMPARE(lib.Row(), 1);
        QCOMPARE(lib.Col(), 1);
        QVERIFY(lib.Visible());
        QTRY_COMPARE(QApplication::focusWidget(), f.form->Grid1);

        // The hidden path field holds the entry listed last by the file system.
        QStringList listed = LibraryScanner::listFolder(dir.path());
        listed.removeIf([](const QString &n) { return n.size() < 3; });
        QCOMPARE(f.form->Text5->text(), dir.filePath(listed.last()));
        QVERIFY(f.boxes.shown.isEmpty());
    }

    void rescanReplacesEverythingAndClearsTheHighlight()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"aaa"_s));
        FormFixture f;
        f.form->Text1->setText(dir.path());
        f.form->Command11->click();
        const SongTable &lib = f.form->MSHFlexGrid1();
        QCOMPARE(columnTexts(lib, 1), QStringList{ Marker + u"aaa"_s });
        QVERIFY(lib.cellAt(1, 1).backColor);

        QVERIFY(QDir(dir.path()).rmdir(u"aaa"_s));
        touch(dir.filePath(u"song.mp3"_s));
        f.form->Command11->click();
        QCOMPARE(columnTexts(lib, 1), QStringList{ u"song.mp3"_s });
        QVERIFY(!lib.cellAt(1, 1).backColor); // a song never wears the folder highlight

        // Nothing of 3 characters or more: one row numbered 1, otherwise empty.
        QVERIFY(QFile::remove(dir.filePath(u"song.mp3"_s)));
        f.form->Command11->click();
        QCOMPARE(lib.Rows(), 2);
        QCOMPARE(lib.textAt(1, 0), u"1"_s);
        QVERIFY(lib.textAt(1, 1).isEmpty() && lib.textAt(1, 3).isEmpty());
    }

    void folderTextIsUsedAsTyped()
    {
        QTemporaryDir dir;
        touch(dir.filePath(u"one.wav"_s));
        FormFixture f;
        f.form->Text1->setText(dir.path() + QDir::separator());
        f.form->Command11->click();
        QCOMPARE(f.form->MSHFlexGrid1().textAt(1, 2), dir.path() + u"//one.wav"_s);
    }

    void refusals()
    {
        FormFixture f;
        SongTable &lib = f.form->MSHFlexGrid1();
        lib.setRow(1);
        lib.setCol(1);
        lib.setText(u"kept.mp3"_s);

        f.form->Command11->click();
        QCOMPARE(f.boxes.lastPrompt(), u"フォルダの指定ができていません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);

        f.form->Text1->setText(u"/no/such/folder/here"_s);
        f.form->Command11->click();
        QCOMPARE(f.boxes.lastPrompt(), u"読み込み元のフォルダーがありません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(lib.textAt(1, 1), u"kept.mp3"_s);
    }

    void tooManyEntriesAreRefusedUntouched()
    {
        QTemporaryDir dir;
        for (int i = 0; i <= SongTable::MaxDataRows; ++i) {
            const QByteArray name = dir.filePath(u"s%1.mp3"_s.arg(i)).toLocal8Bit();
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        FormFixture f;
        f.form->Text1->setText(dir.path());
        f.form->Command11->click();
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QVERIFY(f.boxes.lastPrompt().contains(u"32767"_s));
        QVERIFY(f.boxes.lastPrompt().contains(u"32766"_s));
        QCOMPARE(f.form->MSHFlexGrid1().Rows(), 2);
        QVERIFY(f.form->MSHFlexGrid1().textAt(1, 1).isEmpty());
    }

    void badEntriesNeverStopTheScan()
    {
        QTemporaryDir dir;
        const QDir d(dir.path());
        touch(dir.filePath(u"empty.mp3"_s));
        touch(dir.filePath(u"junk.mp3"_s), QByteArray(5000, '\xff'));
        QVERIFY(MediaGen::tone(dir.filePath(u"cut.mp3"_s), 2.0));
        QVERIFY(QFile::resize(dir.filePath(u"cut.mp3"_s), 3000));
        QVERIFY(d.mkdir(u"Disc.001"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.mp3"_s)).constData(), 0644), 0);
        QVERIFY(QFile::link(dir.filePath(u"loop.mp3"_s), dir.filePath(u"loop.mp3"_s)));
        const QByteArray badName = QFile::encodeName(dir.path()) + "/bad\xff\xfe.mp3";
        const int fd = ::open(badName.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);

        FormFixture f;
        f.form->Text1->setText(dir.path());
        f.form->Command11->click();
        const SongTable &lib = f.form->MSHFlexGrid1();
        QCOMPARE(lib.Rows() - 1, 7);
        for (int r = 1; r < lib.Rows(); ++r) {
            if (lib.textAt(r, 1) != u"cut.mp3"_s)
                QCOMPARE(lib.textAt(r, 3), u"00:00:00"_s);
        }
        QVERIFY(columnTexts(lib, 1).contains(u"Disc.001"_s)); // a folder named like a song is not marked
    }

    void cancelLeavesTheLibraryAsItWas()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 8; ++i)
            touch(dir.filePath(u"song%1.mp3"_s.arg(i)));
        ScriptedBoxes boxes;
        ScriptedFolderDialog dialog;
        SlowMedia media;
        QTemporaryDir settings;
        Form1 form(Form1Services{ &boxes, &dialog, &media, settings.path() });
        form.show();
        form.MSHFlexGrid1().setRow(1);
        form.MSHFlexGrid1().setCol(1);
        form.MSHFlexGrid1().setText(u"before.mp3"_s);
        form.Text1->setText(dir.path());

        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(form.findChild<QProgressDialog *>() &&
                                         form.findChild<QProgressDialog *>()->isVisible(),
                                     10000);
            sawDialog = true;
            // Clicks on the main window are not taken while the scan runs, and
            // the window cannot be closed under it.
            QTest::mouseClick(form.Command14, Qt::LeftButton);
            QVERIFY(!form.close());
            QVERIFY(form.isVisible());
            form.findChild<QProgressDialog *>()->cancel();
            media.gate.release();
        });
        form.Command11->click();
        QVERIFY(sawDialog);
        QVERIFY(!form.helpWindow());
        QCOMPARE(form.MSHFlexGrid1().Rows(), 2);
        QCOMPARE(form.MSHFlexGrid1().textAt(1, 1), u"before.mp3"_s);
        QVERIFY(form.MSHFlexGrid1().Visible());
    }

    // ---- preview ----

    void playAndStopLockTheControls()
    {
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"song.wav"_s), 2.0));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        FormFixture f;
        f.form->show();

        // Nothing selected yet: the message has an empty caption.
        f.form->Command20->click();
        QCOMPARE(f.boxes.lastPrompt(), u"楽曲が選択されていません"_s);
        QCOMPARE(f.boxes.lastCaption(), QString());
        QVERIFY(f.form->Command11->isEnabled());

        f.form->Text1->setText(dir.path());
        f.form->Command11->click();
        const QList<QWidget *> locked{ f.form->Grid1, f.form->Command11, f.form->Command3, f.form->Command9,
                                       f.form->Command10 };
        const QList<QWidget *> free{ f.form->Command2, f.form->Command5, f.form->Command6, f.form->Command20,
                                     f.form->Command30, f.form->Grid2, f.form->Command1, f.form->Command7,
                                     f.form->Command14 };

        f.form->Command20->click();
        QCOMPARE(f.form->Text5->text(), dir.path() + QDir::separator() + u"song.wav"_s);
        for (QWidget *w : locked)
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        for (QWidget *w : free)
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        QVERIFY(f.form->Label9->isVisible());
        QTRY_VERIFY(f.media.isPlaying(f.form->Text5->text()));

        // Play again while playing: still playing, still locked.
        f.form->Command20->click();
        QVERIFY(f.media.isPlaying(f.form->Text5->text()));
        QVERIFY(!f.form->Command11->isEnabled());

        // The song ending by itself changes nothing until stop.
        QTRY_VERIFY_WITH_TIMEOUT(!f.media.isPlaying(f.form->Text5->text()), 10000);
        QVERIFY(f.form->Label9->isVisible());
        QVERIFY(!f.form->Command10->isEnabled());

        f.form->Command30->click();
        for (QWidget *w : locked)
            QVERIFY(w->isEnabled());
        QVERIFY(!f.form->Label9->isVisible());
        QVERIFY(f.media.openPaths().isEmpty());

        // A marked row builds a path with the marker in it: nothing plays, but
        // the window locks until stop.
        f.form->MSHFlexGrid1().setRow(2);
        f.form->Command20->click();
        QCOMPARE(f.form->Text5->text(), dir.path() + QDir::separator() + Marker + u"sub"_s);
        QVERIFY(!f.form->Command9->isEnabled());
        QVERIFY(f.boxes.shown.size() == 1);
        f.form->Command30->click();
        QVERIFY(f.form->Command9->isEnabled());

        // Stop without play closes whatever the path field holds and unlocks.
        f.form->Command30->click();
        QVERIFY(f.form->Command9->isEnabled());
    }

    void theToneIsHeard()
    {
        const QString sink = ToneRecorder::sinkFromEnvironment();
        if (sink.isEmpty())
            QSKIP("no PulseAudio null sink (run the tests through test.sh)");
        QTemporaryDir dir;
        QVERIFY(MediaGen::tone(dir.filePath(u"tone.mp3"_s), 4.0, 660));
        FormFixture f;
        f.form->Text1->setText(dir.path());
        f.form->Command11->click();

        f.form->Command20->click();
        ToneRecorder playing(sink);
        const auto heard = ToneRecorder::measure(playing.record(1500, 6000), 660);
        QVERIFY2(heard.rms > 1000, qPrintable(u"level %1"_s.arg(heard.rms)));
        QVERIFY2(heard.toneShare > 0.5, qPrintable(u"tone share %1"_s.arg(heard.toneShare)));
        QVERIFY2(qAbs(heard.frequency - 660) < 30, qPrintable(u"frequency %1"_s.arg(heard.frequency)));

        f.form->Command30->click();
        ToneRecorder stopped(sink);
        const auto after = ToneRecorder::measure(stopped.record(800, 3000), 660);
        QVERIFY2(after.rms < 30, qPrintable(u"rms after stop %1"_s.arg(after.rms)));
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Scan)
#include "tst_form1_scan.moc"
