// The audio CD image as other programs read it: bchunk splits the .bin by the
// .cue into tracks, cd-info reads the track list, ffmpeg decodes the sources,
// and each track must be the song. The refusals write nothing, a cancel or a
// failure leaves nothing, and the CD-TEXT libburn builds carries both blocks.
#include "support/commandlinerun.h"
#include "support/fixtures.h"
#include "support/mediagen.h"

#include "cli/commandline.h"
#include "model/cdlayout.h"
#include "platform/audio/disc/cdimagewriter.h"
#include "platform/audio/disc/libburndiscwriter.h"
#include "platform/storage/exportcheck.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// The 48 kHz piece's samples, and what AAC's 1024-sample frames add at its end.
constexpr qint64 ItunesSamples = 48000 * 46 / 10;
constexpr qint64 ItunesPadding = (ItunesSamples + 1024 + 1023) / 1024 * 1024 - ItunesSamples - 1024;

// What ffmpeg itself decodes a song to: 44.1 kHz, 16-bit, stereo, through
// `filter` when the song needs one. A mono song is heard on both channels at
// its own level (ffmpeg's -ac 2 would lower it 3 dB).
QByteArray reference(const QString &path, bool mono, const QString &filter = {})
{
    QByteArray pcm;
    const QStringList layout = mono ? QStringList{ u"-af"_s, u"pan=stereo|c0=c0|c1=c0"_s }
        : filter.isEmpty()          ? QStringList{ u"-ac"_s, u"2"_s }
                                    : QStringList{ u"-af"_s, filter, u"-ac"_s, u"2"_s };
    if (!MediaGen::ffmpeg(QStringList{ u"-i"_s, path, u"-map"_s, u"0:a:0"_s } + layout + QStringList{ u"-ar"_s, u"44100"_s, u"-f"_s, u"s16le"_s, u"-"_s }, &pcm))
        return {};
    return pcm;
}

double rmsDb(const qint16 *a, const qint16 *b, qint64 samples)
{
    double sum = 0;
    for (qint64 i = 0; i < samples; ++i) {
        const double d = (double(a[i]) - (b ? double(b[i]) : 0.0)) / 32768.0;
        sum += d * d;
    }
    return 10.0 * std::log10(sum / double(qMax<qint64>(samples, 1)) + 1e-20);
}

using Run = CommandLineRun;
Run commandLine(const QStringList &arguments) { return CommandLineRun::of(arguments); }

bool writePlaylist(const QString &path, const QString &name, const QStringList &songs)
{
    QByteArray bytes = "#EXTM3U\n#PLAYLIST:" + name.toUtf8() + '\n';
    for (const QString &song : songs)
        bytes += song.toUtf8() + '\n';
    return fixtures::writeFile(path, bytes);
}

// The texts (the disc's, then each track's) of one CD-TEXT block and pack
// type, read from the packs as the lead-in carries them: 18 bytes each, 12 of
// them text, each text ended by one zero (two in a double-byte block), the
// last pack filled up with zeros.
QList<QByteArray> packTexts(const QByteArray &packs, int block, int type, bool doubleByte, int count = 3)
{
    QByteArray joined;
    for (qsizetype at = 0; at + 18 <= packs.size(); at += 18) {
        const auto *p = reinterpret_cast<const unsigned char *>(packs.constData() + at);
        if (p[0] == type && ((p[3] >> 4) & 7) == block)
            joined += packs.mid(at + 4, 12);
    }
    QList<QByteArray> texts;
    const QByteArray end = doubleByte ? QByteArray(2, '\0') : QByteArray(1, '\0');
    for (qsizetype from = 0, to; texts.size() < count && (to = joined.indexOf(end, from)) >= 0; from = to + end.size())
        texts.append(joined.mid(from, to - from));
    return texts;
}

} // namespace

class TestCdImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    struct Source {
        QString name;
        QString path;
        bool mono = false;
        QString filter;   // what ffmpeg's decode needs to be the song
    };
    QList<Source> m_sources;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(MediaGen::missingTools().isEmpty(), qPrintable(MediaGen::missingTools().join(u' ')));
        QVERIFY2(MediaGen::missingTools({ u"bchunk"_s, u"cd-info"_s }).isEmpty(), qPrintable(MediaGen::missingTools({ u"bchunk"_s, u"cd-info"_s }).join(u' ')));
        const QString wav = path(u"music.wav"_s), wav48 = path(u"music48.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 4.6), wav }));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(48000, 4.6), wav48 }));
        // Each format the venue's songs come in; the MP3 carries LAME's delay
        // and padding, the M4A AAC's priming in its edit list, Opus its pre-skip.
        const struct {
            QString name;
            QStringList make;
            bool mono;
        } kinds[] = {
            { u"lame.mp3"_s, {}, false },
            { u"aac.m4a"_s, { u"-i"_s, wav48, u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s }, false },
            { u"lossless.flac"_s, { u"-i"_s, wav }, false },
            { u"hirate.wav"_s, { u"-i"_s, wav48, u"-c:a"_s, u"pcm_s24le"_s }, false },
            { u"vorbis.ogg"_s, { u"-i"_s, wav, u"-c:a"_s, u"libvorbis"_s, u"-q:a"_s, u"8"_s }, false },
            { u"opus.opus"_s, { u"-i"_s, wav48, u"-c:a"_s, u"libopus"_s, u"-b:a"_s, u"256k"_s }, false },
            { u"mono.wav"_s, { u"-i"_s, wav, u"-ac"_s, u"1"_s, u"-ar"_s, u"22050"_s }, true },
            { u"surround.flac"_s, { u"-i"_s, wav48, u"-af"_s, u"pan=5.1|c0=c0|c1=c1|c2=0.5*c0|c3=0*c0|c4=0.3*c0|c5=0.3*c1"_s }, false },
            // As iTunes writes it: no edit list, the priming and the length in an iTunSMPB tag,
            // which ffmpeg does not read; its decode is trimmed by hand to compare.
            { u"itunes.m4a"_s, { u"-i"_s, wav48, u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s, u"-use_editlist"_s, u"0"_s,
                                 u"-movflags"_s, u"use_metadata_tags"_s, u"-metadata"_s,
                                 u"iTunSMPB="_s + u" 00000000 00000400 %1 %2 00000000"_s.arg(ItunesPadding, 8, 16, QLatin1Char('0'))
                                                      .arg(ItunesSamples, 16, 16, QLatin1Char('0')).toUpper() }, false },
        };
        QStringList names;
        for (const auto &kind : kinds) {
            const QString file = path(kind.name);
            QVERIFY2(kind.make.isEmpty() ? MediaGen::run(u"lame"_s, { u"--quiet"_s, u"-b"_s, u"256"_s, wav, file })
                                         : MediaGen::ffmpeg(kind.make + QStringList{ file }),
                     qPrintable(kind.name));
            m_sources.append({ kind.name, file, kind.mono,
                               kind.name.startsWith(u"itunes"_s) ? u"atrim=start_sample=1024:end_sample=%1"_s.arg(1024 + ItunesSamples) : QString() });
            names << kind.name;
        }
        // The whole corpus as one image without gaps, written from the command line.
        QVERIFY(writePlaylist(path(u"corpus.m3u8"_s), u"コーパス"_s, names));
        const Run run = commandLine({ u"--cd-image"_s, path(u"corpus.cue"_s), u"--gap"_s, u"0"_s, path(u"corpus.m3u8"_s) });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(QDir().mkpath(path(u"tracks"_s)));
        QVERIFY(MediaGen::run(u"bchunk"_s, { u"-w"_s, path(u"corpus.bin"_s), path(u"corpus.cue"_s), path(u"tracks/t"_s) }));
    }

    void tracksAreTheSongs_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < m_sources.size(); ++i)
            QTest::newRow(qPrintable(m_sources[i].name)) << i;
    }
    void tracksAreTheSongs()
    {
        QFETCH(int, index);
        const Source &source = m_sources[index];
        const QByteArray expected = reference(source.path, source.mono, source.filter);
        const QByteArray track = fixtures::contents(path(u"tracks/t%1.wav"_s).arg(index + 1, 2, 10, QLatin1Char('0'))).mid(44);
        QVERIFY(expected.size() > 44100 * 4 * 4 && track.size() % CdLayout::BytesPerSector == 0);
        // The song exactly, then silence to the end of its last sector.
        QVERIFY2(track.size() >= expected.size() && track.size() - expected.size() < CdLayout::BytesPerSector,
                 qPrintable(u"%1 bytes for %2"_s.arg(track.size()).arg(expected.size())));
        const auto *got = reinterpret_cast<const qint16 *>(track.constData());
        const auto *want = reinterpret_cast<const qint16 *>(expected.constData());
        const qint64 samples = expected.size() / 2;
        QVERIFY(rmsDb(want, nullptr, samples) > -20.0);
        const double difference = rmsDb(got, want, samples);
        QVERIFY2(difference < -60.0, qPrintable(u"difference %1 dBFS"_s.arg(difference)));
        QCOMPARE(rmsDb(got + samples, nullptr, (track.size() - expected.size()) / 2), -200.0);
    }

    void cueTracksAndGaps()
    {
        // A 2-second song is padded to the 4 seconds a track needs, and says so.
        const QString shortSong = path(u"short.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=500:sample_rate=44100:duration=2"_s, u"-ac"_s, u"2"_s, shortSong }));
        const QStringList songs{ m_sources[0].path, shortSong, m_sources[5].path };
        QVERIFY(writePlaylist(path(u"gaps.m3u8"_s), u"金曜 \"ライブ\""_s, songs));
        const Run run = commandLine({ u"--cd-image"_s, path(u"gaps.cue"_s), path(u"gaps.m3u8"_s) });
        QVERIFY2(run.status == 0 && run.out.contains(u"「short」は 4 秒より短いため"_s), qPrintable(run.out + run.err));

        QByteArray info;
        QVERIFY(MediaGen::run(u"cd-info"_s, { u"--no-device-info"_s, u"--no-cddb"_s, u"--cue-file"_s, path(u"gaps.cue"_s) }, &info));
        QList<qint64> starts;
        const QRegularExpression row(u"^\\s*\\d+: \\d\\d:\\d\\d:\\d\\d\\s+(\\d+) (audio|leadout)"_s, QRegularExpression::MultilineOption);
        for (auto m = row.globalMatch(QString::fromUtf8(info)); m.hasNext();)
            starts.append(m.next().captured(1).toLongLong());
        // Each track starts two seconds (150 sectors) after the one before ends.
        qint64 expected = 0;
        QList<qint64> wanted;
        for (const QString &song : songs) {
            wanted.append(expected);
            const qint64 sectors = (reference(song, false).size() / 4 + 587) / 588;
            expected += qMax<qint64>(sectors, 300) + 150;
        }
        wanted.append(expected - 150);
        QCOMPARE(starts, wanted);
        const QString cue = QString::fromUtf8(fixtures::contents(path(u"gaps.cue"_s)));
        QVERIFY2(cue.contains(u"TITLE \"金曜 'ライブ'\""_s) && cue.count(u"INDEX 00"_s) == 2 && cue.count(u"TRACK"_s) == 3, qPrintable(cue));
        QVERIFY(!fixtures::contents(path(u"corpus.cue"_s)).contains("INDEX 00"));
    }

    // The image's .bin is the file its cue sheet names, whatever the set's
    // name holds: a burning program finds it beside the .cue.
    void cueNamesItsImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("quotation marks") << u"Live at \"Club\""_s;
        QTest::newRow("a tab") << u"Live\tat Club"_s;
        QTest::newRow("a line separator") << u"Live\u2028ライブ"_s;
    }
    void cueNamesItsImage()
    {
        QFETCH(QString, name);
        const QString out = path(u"named"_s);
        QVERIFY(QDir(out).removeRecursively() && QDir().mkpath(out));
        // Windows refuses quotation marks and tabs in every name: there is no such image to name.
        if (const QString why = ExportCheck::refusedName(name, ExportCheck::nameRulesAt(out)); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(writePlaylist(path(u"named.m3u8"_s), u"set"_s, { m_sources[2].path }));
        const Run run = commandLine({ u"--cd-image"_s, out + u'/' + name + u".cue"_s, path(u"named.m3u8"_s) });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QString cue = QString::fromUtf8(fixtures::contents(out + u'/' + name + u".cue"_s));
        const QRegularExpressionMatch file = QRegularExpression(u"^FILE \"([^\"]*)\" BINARY\r$"_s,
                                                                QRegularExpression::MultilineOption).match(cue);
        QVERIFY2(file.hasMatch(), qPrintable(cue));
        QCOMPARE(QDir(out).entryList({ u"*.bin"_s }), QStringList{ file.captured(1) });
        QVERIFY(QFileInfo(out + u'/' + file.captured(1)).size() > 44100 * 4 * 4);
    }

    void refusalsWriteNothing_data()
    {
        QTest::addColumn<QStringList>("songs");
        QTest::addColumn<QString>("message");
        // 41 minutes of quiet in a small file: two of them do not fit 80 minutes.
        const QString hour = path(u"long.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"anullsrc=r=8000:cl=mono"_s, u"-t"_s, u"2460"_s, u"-c:a"_s, u"pcm_u8"_s, hour }));
        QVERIFY(fixtures::writeFile(path(u"broken.mp3"_s), QByteArray(20000, '\x55')));
        QStringList many;
        for (int i = 0; i < 100; ++i)
            many << m_sources[2].path;
        QTest::newRow("100 tracks") << many << u"音楽CDに入るのは 99 曲までです（このセットは 100 曲）"_s;
        QTest::newRow("81 minutes") << QStringList{ hour, hour } << u"CD に収まりません: 曲間を含めて 82:04 で、CD（80:00）より 02:04 長くなります"_s;
        QTest::newRow("not audio") << QStringList{ m_sources[2].path, path(u"broken.mp3"_s) } << u"「02 broken」を音声として読めません"_s;
        QTest::newRow("no room") << QStringList{ m_sources[2].path } << u"イメージを書く場所の空きが足りません"_s;
    }
    void refusalsWriteNothing()
    {
        QFETCH(QStringList, songs);
        QFETCH(QString, message);
        const QString out = path(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        fixtures::ScopedMount mount(out);
        if (qstrcmp(QTest::currentDataTag(), "no room") == 0 && !mount.tmpfs(256))
            QSKIP(qPrintable(mount.why()));
        QVERIFY(writePlaylist(path(u"refused.m3u8"_s), u"set"_s, songs));
        const Run run = commandLine({ u"--cd-image"_s, out + u"/set.cue"_s, path(u"refused.m3u8"_s) });
        QVERIFY2(run.status == 1 && run.err.startsWith(u"音楽CDを作れません。"_s) && run.err.contains(message), qPrintable(run.err));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    void stopsLeaveNothing()
    {
        const QString out = path(u"stops"_s);
        QVERIFY(QDir().mkpath(out));
        CdImageWriter::Request request;
        request.paths = { m_sources[0].path, m_sources[1].path };
        request.cuePath = out + u"/set.cue"_s;
        // Cancelled while the first song is written.
        int calls = 0;
        auto result = CdImageWriter::write(request, [&](int, qint64, qint64) { ++calls; }, [&] { return calls > 2; });
        QCOMPARE(int(result.outcome), int(CdImageWriter::Result::Outcome::Cancelled));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        // The disk fills up half way through the image.
        fixtures::ScopedMount mount(out);
        if (!mount.tmpfs(512))
            QSKIP(qPrintable(mount.why()));
        result = CdImageWriter::write(request, {}, {});
        QVERIFY2(result.outcome == CdImageWriter::Result::Outcome::Failed && result.failedSong == -1, qPrintable(result.reason));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // What already is CD audio reaches the image bit for bit: a 16-bit 44.1 kHz
    // stereo WAV is its own track, byte for byte (dither only touches samples
    // between two steps). A float sample that is not a number is silence there,
    // never a full-scale click; the others are within a step of their value.
    void samplesKeptExactly()
    {
        const QString cd = path(u"cd16.wav"_s), nan = path(u"nan.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 4.6), u"-c:a"_s, u"pcm_s16le"_s, cd }));
        QList<float> samples;
        for (int i = 0; i < 44100 * 5; ++i) {
            const float s = 0.25f * std::sin(float(i) * 0.0627f);
            samples << (i % 1000 == 7 ? NAN : s) << (i % 1500 == 3 ? NAN : -s);
        }
        QVERIFY(fixtures::writeFile(nan, fixtures::floatWav(samples)));
        CdImageWriter::Request request;
        request.paths = { cd, nan };
        request.gapSeconds = 0;
        request.cuePath = path(u"exact.cue"_s);
        const CdImageWriter::Result result = CdImageWriter::write(request, {}, {});
        QVERIFY2(result.outcome == CdImageWriter::Result::Outcome::Written, qPrintable(result.reason));
        const QByteArray bin = fixtures::contents(CdImageWriter::binPathFor(request.cuePath));
        const QByteArray own = reference(cd, false);
        QVERIFY(own.size() > 44100 * 4 * 4);
        QVERIFY(bin.startsWith(own));
        const auto *track = reinterpret_cast<const qint16 *>(bin.constData() + result.layout.tracks[1].startSector * CdLayout::BytesPerSector);
        QStringList wrong;
        for (qsizetype i = 0; i < samples.size() && wrong.size() < 5; ++i)
            if (std::isnan(samples[i]) ? track[i] != 0 : std::abs(track[i] - std::lround(samples[i] * 32768.0f)) > 1)
                wrong << u"%1: %2"_s.arg(i).arg(track[i]);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u", "_s)));
    }

    // A test write, then the real one: each pass hands the drive the whole
    // image, each track its own sectors (without the gaps libburn writes itself).
    void burnPassesReadTheImage()
    {
        if (!DiscWriter::systemBurnsDiscs())
            QSKIP("this system burns no disc (no libburn): the audio CD is the image");
        const CdLayout layout = CdLayout::plan({ 44100 * 5, 44100 * 2, 44100 * 5 }, 2);
        const QString image = fixtures::writeSong(m_dir.path(), u"passes.bin"_s, layout.imageBytes(), 27);
        const QByteArray bin = fixtures::contents(image);
        QByteArray tracks;
        for (const CdTrack &track : layout.tracks)
            tracks += bin.mid(track.startSector * CdLayout::BytesPerSector, track.sectors * CdLayout::BytesPerSector);
        const QList<QByteArray> passes = LibburnDiscWriter::passBytes(image, layout, 2);
        QCOMPARE(passes.size(), 2);
        QVERIFY2(passes[0] == tracks, "the test pass");
        QVERIFY2(passes[1] == tracks, "the real pass");
    }

    // libburn counts the sectors of the track it writes; the bar counts the disc's.
    void burnProgressCountsTheDisc()
    {
        if (!DiscWriter::systemBurnsDiscs())
            QSKIP("this system burns no disc (no libburn): the audio CD is the image");
        const CdLayout layout = CdLayout::plan({ 44100 * 60, 44100 * 5, 44100 * 120 }, 2);
        const auto at = [&](int track, double part) {
            const int sectors = int(layout.tracks[track].sectors);
            return LibburnDiscWriter::discFraction(layout, track, int(sectors * part), sectors);
        };
        QCOMPARE(at(0, 0), 0.0);
        QCOMPARE(at(2, 1), 1.0);
        // Each track takes its own share of the bar, gap included, in order.
        const double total = double(layout.imageSectors);
        QVERIFY(std::abs(at(0, 1) - double(layout.tracks[0].sectors) / total) < 1e-9);
        QVERIFY(std::abs(at(1, 0) - at(0, 1)) < 1e-9 && std::abs(at(2, 0) - at(1, 1)) < 1e-9);
        QVERIFY(std::abs(at(2, 0.5) - (double(layout.tracks[2].gapStartSector()) + (layout.tracks[2].sectors + 150) / 2.0) / total) < 1e-9);
        // Figures from beyond the layout stay on the bar.
        QCOMPARE(LibburnDiscWriter::discFraction(layout, 7, 10, 20), 1.0);
        QCOMPARE(LibburnDiscWriter::discFraction(layout, 0, 30, 20), double(layout.tracks[0].sectors) / total);
    }

    void cdTextInBothBlocks()
    {
        if (!DiscWriter::systemBurnsDiscs())
            QSKIP("this system burns no disc (no libburn): the audio CD is the image");
        QStringEncoder sjis("windows-31j");
        const CdLayout layout = CdLayout::plan({ 44100 * 10, 44100 * 20 }, 2);
        CdText text{ u"金曜ライブ"_s, u"バンド"_s, { u"夜明け"_s, u"Blue Sky"_s }, {} };
        QByteArray packs = LibburnDiscWriter::cdTextPacks(layout, text);
        QVERIFY(!packs.isEmpty() && packs.size() % 18 == 0);
        // Block 0: everything in MS-JIS (CP932 bytes); block 1: Latin-1 where a word has it.
        QCOMPARE(packTexts(packs, 0, 0x80, true), (QList<QByteArray>{ sjis(u"金曜ライブ"_s), sjis(u"夜明け"_s), "Blue Sky" }));
        QCOMPARE(packTexts(packs, 0, 0x81, true).value(0), QByteArray(sjis(u"バンド"_s)));
        QCOMPARE(packTexts(packs, 1, 0x80, false), (QList<QByteArray>{ "", "", "Blue Sky" }));
        const auto summary = [&](int block) { // the first 0x8f pack of a block: its character code
            for (qsizetype at = 0; at + 18 <= packs.size(); at += 18)
                if (uchar(packs[at]) == 0x8f && uchar(packs[at + 1]) == 0 && ((uchar(packs[at + 3]) >> 4) & 7) == block)
                    return int(uchar(packs[at + 4]));
            return -1;
        };
        QCOMPARE(summary(0), 0x80);
        // A set without Japanese is one Latin-1 block.
        text = { u"Friday"_s, u"Café"_s, { u"Dawn"_s, u"Noël"_s }, {} };
        packs = LibburnDiscWriter::cdTextPacks(layout, text);
        QCOMPARE(packTexts(packs, 0, 0x80, false), (QList<QByteArray>{ "Friday", "Dawn", "No\xebl" }));
        QCOMPARE(summary(0), 0x00);
        QVERIFY(packTexts(packs, 1, 0x80, false).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCdImage)
#include "tst_cdimage.moc"
