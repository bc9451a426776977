// The scan's kept lengths: a rescan shows exactly what a scan without them shows, whatever
// happened to the entries or to the kept file in between; and the probe's reads through the
// held head and tail give the same lengths as the libraries reading the file themselves.
#include "platform/media/lengthcache.h"
#include "platform/media/libraryscanner.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "support/fixtures.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using fixtures::contents, fixtures::writeFile;
using Change = std::function<void(const QString &a, const QString &b)>;
using Damage = std::function<QByteArray(QByteArray)>;

// A WAV file of 44100 frames: the rate decides its length, so two files of one size can differ.
static bool wav(const QString &path, int rate) { return MediaGen::run(u"sox"_s, { u"-r"_s, QString::number(rate), u"-n"_s, u"-c2"_s, u"-b16"_s, path, u"synth"_s, u"44100s"_s, u"sine"_s }); }

class TestLengthCache : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_songs = m_dir.filePath(u"songs"_s), m_root = m_dir.filePath(u"cache"_s);
    MediaService m_media;
    QStringList m_names;

    // A fresh folder without a cache: a.wav of 1 s and b.wav of 3 s, of one size.
    void songs()
    {
        QVERIFY(QDir(m_songs).removeRecursively() && QDir(m_root).removeRecursively() && QDir().mkpath(m_songs)
                && wav(m_songs + u"/a.wav"_s, 44100) && wav(m_songs + u"/b.wav"_s, 14700));
    }
    // With the kept lengths, looked at on this thread for `inlineMs` (0: the first 16 entries,
    // then the readers), or without them.
    QList<double> scan(bool cached, int inlineMs = LibraryScanner::InlineMs)
    {
        m_names = LibraryScanner::listFolder(m_songs);
        m_names.sort();
        const QStringList paths = QStringList(m_names).replaceInStrings(QRegularExpression(u"^"_s), m_songs + u'/');
        return (cached ? LibraryScanner::probeFolder(m_media, m_songs, m_names, paths, m_root, 2, inlineMs) : LibraryScanner::probeAll(m_media, paths, 2)).result();
    }
    std::optional<LengthCache::Entries> kept() { return LengthCache::parse(contents(LengthCache(m_root, m_songs).filePath()), m_songs); }

private Q_SLOTS:
    // Every kind of change a.wav can go through between two scans, each starting from a
    // folder whose lengths were all kept by the scan before.
    void rescanAfterChange_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("changed");
        QTest::addColumn<double>("expected");
        QTest::addRow("rewritten in place, same size, modification time put back") << Change([](const QString &a, const QString &) {
            QVERIFY(SystemOnly::keepingTimes(a, [&a] { return wav(a, 22050); }));
        }) << u"a.wav"_s << 2000.0;
        QTest::addRow("replaced by another file under its name") << Change([](const QString &a, const QString &) {
            std::error_code error; // a rename that replaces, on Windows too (QFile::rename does not)
            QVERIFY(wav(a + u"~.wav"_s, 11025));
            std::filesystem::rename(QString(a + u"~.wav"_s).toStdU16String(), a.toStdU16String(), error);
            QVERIFY2(!error, error.message().c_str());
        }) << u"a.wav"_s << 4000.0;
        QTest::addRow("two entries swap names") << Change([](const QString &a, const QString &b) {
            QVERIFY(QFile::rename(a, a + u"~"_s) && QFile::rename(b, a) && QFile::rename(a + u"~"_s, b));
        }) << u"a.wav"_s << 3000.0;
        QTest::addRow("renamed") << Change([](const QString &a, const QString &) { QVERIFY(QFile::rename(a, QFileInfo(a).path() + u"/renamed.wav"_s)); }) << u"renamed.wav"_s << 1000.0;
    }
    void rescanAfterChange()
    {
        QFETCH(Change, change);
        QFETCH(QString, changed);
        QFETCH(double, expected);
        songs();
        // More entries than the first look takes when its time is up at once.
        for (int i = 0; i < 20; ++i)
            QVERIFY(writeFile(m_songs + u"/notes %1.txt"_s.arg(i), "not a song\n"_ba));
        // Only entries that stood still long enough are kept.
        QThread::msleep(LengthCache::DefaultSettleNs / 1'000'000 + 200);
        (void)scan(true);
        QVERIFY(kept() && kept()->value(u"a.wav"_s).lengthMs == 1000.0 && kept()->value(u"b.wav"_s).lengthMs == 3000.0);
        change(m_songs + u"/a.wav"_s, m_songs + u"/b.wav"_s);
        const QList<double> after = scan(true);
        QCOMPARE(after.value(m_names.indexOf(changed)), expected);
        QCOMPARE(after, scan(false));
        // Handed to the readers after the first entries: the same lengths, the same kept.
        const auto keptAfter = kept();
        QCOMPARE(scan(true, 0), after);
        QCOMPARE(kept(), keptAfter);
    }

    // A damaged kept file is ignored and replaced; the scan is what it would be without it.
    void damagedFile_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addRow("intact") << Damage([](QByteArray b) { return b; });
        QTest::addRow("empty") << Damage([](QByteArray) { return QByteArray(); });
        QTest::addRow("cut in an entry") << Damage([](QByteArray b) { return b.left(b.size() - 5); });
        QTest::addRow("a byte of a length changed") << Damage([](QByteArray b) { return b.replace(b.size() - 1, 1, "\x7f"); });
        QTest::addRow("a byte of the folder changed") << Damage([](QByteArray b) { return b.replace(25, 1, "#"); });
        QTest::addRow("bytes appended") << Damage([](QByteArray b) { return QByteArray(b + "more"_ba); });
        QTest::addRow("another probe's version") << Damage([](QByteArray b) { return b.replace(12, 1, "\xee"); });
        QTest::addRow("not a file") << Damage([](QByteArray) { return "dir"_ba; });
    }
    void damagedFile()
    {
        QFETCH(Damage, damage);
        songs();
        // Kept lengths with every key right but every length wrong: a damaged file that were
        // still believed would show them.
        const LengthCache probe(m_root, m_songs);
        const LengthCache::Entries wrong{ { u"a.wav"_s, { *probe.keyOf(u"a.wav"_s), 99000.0 } }, { u"b.wav"_s, { *probe.keyOf(u"b.wav"_s), 99000.0 } } };
        const QByteArray damaged = damage(LengthCache::serialize(m_songs, wrong));
        QVERIFY(damaged == "dir" ? QDir().mkpath(probe.filePath()) : QDir().mkpath(m_root) && writeFile(probe.filePath(), damaged));
        QCOMPARE(scan(true), (QTest::currentDataTag() == "intact"_ba ? QList<double>{ 99000, 99000 } : QList<double>{ 1000, 3000 }));
        QVERIFY(damaged == "dir" || kept()); // rewritten whole
    }

    // Songs of many folders measured at once save their folders' caches from worker threads,
    // taking turns as the measuring threads do, and each save trims the other folders' caches
    // through a name-filtered listing; then the threads end. Each folder keeps its own entry
    // and the program goes on unharmed: on Windows the listing's pattern matching left
    // per-thread state whose clean-up at the thread's end used freed memory.
    void savedFromEndingThreads()
    {
        songs();
        const std::optional<LengthCache::Key> key = LengthCache::keyOfFile(m_songs + u"/a.wav"_s);
        QVERIFY(key);
        const auto folder = [this](int i) -> QString { return m_songs + u"/folder %1"_s.arg(i); };
        constexpr int Rounds = 4, Threads = 8;
        QMutex turns;
        int saved = 0;
        for (int round = 0; round < Rounds; ++round) {
            std::vector<std::thread> threads;
            for (int t = 0; t < Threads; ++t)
                threads.emplace_back([&, i = round * Threads + t] {
                    const QMutexLocker lock(&turns);
                    LengthCache cache(m_root, folder(i), 0);
                    cache.insert(u"a.wav"_s, *key, 1000.0 + i);
                    saved += cache.save() ? 1 : 0;
                });
            for (std::thread &t : threads)
                t.join();
        }
        QCOMPARE(saved, Rounds * Threads);
        for (int i = 0; i < Rounds * Threads; ++i)
            QCOMPARE(LengthCache(m_root, folder(i), 0).find(u"a.wav"_s, *key), std::optional<double>(1000.0 + i));
    }
};

QTEST_GUILESS_MAIN(TestLengthCache)
#include "tst_lengthcache.moc"
