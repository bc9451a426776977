// A song's outline: where a sound lies in it at every level and width of column,
// against where ffmpeg decodes it; kept on disk and found again, made anew for a
// file changed in place, and never read from bytes it did not write.
#include "model/peaks.h"
#include "model/songedits.h"
#include "platform/audio/peaks/peakscan.h"
#include "platform/audio/peaks/zerocrossing.h"
#include "support/mediagen.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A quiet song with one full-scale click on its left channel at `at` seconds.
bool clickAt(const QString &path, double at, const QString &encoding = {})
{
    QStringList args{ u"-f"_s, u"lavfi"_s, u"-i"_s,
                      u"aevalsrc=if(eq(n\\,%1)\\,0.9\\,0.001*sin(2*PI*440*t))|0.001*sin(2*PI*440*t):s=44100:d=6"_s.arg(qint64(at * 44100)) };
    if (!encoding.isEmpty())
        args << u"-c:a"_s << encoding;
    return MediaGen::ffmpeg(args + QStringList{ path });
}

// The first frame at which ffmpeg's own decode of the left channel reaches 0.5.
qint64 loudestFrame(const QString &path)
{
    QByteArray out;
    MediaGen::ffmpeg({ u"-i"_s, path, u"-f"_s, u"f32le"_s, u"-ac"_s, u"2"_s, u"-"_s }, &out);
    const auto *s = reinterpret_cast<const float *>(out.constData());
    for (qint64 i = 0; i < out.size() / 8; ++i)
        if (std::abs(s[2 * i]) >= 0.5f)
            return i;
    return -1;
}

Peaks outline(const QString &path, const QString &root, bool *kept = nullptr)
{
    PeakScan scan(path, root);
    QSignalSpy finished(&scan, &PeakScan::finished);
    if (!finished.wait(30000))
        return {};
    if (kept)
        *kept = scan.wasKept();
    return scan.peaks();
}

} // namespace

class TestPeaks : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(MediaGen::missingTools().isEmpty(), qPrintable(MediaGen::missingTools().join(u' ')));
    }

    // The click shows in the column that holds its frame, and in no other, for
    // columns from a few frames to a tenth of the song, fine and coarse.
    void aClickLandsInItsColumn_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoding");
        QTest::newRow("wav") << u"click.wav"_s << QString();
        QTest::newRow("flac") << u"click.flac"_s << QString();
        QTest::newRow("mp3") << u"click.mp3"_s << u"libmp3lame"_s;
    }
    void aClickLandsInItsColumn()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoding);
        const QString song = dir.filePath(name);
        QVERIFY(clickAt(song, 2.345, encoding));
        const qint64 at = loudestFrame(song);
        QVERIFY(at > 0);
        const Peaks peaks = outline(song, dir.filePath(u"store"_s));
        QVERIFY(peaks.isComplete() && peaks.channels() == 2 && peaks.rate() == 44100);
        QVERIFY2(std::abs(peaks.frames() - 6 * 44100) <= 1, qPrintable(QString::number(peaks.frames())));
        for (const qint64 width : { qint64(300), qint64(4096), qint64(2 * Peaks::CoarseFrames), peaks.frames() / 10 }) {
            // The column the click's frame falls in, as a drawing of this width would cut them.
            const qint64 column = at / width;
            // (A point may reach into the next column; the ones beyond hold nothing of it.)
            for (qint64 c = qMax<qint64>(0, column - 3); c <= column + 3; ++c) {
                const float max = peaks.span(0, c * width, (c + 1) * width).max;
                QVERIFY2(c == column ? max >= 0.5f : std::abs(c - column) < 2 || max < 0.1f,
                         qPrintable(u"width %1, column %2: %3"_s.arg(width).arg(c).arg(max)));
            }
            QVERIFY(peaks.span(1, column * width, (column + 1) * width).max < 0.1f);
        }
        // The fine points themselves: the click's point and its neighbours.
        QVERIFY(peaks.span(0, at, at + 1).max >= 0.5f);
        QVERIFY(peaks.span(0, at - at % Peaks::FineFrames - 2 * Peaks::FineFrames, at - at % Peaks::FineFrames).max < 0.1f);
    }

    // Kept by the file's identity: the same file again comes from disk; the file
    // rewritten in place with the click elsewhere is outlined anew.
    void keptAndMadeAnew()
    {
        const QString song = dir.filePath(u"kept.wav"_s), root = dir.filePath(u"kept-store"_s);
        QVERIFY(clickAt(song, 1.0));
        bool kept = true;
        QVERIFY(outline(song, root, &kept).span(0, 44100 - 512, 44100 + 512).max >= 0.5f && !kept);
        QVERIFY(outline(song, root, &kept).span(0, 44100 - 512, 44100 + 512).max >= 0.5f && kept);
        QVERIFY(clickAt(dir.filePath(u"moved.wav"_s), 4.0));
        {
            QFile source(dir.filePath(u"moved.wav"_s)), target(song);
            QVERIFY(source.open(QIODevice::ReadOnly) && target.open(QIODevice::ReadWrite));
            QVERIFY(target.write(source.readAll()) > 0); // in place: same inode and size
        }
        const Peaks again = outline(song, root, &kept);
        QVERIFY(!kept && again.span(0, 44100 - 512, 44100 + 512).max < 0.1f && again.span(0, 4 * 44100 - 512, 4 * 44100 + 512).max >= 0.5f);
    }

    // Drawn as heard: a click after a cut lands in the column of its place in the
    // edited song, one inside the cut nowhere, one in the fade-out at the fade's level.
    void columnsOfTheSongAsEdited()
    {
        // At 1 kHz a frame is a millisecond.
        std::vector<float> samples(2 * 100'000, 0.0f);
        for (const qint64 at : { 25'000, 60'000, 95'000 })
            samples[size_t(2 * at)] = 0.9f;
        Peaks peaks(2, 1000);
        peaks.add(samples.data(), 100'000);
        peaks.finish();
        SongEdits edits;
        edits.startMs = 10'000;
        edits.cuts = { { 20'000, 30'000 } };
        edits.fadeOutMs = 10'000;
        const EditPlan plan(edits, 100'000, 1000);
        QCOMPARE(plan.outputFrames(), 80'000);
        const std::vector<Peaks::Point> columns = peaks.columns(80, &plan);
        QVERIFY(columns[40].max >= 0.85f); // 60 s less the 10 s start and the 10 s cut
        QVERIFY(std::abs(columns[75].max - 0.45f) < 0.06f); // halfway down the fade
        for (int c = 0; c < 80; ++c)
            if (std::abs(c - 40) > 1 && std::abs(c - 75) > 1)
                QVERIFY2(columns[size_t(c)].max < 0.01f, qPrintable(QString::number(c)));
        // Without a plan, the song as it is.
        QVERIFY(peaks.columns(100).at(25).max >= 0.85f && peaks.columns(100).at(60).max >= 0.85f);
    }

    // Snapping finds the millisecond nearest a zero crossing of a sine, and
    // leaves a point over silence where it was.
    void snapsToAZeroCrossing()
    {
        const QString sine = dir.filePath(u"sine.wav"_s), quiet = dir.filePath(u"quiet.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=0.5*sin(2*PI*440*t):s=44100:d=3"_s, u"-ac"_s, u"2"_s, sine }));
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=0:s=44100:d=3"_s, u"-ac"_s, u"2"_s, quiet }));
        for (const qint64 at : { qint64(777), qint64(1234), qint64(1999) }) {
            const qint64 snapped = ZeroCrossing::snap(sine, at);
            QVERIFY2(std::abs(snapped - at) <= 10, qPrintable(QString::number(snapped)));
            const double level = std::abs(0.5 * std::sin(2 * M_PI * 440 * double(snapped * 44100 / 1000) / 44100.0));
            QVERIFY2(level < 0.06, qPrintable(u"%1 ms -> %2 ms: %3"_s.arg(at).arg(snapped).arg(level)));
        }
        QCOMPARE(ZeroCrossing::snap(quiet, 1234), 1234);
        QCOMPARE(ZeroCrossing::snap(dir.filePath(u"none.wav"_s), 1234), 1234);
    }

    // Bytes it did not write, or cut short, or with counts that do not fit, give no outline.
    void damagedBytesReadNothing()
    {
        Peaks peaks(2, 44100);
        std::vector<float> samples(2 * 100'000, 0.25f);
        peaks.add(samples.data(), 100'000);
        peaks.finish();
        const QByteArray bytes = peaks.toBytes();
        const auto again = Peaks::fromBytes(bytes);
        QVERIFY(again && again->frames() == 100'000 && again->isComplete());
        QCOMPARE(again->span(1, 0, 100'000).max, peaks.span(1, 0, 100'000).max);
        QVERIFY(!Peaks::fromBytes(bytes.left(bytes.size() - 1)));
        QVERIFY(!Peaks::fromBytes("korvanda-peaks 1" + QByteArray(40, '\xff')));
        QVERIFY(!Peaks::fromBytes(QByteArray("RIFF") + bytes));
        QByteArray longer = bytes;
        longer[16 + 4 + 4 + 5] = '\x7f'; // more frames than points
        QVERIFY(!Peaks::fromBytes(longer));
    }
};

QTEST_GUILESS_MAIN(TestPeaks)
#include "tst_peaks.moc"
