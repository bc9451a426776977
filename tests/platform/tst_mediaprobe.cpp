// The length probe on generated media: every kind of the corpus against a full
// decode, exact frame counts, damaged and tagged streams, and entries that must
// probe as nothing without hanging.
#include "platform/media/mediafilewindow.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mpegframecounter.h"
#include "platform/media/mediaservice.h"
#include "support/fixtures.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using fixtures::contents, fixtures::writeFile;
using Make = std::function<bool(const QString &path)>;

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
        // Just short of a whole second, where one frame too many shows the next one, and long
        // enough that the head and tail the probe holds lie far apart.
        for (const MediaGen::Kind &k : MediaGen::corpusKinds())
            QTest::addRow("%s", qPrintable(k.name)) << k.name << k.extension << 44.93;
        QTest::addRow("ac3 within a frame of 6 s") << u"ac3"_s << u"ac3"_s << 5.99;
        QTest::addRow("mp2 within a frame of 6 s") << u"mp2"_s << u"mp2"_s << 5.99;
    }
    void accuracy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, extension);
        QFETCH(double, seconds);
        const auto file = MediaGen::corpusFile(m_dir.path(), { kind, extension }, seconds);
        if (!file && kind == "wma"_L1)
            QSKIP("this ffmpeg cannot write WMA");
        QVERIFY(file);
        // Plain doubles: GCC's optimiser does not see that QVERIFY returned on an empty optional
        // and warns about reading one.
        const double decodedMs = MediaGen::decodedLengthMs(*file).value_or(-1), probedMs = MediaProbe::lengthMs(*file).value_or(-1);
        QVERIFY(decodedMs > 0 && probedMs > 0);
        // Reading through the held head and tail gives the very figure the libraries give
        // reading the file themselves.
        if (seconds > 40)
            QVERIFY(QFileInfo(*file).size() > MediaFileWindow::HeadBytes + MediaFileWindow::TailBytes
                    && probedMs == MediaProbe::lengthMs(*file, MediaProbe::Method::Unbuffered));
        QVERIFY2(MediaGen::sameShownLength(probedMs, decodedMs), qPrintable(u"probed %1, decoded %2"_s.arg(probedMs).arg(decodedMs)));
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
        QVERIFY(MediaGen::run(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                             u"sine=frequency=880:sample_rate=%1:duration=4.37"_s.arg(rate), u"-c:a"_s, extension, u"-b:a"_s, bitrate, file }));
        const auto decoded = MediaGen::decodedLengthMs(file), frames = MediaProbe::lengthMs(file);
        QVERIFY(decoded && frames);
        QVERIFY2(qAbs(*frames - *decoded) < 0.1, qPrintable(u"counted %1, decoded %2"_s.arg(*frames).arg(*decoded)));
    }

    void mp3WithoutTrustworthyHeaders()
    {
        // VBR without a Xing header is what header estimates get wrong; with one,
        // cut to a third, the header's byte count no longer fits: both are counted.
        const QByteArray id3v2 = "ID3\x03\x00\x00\x00\x00\x04\x00"_ba + QByteArray(512, '\0');
        for (const QString &kind : { u"mp3-vbr-plain"_s, u"mp3-vbr-xing"_s }) {
            const auto file = MediaGen::corpusFile(m_dir.path(), { kind, u"mp3"_s }, 9.0);
            QVERIFY(file);
            const QByteArray clean = contents(*file);
            QVERIFY(writeFile(*file + u"-tagged.mp3"_s, id3v2 + id3v2 + clean.left(clean.size() / 2) + id3v2 + clean.mid(clean.size() / 2)
                                                            + "APETAGEX\xD0\x07\x00\x00\x20"_ba + QByteArray(23, '\0') + "TAG"_ba + QByteArray(125, 'x')));
            QVERIFY(writeFile(*file + u"-cut.mp3"_s, clean.left(clean.size() / 3)));
            const double tagged = MediaProbe::lengthMs(*file + u"-tagged.mp3"_s).value_or(0), cut = MediaProbe::lengthMs(*file + u"-cut.mp3"_s).value_or(0);
            QVERIFY2(tagged > 8970 && tagged < 9100 && cut > 2000 && cut < 4000, qPrintable(u"%1 %2"_s.arg(tagged).arg(cut)));
        }
    }

    // MP3s whose length is found without TagLib where TagLib would look at the same first frame,
    // and one left to it: either way the figure is the one TagLib and the frame count give
    // together (the unbuffered method always asks TagLib). Tags around the frames are above.
    void mp3SameFigureWithoutTagLib_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("arrangement");
        for (const char *kind : { "mp3-vbr-plain", "mp3-vbr-cover", "mp3-cbr-plain", "mp3-vbr-xing" }) {
            QTest::addRow("%s", kind) << QString::fromLatin1(kind) << u"as encoded"_s;
        }
        // A VBR stream whose first frame holds "Info" and a frame count where no decoder looks
        // for them: TagLib takes them for a header, so the file is left to it.
        QTest::addRow("mp3-vbr-plain, stray Info header") << u"mp3-vbr-plain"_s << u"stray Info header"_s;
    }
    void mp3SameFigureWithoutTagLib()
    {
        QFETCH(QString, kind);
        QFETCH(QString, arrangement);
        const QString folder = m_dir.filePath(u"same-figure"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString encoded = folder + u'/' + kind + u".mp3"_s;
        QVERIFY((QFileInfo::exists(encoded) ? std::optional(encoded) : MediaGen::corpusFile(folder, { kind, u"mp3"_s }, 7.3)));
        QByteArray bytes = contents(encoded);
        if (arrangement == "stray Info header"_L1) {
            QVERIFY(!bytes.startsWith("ID3"));
            const auto first = MpegFrameCounter::parseHeader(quint32(uchar(bytes[0])) << 24 | quint32(uchar(bytes[1])) << 16
                                                             | quint32(uchar(bytes[2])) << 8 | uchar(bytes[3]));
            QVERIFY(first && first->frameBytes >= 64);
            QByteArray stray = "Info\x00\x00\x00\x03"_ba;
            for (const quint32 v : { 10u, quint32(bytes.size()) })
                stray += QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
            bytes.replace(first->frameBytes - 20, stray.size(), stray);
        }
        const QString file = folder + u"/arranged.mp3"_s;
        QVERIFY(writeFile(file, bytes));
        const auto best = MediaProbe::lengthMs(file), throughTagLib = MediaProbe::lengthMs(file, MediaProbe::Method::Unbuffered);
        QVERIFY(best);
        QCOMPARE(best, throughTagLib);
        if (arrangement == "stray Info header"_L1)
            QCOMPARE(qRound(*best), qRound(10 * 1152 * 1000 / 44100.0));
    }

    // Entries that are no song, or that would block or loop a reader that opens them blindly.
    void nothingToProbe_data()
    {
        QTest::addColumn<Make>("make");
        const auto fifo = [](const QString &p) { return SystemOnly::makeFifo(p); };
        QTest::newRow("missing.mp3") << Make([](const QString &) { return true; });
        QTest::newRow("empty.mp3") << Make([](const QString &p) { return writeFile(p, {}); });
        QTest::newRow("noise.mp3") << Make([](const QString &p) { return !fixtures::writeSong(QFileInfo(p).path(), QFileInfo(p).fileName(), 200000, 7).isEmpty(); });
        QTest::newRow("stub.flac") << Make([](const QString &p) { return writeFile(p, "fLaC\0\0\0\x22"_ba); });
        QTest::newRow("Disc.001") << Make([](const QString &p) { return QDir().mkdir(p); });
        QTest::newRow("pipe.mp3") << Make(fifo); // opening a FIFO without a writer would block
        QTest::newRow("loop.mp3") << Make([](const QString &p) { return QFile::link(p, p); });
        QTest::newRow("dev.mp3") << Make([](const QString &p) { return QFile::link(u"/dev/zero"_s, p); });
        QTest::newRow("topipe.mp3") << Make([fifo](const QString &p) { return fifo(p + u".fifo"_s) && QFile::link(p + u".fifo"_s, p); });
    }
    void nothingToProbe()
    {
        QFETCH(Make, make);
        if (QByteArrayView(QTest::currentDataTag()).contains("pipe"))
            SKIP_WITHOUT(SystemOnly::noFifos());
        QTemporaryDir dir(m_dir.filePath(u"bad-XXXXXX"_s));
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(make(path));
        QCOMPARE(MediaProbe::lengthMs(path), std::nullopt);
        MediaService service;
        QCOMPARE(GetPlayLength(service, path), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestMediaProbe)
#include "tst_mediaprobe.moc"
