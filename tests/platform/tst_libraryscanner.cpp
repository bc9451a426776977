// Listing the source folder and probing its entries in parallel: every entry is listed, results
// keep the listing order, progress reaches the total, cancel stops early, and bad entries
// neither stop nor hang the probing.
#include "platform/media/libraryscanner.h"
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// Answers each length query with the number in the file name, after a pause that varies
// from path to path so that the workers finish out of order.
class NumberedMedia : public MediaCommands
{
public:
    std::atomic<int> active{0};
    std::atomic<int> mostActive{0};
    std::atomic<int> queries{0};
    QSemaphore *gate = nullptr; // when set, every query waits for a permit

    int sendString(const QString &command, QString *reply, int capacity) override
    {
        if (!command.startsWith(u"status"_s))
            return 0;
        const int now = ++active;
        for (int seen = mostActive; now > seen && !mostActive.compare_exchange_weak(seen, now);) {
        }
        if (gate)
            gate->acquire();
        const QString name = command.section(u'/', -1).section(u'"', 0, 0);
        QThread::usleep(200 + (name.toInt() * 37) % 900);
        const QString digits = name.left(capacity - 1);
        reply->replace(0, digits.size(), digits);
        ++queries;
        --active;
        return 0;
    }
};
} // namespace

class TestLibraryScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsEveryEntry()
    {
        QTemporaryDir dir;
        const QDir d(dir.path());
        QVERIFY(QFile(d.filePath(u"b.mp3"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QFile(d.filePath(u".hidden.mp3"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QFile(d.filePath(u"ab"_s)).open(QIODevice::WriteOnly));
        QVERIFY(d.mkdir(u"sub"_s));
        QVERIFY(d.mkdir(u"Disc.001"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(d.filePath(u"pipe.wav"_s)).constData(), 0600), 0);
        QVERIFY(QFile::link(d.filePath(u"gone.mp3"_s), d.filePath(u"dangling.mp3"_s)));
        QVERIFY(QFile::link(d.filePath(u"loop.mp3"_s), d.filePath(u"loop.mp3"_s)));
        // A name in Latin-1, not valid UTF-8.
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xE9.mp3";
        const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);

        QStringList names = LibraryScanner::listFolder(dir.path());
        QCOMPARE(names.size(), 9);
        QVERIFY(!names.contains(u"."_s) && !names.contains(u".."_s));
        for (const QString &n : {u"b.mp3"_s, u".hidden.mp3"_s, u"ab"_s, u"sub"_s, u"Disc.001"_s, u"pipe.wav"_s,
                                 u"dangling.mp3"_s, u"loop.mp3"_s})
            QVERIFY2(names.contains(n), qPrintable(n));
        QVERIFY(std::any_of(names.cbegin(), names.cend(), [](const QString &n) { return n.startsWith(u"caf"_s); }));

        QVERIFY(LibraryScanner::listFolder(dir.filePath(u"missing"_s)).isEmpty());
        ::unlink(latin1.constData()); // QTemporaryDir cannot remove a name it cannot decode
    }

    void resultsInInputOrderWithProgress()
    {
        NumberedMedia media;
        QStringList paths;
        for (int i = 1; i <= 60; ++i)
            paths.append(u"/songs/%1"_s.arg(i * 1000));
        QFutureWatcher<QList<double>> watcher;
        QSignalSpy progress(&watcher, &QFutureWatcher<QList<double>>::progressValueChanged);
        QSignalSpy finished(&watcher, &QFutureWatcher<QList<double>>::finished);
        watcher.setFuture(LibraryScanner::probeAll(media, paths, 4));
        QVERIFY(finished.wait(30000) || finished.count() == 1);
        QCOMPARE(watcher.progressMaximum(), 60);
        QCOMPARE(watcher.progressValue(), 60);
        QVERIFY(!progress.isEmpty());
        const QList<double> lengths = watcher.result();
        QCOMPARE(lengths.size(), 60);
        for (int i = 0; i < 60; ++i)
            QCOMPARE(lengths[i], (i + 1) * 1000.0);
        QVERIFY2(media.mostActive > 1, "the probes never overlapped");
        QVERIFY(media.mostActive <= 4);
    }

    void emptyList()
    {
        NumberedMedia media;
        auto future = LibraryScanner::probeAll(media, {});
        QCOMPARE(future.result(), QList<double>());
    }

    void cancelStopsEarly()
    {
        NumberedMedia media;
        QSemaphore gate;
        media.gate = &gate;
        QStringList paths;
        for (int i = 0; i < 500; ++i)
            paths.append(u"/songs/%1"_s.arg(i));
        auto future = LibraryScanner::probeAll(media, paths, 3);
        QTRY_VERIFY(media.active == 3);
        future.cancel();
        gate.release(1000);
        future.waitForFinished();
        QVERIFY(future.isCanceled());
        QVERIFY(future.resultCount() == 0);
        QVERIFY2(media.queries < 20, qPrintable(QString::number(media.queries)));
    }

    void badEntriesYieldZero()
    {
        if (!MediaGen::missingTools().isEmpty())
            QSKIP("media tools missing");
        QTemporaryDir dir;
        const QDir d(dir.path());
        QVERIFY(MediaGen::tone(d.filePath(u"good.wav"_s), 2.0));
        QVERIFY(QFile(d.filePath(u"zero.mp3"_s)).open(QIODevice::WriteOnly));
        QVERIFY(d.mkdir(u"Disc.001"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(d.filePath(u"pipe.mp3"_s)).constData(), 0600), 0);
        QVERIFY(QFile::link(d.filePath(u"loop.mp3"_s), d.filePath(u"loop.mp3"_s)));
        {
            QFile truncated(d.filePath(u"cut.wav"_s));
            QVERIFY(truncated.open(QIODevice::WriteOnly));
            truncated.write(QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16));
        }
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xE9.mp3";
        const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(QFile::copy(d.filePath(u"good.wav"_s), d.filePath(u"vanishing.wav"_s)));

        QStringList paths;
        for (const QString &name : LibraryScanner::listFolder(dir.path()))
            paths.append(dir.path() + u'/' + name);
        // Gone between the listing and the probe.
        QVERIFY(QFile::remove(d.filePath(u"vanishing.wav"_s)));

        MediaService media;
        const QList<double> lengths = LibraryScanner::probeAll(media, paths).result();
        QCOMPARE(lengths.size(), paths.size());
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const double expected = paths[i].endsWith(u"/good.wav"_s) ? 2000.0 : 0.0;
            QVERIFY2(lengths[i] == expected, qPrintable(paths[i] + u": "_s + QString::number(lengths[i])));
        }
        ::unlink(latin1.constData()); // QTemporaryDir cannot remove a name it cannot decode
    }
};

QTEST_GUILESS_MAIN(TestLibraryScanner)
#include "tst_libraryscanner.moc"
