// Listening in the window, heard on the real sound server: where the song is and
// moving in it, set-list songs, the run-through against the slot, the device
// the sound goes to, and the show (本番モード). Tones that change pitch tell
// where playback is.
#include "support/playerfixture.h"
#include "support/sinkrecorder.h"

#include "forms/main/mainwindow.h"
#include "forms/show/showcontroller.h"
#include "forms/show/showwindow.h"
#include "forms/waveform/waveformslider.h"
#include "platform/audio/player/audioplayer.h"
#include "platform/audio/player/realtimestretch.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/stagesheetdialogs.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusError>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyleOptionSlider>

#include <algorithm>


class TestPreview : public QObject
{
    Q_OBJECT

    QString sink = qEnvironmentVariable("KORVANDA_TEST_SINK");

private Q_SLOTS:
    void initTestCase()
    {
        if (!MediaGen::missingTools().isEmpty() || sink.isEmpty())
            QSKIP("needs the media tools and a PulseAudio null sink (run through test.sh)");
        QVERIFY(!song(u"a.wav"_s).isEmpty());
    }

    void positionSeekAndEnding()
    {
        Player p;
        p.form()->findChild<QLineEdit *>(u"Text1"_s)->setText(QFileInfo(song(u"a.wav"_s)).absolutePath());
        p.form()->findChild<QPushButton *>(u"Command11"_s)->click();
        SongTable &library = p.form()->MSHFlexGrid1();
        library.setRow(3); // a, b, 上がる
        QCOMPARE(library.textAt(3, 1), u"上がる.wav"_s);
        p.form()->findChild<QPushButton *>(u"Command20"_s)->click();
        // The length is the length column's, to the second.
        QTRY_VERIFY2(p.position().startsWith(u"00:00:0"_s) && p.position().endsWith(u" / "_s + library.textAt(3, 3)),
                     qPrintable(p.position()));
        QVERIFY(SinkRecorder::hears(sink, Low, { High }));

        for (int i = 0; i < 5; ++i)
            p.key(Qt::Key_Right);
        QVERIFY2(p.position() >= u"00:00:25"_s, qPrintable(p.position()));
        QVERIFY(SinkRecorder::hears(sink, High, { Low }));
        for (int i = 0; i < 6; ++i)
            p.key(Qt::Key_Left);
        QVERIFY(SinkRecorder::hears(sink, Low, { High }));
        QVERIFY2(p.position() < u"00:00:05"_s, qPrintable(p.position()));

        p.key(Qt::Key_End); // the last 15 seconds: from 25.6 s
        QTRY_VERIFY2(p.position().startsWith(u"00:00:2"_s), qPrintable(p.position()));
        QVERIFY(SinkRecorder::hears(sink, High, { Low }));

        // The mouse drags the handle back towards the start.
        auto *bar = p.child<QSlider>(u"previewSeekBar"_s);
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.minimum = bar->minimum(), option.maximum = bar->maximum(), option.sliderPosition = bar->value();
        option.orientation = Qt::Horizontal;
        const QPoint handle = bar->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar).center();
        QTest::mousePress(bar, Qt::LeftButton, {}, handle);
        QTest::mouseMove(bar, QPoint(bar->width() / 8, handle.y()));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() / 8, handle.y()));
        QVERIFY2(p.position() < u"00:00:10"_s, qPrintable(p.position()));
        QVERIFY(SinkRecorder::hears(sink, Low, { High }));

        p.key(Qt::Key_Space); // stops, like the stop button
        QVERIFY(!p.locked());
        QVERIFY(p.media->openPaths().isEmpty());
        QCOMPARE(p.position(), u"--:--:-- / --:--:--"_s);
    }

    void keysReachThePlayerWhereverFocusIs()
    {
        Player p;
        p.setList({ song(u"上がる.wav"_s) });
        p.form()->MSHFlexGrid2().setRow(1);
        p.key(Qt::Key_F5);
        QVERIFY(SinkRecorder::hears(sink, Low, { High }));
        // End from the play button: the last 15 seconds, the higher tone.
        auto *play = p.child<QPushButton>(u"Command20"_s);
        play->setFocus();
        QTest::keyClick(play, Qt::Key_End);
        QVERIFY2(p.position().startsWith(u"00:00:2"_s), qPrintable(p.position()));
        QVERIFY(SinkRecorder::hears(sink, High, { Low }));
        // A text box being edited keeps its keys: Home moves its cursor, not the song.
        auto *name = p.form()->findChild<QLineEdit *>(u"Text6"_s);
        name->setText(u"セット"_s);
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Left);
        QCOMPARE(name->cursorPosition(), 2);
        QVERIFY2(p.position().startsWith(u"00:00:2"_s), qPrintable(p.position()));
        // Back from the set list.
        QTest::keyClick(p.child(u"MSHFlexGrid2"_s), Qt::Key_Left);
        QTRY_VERIFY2(p.position() < u"00:00:25"_s, qPrintable(p.position()));
        p.key(Qt::Key_Space);
        QVERIFY(!p.locked());
    }

    void setListSongPlays()
    {
        Player p;
        p.setList({ song(u"上がる.wav"_s), song(u"b.wav"_s) });
        p.form()->MSHFlexGrid2().setRow(1);
        p.key(Qt::Key_F5);
        QVERIFY(p.locked());
        QVERIFY(SinkRecorder::hears(sink, Low, { High }));
        // Another song takes over: one plays at a time, so the stop stops everything.
        p.form()->MSHFlexGrid2().setRow(2);
        p.child<QAction>(u"playSetListAction"_s)->trigger();
        QCOMPARE(p.media->openPaths(), QStringList{ song(u"b.wav"_s) });
        QVERIFY(SinkRecorder::hears(sink, High, { Low }));
        p.child<QAction>(u"stopAction"_s)->trigger();
        QVERIFY(!p.locked());

        // A row with edits plays as they shape it: from 20.5 s, the higher tone at once,
        // its length and place those of the edited song.
        SetListRowExtras extras = p.form()->MSHFlexGrid2().extrasAt(1);
        extras.edits.startMs = 20500;
        p.form()->applyRowEdits(1, extras);
        p.form()->MSHFlexGrid2().setRow(1);
        SinkRecorder start(sink);
        p.key(Qt::Key_F5);
        QTest::qWait(400);
        QCOMPARE(start.tone({ Low, High }), High);
        QCOMPARE(p.media->lengthMs(song(u"上がる.wav"_s)), 20100);
        QVERIFY2(p.media->positionMs(song(u"上がる.wav"_s)) < 1000, "counted from the start point");
        p.child<QAction>(u"stopAction"_s)->trigger();

        // A tempo change on a build that cannot make one is said as the song starts.
        RealtimeStretch::pretendMissing(true);
        const auto stretcherBack = qScopeGuard([] { RealtimeStretch::pretendMissing(false); });
        extras.edits.tempoPercent = 90;
        p.form()->applyRowEdits(1, extras);
        p.form()->MSHFlexGrid2().setRow(1);
        p.key(Qt::Key_F5);
        QVERIFY2(p.window->statusBar()->currentMessage().contains(u"キーとテンポの変更は聞こえません"_s),
                 qPrintable(p.window->statusBar()->currentMessage()));
        p.child<QAction>(u"stopAction"_s)->trigger();
    }

    // The seek bar draws the song as it is heard: a song silent for its first half
    // shows its sound on the right; started at the sound, all along.
    void seekBarDrawsTheSongAsHeard()
    {
        Player p;
        const QString half = p.dir.filePath(u"後半.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=if(gte(t\\,4)\\,0.5*sin(2*PI*440*t)\\,0):s=44100:d=8"_s, half }));
        p.setList({ half });
        auto *bar = p.child<WaveformSlider>(u"previewSeekBar"_s);
        const auto loud = [&](int from, int to) {
            const std::vector<Peaks::Point> columns = bar->columns(200);
            return columns.size() == 200 && std::all_of(columns.begin() + from, columns.begin() + to, [](const Peaks::Point &c) { return c.max > 0.3f; });
        };
        const auto quiet = [&](int from, int to) {
            const std::vector<Peaks::Point> columns = bar->columns(200);
            return columns.size() == 200 && std::all_of(columns.begin() + from, columns.begin() + to, [](const Peaks::Point &c) { return c.max < 0.01f; });
        };
        p.form()->MSHFlexGrid2().setRow(1);
        p.key(Qt::Key_F5);
        QTRY_VERIFY(loud(105, 200) && quiet(0, 95));
        p.child<QAction>(u"stopAction"_s)->trigger();
        QVERIFY(!bar->hasOutline());
        SetListRowExtras extras;
        extras.edits.startMs = 4000;
        p.form()->applyRowEdits(1, extras);
        p.form()->MSHFlexGrid2().setRow(1);
        p.key(Qt::Key_F5);
        QTRY_VERIFY(loud(2, 198));
        p.child<QAction>(u"stopAction"_s)->trigger();
    }

    void runThroughInOrderWithPauses()
    {
        Player p;
        p.setList({ song(u"a.wav"_s), song(u"b.wav"_s) });
        p.child<QLineEdit>(u"slotLength"_s)->setText(u"00:00:10"_s);
        p.child<QSpinBox>(u"pauseLength"_s)->setValue(1);
        p.form()->MSHFlexGrid2().setRow(1);
        SinkRecorder recording(sink);
        p.key(Qt::Key_F6);
        QVERIFY(p.locked());
        QVERIFY(!p.child<QAction>(u"runThroughAction"_s)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(p.form()->MSHFlexGrid2().Row(), 2, 5000); // the row playing
        QVERIFY(p.locked()); // through the pause and the next song
        QTRY_VERIFY_WITH_TIMEOUT(!p.locked(), 5000);

        // The set in order, a second of silence between the songs.
        const QList<int> heard = recording.tones({ Low, High });
        QList<int> sounds = SinkRecorder::runs(heard);
        while (!sounds.isEmpty() && sounds.first() == 0)
            sounds.removeFirst();
        while (!sounds.isEmpty() && sounds.last() == 0)
            sounds.removeLast();
        QCOMPARE(sounds, (QList<int>{ Low, 0, High }));
        QVERIFY2(heard.indexOf(High) - heard.lastIndexOf(Low) >= 3, "a pause of a second between the songs");
        // The clock ends where the status bar plans the set: the songs and one pause.
        QCOMPARE(p.child<QLabel>(u"runThroughClock"_s)->text(),
                 u"通し 00:00:03  "_s + p.child<QLabel>(u"slotLeft"_s)->text());
        QCOMPARE(p.child<QLabel>(u"slotLeft"_s)->text(), u"残り 00:00:07"_s);
    }

    void unplayableSongsAreSkipped()
    {
        Player p;
        const QString junk = p.dir.filePath(u"壊れた.mp3"_s), gone = p.dir.filePath(u"消えた.wav"_s);
        QVERIFY(fixtures::writeFile(junk, QByteArray(20000, '\x55')));
        QVERIFY(QFile::copy(song(u"a.wav"_s), gone));
        p.setList({ song(u"a.wav"_s), junk, song(u"b.wav"_s), gone });
        QVERIFY(QFile::remove(gone));
        p.form()->MSHFlexGrid2().setRow(2); // from the second row: the first is never played
        SinkRecorder recording(sink);
        p.child<QAction>(u"runThroughAction"_s)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!p.locked(), 5000);
        QList<int> heard = recording.tones({ Low, High });
        heard.removeAll(0);
        QCOMPARE(SinkRecorder::runs(heard), QList<int>{ High });
        const QString message = p.window->statusBar()->currentMessage();
        QVERIFY2(message.contains(u"壊れた.mp3"_s) && message.contains(u"消えた.wav"_s), qPrintable(message));
        QCOMPARE(p.child<QLabel>(u"runThroughClock"_s)->text(), u"通し 00:00:01"_s); // no pause without a song after it
        QVERIFY(p.media->openPaths().isEmpty());
    }

    void outputDeviceChosenRememberedAndLost()
    {
        ExtraSink second(u"korvanda_second"_s);
        QVERIFY(!second.module.isEmpty());
        Player p;
        QTRY_VERIFY(p.chooseOutput(second.name));
        p.restart(); // remembered
        QCOMPARE(p.media->outputDevice(), QByteArray("korvanda_second"));

        p.setList({ song(u"上がる.wav"_s) });
        SinkRecorder main(sink);
        p.child<QAction>(u"playSetListAction"_s)->trigger();
        QVERIFY(SinkRecorder::hears(u"korvanda_second"_s, Low, { High }));
        QCOMPARE(main.tone({ Low, High }), 0);

        QVERIFY(second.unplug());
        QTRY_VERIFY_WITH_TIMEOUT(!p.locked(), 5000);
        QVERIFY2(p.lastPrompt().contains(u"使えなくなったため、再生を止めました"_s), qPrintable(p.lastPrompt()));
        QVERIFY(p.media->openPaths().isEmpty());
        // The stream the server moved to its default device is let go of.
        QTRY_VERIFY(!p.media->player().isOutputOpen());
    }
};

KORVANDA_FORM_TEST_MAIN(TestPreview)
#include "tst_preview.moc"
