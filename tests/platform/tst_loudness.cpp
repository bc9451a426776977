// Loudness as ffmpeg's own ebur128 meter reads it: the EBU Tech 3341 signals
// that can be generated, each format a performer's songs come in, mono heard
// as dual mono; and a measured song kept in the length cache until it changes.
#include "support/fixtures.h"
#include "support/mediagen.h"

#include "cli/commandline.h"
#include "platform/audio/loudness/loudnessmeter.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "platform/media/lengthcache.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A 1 kHz sine whose peak level (dBFS) follows `levels`, each held `seconds`.
QString steppedSine(const QList<double> &levels, double seconds, bool mono)
{
    QString amplitude = QString::number(std::pow(10.0, levels.last() / 20.0), 'g', 9);
    for (qsizetype i = levels.size() - 2; i >= 0; --i)
        amplitude = u"if(lt(t\\,%1)\\,%2\\,%3)"_s.arg(seconds * double(i + 1)).arg(std::pow(10.0, levels[i] / 20.0), 0, 'g', 9).arg(amplitude);
    const QString channel = amplitude + u"*sin(1000*2*PI*t)"_s;
    return u"aevalsrc=%1:s=48000:d=%2"_s.arg(mono ? channel : channel + u'|' + channel).arg(seconds * double(levels.size()));
}

using FfmpegMeter = MediaGen::Meter;
FfmpegMeter ffmpegMeter(const QString &path, bool dualMono) { return MediaGen::meter(path, dualMono); }

} // namespace

class TestLoudness : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(MediaGen::missingTools().isEmpty(), qPrintable(MediaGen::missingTools().join(u' ')));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 5.6), u"-c:a"_s, u"pcm_f32le"_s, path(u"music.wav"_s) }));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(48000, 5.6), u"-c:a"_s, u"pcm_f32le"_s, path(u"music48.wav"_s) }));
    }

    // EBU Tech 3341's signals, as far as a sine generator makes them; the
    // gates decide cases 3 to 5. A mono sine measured as dual mono reads as
    // the same sine in stereo.
    void tech3341_data()
    {
        QTest::addColumn<QList<double>>("levels");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("mono");
        QTest::addColumn<double>("expected");
        QTest::newRow("1: -23 dBFS") << QList<double>{ -23 } << 8.0 << false << -23.0;
        QTest::newRow("2: -33 dBFS") << QList<double>{ -33 } << 8.0 << false << -33.0;
        QTest::newRow("3: -36/-23/-36, relative gate") << QList<double>{ -36, -23, -23, -23, -23, -23, -23, -36 } << 5.0 << false << -23.0;
        QTest::newRow("4: silence -72 around, absolute gate") << QList<double>{ -72, -36, -23, -23, -23, -23, -23, -23, -36, -72 } << 5.0 << false << -23.0;
        QTest::newRow("5: -26/-20/-26") << QList<double>{ -26, -20, -26 } << 4.0 << false << -23.0;
        QTest::newRow("mono sine as dual mono") << QList<double>{ -23 } << 8.0 << true << -23.0;
    }
    void tech3341()
    {
        QFETCH(QList<double>, levels);
        QFETCH(double, seconds);
        QFETCH(bool, mono);
        QFETCH(double, expected);
        const QString file = path(u"3341-%1.wav"_s.arg(QString::fromLatin1(QTest::currentDataTag()).left(1) + (mono ? u"m"_s : QString())));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, steppedSine(levels, seconds, mono), u"-c:a"_s, u"pcm_f32le"_s, file }));
        QString reason;
        const std::optional<Loudness> l = LoudnessMeter::measure(file, &reason);
        QVERIFY2(l, qPrintable(reason));
        QVERIFY2(std::abs(l->lufs - expected) <= 0.1, qPrintable(QString::number(l->lufs)));
        const FfmpegMeter reference = ffmpegMeter(file, mono);
        QVERIFY2(std::abs(l->lufs - reference.lufs) <= 0.1, qPrintable(u"%1 against %2"_s.arg(l->lufs).arg(reference.lufs)));
        // A sine's true peak is its amplitude.
        const double loudest = *std::max_element(levels.cbegin(), levels.cend());
        QVERIFY2(std::abs(l->truePeakDb - loudest) <= 0.2, qPrintable(QString::number(l->truePeakDb)));
    }

    // Every format the songs come in, lossy ones with their encoder delay,
    // against ffmpeg's meter on the same file.
    void formats_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("make");
        QTest::addColumn<bool>("mono");
        const QString wav = path(u"music.wav"_s), wav48 = path(u"music48.wav"_s);
        QTest::newRow("mp3") << u"lame.mp3"_s << QStringList{ u"-i"_s, wav, u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"192k"_s } << false;
        QTest::newRow("m4a") << u"aac.m4a"_s << QStringList{ u"-i"_s, wav48, u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s } << false;
        QTest::newRow("flac") << u"lossless.flac"_s << QStringList{ u"-i"_s, wav, u"-sample_fmt"_s, u"s16"_s } << false;
        QTest::newRow("wav 48 kHz") << u"hirate.wav"_s << QStringList{ u"-i"_s, wav48, u"-c:a"_s, u"pcm_s24le"_s } << false;
        QTest::newRow("ogg") << u"vorbis.ogg"_s << QStringList{ u"-i"_s, wav, u"-c:a"_s, u"libvorbis"_s, u"-q:a"_s, u"6"_s } << false;
        QTest::newRow("opus") << u"opus.opus"_s << QStringList{ u"-i"_s, wav48, u"-c:a"_s, u"libopus"_s, u"-b:a"_s, u"192k"_s } << false;
        QTest::newRow("mono mp3") << u"mono.mp3"_s << QStringList{ u"-i"_s, wav, u"-ac"_s, u"1"_s, u"-c:a"_s, u"libmp3lame"_s } << true;
    }
    void formats()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, make);
        QFETCH(bool, mono);
        const QString file = path(name);
        QVERIFY(MediaGen::ffmpeg(make + QStringList{ file }));
        QString reason;
        const std::optional<Loudness> l = LoudnessMeter::measure(file, &reason);
        QVERIFY2(l, qPrintable(reason));
        const FfmpegMeter reference = ffmpegMeter(file, mono);
        QVERIFY(std::isfinite(reference.lufs) && reference.lufs < -10 && reference.lufs > -30);
        QVERIFY2(std::abs(l->lufs - reference.lufs) <= 0.1, qPrintable(u"%1 LUFS against %2"_s.arg(l->lufs).arg(reference.lufs)));
        // The summary's peak has one decimal.
        QVERIFY2(std::abs(l->truePeakDb - reference.truePeakDb) <= 0.25,
                 qPrintable(u"%1 dBTP against %2"_s.arg(l->truePeakDb).arg(reference.truePeakDb)));
    }

    // MP3s joined end to end (a mono jingle, then a stereo song) switch their
    // channels, or their rate, mid-stream: measured as a stereo system plays
    // them, the mono part on both speakers, against ffmpeg's meter on the two
    // parts decoded and joined by ffmpeg itself.
    void channelsChangeMidStream_data()
    {
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<QList<int>>("rates");
        QTest::newRow("mono jingle, then stereo") << QList<int>{ 1, 2 } << QList<int>{ 44100, 44100 };
        QTest::newRow("stereo, then mono") << QList<int>{ 2, 1 } << QList<int>{ 44100, 44100 };
        QTest::newRow("48 kHz stereo, then 44.1 kHz mono") << QList<int>{ 2, 1 } << QList<int>{ 48000, 44100 };
    }
    void channelsChangeMidStream()
    {
        QFETCH(QList<int>, channels);
        QFETCH(QList<int>, rates);
        QByteArray joined;
        QStringList inputs, parts;
        for (int i = 0; i < 2; ++i) {
            const QString part = path(u"part%1.mp3"_s.arg(i));
            // The jingle louder than the song, so that a part measured wrongly shows.
            QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-t"_s, i == 0 ? u"2.5"_s : u"5"_s, u"-af"_s,
                                       i == 0 ? u"volume=4dB"_s : u"volume=-4dB"_s, u"-ac"_s, QString::number(channels[i]), u"-ar"_s,
                                       QString::number(rates[i]), u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"192k"_s, part }));
            joined += fixtures::contents(part);
            inputs << u"-i"_s << part;
            parts << u"[%1:a]%2aresample=48000[p%1]"_s.arg(i).arg(channels[i] == 1 ? u"pan=stereo|c0=c0|c1=c0,"_s : QString());
        }
        const QString song = path(u"joined.mp3"_s), reference = path(u"joined-reference.wav"_s);
        QVERIFY(fixtures::writeFile(song, joined));
        QVERIFY(MediaGen::ffmpeg(inputs + QStringList{ u"-filter_complex"_s, parts.join(u';') + u";[p0][p1]concat=n=2:v=0:a=1"_s,
                                                       u"-c:a"_s, u"pcm_f32le"_s, reference }));
        QString reason;
        const std::optional<Loudness> l = LoudnessMeter::measure(song, &reason);
        QVERIFY2(l, qPrintable(reason));
        const FfmpegMeter expected = ffmpegMeter(reference, false);
        QVERIFY2(std::abs(l->lufs - expected.lufs) <= 0.1, qPrintable(u"%1 LUFS against %2"_s.arg(l->lufs).arg(expected.lufs)));
        QVERIFY2(std::abs(l->truePeakDb - expected.truePeakDb) <= 0.25,
                 qPrintable(u"%1 dBTP against %2"_s.arg(l->truePeakDb).arg(expected.truePeakDb)));
    }

    // Silence has no loudness; a file that is no song is named, not measured as silence.
    void silenceAndDamage()
    {
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"anullsrc=r=44100:cl=stereo"_s, u"-t"_s, u"3"_s, path(u"silence.wav"_s) }));
        QString reason;
        const std::optional<Loudness> silent = LoudnessMeter::measure(path(u"silence.wav"_s), &reason);
        QVERIFY(silent && silent->isSilent() && !std::isfinite(silent->truePeakDb));
        QVERIFY(fixtures::writeFile(path(u"broken.mp3"_s), QByteArray(20000, 'x')));
        QVERIFY(!LoudnessMeter::measure(path(u"broken.mp3"_s), &reason) && !reason.isEmpty());
    }

    // A song is measured once: the result stays in the length cache under the
    // file's identity, survives the scan writing its lengths, and counts no
    // more once the file changed.
    void cacheKeepsLoudness()
    {
        QTemporaryDir dir;
        const QString songs = dir.filePath(u"songs"_s), root = dir.filePath(u"cache"_s), song = songs + u"/song.wav"_s;
        QVERIFY(QDir().mkpath(songs) && QFile::copy(path(u"music.wav"_s), song));
        QString reason;
        const std::optional<Loudness> first = LoudnessService::measureOne(song, root, 0, &reason, nullptr);
        QVERIFY(first);
        const auto key = LengthCache::keyOfFile(song);
        QCOMPARE(LengthCache(root, songs, 0).findLoudness(u"song.wav"_s, *key), first);

        // Only what the cache holds could give this: the kept value is believed.
        const Loudness planted{ -40.0, -30.0 };
        {
            LengthCache cache(root, songs, 0);
            cache.keepLoaded();
            cache.insertLoudness(u"song.wav"_s, *key, planted);
            QVERIFY(cache.save());
        }
        QCOMPARE(LoudnessService::measureOne(song, root, 0, &reason, nullptr), planted);

        // The scan writes the folder's lengths anew; the loudness stays with the same key.
        {
            LengthCache cache(root, songs, 0);
            cache.insert(u"song.wav"_s, *key, 5600);
            QVERIFY(cache.save());
        }
        const LengthCache after(root, songs, 0);
        QCOMPARE(after.find(u"song.wav"_s, *key), 5600.0);
        QCOMPARE(after.findLoudness(u"song.wav"_s, *key), planted);
        // ...and a kept file is read back as written.
        QCOMPARE(LengthCache::parse(LengthCache::serialize(songs, { { u"a"_s, { *key, -1, planted } } }), songs)->value(u"a"_s).loudness, planted);

        // The song rewritten quieter under its name: measured again.
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-af"_s, u"volume=-6dB"_s, u"-c:a"_s, u"pcm_f32le"_s, song }));
        const std::optional<Loudness> again = LoudnessService::measureOne(song, root, 0, &reason, nullptr);
        QVERIFY(again && std::abs(again->lufs - (first->lufs - 6.0)) < 0.1);
        QVERIFY(!LengthCache(root, songs, 0).find(u"song.wav"_s, *LengthCache::keyOfFile(song)));
    }

    // The window's service: results arrive as signals, a song is measured once
    // per identity, and a changed file is measured again.
    void serviceMeasuresInBackground()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.wav"_s), b = dir.filePath(u"b.wav"_s);
        QVERIFY(QFile::copy(path(u"music.wav"_s), a) && QFile::copy(path(u"3341-1.wav"_s), b));
        LoudnessService service(dir.filePath(u"cache"_s), nullptr, 0);
        QSignalSpy measured(&service, &LoudnessService::measured);
        service.request({ a, b, dir.filePath(u"gone.wav"_s) });
        QCOMPARE(service.result(a).state, LoudnessService::State::Measuring);
        QTRY_COMPARE_WITH_TIMEOUT(measured.size(), 3, 30000);
        QVERIFY(!service.isMeasuring());
        QCOMPARE(service.result(dir.filePath(u"gone.wav"_s)).state, LoudnessService::State::Failed);
        QVERIFY(std::abs(service.result(b).loudness->lufs + 23.0) < 0.1);

        const double before = service.result(a).loudness->lufs;
        service.request({ a, b });
        QVERIFY(!service.isMeasuring());
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-af"_s, u"volume=-10dB"_s, u"-c:a"_s, u"pcm_f32le"_s, a }));
        service.request({ a, b });
        QCOMPARE(service.result(a).state, LoudnessService::State::Measuring);
        QTRY_COMPARE_WITH_TIMEOUT(measured.size(), 4, 30000);
        QVERIFY(std::abs(service.result(a).loudness->lufs - (before - 10.0)) < 0.1);
    }

    // An audio CD with matched levels, as ffmpeg's meter hears its tracks: every
    // song at the set's median, the one already there untouched.
    void matchedCdImage()
    {
        const QStringList names{ u"loud.flac"_s, u"middle.mp3"_s, u"quiet.wav"_s };
        const QList<double> volumes{ 0, -5, -11 };
        QByteArray playlist = "#EXTM3U\n#PLAYLIST:そろえる\n";
        for (qsizetype i = 0; i < names.size(); ++i) {
            QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-af"_s, u"volume=%1dB"_s.arg(volumes[i]), path(names[i]) }));
            playlist += names[i].toUtf8() + '\n';
        }
        QVERIFY(fixtures::writeFile(path(u"matched.m3u8"_s), playlist));
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int status = CommandLine::run({ u"--cd-image"_s, path(u"matched.cue"_s), u"--gap"_s, u"0"_s, u"--match-levels"_s, path(u"matched.m3u8"_s) },
                                            outStream, errStream);
        QVERIFY2(status == 0, qPrintable(err));
        QVERIFY(QDir().mkpath(path(u"matched"_s)));
        QVERIFY(MediaGen::run(u"bchunk"_s, { u"-w"_s, path(u"matched.bin"_s), path(u"matched.cue"_s), path(u"matched/t"_s) }));
        const double target = ffmpegMeter(path(names[1]), false).lufs;
        for (int i = 0; i < names.size(); ++i) {
            const FfmpegMeter track = ffmpegMeter(path(u"matched/t%1.wav"_s.arg(i + 1, 2, 10, QLatin1Char('0'))), false);
            QVERIFY2(std::abs(track.lufs - target) <= 0.5, qPrintable(u"%1: %2 LUFS, target %3"_s.arg(names[i]).arg(track.lufs).arg(target)));
            QVERIFY(track.truePeakDb <= -1.0 || i == 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoudness)
#include "tst_loudness.moc"
