// The length probe on real generated media: the accuracy corpus against a full decode, the
// exact MPEG and AC-3 frame counts on damaged and tagged streams, and entries that must probe
// as nothing without hanging.
#include "platform/media/ac3framecounter.h"
#include "platform/media/mediacommands.h"
#include "platform/media/mediafilewindow.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "platform/media/mpegframecounter.h"
#include "support/mediagen.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestMediaProbe : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QByteArray readAll(const QString &file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool writeAll(const QString &file, const QByteArray &bytes) const
    {
        QFile f(file);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    // A sine encoded by ffmpeg with the given codec options.
    static bool encodeSine(const QString &file, double seconds, int rate, const QStringList &codec)
    {
        const QString sine = u"sine=frequency=880:sample_rate=%1:duration=%2"_s.arg(rate).arg(seconds, 0, 'f', 3);
        return MediaGen::run(u"ffmpeg"_s, QStringList{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s,
                                                      u"-i"_s, sine} + codec + QStringList{file});
    }

    // What the frame counter that the probe would pick for this file counts, or nothing when
    // the file does not start with chained frames of its kind.
    static std::optional<double> counted(const QString &file)
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

private Q_SLOTS:
    void initTestCase()
    {
        if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(u"media tools missing: "_s + missing.join(u", "_s)));
        QVERIFY(m_dir.isValid());
    }

    void accuracy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("seconds");
        for (const MediaGen::Kind &k : MediaGen::corpusKinds()) {
            // One length a little past a whole second, one just short of the next.
            QTest::addRow("%s 3.3 s", qPrintable(k.name)) << k.name << k.extension << 3.3;
            QTest::addRow("%s 4.93 s", qPrintable(k.name)) << k.name << k.extension << 4.93;
        }
        // Frames of 32 ms (AC-3) and 26 ms (layer II) make these end within a frame of a whole
        // second, where one frame too many or too few shows another second.
        QTest::addRow("ac3 5.99 s") << u"ac3"_s << u"ac3"_s << 5.99;
        QTest::addRow("mp2 5.99 s") << u"mp2"_s << u"mp2"_s << 5.99;
    }
    void accuracy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, extension);
        QFETCH(double, seconds);
        QTemporaryDir dir(m_dir.filePath(u"acc-XXXXXX"_s));
        const auto file = MediaGen::corpusFile(dir.path(), {kind, extension}, seconds);
        if (!file && kind == "wma"_L1)
            QSKIP("this ffmpeg cannot write WMA");
        QVERIFY2(file, "could not generate the file");
        const auto decoded = MediaGen::decodedLengthMs(*file);
        QVERIFY(decoded);
        const auto probed = MediaProbe::lengthMs(*file);
        QVERIFY2(probed, "no length");
        QVERIFY2(MediaGen::sameShownLength(*probed, *decoded),
                 qPrintable(u"probed %1 ms, decoded %2 ms"_s.arg(*probed).arg(*decoded)));
    }

    void damagedAndTaggedMpeg()
    {
        // A VBR stream without a Xing header, the case header estimates get wrong.
        QTemporaryDir dir(m_dir.filePath(u"mpeg-XXXXXX"_s));
        const auto file = MediaGen::corpusFile(dir.path(), {u"mp3-vbr-plain"_s, u"mp3"_s}, 6.4);
        QVERIFY(file);
        const QByteArray clean = readAll(*file);
        const double cleanMs = MediaProbe::lengthMs(*file).value_or(0);
        QVERIFY(MediaGen::sameShownLength(cleanMs, MediaGen::decodedLengthMs(*file).value_or(-1)));

        QByteArray id3v2 = "ID3\x03\x00\x00"_ba;
        id3v2 += QByteArray("\x00\x00\x10\x00", 4); // 2048 bytes of body
        id3v2 += QByteArray(2048, '\0');
        QByteArray id3v1 = "TAG"_ba + QByteArray(125, 'x');
        QByteArray ape = "APETAGEX"_ba + QByteArray("\xD0\x07\x00\x00\x20\x00\x00\x00\x00\x00\x00\x00"
                                                     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 24);
        const qsizetype middle = clean.size() / 2;

        struct Variant {
            const char *name;
            QByteArray bytes;
            double maxLossMs = 30;
        };
        const QList<Variant> variants = {
            // Tags at the end and between the frames carry no audio.
            {"trailing ID3v1 and APE", clean + ape + id3v1},
            {"ID3v2 between frames", clean.left(middle) + id3v2 + clean.mid(middle)},
            {"two leading ID3v2 tags", id3v2 + id3v2 + clean},
            // Garbage in the middle costs the frames it replaced (3000 bytes of this stream are
            // about 15 frames) and nothing after it.
            {"garbage in the middle", clean.left(middle) + QByteArray(3000, '\xFF') + clean.mid(middle + 3000), 600},
        };
        for (const Variant &v : variants) {
            const QString damaged = dir.filePath(QString::fromLatin1(v.name) + u".mp3"_s);
            QVERIFY(writeAll(damaged, v.bytes));
            const double ms = MediaProbe::lengthMs(damaged).value_or(0);
            QVERIFY2(ms <= cleanMs + 1 && ms >= cleanMs - v.maxLossMs, qPrintable(u"%1: %2 ms, clean %3 ms"_s.arg(QString::fromLatin1(v.name)).arg(ms).arg(cleanMs)));
        }

        // Cut in half: the count follows the audio that is really there.
        const QString truncated = dir.filePath(u"half.mp3"_s);
        QVERIFY(writeAll(truncated, clean.left(middle)));
        const double half = MediaProbe::lengthMs(truncated).value_or(0);
        QVERIFY2(qAbs(half - cleanMs / 2) < 400, qPrintable(QString::number(half)));
    }

    void frameCountsMatchDecode_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("codec");
        // AC-3 frame sizes come from a table by sample rate and size code: its first, a middle
        // and its last rows at every rate. At 44.1 kHz the encoder alternates the padded sizes.
        for (int rate : {48000, 44100, 32000}) {
            for (const char *bitrate : {"32k", "192k", "640k"})
                QTest::addRow("ac3 %d Hz %s", rate, bitrate) << u"ac3"_s << rate << QStringList{u"-c:a"_s, u"ac3"_s, u"-b:a"_s, QString::fromLatin1(bitrate)};
        }
        QTest::addRow("e-ac3 48000 Hz") << u"eac3"_s << 48000 << QStringList{u"-c:a"_s, u"eac3"_s};
        QTest::addRow("e-ac3 32000 Hz") << u"eac3"_s << 32000 << QStringList{u"-c:a"_s, u"eac3"_s, u"-b:a"_s, u"96k"_s};
        // Layer II: MPEG 1 rates and the half rates of MPEG 2, whose frames are sized differently.
        for (int rate : {48000, 44100, 32000, 22050, 16000})
            QTest::addRow("mp2 %d Hz", rate) << u"mp2"_s << rate << QStringList{u"-c:a"_s, u"mp2"_s};
    }
    void frameCountsMatchDecode()
    {
        QFETCH(QString, extension);
        QFETCH(int, rate);
        QFETCH(QStringList, codec);
        QTemporaryDir dir(m_dir.filePath(u"frames-XXXXXX"_s));
        const QString file = dir.filePath(u"song."_s + extension);
        QVERIFY(encodeSine(file, 4.37, rate, codec));
        const auto decoded = MediaGen::decodedLengthMs(file);
        QVERIFY(decoded);
        const auto frames = counted(file);
        QVERIFY2(frames, "not taken for chained frames");
        // The decode is resampled to 48 kHz: equal within a sample.
        QVERIFY2(qAbs(*frames - *decoded) < 0.1, qPrintable(u"counted %1 ms, decoded %2 ms"_s.arg(*frames).arg(*decoded)));
        QVERIFY(MediaGen::sameShownLength(MediaProbe::lengthMs(file).value_or(0), *decoded));
    }

    void damagedAc3AndLayerII_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("ac3") << u"ac3"_s;
        QTest::newRow("mp2") << u"mp2"_s;
    }
    void damagedAc3AndLayerII()
    {
        QFETCH(QString, extension);
        QTemporaryDir dir(m_dir.filePath(u"damaged-XXXXXX"_s));
        const QString file = dir.filePath(u"clean."_s + extension);
        QVERIFY(encodeSine(file, 8.0, 48000, {u"-c:a"_s, extension, u"-b:a"_s, u"192k"_s}));
        const QByteArray clean = readAll(file);
        const double cleanMs = counted(file).value_or(0);
        QVERIFY(cleanMs > 7900);
        const qsizetype middle = clean.size() / 2;
        QByteArray id3v2 = "ID3\x03\x00\x00"_ba + QByteArray("\x00\x00\x04\x00", 4) + QByteArray(512, '\0');
        const QByteArray id3v1 = "TAG"_ba + QByteArray(125, 'x');

        struct Variant {
            const char *name;
            QByteArray bytes;
            double minMs, maxMs;
        };
        const QList<Variant> variants = {
            // Tags around the stream carry no audio.
            {"tagged", id3v2 + clean + id3v1, cleanMs, cleanMs},
            // Garbage costs the frames it overwrote (4000 bytes: 5 or 6 frames) and nothing
            // after it; sync words inside it must not be taken for frames.
            {"garbage", clean.left(middle) + QByteArray(4000, '\x0B') + clean.mid(middle + 4000), cleanMs - 200, cleanMs - 100},
            {"sync words", clean.left(middle) + QByteArray("\x0B\x77\x00\x00\x14\x40\x00", 7).repeated(250)
                               + QByteArray("\xFF\xFD\x80\x00\x00\x00\x00", 7).repeated(321) + clean.mid(middle + 4000),
             cleanMs - 200, cleanMs - 100},
            // Cut in the middle of a frame: the partial frame is no frame.
            {"truncated", clean.left(middle + 100), 0, 0},
        };
        for (const Variant &v : variants) {
            const QString damaged = dir.filePath(QString::fromLatin1(v.name) + u'.' + extension);
            QVERIFY(writeAll(damaged, v.bytes));
            const double ms = MediaProbe::lengthMs(damaged).value_or(0);
            if (v.maxMs > 0) {
                QVERIFY2(ms >= v.minMs && ms <= v.maxMs,
                         qPrintable(u"%1: %2 ms, clean %3 ms"_s.arg(QString::fromLatin1(v.name)).arg(ms).arg(cleanMs)));
            } else {
                const auto decoded = MediaGen::decodedLengthMs(damaged);
                QVERIFY(decoded);
                QVERIFY2(ms > cleanMs / 2 - 100 && qAbs(ms - *decoded) < 0.1,
                         qPrintable(u"%1: %2 ms, decoded %3 ms"_s.arg(QString::fromLatin1(v.name)).arg(ms).arg(*decoded)));
            }
        }
    }

    void xingHeaderThatLies()
    {
        // A file with a Xing header, cut to a third: the header's byte count no longer fits the
        // audio, so the frames are counted instead of trusted.
        QTemporaryDir dir(m_dir.filePath(u"xing-XXXXXX"_s));
        const auto file = MediaGen::corpusFile(dir.path(), {u"mp3-vbr-xing"_s, u"mp3"_s}, 9.0);
        QVERIFY(file);
        const QByteArray clean = readAll(*file);
        const QString cut = dir.filePath(u"cut.mp3"_s);
        QVERIFY(writeAll(cut, clean.left(clean.size() / 3)));
        const double ms = MediaProbe::lengthMs(cut).value_or(0);
        QVERIFY2(ms > 2000 && ms < 4000, qPrintable(QString::number(ms)));
    }

    void nothingToProbe_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << u"missing.mp3"_s;
        QTest::newRow("zero bytes") << u"empty.mp3"_s;
        QTest::newRow("text file") << u"notes.txt"_s;
        QTest::newRow("random bytes named mp3") << u"noise.mp3"_s;
        QTest::newRow("truncated header") << u"stub.flac"_s;
        QTest::newRow("folder named like a song") << u"Disc.001"_s;
        QTest::newRow("FIFO") << u"pipe.mp3"_s;
        QTest::newRow("socket") << u"sock.mp3"_s;
        QTest::newRow("symlink loop") << u"loop.mp3"_s;
        QTest::newRow("symlink to a device") << u"dev.mp3"_s;
        QTest::newRow("symlink to a FIFO") << u"topipe.mp3"_s;
        QTest::newRow("no read permission") << u"secret.wav"_s;
    }
    void nothingToProbe()
    {
        QFETCH(QString, name);
        QTemporaryDir dir(m_dir.filePath(u"bad-XXXXXX"_s));
        const QString p = dir.filePath(name);
        const QByteArray native = QFile::encodeName(p);
        if (name == "empty.mp3"_L1) {
            QVERIFY(writeAll(p, {}));
        } else if (name == "notes.txt"_L1) {
            QVERIFY(writeAll(p, "set list for Friday\n"));
        } else if (name == "noise.mp3"_L1) {
            QByteArray noise(200000, '\0');
            for (qsizetype i = 0; i < noise.size(); ++i)
                noise[i] = char((i * 7919 + 13) % 251);
            QVERIFY(writeAll(p, noise));
        } else if (name == "stub.flac"_L1) {
            QVERIFY(writeAll(p, "fLaC\x00\x00\x00\x22"_ba));
        } else if (name == "Disc.001"_L1) {
            QVERIFY(QDir(dir.path()).mkdir(name));
        } else if (name == "pipe.mp3"_L1) {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (name == "sock.mp3"_L1) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            if (native.size() >= qsizetype(sizeof addr.sun_path))
                QSKIP("temporary path too long for a socket");
            qstrncpy(addr.sun_path, native.constData(), sizeof addr.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
            ::close(fd);
        } else if (name == "loop.mp3"_L1) {
            QVERIFY(QFile::link(dir.filePath(u"loop2.mp3"_s), p));
            QVERIFY(QFile::link(p, dir.filePath(u"loop2.mp3"_s)));
        } else if (name == "dev.mp3"_L1) {
            QVERIFY(QFile::link(u"/dev/zero"_s, p));
        } else if (name == "topipe.mp3"_L1) {
            QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600), 0);
            QVERIFY(QFile::link(dir.filePath(u"fifo"_s), p));
        } else if (name == "secret.wav"_L1) {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            QVERIFY(MediaGen::tone(p, 1.0));
            QVERIFY(QFile::setPermissions(p, QFile::WriteOwner));
        }
        QCOMPARE(MediaProbe::lengthMs(p), std::nullopt);
        MediaService service;
        QCOMPARE(GetPlayLength(service, p), 0.0);
    }

    void symlinkToSongAndAwkwardNames()
    {
        // The service answers in whole milliseconds for any name a file system allows.
        QTemporaryDir dir(m_dir.filePath(u"names-XXXXXX"_s));
        const QString song = dir.filePath(u"ライブ \"アンコール\" 1.wav"_s);
        QVERIFY(MediaGen::tone(song, 2.5));
        const QString link = dir.filePath(u"link.wav"_s);
        QVERIFY(QFile::link(song, link));
        MediaService service;
        QCOMPARE(GetPlayLength(service, song), 2500.0);
        QCOMPARE(GetPlayLength(service, link), 2500.0);
    }
};

QTEST_GUILESS_MAIN(TestMediaProbe)
#include "tst_mediaprobe.moc"
