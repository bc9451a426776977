// The length probe on generated media: every kind of the corpus against a full
// decode, exact frame counts, damaged and tagged streams, and entries that must
// probe as nothing without hanging.
#include "platform/media/ac3framecounter.h"
#include "platform/media/mediafilewindow.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "platform/media/mpegframecounter.h"
#include "support/fixtures.h"
#include "support/mediagen.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using fixtures::contents;
using fixtures::writeFile;

namespace {

bool encodeSine(const QString &file, double seconds, int rate, const QStringList &codec)
{
    const QString sine = u"sine=frequency=880:sample_rate=%1:duration=%2"_s.arg(rate).arg(seconds, 0, 'f', 3);
    return MediaGen::run(u"ffmpeg"_s, QStringList{ u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s,
                                                   u"-i"_s, sine } + codec + QStringList{ file });
}

// What the frame counter the probe would pick counts, or nothing when the file
// does not start with chained frames of its kind.
std::optional<double> counted(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    MediaFileWindow window(f.handle(), f.size());
    if (file.endsWith(u"ac3"_s))
        return Ac3FrameCounter::startsWithAc3(window) ? Ac3FrameCounter::exactLengthMs(window) : std::nullopt;
    MpegFrameCounter counter(window);
    return counter.chainedStart() ? counter.exactLengthMs() : std::nullopt;
}

} // namespace

class TestMediaProbe : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(u"media tools missing: "_s + missing.join(u", "_s)));
    }

    void accuracy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("seconds");
        // Just short of a whole second, where one frame too many shows the next one.
        for (const MediaGen::Kind &k : MediaGen::corpusKinds())
            QTest::addRow("%s", qPrintable(k.name)) << k.name << k.extension << 4.93;
        QTest::addRow("ac3 within a frame of 6 s") << u"ac3"_s << u"ac3"_s << 5.99;
        QTest::addRow("mp2 within a frame of 6 s") << u"mp2"_s << u"mp2"_s << 5.99;
    }
    void accuracy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, extension);
        QFETCH(double, seconds);
        QTemporaryDir dir(m_dir.filePath(u"acc-XXXXXX"_s));
        const auto file = MediaGen::corpusFile(dir.path(), { kind, extension }, seconds);
        if (!file && kind == "wma"_L1)
            QSKIP("this ffmpeg cannot write WMA");
        QVERIFY(file);
        const auto decoded = MediaGen::decodedLengthMs(*file);
        const auto probed = MediaProbe::lengthMs(*file);
        QVERIFY(decoded && probed);
        QVERIFY2(MediaGen::sameShownLength(*probed, *decoded), qPrintable(u"probed %1, decoded %2"_s.arg(*probed).arg(*decoded)));
    }

    void frameCounts_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("bitrate");
        // AC-3 frame sizes come from a table by rate and size code: its first and last rows at
        // every rate (44.1 kHz alternates padded sizes). Layer II in MPEG 1 and MPEG 2 rates.
        for (int rate : { 48000, 44100, 32000 })
            for (const char *bitrate : { "32k", "640k" })
                QTest::addRow("ac3 %d %s", rate, bitrate) << u"ac3"_s << rate << QString::fromLatin1(bitrate);
        QTest::addRow("e-ac3") << u"eac3"_s << 48000 << u"192k"_s;
        for (int rate : { 44100, 22050 })
            QTest::addRow("mp2 %d", rate) << u"mp2"_s << rate << u"128k"_s;
    }
    void frameCounts()
    {
        QFETCH(QString, extension);
        QFETCH(int, rate);
        QFETCH(QString, bitrate);
        const QString file = m_dir.filePath(u"frames-%1-%2.%3"_s.arg(rate).arg(bitrate, extension));
        QVERIFY(encodeSine(file, 4.37, rate, { u"-c:a"_s, extension, u"-b:a"_s, bitrate }));
        const auto decoded = MediaGen::decodedLengthMs(file);
        const auto frames = counted(file);
        QVERIFY(decoded && frames);
        QVERIFY2(qAbs(*frames - *decoded) < 0.1, qPrintable(u"counted %1, decoded %2"_s.arg(*frames).arg(*decoded)));
    }

    void mp3WithoutTrustworthyHeaders()
    {
        // VBR without a Xing header is what header estimates get wrong; with one,
        // cut to a third, the header's byte count no longer fits: both are counted.
        QTemporaryDir dir(m_dir.filePath(u"mp3-XXXXXX"_s));
        for (const QString &kind : { u"mp3-vbr-plain"_s, u"mp3-vbr-xing"_s }) {
            const auto file = MediaGen::corpusFile(dir.path(), { kind, u"mp3"_s }, 9.0);
            QVERIFY(file);
            const QByteArray clean = contents(*file);
            const QByteArray id3v2 = "ID3\x03\x00\x00\x00\x00\x04\x00"_ba + QByteArray(512, '\0');
            const qsizetype mid = clean.size() / 2;
            QVERIFY(writeFile(*file + u"-tagged.mp3"_s, id3v2 + id3v2 + clean.left(mid) + id3v2 + clean.mid(mid)
                                                            + "APETAGEX\xD0\x07\x00\x00\x20"_ba + QByteArray(23, '\0')
                                                            + "TAG"_ba + QByteArray(125, 'x')));
            const double tagged = MediaProbe::lengthMs(*file + u"-tagged.mp3"_s).value_or(0);
            QVERIFY2(tagged > 8970 && tagged < 9100, qPrintable(QString::number(tagged)));
            QVERIFY(writeFile(*file + u"-cut.mp3"_s, clean.left(clean.size() / 3)));
            const double cut = MediaProbe::lengthMs(*file + u"-cut.mp3"_s).value_or(0);
            QVERIFY2(cut > 2000 && cut < 4000, qPrintable(QString::number(cut)));
        }
    }

    void nothingToProbe_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : { "missing.mp3", "empty.mp3", "noise.mp3", "stub.flac", "Disc.001", "pipe.mp3",
                                  "loop.mp3", "dev.mp3", "topipe.mp3" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void nothingToProbe()
    {
        QFETCH(QString, name);
        QTemporaryDir dir(m_dir.filePath(u"bad-XXXXXX"_s));
        const QString p = dir.filePath(name);
        const QString fifo = dir.filePath(u"fifo"_s);
        QByteArray noise(200000, '\0');
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        if (name == "empty.mp3"_L1 || name == "noise.mp3"_L1 || name == "stub.flac"_L1)
            QVERIFY(writeFile(p, name == "empty.mp3"_L1 ? QByteArray() : name == "noise.mp3"_L1 ? noise : "fLaC\0\0\0\x22"_ba));
        if (name == "Disc.001"_L1)
            QVERIFY(QDir(dir.path()).mkdir(name));
        if (name == "pipe.mp3"_L1 || name == "topipe.mp3"_L1) // opening a FIFO without a writer would block
            QCOMPARE(::mkfifo(QFile::encodeName(name == "pipe.mp3"_L1 ? p : fifo).constData(), 0600), 0);
        if (name == "topipe.mp3"_L1 || name == "dev.mp3"_L1)
            QVERIFY(QFile::link(name == "dev.mp3"_L1 ? u"/dev/zero"_s : fifo, p));
        if (name == "loop.mp3"_L1)
            QVERIFY(QFile::link(p, p));
        QCOMPARE(MediaProbe::lengthMs(p), std::nullopt);
        MediaService service;
        QCOMPARE(GetPlayLength(service, p), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestMediaProbe)
#include "tst_mediaprobe.moc"
