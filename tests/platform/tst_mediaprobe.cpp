// The length probe on real generated media: the accuracy corpus against a full decode, the
// exact MPEG frame count on damaged and tagged streams, and entries that must probe as nothing
// without hanging.
#include "platform/mediacommands.h"
#include "platform/mediaprobe.h"
#include "platform/mediaservice.h"
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
