// Edited songs as they leave Korvanda, heard through ffmpeg's own decode: the
// export and the CD image deliver each edited song exactly as long as its
// edits say, to the sample, in every format; key and tempo changes keep the
// measured pitch; a set list with only VLC's start and stop is cut there too.
#include "support/commandlinerun.h"
#include "support/fixtures.h"
#include "support/mediagen.h"

#include "model/exportplan.h"
#include "model/songedits.h"
#include "platform/audio/edits/offlinestretch.h"
#include "platform/audio/exportshaping.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// What ffmpeg decodes, as interleaved stereo floats at the file's own rate
// (gapless: the encoder delay and padding its tags declare are left out).
std::vector<float> decoded(const QString &path)
{
    QByteArray out;
    if (!MediaGen::ffmpeg({ u"-i"_s, path, u"-f"_s, u"f32le"_s, u"-ac"_s, u"2"_s, u"-"_s }, &out))
        return {};
    std::vector<float> samples(size_t(out.size()) / sizeof(float));
    std::memcpy(samples.data(), out.constData(), samples.size() * sizeof(float));
    return samples;
}

qint64 frames(const QString &path)
{
    return qint64(decoded(path).size() / 2);
}

int rateOf(const QString &path)
{
    QByteArray out;
    MediaGen::run(u"ffprobe"_s, { u"-v"_s, u"error"_s, u"-select_streams"_s, u"a:0"_s, u"-show_entries"_s,
                                  u"stream=sample_rate"_s, u"-of"_s, u"csv=p=0"_s, path },
                  &out);
    return out.trimmed().toInt();
}

// The tone's frequency from the zero crossings of its left channel over the
// middle of the song, between the first and the last crossing found there.
double frequency(const std::vector<float> &stereo, int rate)
{
    const qint64 n = qint64(stereo.size() / 2);
    double first = -1, last = -1;
    int crossings = 0;
    for (qint64 i = n / 5; i + 1 < n * 4 / 5; ++i) {
        const float a = stereo[size_t(2 * i)], b = stereo[size_t(2 * i + 2)];
        if (a < 0 && b >= 0) {
            const double at = double(i) + double(-a) / double(b - a);
            if (first < 0)
                first = at;
            else
                ++crossings;
            last = at;
        }
    }
    return crossings > 0 ? crossings * rate / (last - first) : 0;
}

} // namespace

class TestEditedDelivery : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QString playlist(const QString &name, const QStringList &songs) { return fixtures::playlist(m_dir.path(), name, songs); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(MediaGen::missingTools().isEmpty(), qPrintable(MediaGen::missingTools().join(u' ')));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 4.2), u"-c:a"_s, u"pcm_f32le"_s, path(u"music.wav"_s) }));
    }

    // Every corpus format, edited and exported as it is (元のまま; the last
    // one as MP3): lossless songs in their own format, lossy ones as new MP3s;
    // ffmpeg decodes each
    // to exactly the plan's frames, at the delivered rate, and the length the
    // set list shows is within a millisecond of it.
    void exportedLengths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encoding");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("exported");
        const QString cut = u"#KORVANDA-EDIT:start=0.400;end=3.650;fadein=0.300;fadeout=1.000;cut=1.500-2.110\n"_s;
        QTest::newRow("MP3 CBR") << u"cbr.mp3"_s << QStringList{ u"-b:a"_s, u"192k"_s } << cut << u"01 cbr.mp3"_s;
        QTest::newRow("MP3 VBR") << u"vbr.mp3"_s << QStringList{ u"-q:a"_s, u"4"_s } << cut << u"01 vbr.mp3"_s;
        QTest::newRow("M4A") << u"aac.m4a"_s << QStringList{ u"-c:a"_s, u"aac"_s } << cut << u"01 aac.mp3"_s;
        QTest::newRow("FLAC 48 kHz") << u"hi.flac"_s << QStringList{ u"-ar"_s, u"48000"_s } << cut << u"01 hi.flac"_s;
        QTest::newRow("WAV") << u"plain.wav"_s << QStringList{ u"-c:a"_s, u"pcm_s16le"_s } << cut << u"01 plain.wav"_s;
        QTest::newRow("Ogg") << u"vorbis.ogg"_s << QStringList{ u"-c:a"_s, u"libvorbis"_s } << cut << u"01 vorbis.mp3"_s;
        QTest::newRow("VLC start and stop only, as MP3") << u"vlc.wav"_s << QStringList{ u"-c:a"_s, u"pcm_s16le"_s }
                                                         << u"#EXTVLCOPT:start-time=1.25\n#EXTVLCOPT:stop-time=3.5\n"_s
                                                         << u"01 vlc.mp3"_s;
    }
    void exportedLengths()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encoding);
        QFETCH(QString, lines);
        QFETCH(QString, exported);
        QVERIFY(MediaGen::ffmpeg(QStringList{ u"-i"_s, path(u"music.wav"_s) } + encoding + QStringList{ path(name) }));
        const QString set = QFileInfo(name).completeBaseName();
        const QStringList format = exported.endsWith(u".mp3"_s) && name.endsWith(u".wav"_s) ? QStringList{ u"--format"_s, u"mp3"_s } : QStringList{};
        const CommandLineRun run = CommandLineRun::of(QStringList{ u"--export"_s, path(u"out"_s) } + format + QStringList{ playlist(set, { lines + name }) });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        const QString file = path(u"out/"_s + set + u'/' + exported);
        QVERIFY2(QFileInfo::exists(file), qPrintable(QDir(path(u"out/"_s + set)).entryList().join(u' ')));

        const int rate = rateOf(file);
        QCOMPARE(rate, name.endsWith(u".flac"_s) ? 48000 : 44100);
        // The plan laid on the song as ffmpeg decodes it, at the delivered rate.
        QByteArray out;
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(name), u"-ar"_s, QString::number(rate), u"-f"_s, u"f32le"_s, u"-ac"_s, u"2"_s, u"-"_s }, &out));
        const qint64 sourceFrames = out.size() / 8;
        const std::optional<SongEdits> edits = lines.startsWith(u"#KORVANDA"_s)
            ? SongEdits::fromText(QStringView(lines).mid(15).trimmed())
            : SongEdits::fromText(u"start=1.25;end=3.5"_s);
        QVERIFY(edits);
        const EditPlan plan(*edits, sourceFrames, rate);
        QCOMPARE(frames(file), plan.outputFrames());
        const qint64 shownMs = edits->editedMs(qint64(std::llround(sourceFrames * 1000.0 / rate)));
        QVERIFY(std::abs(double(shownMs) - plan.outputFrames() * 1000.0 / rate) <= 1.0);
        // The set list text says how long the edited song lasts.
        QVERIFY2(run.out.contains(u"（00:00:0"_s), qPrintable(run.out));
    }

    // Key +2 and tempo 90 %: a 440 Hz tone comes out at 493.88 Hz within a
    // cent, as long as the tempo makes it to the sample, both channels alike
    // (their sum does not cancel).
    void keyAndTempo()
    {
        if (!OfflineStretch::available())
            QSKIP("this build has no Rubber Band: key and tempo edits are refused");
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=440:sample_rate=44100:duration=2.5"_s,
                                   u"-ac"_s, u"2"_s, u"-c:a"_s, u"pcm_s16le"_s, path(u"a440.wav"_s) }));
        const CommandLineRun run = CommandLineRun::of(
            { u"--export"_s, path(u"key"_s), playlist(u"key"_s, { u"#KORVANDA-EDIT:key=2;tempo=90\na440.wav"_s }) });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        const std::vector<float> got = decoded(path(u"key/key/01 a440.wav"_s));
        QCOMPARE(qint64(got.size() / 2), qint64(std::llround(110250 / 0.9)));
        const double cents = 1200 * std::log2(frequency(got, 44100) / (440 * std::pow(2.0, 2 / 12.0)));
        QVERIFY2(std::abs(cents) < 1, qPrintable(QString::number(cents)));
        double left = 0, sum = 0;
        for (size_t i = got.size() / 5 & ~size_t(1); i < got.size() * 4 / 5; i += 2) {
            left += double(got[i]) * got[i];
            sum += (double(got[i]) + got[i + 1]) * (double(got[i]) + got[i + 1]) / 4;
        }
        QVERIFY2(sum > 0.95 * left, qPrintable(u"%1 %2"_s.arg(sum).arg(left)));
    }

    // An MP3 whose edits its frames can carry stays an MP3 without being
    // encoded again: decoded gapless by ffmpeg it lasts exactly the edited
    // length, every sample outside the fade is the source's own, the 2 s fade
    // is no further from the ideal one than a 1.5 dB staircase is, and every
    // frame checksum holds.
    void losslessMp3_data()
    {
        QTest::addColumn<QStringList>("lame");
        QTest::addColumn<QString>("edits");
        QTest::newRow("CBR with checksums, start and fade-out") << QStringList{ u"-b"_s, u"192"_s, u"-p"_s } << u"start=0.731;fadeout=2"_s;
        QTest::newRow("VBR, end and fade-in") << QStringList{ u"-V"_s, u"2"_s } << u"start=0.050;end=3.517;fadein=2"_s;
        QTest::newRow("ffmpeg's own tag, start and end") << QStringList{ u"ffmpeg"_s, u"-q:a"_s, u"5"_s } << u"start=1.003;end=2.9"_s;
    }
    void losslessMp3()
    {
        QFETCH(QStringList, lame);
        QFETCH(QString, edits);
        const QString wav = path(u"lossless.wav"_s), mp3 = path(u"lossless.mp3"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-c:a"_s, u"pcm_s16le"_s, wav }));
        if (lame.first() == u"ffmpeg"_s)
            QVERIFY(MediaGen::ffmpeg(QStringList{ u"-i"_s, wav } + lame.mid(1) + QStringList{ mp3 }));
        else
            QVERIFY(MediaGen::run(u"lame"_s, QStringList{ u"--quiet"_s } + lame + QStringList{ wav, mp3 }));
        const CommandLineRun run = CommandLineRun::of(
            { u"--export"_s, path(u"kept"_s), playlist(u"kept"_s, { u"#KORVANDA-EDIT:"_s + edits + u"\nlossless.mp3"_s }) });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        QVERIFY(ExportShaping::staysLossless(mp3, *SongEdits::fromText(edits), 4200, ExportFormat::Format::Original));
        const QString file = path(u"kept/kept/01 lossless.mp3"_s);
        QByteArray errors;
        MediaGen::run(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"error"_s, u"-err_detect"_s, u"crccheck+bitstream"_s, u"-i"_s, file,
                                     u"-f"_s, u"null"_s, u"-"_s }, &errors, 60000, true);
        QCOMPARE(errors, QByteArray());

        const std::vector<float> source = decoded(mp3), got = decoded(file);
        const SongEdits e = *SongEdits::fromText(edits);
        const EditPlan plan(e, qint64(source.size() / 2), 44100);
        QCOMPARE(qint64(got.size() / 2), plan.outputFrames());
        const qint64 from = plan.kept().front().from;
        double exact = 0, fadeError = 0, stairError = 0, fadeSignal = 0;
        for (qint64 j = 0; j < plan.outputFrames(); ++j) {
            const double gain = plan.fadeGain(j);
            // The ideal fade rounded to 1.5 dB steps.
            const double stair = gain > 0 ? std::pow(10.0, std::round(20 * std::log10(gain) / 1.5051) * 1.5051 / 20) : 0;
            for (int c = 0; c < 2; ++c) {
                const double want = source[size_t(2 * (from + j) + c)], have = got[size_t(2 * j + c)];
                if (gain >= 1) {
                    exact = std::max(exact, std::abs(have - want));
                } else {
                    fadeError += (have - want * gain) * (have - want * gain);
                    stairError += (want * stair - want * gain) * (want * stair - want * gain);
                    fadeSignal += want * gain * want * gain;
                }
            }
        }
        QVERIFY2(exact < 1e-6, qPrintable(QString::number(exact)));
        const double fadeDb = 10 * std::log10(fadeError / fadeSignal), stairDb = 10 * std::log10(stairError / fadeSignal);
        QVERIFY2(fadeSignal == 0 || fadeDb < stairDb + 3, qPrintable(u"fade %1 dB, staircase %2 dB"_s.arg(fadeDb).arg(stairDb)));
    }

    // An MP3 without the header that tells a decoder which samples are the song
    // cannot have its frames cut: the row says it is made anew, the room check
    // counts the new encoding, and the file written fits the room reserved.
    void mp3WithoutGaplessHeader()
    {
        const QString wav = path(u"bare.wav"_s), mp3 = path(u"bare.mp3"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"music.wav"_s), u"-c:a"_s, u"pcm_s16le"_s, wav }));
        QVERIFY(MediaGen::run(u"lame"_s, { u"--quiet"_s, u"-t"_s, u"-b"_s, u"96"_s, wav, mp3 }));
        const SongEdits e = *SongEdits::fromText(u"start=0.5;end=3.5"_s);
        QVERIFY(!ExportShaping::staysLossless(mp3, e, 4200, ExportFormat::Format::Original));
        ExportPlan plan = planExport({ { 1, u"01"_s, mp3, e, u"00:00:03"_s } }, path(u"bare"_s), u"bare"_s, u'/');
        ExportShaping::shape(plan, ExportFormat::Format::Original, std::nullopt, {});
        QCOMPARE(plan.items[0].conversion.kind, SongConversion::Kind::ToMp3);
        const CommandLineRun run = CommandLineRun::of(
            { u"--export"_s, path(u"bare"_s), playlist(u"bare"_s, { u"#KORVANDA-EDIT:start=0.5;end=3.5\nbare.mp3"_s }) });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        const qint64 written = QFileInfo(path(u"bare/bare/01 bare.mp3"_s)).size();
        QVERIFY2(written > QFileInfo(mp3).size() && written <= plan.items[0].expectedBytes,
                 qPrintable(u"%1 of %2 bytes"_s.arg(written).arg(plan.items[0].expectedBytes)));
        QCOMPARE(frames(path(u"bare/bare/01 bare.mp3"_s)), 3 * 44100);
    }

    // The CD image of an edited set: each track, found by the cue sheet and
    // its sector padding of digital silence, lasts the plan's frames exactly;
    // the song without edits is as it was. A song changed since its edits
    // were made is named.
    void cdImage()
    {
        // A constant offset keeps every sample off zero, so the end of each
        // track's sound shows where its padding starts.
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=0.3+0.2*sin(2*PI*330*t):s=44100:d=5.5"_s,
                                   u"-ac"_s, u"2"_s, u"-c:a"_s, u"pcm_s16le"_s, path(u"cd-a.wav"_s) }));
        QVERIFY(MediaGen::ffmpeg({ u"-i"_s, path(u"cd-a.wav"_s), u"-q:a"_s, u"3"_s, path(u"cd-b.mp3"_s) }));
        // Its stamp says the file changed since: the edits stay, the user is told.
        const SongEdits a = *SongEdits::fromText(u"start=0.3;end=5.2;cut=1-1.4;file=1@0"_s);
        const SongEdits b = *SongEdits::fromText(u"start=0.12;end=4.9;fadein=0.5"_s);
        const QString list = playlist(u"cd"_s, { u"#KORVANDA-EDIT:"_s + a.toText() + u"\ncd-a.wav"_s, u"cd-a.wav"_s,
                                                 u"#KORVANDA-EDIT:"_s + b.toText() + u"\ncd-b.mp3"_s });
        const CommandLineRun run = CommandLineRun::of({ u"--cd-image"_s, path(u"cd.cue"_s), u"--gap"_s, u"0"_s, list });
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        QVERIFY2(run.out.contains(u"「cd-a」は編集したあとでファイルが変わっています"_s), qPrintable(run.out));
        const QByteArray bin = fixtures::contents(path(u"cd.bin"_s));
        const QString cue = QString::fromUtf8(fixtures::contents(path(u"cd.cue"_s)));
        QList<qint64> starts; // in frames
        for (const QRegularExpressionMatch &m : QRegularExpression(u"INDEX 01 (\\d+):(\\d+):(\\d+)"_s).globalMatch(cue))
            starts << ((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 75 + m.captured(3).toLongLong()) * 588;
        starts << bin.size() / 4;
        QCOMPARE(starts.size(), 4);
        const auto *pcm = reinterpret_cast<const qint32 *>(bin.constData());
        QList<qint64> sounding;
        for (qsizetype t = 0; t + 1 < starts.size(); ++t) {
            qint64 end = starts[t + 1];
            while (end > starts[t] && pcm[end - 1] == 0)
                --end;
            sounding << end - starts[t];
        }
        const qint64 aFrames = frames(path(u"cd-a.wav"_s));
        QCOMPARE(sounding[0], EditPlan(a, aFrames, 44100).outputFrames());
        QCOMPARE(sounding[1], aFrames);
        QCOMPARE(sounding[2], EditPlan(b, frames(path(u"cd-b.mp3"_s)), 44100).outputFrames());
    }
};

QTEST_GUILESS_MAIN(TestEditedDelivery)
#include "tst_editeddelivery.moc"
