// The scan's kept lengths: a rescan shows exactly what a scan without them shows, whatever
// happened to the entries or to the kept file in between; and the probe's reads through the
// held head and tail give the same lengths as the libraries reading the file themselves.
#include "platform/media/lengthcache.h"
#include "platform/media/mediafilewindow.h"
#include "platform/media/libraryscanner.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// The real service, counting the length queries that reach it.
class CountingMedia : public MediaCommands
{
public:
    MediaService real;
    std::atomic<int> queries{0};
    int sendString(const QString &command, QString *reply, int capacity) override
    {
        if (command.startsWith(u"status"_s))
            ++queries;
        return real.sendString(command, reply, capacity);
    }
};

// A PCM WAV file: `bytesPerSecond` decides its length, so two files of one size can differ.
QByteArray wav(int dataBytes, int bytesPerSecond)
{
    auto le = [](quint32 v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b.append(char(v >> (8 * i)));
        return b;
    };
    const int channels = 2, bits = 16, align = channels * bits / 8;
    return "RIFF"_ba + le(36 + dataBytes, 4) + "WAVEfmt "_ba + le(16, 4) + le(1, 2) + le(channels, 2)
        + le(bytesPerSecond / align, 4) + le(bytesPerSecond, 4) + le(align, 2) + le(bits, 2) + "data"_ba
        + le(dataBytes, 4) + QByteArray(dataBytes, '\x11');
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
} // namespace

class TestLengthCache : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_songs;
    QString m_root;
    CountingMedia m_media;
    QStringList m_names;

    QString path(const QString &name) const { return m_songs + u'/' + name; }

    QList<double> scan(bool cached)
    {
        m_names = LibraryScanner::listFolder(m_songs);
        QStringList paths;
        for (const QString &n : std::as_const(m_names))
            paths << path(n);
        return cached ? LibraryScanner::probeFolder(m_media, m_songs, m_names, paths, m_root, 2).result()
                      : LibraryScanner::probeAll(m_media, paths, 2).result();
    }

    // Rescans with the kept lengths, then without them: the two must agree entry for entry.
    void expectRescanMatchesFreshScan()
    {
        const QList<double> cached = scan(true);
        const QStringList cachedNames = m_names;
        const QList<double> fresh = scan(false);
        QCOMPARE(cachedNames, m_names);
        for (qsizetype i = 0; i < m_names.size(); ++i)
            QVERIFY2(cached[i] == fresh[i], qPrintable(u"%1: kept %2, probed %3"_s.arg(m_names[i]).arg(cached[i]).arg(fresh[i])));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_songs = m_dir.filePath(u"songs"_s);
        m_root = m_dir.filePath(u"cache"_s);
        QVERIFY(QDir().mkpath(m_songs));
    }

    // Every kind of change an entry can go through between two scans, each starting from a
    // folder whose lengths were all kept by the scan before.
    void rescanAfterChange_data()
    {
        QTest::addColumn<std::function<void(const QString &)>>("change");
        QTest::addColumn<QString>("changed");
        QTest::addColumn<double>("expected");

        QTest::addRow("rewritten in place, same size, modification time put back")
            << std::function<void(const QString &)>([](const QString &p) {
                   struct stat before {};
                   QVERIFY(::stat(QFile::encodeName(p).constData(), &before) == 0);
                   QVERIFY(write(p, wav(176400, 88200)));
                   const timespec times[2] = {before.st_atim, before.st_mtim};
                   QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), times, 0) == 0);
               })
            << u"a.wav"_s << 2000.0;
        QTest::addRow("replaced by another file under its name")
            << std::function<void(const QString &)>([](const QString &p) {
                   QVERIFY(write(p + u".new"_s, wav(176400, 44100)));
                   QVERIFY(::rename(QFile::encodeName(p + u".new"_s).constData(), QFile::encodeName(p).constData()) == 0);
               })
            << u"a.wav"_s << 4000.0;
        QTest::addRow("two entries swap names")
            << std::function<void(const QString &)>([](const QString &p) {
                   const QString other = QFileInfo(p).path() + u"/b.wav"_s;
                   QVERIFY(QFile::rename(p, p + u".swap"_s));
                   QVERIFY(QFile::rename(other, p));
                   QVERIFY(QFile::rename(p + u".swap"_s, other));
               })
            << u"a.wav"_s << 3000.0;
        QTest::addRow("renamed")
            << std::function<void(const QString &)>([](const QString &p) {
                   QVERIFY(QFile::rename(p, QFileInfo(p).path() + u"/renamed.wav"_s));
               })
            << u"renamed.wav"_s << 1000.0;
    }
    void rescanAfterChange()
    {
        QFETCH(std::function<void(const QString &)>, change);
        QFETCH(QString, changed);
        QFETCH(double, expected);
        QDir(m_songs).removeRecursively();
        QDir(m_root).removeRecursively();
        QVERIFY(QDir().mkpath(m_songs));
        QVERIFY(write(path(u"a.wav"_s), wav(176400, 176400)));  // 1 s
        QVERIFY(write(path(u"b.wav"_s), wav(176400, 58800)));   // 3 s, the same size
        QVERIFY(write(path(u"notes.txt"_s), "not a song\n"_ba));
        // Only entries that stood still long enough are kept.
        QThread::msleep(LengthCache::DefaultSettleNs / 1'000'000 + 200);
        (void)scan(true);
        m_media.queries = 0;
        (void)scan(true);
        QCOMPARE(m_media.queries.load(), 0); // nothing read: every length was kept

        change(path(u"a.wav"_s));
        const QList<double> after = scan(true);
        QCOMPARE(after.value(m_names.indexOf(changed)), expected);
        expectRescanMatchesFreshScan();
    }

    // A damaged kept file is ignored and replaced; the scan is what it would be without it.
    void damagedFile_data()
    {
        QTest::addColumn<std::function<QByteArray(QByteArray)>>("damage");
        QTest::addColumn<bool>("believed");
        using D = std::function<QByteArray(QByteArray)>;
        QTest::addRow("intact") << D([](QByteArray b) { return b; }) << true;
        QTest::addRow("empty") << D([](QByteArray) { return QByteArray(); }) << false;
        QTest::addRow("cut in the header") << D([](QByteArray b) { return b.left(10); }) << false;
        QTest::addRow("cut in an entry") << D([](QByteArray b) { return b.left(b.size() - 5); }) << false;
        QTest::addRow("a byte of a length changed") << D([](QByteArray b) { return b.replace(b.size() - 1, 1, "\x7f"); }) << false;
        QTest::addRow("a byte of the folder changed") << D([](QByteArray b) { return b.replace(25, 1, "#"); }) << false;
        QTest::addRow("bytes appended") << D([](QByteArray b) { return QByteArray(b + "more"_ba); }) << false;
        QTest::addRow("another probe's version") << D([](QByteArray b) { return b.replace(12, 1, "\xee"); }) << false;
        QTest::addRow("garbage") << D([](QByteArray b) { return QByteArray(b.size(), '\xff'); }) << false;
        QTest::addRow("not a file") << D([](QByteArray) { return QByteArray("dir"); }) << false;
    }
    void damagedFile()
    {
        QFETCH(std::function<QByteArray(QByteArray)>, damage);
        QFETCH(bool, believed);
        QDir(m_songs).removeRecursively();
        QDir(m_root).removeRecursively();
        QVERIFY(QDir().mkpath(m_songs));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(write(path(u"s%1.wav"_s.arg(i)), wav(176400 * i, 176400)));
        const LengthCache probe(m_root, m_songs);
        const QString file = probe.filePath();
        // Kept lengths with every key right but every length wrong: a damaged file that were
        // still believed would show them.
        LengthCache::Entries wrong;
        for (int i = 1; i <= 3; ++i) {
            const QString name = u"s%1.wav"_s.arg(i);
            wrong.insert(name, {*probe.keyOf(name), 99000.0});
        }
        const QByteArray damaged = damage(LengthCache::serialize(m_songs, wrong));
        QVERIFY(QDir().mkpath(m_root));
        if (damaged == "dir")
            QVERIFY(QDir().mkpath(file));
        else
            QVERIFY(write(file, damaged));

        const QList<double> lengths = scan(true);
        for (qsizetype i = 0; i < m_names.size(); ++i)
            QCOMPARE(lengths[i], believed ? 99000.0 : 1000.0 * m_names[i].mid(1, 1).toInt());
        if (damaged != "dir")
            QVERIFY(LengthCache::parse([&] { QFile f(file); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }(), m_songs));
    }

    // The probe reading through its held head and tail (and one read per region a format
    // points at) gives the very figures the libraries give reading the file themselves, on
    // songs long enough that their ends lie far apart.
    void heldReadsGiveTheSameLengths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("extension");
        for (const MediaGen::Kind &k : MediaGen::corpusKinds())
            QTest::addRow("%s", qPrintable(k.name)) << k.name << k.extension;
    }
    void heldReadsGiveTheSameLengths()
    {
        QFETCH(QString, kind);
        QFETCH(QString, extension);
        if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty())
            QSKIP(qPrintable(u"media tools missing: "_s + missing.join(u", "_s)));
        QTemporaryDir dir(m_dir.filePath(u"held-XXXXXX"_s));
        const auto file = MediaGen::corpusFile(dir.path(), {kind, extension}, 45.37);
        if (!file && kind == "wma"_L1)
            QSKIP("this ffmpeg cannot write WMA");
        QVERIFY(file);
        QVERIFY(QFileInfo(*file).size() > MediaFileWindow::HeadBytes + MediaFileWindow::TailBytes);
        const auto held = MediaProbe::lengthMs(*file);
        QVERIFY(held);
        QCOMPARE(held, MediaProbe::lengthMs(*file, MediaProbe::Method::Unbuffered));
        const auto decoded = MediaGen::decodedLengthMs(*file);
        QVERIFY(decoded && MediaGen::sameShownLength(*held, *decoded));
    }
};

QTEST_GUILESS_MAIN(TestLengthCache)
#include "tst_lengthcache.moc"
