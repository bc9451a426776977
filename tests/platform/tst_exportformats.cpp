// The export for the venue's player, as ffmpeg hears what it writes: an MP3's
// level moved in its frames' own gain steps, songs brought to the set's level
// (in their own format, or as MP3), every song as MP3 or as WAV, and a song that
// cannot be converted stopping the export without leaving half a file.
#include "support/commandlinerun.h"
#include "support/fixtures.h"
#include "support/mediagen.h"

#include "cli/commandline.h"
#include "platform/audio/loudness/mp3framegain.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <csignal>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// What ffprobe says of the first audio stream: "codec,format,rate,channels,bitrate,bits".
QString probe(const QString &path)
{
    QByteArray out;
    MediaGen::run(u"ffprobe"_s, { u"-v"_s, u"error"_s, u"-select_streams"_s, u"a:0"_s, u"-show_entries"_s,
                                  u"stream=codec_name,sample_rate,channels,sample_fmt,bits_per_raw_sample,bit_rate"_s,
                                  u"-of"_s, u"csv=p=0"_s, path },
                  &out);
    return QString::fromUtf8(out).trimmed();
}

// What ffmpeg complains of while decoding, checksums included; empty when clean.
QByteArray decodeErrors(const QString &path)
{
    QByteArray printed;
    const bool ok = MediaGen::run(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"error"_s, u"-err_detect"_s, u"crccheck+bitstream"_s,
                                                 u"-i"_s, path, u"-f"_s, u"null"_s, u"-"_s },
                                  &printed, 60000, true);
    return printed + (ok ? QByteArray() : QByteArray("exit status"));
}

using Run = CommandLineRun;
Run commandLine(const QStringList &arguments) { return CommandLineRun::of(arguments); }

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestExportFormats : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The music at `volumeDb`, encoded as the name's extension says, with extra arguments.
    bool song(const QString &name, double volumeDb, const QStringList &encoding = {})
    {
        return MediaGen::ffmpeg(QStringList{ u"-i"_s, path(u"music.wav"_s), u"-af"_s, u"volume=%1dB"_s.arg(volumeDb) } + encoding
                      + QStringList{ path(name) });
    }

    QString playlist(const QString &name, const QStringList &songs) { return fixtures::playlist(m_dir.path(), name, songs); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(MediaGen::missingTools().isEmpty(), qPrintable(MediaGen::missingTools().join(u' ')));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 5.6), u"-c:a"_s, u"pcm_f32le"_s, path(u"music.wav"_s) }));
    }

    // Only the frames' gain fields move: the file keeps its size, its tag and
    // its encoder header; it still decodes cleanly (checksums too) to as many
    // samples; its level moves by exactly the steps.
    void mp3FrameGain_data()
    {
        QTest::addColumn<QStringList>("lame");
        QTest::addColumn<int>("steps");
        QTest::newRow("CBR with checksums, up") << QStringList{ u"-b"_s, u"192"_s, u"-p"_s } << 2;
        QTest::newRow("VBR joint stereo, down") << QStringList{ u"-V"_s, u"2"_s } << -3;
        QTest::newRow("MPEG-2 mono 22 kHz, up") << QStringList{ u"-m"_s, u"m"_s, u"--resample"_s, u"22.05"_s, u"-b"_s, u"64"_s } << 1;
    }
    void mp3FrameGain()
    {
        QFETCH(QStringList, lame);
        QFETCH(int, steps);
        const QString source = path(u"framegain.wav"_s), mp3 = path(u"framegain.mp3"_s), changed = path(u"framegain-changed.mp3"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-af"_s, u"volume=-12dB"_s, u"-c:a"_s, u"pcm_s16le"_s, source }));
        QVERIFY(MediaGen::run(u"lame"_s, QStringList{ u"--quiet"_s, u"--tt"_s, u"ゲイン"_s, u"--add-id3v2"_s } + lame + QStringList{ source, mp3 }));
        const QByteArray before = fixtures::contents(mp3);
        QByteArray after = before;
        const std::optional<Mp3FrameGain::Result> result = Mp3FrameGain::apply(after, steps);
        QVERIFY(result && result->frames > 100);
        QCOMPARE(result->clamped, 0);
        QVERIFY(fixtures::writeFile(changed, after));

        QCOMPARE(after.size(), before.size());
        // The tag and the encoder's header frame are untouched; what changed fits
        // in the frames' side information and checksums.
        const qsizetype header = std::max(before.indexOf("Xing"), before.indexOf("Info"));
        QVERIFY(header > 0);
        qsizetype differing = 0, first = -1;
        for (qsizetype i = 0; i < before.size(); ++i)
            if (before[i] != after[i]) {
                ++differing;
                first = first < 0 ? i : first;
            }
        QVERIFY2(first > header + 120, qPrintable(u"first change at %1, header at %2"_s.arg(first).arg(header)));
        QVERIFY(differing <= qsizetype(result->frames) * 34);

        QCOMPARE(decodeErrors(changed), QByteArray());
        QCOMPARE(MediaGen::decodedLengthMs(changed), MediaGen::decodedLengthMs(mp3));
        const double moved = MediaGen::meter(changed).lufs - MediaGen::meter(mp3).lufs;
        QVERIFY2(std::abs(moved - steps * 1.5051) < 0.05, qPrintable(QString::number(moved)));
    }

    // A set of songs at their own levels, exported with matched levels and the
    // files kept as they are where possible: every song at the set's median by
    // ffmpeg's meter (an MP3 in its 1.5 dB steps within 0.8 LU), or as high as
    // its peak allows; no true peak above -1 dBTP; the song already at the
    // median a byte-exact copy; each rewritten song in its own format.
    void matchedExport()
    {
        const QStringList names{ u"loud.mp3"_s, u"bright.m4a"_s, u"warm.aif"_s, u"middle.wav"_s, u"deep.flac"_s, u"soft.ogg"_s, u"spiky.wav"_s };
        QVERIFY(song(names[0], 0, { u"-b:a"_s, u"256k"_s }));
        QVERIFY(song(names[1], -3, { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"192k"_s }));
        QVERIFY(song(names[2], -5));
        QVERIFY(song(names[3], -7, { u"-c:a"_s, u"pcm_s16le"_s }));
        QVERIFY(song(names[4], -10, { u"-ar"_s, u"48000"_s, u"-c:a"_s, u"flac"_s, u"-sample_fmt"_s, u"s32"_s }));
        QVERIFY(song(names[5], -14));
        // Quiet music with a click near full scale: its peak keeps it down.
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-af"_s,
                         u"volume=-20dB,aeval=val(ch)+if(between(mod(t\\,1)\\,0.5\\,0.5003)\\,0.5\\,0):c=same"_s,
                         u"-c:a"_s, u"pcm_s16le"_s, path(names[6]) }));
        const QString list = playlist(u"そろえる"_s, names);
        const Run run = commandLine({ u"--export"_s, path(u"out"_s), u"--match-levels"_s, list });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        const QString folder = path(u"out/そろえる"_s);
        const QStringList exported{ u"01 loud.mp3"_s, u"02 bright.mp3"_s, u"03 warm.aif"_s, u"04 middle.wav"_s,
                                    u"05 deep.flac"_s, u"06 soft.mp3"_s, u"07 spiky.wav"_s };
        QCOMPARE(filesIn(folder), exported);
        QVERIFY(run.out.contains(u"02 bright\n"_s));
        QVERIFY(run.out.contains(u"「spiky」"_s));

        const double target = MediaGen::meter(path(names[3])).lufs;
        QCOMPARE(fixtures::contents(folder + u"/04 middle.wav"_s), fixtures::contents(path(names[3])));
        for (qsizetype i = 0; i < exported.size(); ++i) {
            const MediaGen::Meter m = MediaGen::meter(folder + u'/' + exported[i]);
            const QString what = u"%1: %2 LUFS, %3 dBTP, target %4"_s.arg(exported[i]).arg(m.lufs).arg(m.truePeakDb).arg(target);
            // ffmpeg prints the true peak with one decimal.
            QVERIFY2(m.truePeakDb <= -1.0 + 0.05, qPrintable(what));
            if (exported[i] == u"07 spiky.wav"_s)
                QVERIFY2(m.lufs < target - 1 && m.truePeakDb >= -1.6, qPrintable(what));
            else
                QVERIFY2(std::abs(m.lufs - target) <= (i == 0 ? 0.8 : 0.5), qPrintable(what));
        }
        QVERIFY(probe(folder + u"/03 warm.aif"_s).startsWith(u"pcm_s16be,s16,44100,2"_s));
        QVERIFY(probe(folder + u"/05 deep.flac"_s).startsWith(u"flac,s32,48000,2"_s));
        QVERIFY(probe(folder + u"/05 deep.flac"_s).endsWith(u",24"_s));
        QVERIFY(probe(folder + u"/02 bright.mp3"_s).startsWith(u"mp3,fltp,44100,2,320000"_s));
    }

    // Every song in the one format the player reads: MP3 at 320 kbps with an
    // ID3v2.3 title, or CD-quality WAV; each as long as its source.
    void playerFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mp3") << u"mp3"_s << u"mp3,fltp,44100,2,320000"_s;
        QTest::newRow("wav") << u"wav"_s << u"pcm_s16le,s16,44100,2,1411200"_s;
    }
    void playerFormats()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        const QStringList names{ u"曲目.m4a"_s, u"mono48.flac"_s, u"kept.mp3"_s };
        QVERIFY(song(names[0], -3, { u"-c:a"_s, u"aac"_s }));
        QVERIFY(song(names[1], -3, { u"-ac"_s, u"1"_s, u"-ar"_s, u"48000"_s }));
        QVERIFY(song(names[2], -3, { u"-b:a"_s, u"128k"_s }));
        const Run run = commandLine({ u"--export"_s, path(u"player"_s), u"--format"_s, format, playlist(format, names) });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QString folder = path(u"player/"_s + format);
        const QStringList files = filesIn(folder);
        QCOMPARE(files.size(), 3);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString file = folder + u'/' + files[i];
            QVERIFY(file.endsWith(u'.' + format));
            QVERIFY2(std::abs(*MediaGen::decodedLengthMs(file) - *MediaGen::decodedLengthMs(path(names[i]))) < 30, qPrintable(file));
            if (format == u"mp3"_s && names[i] == u"kept.mp3"_s) {
                // An MP3 is never encoded again.
                QCOMPARE(fixtures::contents(file), fixtures::contents(path(names[i])));
                continue;
            }
            QVERIFY2(probe(file).startsWith(expected), qPrintable(probe(file)));
        }
        QCOMPARE(files[0], u"01 曲目."_s + format);
        if (format == u"mp3"_s) {
            const QByteArray bytes = fixtures::contents(folder + u'/' + files[0]);
            QVERIFY(bytes.startsWith(QByteArray("ID3\x03", 4)));
            QVERIFY(bytes.left(200).contains("TIT2"));
        }
    }

    // A WAV export keeps what already is CD audio bit for bit (dither only
    // where a sample falls between two steps), and writes a float sample that
    // is not a number as silence, never as a full-scale click.
    void wavKeptExactly()
    {
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-c:a"_s, u"pcm_s16le"_s, path(u"cd16.wav"_s) }));
        QList<float> samples;
        for (int i = 0; i < 44100 * 2; ++i) {
            const float s = 0.25f * std::sin(float(i) * 0.0627f);
            samples << (i % 1000 == 7 ? NAN : s) << (i % 1500 == 3 ? NAN : -s);
        }
        QVERIFY(fixtures::writeFile(path(u"nan.wav"_s), fixtures::floatWav(samples)));
        const Run run = commandLine({ u"--export"_s, path(u"exact"_s), u"--format"_s, u"wav"_s,
                                      playlist(u"exact"_s, { u"cd16.wav"_s, u"nan.wav"_s }) });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const auto pcm = [](const QString &file) {
            QByteArray out;
            return MediaGen::ffmpeg({ u"-i"_s, file, u"-f"_s, u"s16le"_s, u"-"_s }, &out) ? out : QByteArray();
        };
        const QByteArray own = pcm(path(u"cd16.wav"_s));
        QVERIFY(own.size() > 44100 * 4 * 5);
        QCOMPARE(pcm(path(u"exact/exact/01 cd16.wav"_s)), own);
        const QByteArray written = pcm(path(u"exact/exact/02 nan.wav"_s));
        QCOMPARE(written.size(), samples.size() * 2);
        const auto *got = reinterpret_cast<const qint16 *>(written.constData());
        QStringList wrong;
        for (qsizetype i = 0; i < samples.size() && wrong.size() < 5; ++i)
            if (std::isnan(samples[i]) ? got[i] != 0 : std::abs(got[i] - std::lround(samples[i] * 32768.0f)) > 1)
                wrong << u"%1: %2"_s.arg(i).arg(got[i]);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u", "_s)));
    }

    // Ctrl+C or SIGTERM stops the command line the way the window's cancel
    // stops an export: the song being written removed, those already there
    // kept whole, a message and a non-zero status; a CD image is not left at all.
    void signalStopsTheCommandLine()
    {
        fixtures::SlowVolume volume(m_dir.path());
        if (!volume.mount(64, 8 << 20))
            QSKIP(qPrintable(volume.why()));
        QStringList names;
        for (int i = 0; i < 3; ++i)
            names << QFileInfo(fixtures::writeSong(m_dir.path(), u"big%1.mp3"_s.arg(i), 6 << 20, quint32(i))).fileName();
        const QString folder = volume.folder() + u"/stopped"_s;
        // The signal comes while the second song is being written.
        std::atomic_bool done{ false };
        std::thread signaller([&] {
            while (!done && !(QFileInfo(folder + u"/02 big1.mp3"_s).size() > 0))
                QThread::msleep(5);
            if (!done)
                ::raise(SIGINT);
        });
        Run run = commandLine({ u"--export"_s, volume.folder(), playlist(u"stopped"_s, names) });
        done = true;
        signaller.join();
        QCOMPARE(run.status, 128 + SIGINT);
        QVERIFY2(run.err.contains(u"中止しました。"_s), qPrintable(run.err));
        QCOMPARE(filesIn(folder), QStringList{ u"01 big0.mp3"_s });
        QCOMPARE(fixtures::contents(folder + u"/01 big0.mp3"_s), fixtures::contents(path(names[0])));

        // The image is written into a file without a name until it is whole;
        // the signal comes once that file is open.
        const QString cd = path(u"stopped-cd"_s);
        QVERIFY(QDir().mkpath(cd));
        const auto writing = [&cd] {
            const QFileInfoList open = QDir(u"/proc/self/fd"_s).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            return std::any_of(open.cbegin(), open.cend(), [&cd](const QFileInfo &fd) { return fd.symLinkTarget().startsWith(cd); });
        };
        done = false;
        std::thread terminator([&] {
            while (!done && !writing())
                QThread::msleep(1);
            if (!done)
                ::raise(SIGTERM);
        });
        run = commandLine({ u"--cd-image"_s, cd + u"/set.cue"_s, playlist(u"cd"_s, QStringList(8, u"music.wav"_s)) });
        done = true;
        terminator.join();
        QCOMPARE(run.status, 128 + SIGTERM);
        QCOMPARE(filesIn(cd), QStringList());
    }

    // A song that cannot be converted stops the export there: the songs before
    // it are on the device, nothing of it or after it is, and no temporary file
    // is left behind.
    void failedConversionLeavesNoPartialFile()
    {
        QVERIFY(song(u"first.wav"_s, -3));
        QVERIFY(fixtures::writeFile(path(u"broken.ogg"_s), QByteArray("OggS") + QByteArray(50000, '\x5a')));
        QVERIFY(song(u"last.wav"_s, -3));
        const QStringList temporaryBefore = QDir::temp().entryList({ u"korvanda-export-*"_s });
        const Run run = commandLine({ u"--export"_s, path(u"failed"_s), u"--format"_s, u"mp3"_s,
                                      playlist(u"broken"_s, { u"first.wav"_s, u"broken.ogg"_s, u"last.wav"_s }) });
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"「02 broken.mp3」を出力できませんでした"_s), qPrintable(run.err));
        QCOMPARE(filesIn(path(u"failed/broken"_s)), QStringList{ u"01 first.mp3"_s });
        QCOMPARE(QDir::temp().entryList({ u"korvanda-export-*"_s }), temporaryBefore);
    }

    // The words that ask for the usage or the version are commands of their own: the program
    // answers and ends without its window, whatever else was typed; nothing is written.
    // Arguments it cannot read get the same usage on the error stream and status 2.
    void commandWords_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");  // the start of what it printed, on its stream
        QTest::addColumn<bool>("window");  // whether the program would open its window instead
        const QString usage = u"使い方:"_s;
        QTest::newRow("help") << QStringList{ u"--help"_s } << 0 << usage << false;
        QTest::newRow("short help") << QStringList{ u"-h"_s } << 0 << usage << false;
        QTest::newRow("help wins over a command") << QStringList{ u"--export"_s, path(u"help"_s), u"--help"_s, u"x.m3u8"_s }
                                                  << 0 << usage << false;
        QTest::newRow("version") << QStringList{ u"--version"_s } << 0 << u"korvanda "_s << false;
        QTest::newRow("unreadable") << QStringList{ u"--export"_s, path(u"help"_s), u"--gap"_s, u"3"_s, u"x.m3u8"_s } << 2
                                    << usage << false;
        QTest::newRow("a set list opens the window") << QStringList{ u"x.m3u8"_s } << -1 << QString() << true;
        QTest::newRow("nothing opens the window") << QStringList{} << -1 << QString() << true;
    }

    void commandWords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(bool, window);
        QCOMPARE(!CommandLine::isCommand(arguments), window);
        if (window)
            return;
        const Run run = commandLine(arguments);
        QCOMPARE(run.status, status);
        const QString &printed = status == 0 ? run.out : run.err;
        QVERIFY2(printed.startsWith(out), qPrintable(printed));
        QCOMPARE((status == 0 ? run.err : run.out), QString());
        if (out.startsWith(u"使い方"_s))
            for (const QString &word : { u"--export"_s, u"--cd-image"_s, u"--format"_s, u"--gap"_s, u"--match-levels"_s,
                                         u"--help"_s, u"--version"_s })
                QVERIFY2(printed.contains(word), qPrintable(word));
        if (arguments == QStringList{ u"--version"_s })
            QVERIFY2(QRegularExpression(u"^korvanda \\d+\\.\\d+\\.\\d+\n$"_s).match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY(!QFileInfo::exists(path(u"help"_s)));
    }
};

QTEST_GUILESS_MAIN(TestExportFormats)
#include "tst_exportformats.moc"
