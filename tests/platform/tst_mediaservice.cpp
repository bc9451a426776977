// The player behind "play" and "close", heard on the private PulseAudio null sink:
// every format plays and ends at its length, the clock agrees with what is heard,
// and nothing clicks where a song starts, stops or jumps.
#include "platform/audio/audioplayer.h"
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"
#include "support/sinkrecorder.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestMediaService : public QObject
{
    Q_OBJECT

    QString sink = qEnvironmentVariable("KORVANDA_TEST_SINK");
    QTemporaryDir dir;

private Q_SLOTS:
    void initTestCase()
    {
        if (!MediaGen::missingTools().isEmpty() || sink.isEmpty())
            QSKIP("needs the media tools and a PulseAudio null sink (run through test.sh)");
    }

    void everyFormatPlaysToItsLength_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encoding");
        QTest::newRow("mp3") << u"曲.mp3"_s << QStringList{ u"-b:a"_s, u"192k"_s };
        QTest::newRow("m4a") << u"m.m4a"_s << QStringList{};
        QTest::newRow("flac") << u"f.flac"_s << QStringList{};
        QTest::newRow("wav 48 kHz 24-bit") << u"w.wav"_s << QStringList{ u"-ar"_s, u"48000"_s, u"-c:a"_s, u"pcm_s24le"_s };
        QTest::newRow("aiff") << u"a.aiff"_s << QStringList{};
        QTest::newRow("ogg") << u"o.ogg"_s << QStringList{};
        QTest::newRow("opus") << u"p.opus"_s << QStringList{};
        QTest::newRow("wma") << u"w.wma"_s << QStringList{};
        QTest::newRow("mono mp3") << u"mono.mp3"_s << QStringList{ u"-ac"_s, u"1"_s };
    }
    void everyFormatPlaysToItsLength()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encoding);
        const QString song = dir.filePath(name);
        QVERIFY(MediaGen::ffmpeg(QStringList{ u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=880:sample_rate=44100:duration=1.2"_s }
                                 + encoding + QStringList{ song }));
        MediaService media;
        media.sendString(playCommand(song), nullptr, 0);
        QVERIFY(SinkRecorder::hears(sink, 880, { 440 }));
        QTRY_COMPARE_WITH_TIMEOUT(media.state(song), PlaybackControl::State::Ended, 4000);
        // It ends where ffmpeg's own decode ends, to within a device period.
        const double decoded = MediaGen::decodedLengthMs(song).value_or(0);
        QVERIFY2(std::abs(double(media.positionMs(song)) - decoded) <= 25,
                 qPrintable(u"%1 / %2"_s.arg(media.positionMs(song)).arg(decoded)));
        // Played again from where it is moved to.
        media.seek(song, 600);
        QCOMPARE(media.state(song), PlaybackControl::State::Playing);
        QVERIFY(SinkRecorder::hears(sink, 880, { 440 }));
    }

    void clockAgreesWithTheSound()
    {
        const QString song = dir.filePath(u"rising.wav"_s);
        QVERIFY(MediaGen::twoTones(song, 8.0, 440, 880, 4.0));
        MediaService media;
        media.sendString(playCommand(song), nullptr, 0);
        media.seek(song, 2500);
        QCOMPARE(media.positionMs(song), 2500); // shown at once, before it is heard
        QTRY_VERIFY(media.positionMs(song) >= 3500);
        QVERIFY2(media.positionMs(song) < 3800, "the clock runs at the song's pace");
        {
            SinkRecorder before(sink);
            QTest::qWait(250);
            QCOMPARE(before.tone({ 440, 880 }), 440);
        }
        QTRY_VERIFY(media.positionMs(song) >= 4250);
        SinkRecorder after(sink);
        QTest::qWait(250);
        QCOMPARE(after.tone({ 440, 880 }), 880);
    }

    void nothingClicks()
    {
        // A low, loud tone: its own steps are small, a cut or a jump is a large one.
        const QString song = dir.filePath(u"low.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=0.8*sin(50*2*PI*t+1.2):s=44100:d=6"_s,
                                   u"-ac"_s, u"2"_s, song }));
        // The output is open (and the sink running) before the recording starts.
        MediaService media;
        media.prepare();
        QTRY_VERIFY(media.player().isRunning());
        QProcess parec;
        parec.start(u"parec"_s, { u"-d"_s, sink + u".monitor"_s, u"--raw"_s, u"--format=float32le"_s, u"--rate=44100"_s,
                                  u"--channels=1"_s, u"--latency-msec=10"_s });
        QVERIFY(parec.waitForStarted());
        QByteArray bytes;
        const auto listen = [&](int ms) {
            QTest::qWait(ms);
            bytes += parec.readAllStandardOutput();
        };
        listen(300);
        media.sendString(playCommand(song), nullptr, 0);
        listen(400);
        media.seek(song, 1234);
        listen(300);
        media.seek(song, 3711);
        listen(300);
        media.sendString(closeCommand(song), nullptr, 0);
        listen(300);
        parec.kill();
        parec.waitForFinished();
        const auto *samples = reinterpret_cast<const float *>(bytes.constData());
        const qsizetype n = bytes.size() / qsizetype(sizeof(float));
        float loudest = 0, steepest = 0;
        for (qsizetype i = 1; i < n; ++i) {
            loudest = std::max(loudest, std::abs(samples[i]));
            steepest = std::max(steepest, std::abs(samples[i] - samples[i - 1]));
        }
        QVERIFY2(loudest > 0.5f, qPrintable(u"the tone was heard at %1 (%2 samples)"_s.arg(loudest).arg(n)));
        // The tone's own steepest step is 0.004 (heard as mono, 3 dB down); the ramps add a few thousandths.
        QVERIFY2(steepest < 0.03f, qPrintable(u"a step of %1"_s.arg(steepest)));
    }

    void pathsPlayAndCloseIndependently()
    {
        const QString high = dir.filePath(u"トーン \"880\".wav"_s);
        const QString low = dir.filePath(u"tone 440.ogg"_s);
        QVERIFY(MediaGen::tone(high, 30.0, 880) && MediaGen::tone(low, 30.0, 440));
        MediaService media;
        QCOMPARE(media.sendString(playCommand(high), nullptr, 0), int(MediaService::Ok));
        media.sendString(playCommand(high), nullptr, 0); // a second play keeps the one song playing
        media.sendString(playCommand(low), nullptr, 0);
        QTRY_VERIFY_WITH_TIMEOUT(media.isPlaying(high) && media.isPlaying(low), 10000);
        QCOMPARE(media.openPaths().size(), 2);
        media.sendString(closeCommand(high), nullptr, 0);
        QVERIFY(!media.isPlaying(high) && media.isPlaying(low));

        // A length probe from a worker thread leaves the preview alone.
        double length = 0;
        QThread *worker = QThread::create([&] { length = GetPlayLength(media, high); });
        worker->start();
        QVERIFY(worker->wait(30000));
        delete worker;
        QCOMPARE(length, 30000.0);
        QVERIFY(media.isPlaying(low));
        media.sendString(closeCommand(low), nullptr, 0);
        QVERIFY(media.openPaths().isEmpty());

        // Only regular files reach a player: opening a FIFO could block for ever.
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.mp3"_s)).constData(), 0600), 0);
        for (const QString &name : { u"missing.mp3"_s, u"folder"_s, u"pipe.mp3"_s }) {
            media.sendString(playCommand(dir.filePath(name)), nullptr, 0);
            QVERIFY(media.openPaths().isEmpty());
        }
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestMediaService test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mediaservice.moc"
