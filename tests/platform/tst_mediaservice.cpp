// The player behind "play" and "close", heard on the private PulseAudio null sink:
// every format plays and ends at its length, and nothing clicks where a song
// starts, stops or jumps. (That its clock agrees with what is heard, the show's
// record holds against the sink.)
#include "platform/audio/audiodecoder.h"
#include "platform/audio/player/audioplayer.h"
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"
#include "model/songedits.h"
#include "platform/audio/player/realtimestretch.h"
#include "support/mediagen.h"
#include "support/sinkrecorder.h"
#include "support/systemonly.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

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

    void seekLandsOnTheSample_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encoding");
        QTest::newRow("mp3 cbr") << u"c.mp3"_s << QStringList{ u"-b:a"_s, u"320k"_s };
        QTest::newRow("mp3 vbr") << u"v.mp3"_s << QStringList{ u"-q:a"_s, u"2"_s };
        QTest::newRow("m4a") << u"a.m4a"_s << QStringList{};
        QTest::newRow("flac") << u"f.flac"_s << QStringList{};
        QTest::newRow("ogg") << u"o.ogg"_s << QStringList{};
        QTest::newRow("opus") << u"p.opus"_s << QStringList{};
    }
    void seekLandsOnTheSample()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encoding);
        // A sweep in each channel: every frame differs from its neighbours.
        const QString song = dir.filePath(u"seek "_s + name);
        QVERIFY(MediaGen::ffmpeg(QStringList{ u"-f"_s, u"lavfi"_s, u"-i"_s,
                                              u"aevalsrc=0.3*sin(2*PI*(200+50*t)*t)|0.3*sin(2*PI*(300+20*t)*t):s=44100:d=9"_s }
                                 + encoding + QStringList{ song }));
        QByteArray reference;
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, song, u"-f"_s, u"f32le"_s, u"-ac"_s, u"2"_s, u"-ar"_s, u"48000"_s, u"-"_s },
                                 &reference));
        const auto *ffmpeg = reinterpret_cast<const float *>(reference.constData());
        const qint64 frames = reference.size() / qint64(2 * sizeof(float));
        for (const qint64 target : { qint64(72000), qint64(240000), qint64(336123) }) {
            QString reason;
            const auto decoder = AudioDecoder::open(song, AudioDecoder::Output{ 48000, true }, &reason);
            QVERIFY2(decoder, qPrintable(reason));
            QVERIFY(decoder->run([](const float *, qint64) { return false; }, nullptr) || true); // played a little first
            QVERIFY(decoder->seek(target));
            std::vector<float> heard;
            decoder->run([&](const float *samples, qint64 n) {
                heard.insert(heard.end(), samples, samples + 2 * n);
                return heard.size() < 2 * 9600;
            }, &reason);
            QVERIFY(qint64(heard.size()) >= 2 * 9600 && target + 9600 <= frames);
            // From 50 ms on (the decoder's own start-up after a jump may differ), sample for sample.
            float worst = 0;
            for (qint64 i = 2 * 2400; i < 2 * 9600; ++i)
                worst = std::max(worst, std::abs(heard[size_t(i)] - ffmpeg[2 * target + i]));
            QVERIFY2(worst < 1e-3f, qPrintable(u"%1 frames in: off by %2"_s.arg(target).arg(worst)));
        }
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
        // Start, two jumps and a stop, heard at the sink: the steepest step between samples.
        const auto steepestHeard = [&]() -> float {
            QProcess parec;
            parec.start(u"parec"_s, { u"-d"_s, sink + u".monitor"_s, u"--raw"_s, u"--format=float32le"_s,
                                      u"--rate=44100"_s, u"--channels=1"_s, u"--latency-msec=10"_s });
            if (!parec.waitForStarted())
                return -1;
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
            return loudest > 0.5f ? steepest : -1; // -1: the tone was not heard
        };
        // A machine too busy to feed the sound server now and then leaves a gap, which is
        // as steep as a missing ramp; a missing ramp is there every time, a gap is not.
        float steepest = steepestHeard();
        for (int again = 0; again < 2 && (steepest < 0 || steepest >= 0.03f); ++again)
            steepest = steepestHeard();
        QVERIFY2(steepest >= 0, "the tone was heard");
        // The tone's own steepest step is 0.004 (heard as mono, 3 dB down); the ramps add a few thousandths.
        QVERIFY2(steepest < 0.03f, qPrintable(u"a step of %1"_s.arg(steepest)));
    }

    // What the sink plays, as mono float samples at 44.1 kHz, from before `start`
    // until the song has ended (a busy machine may start it late) and a little after.
    std::vector<float> recorded(MediaService &media, const QString &song)
    {
        QProcess parec;
        parec.start(u"parec"_s, { u"-d"_s, sink + u".monitor"_s, u"--raw"_s, u"--format=float32le"_s,
                                  u"--rate=44100"_s, u"--channels=1"_s, u"--latency-msec=10"_s });
        // The recording may take a moment to begin: the song starts once it has.
        if (!parec.waitForStarted() || !parec.waitForReadyRead(5000))
            return {};
        QByteArray bytes = parec.readAllStandardOutput();
        QTest::qWait(100);
        media.sendString(playCommand(song), nullptr, 0);
        QElapsedTimer playing;
        playing.start();
        while (media.state(song) == PlaybackControl::State::Playing && playing.elapsed() < 15000) {
            QTest::qWait(50);
            bytes += parec.readAllStandardOutput();
        }
        QTest::qWait(200);
        bytes += parec.readAllStandardOutput();
        parec.kill();
        parec.waitForFinished();
        const auto *samples = reinterpret_cast<const float *>(bytes.constData());
        return std::vector<float>(samples, samples + bytes.size() / qsizetype(sizeof(float)));
    }

    void editedSongIsHeardAsEdited_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("partWrites");
        QTest::newRow("wav") << u"edit.wav"_s << false;
        QTest::newRow("mp3") << u"edit.mp3"_s << false;
        // Every sample counted as written reaches the sink, in order, when the
        // stream takes only part of what it is given.
        QTest::newRow("wav, output taking part of each write") << u"edit.wav"_s << true;
    }
    void editedSongIsHeardAsEdited()
    {
        QFETCH(QString, name);
        QFETCH(bool, partWrites);
        AudioPlayer::takePartOfEachWriteForTest(partWrites);
        const auto wholeWrites = qScopeGuard([] { AudioPlayer::takePartOfEachWriteForTest(false); });
        // The sweep's own steepest step is 0.012 (heard as mono); a cut without its
        // crossfade, or joined on the wrong samples, is a step of up to 0.3.
        constexpr float steepestAllowed = 0.03f;
        // A slow sweep: every stretch of it differs from the others, and its steps are small.
        const QString song = dir.filePath(name);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=0.3*sin(2*PI*(150+20*t)*t):s=44100:d=6"_s,
                                   u"-ac"_s, u"2"_s, u"-b:a"_s, u"320k"_s, song }));
        SongEdits edits;
        edits.startMs = 1500;
        edits.endMs = 4500;
        edits.cuts = { { 2500, 3000 } };
        MediaService media;
        media.prepare();
        QTRY_VERIFY(media.player().isRunning());
        const qint64 songMs = media.lengthMs(song);
        media.setEdits(song, edits, songMs);
        QCOMPARE(media.lengthMs(song), 2500);

        const auto reference = [&](double from, double seconds) {
            QByteArray bytes;
            MediaGen::ffmpeg({ u"-ss"_s, QString::number(from), u"-t"_s, QString::number(seconds), u"-i"_s, song,
                               u"-f"_s, u"f32le"_s, u"-ac"_s, u"1"_s, u"-ar"_s, u"44100"_s, u"-"_s }, &bytes);
            const auto *f = reinterpret_cast<const float *>(bytes.constData());
            return std::vector<float>(f, f + bytes.size() / qsizetype(sizeof(float)));
        };
        // A busy machine may leave a gap now and then (heard as a step): a fault
        // of the song is there every time, a gap is not.
        for (int take = 0;; ++take) {
            const std::vector<float> heard = recorded(media, song);
            const auto loud = [](float s) { return std::abs(s) > 0.02f; };
            const auto first = std::find_if(heard.cbegin(), heard.cend(), loud);
            const auto last = std::find_if(heard.crbegin(), heard.crend(), loud);
            QVERIFY2(first != heard.cend(), qPrintable(u"the song was heard: %1 samples, state %2"_s.arg(heard.size()).arg(int(media.state(song)))));
            const qint64 onset = first - heard.cbegin();
            const double heardMs = double(heard.crend() - last - onset) * 1000.0 / 44100.0;
            // Against ffmpeg's decode of the same source range: from the start
            // point, and after the cut from its end. The sink hears the song at
            // a level of its own, so the two are compared by their correlation,
            // at the best lag within a few milliseconds of the onset.
            const auto matches = [&](double atSeconds, double sourceSeconds) {
                const std::vector<float> want = reference(sourceSeconds, 0.4);
                double best = 0;
                for (qint64 lag = -200; lag <= 200; ++lag) {
                    const qint64 at = onset + qint64(atSeconds * 44100) + lag;
                    if (at < 0 || at + qint64(want.size()) > qint64(heard.size()))
                        continue;
                    double hw = 0, hh = 0, ww = 0;
                    for (size_t i = 0; i < want.size(); ++i) {
                        const double h = heard[size_t(at) + i];
                        hw += h * want[i], hh += h * h, ww += double(want[i]) * want[i];
                    }
                    best = std::max(best, hw / std::sqrt(hh * ww + 1e-30));
                }
                return best;
            };
            const double atStart = matches(0.01, 1.51);
            const double afterCut = matches(1.05, 3.05);
            float steepest = 0;
            size_t steepAt = 0;
            for (size_t i = size_t(onset) + 1; i + 1 < heard.size() - size_t(last - heard.crbegin()); ++i)
                if (std::abs(heard[i] - heard[i - 1]) > steepest)
                    steepest = std::abs(heard[i] - heard[i - 1]), steepAt = i - size_t(onset);
            // A gap the sink filled with silence while the machine was busy lengthens
            // what is heard without a step; the sweep itself is never quiet for a
            // twentieth of that long.
            qint64 quietRun = 0, longestQuiet = 0;
            for (auto i = first; i != last.base(); ++i)
                longestQuiet = std::max(longestQuiet, quietRun = loud(*i) ? 0 : quietRun + 1);
            const QString figures = u"heard %1 ms from %5 of %6, correlation %2 / %3, step %4"_s.arg(heardMs).arg(atStart).arg(afterCut).arg(steepest).arg(onset).arg(heard.size()) + u" at %1, longest quiet %2 samples"_s.arg(steepAt).arg(longestQuiet);
            if (take < 2 && (steepest >= steepestAllowed || longestQuiet > 44100 / 50))
                continue;
            QVERIFY2(std::abs(heardMs - 2500) <= 25, qPrintable(figures));
            // Any other part of the sweep hardly correlates at all.
            QVERIFY2(atStart > 0.99 && afterCut > 0.99, qPrintable(figures));
            QVERIFY2(steepest < steepestAllowed, qPrintable(figures));
            break;
        }
    }

    void keyIsHeardMoved()
    {
        if (!RealtimeStretch::available())
            QSKIP("built without Rubber Band");
        const QString song = dir.filePath(u"a440.flac"_s);
        QVERIFY(MediaGen::tone(song, 3.0, 440));
        SongEdits edits;
        edits.semitones = 2;
        MediaService media;
        media.prepare();
        QTRY_VERIFY(media.player().isRunning());
        media.setEdits(song, edits, media.lengthMs(song));
        const std::vector<float> heard = recorded(media, song);
        const size_t onset = size_t(std::find_if(heard.cbegin(), heard.cend(), [](float v) { return std::abs(v) > 0.02f; })
                                    - heard.cbegin());
        // Rising zero crossings, placed between samples, over a long stretch in the
        // middle; the tone's period is the median between them, so that samples the
        // recorder lost on a busy machine (a period that comes too soon) move nothing.
        std::vector<double> crossings, periods;
        for (size_t i = onset + 44100 / 2; i < heard.size() && i < onset + 44100 * 3 / 2; ++i) {
            if (std::abs(heard[i]) > 0.05f || !(heard[i - 1] < 0 && heard[i] >= 0))
                continue;
            crossings.push_back(double(i - 1) + double(heard[i - 1]) / double(heard[i - 1] - heard[i]));
            if (crossings.size() > 1)
                periods.push_back(crossings.back() - crossings[crossings.size() - 2]);
        }
        QVERIFY2(crossings.size() > 400, qPrintable(QString::number(crossings.size()))); // a second of the tone
        std::nth_element(periods.begin(), periods.begin() + qsizetype(periods.size() / 2), periods.end());
        const double hz = 44100.0 / periods[periods.size() / 2];
        const double cents = 1200.0 * std::log2(hz / (440.0 * std::pow(2.0, 2.0 / 12.0)));
        QVERIFY2(std::abs(cents) < 2.0, qPrintable(u"%1 Hz, %2 cents"_s.arg(hz).arg(cents)));
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
        QVERIFY(SystemOnly::noFifos() || SystemOnly::makeFifo(dir.filePath(u"pipe.mp3"_s))); // none on Windows: missing there
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
