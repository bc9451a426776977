// The export on real file systems: the checks that name every problem before
// anything is created, the durable copy, and the job that
// copies a set in order and leaves no partial file where it stops.
#include "platform/storage/durablecopy.h"
#include "platform/storage/exportcheck.h"
#include "platform/storage/exportjob.h"
#include "model/exportformat.h"
#include "support/fixtures.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using namespace fixtures;

class TestExportStorage : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_songs;
    QString m_out;

    // The problems found for the songs exported as <base>/<set>; creating anything is one too.
    QStringList problems(const QStringList &sources, const QString &set = u"Set"_s, const QString &base = {})
    {
        const ExportPlan plan = planExport(rowsFor(sources), base.isNull() ? m_out : base, set, u'/');
        const bool existed = QFileInfo::exists(plan.folder);
        const QStringList found = ExportCheck::problems(plan);
        return !existed && QFileInfo::exists(plan.folder) ? QStringList{ u"the check created the folder"_s } : found;
    }

    // Runs the job as the window does, its signals queued to this thread; the files
    // before the result's count must be exact copies, in order, and the rest absent.
    ExportResult runJob(const ExportPlan &plan, QList<qint64> *progress = nullptr, bool cancelOnFirst = false)
    {
        ExportJob job(plan);
        QList<int> started;
        std::optional<ExportResult> result;
        connect(&job, &ExportJob::itemStarted, this, [&](int i) { started.append(i); });
        connect(&job, &ExportJob::finished, this, [&](const ExportResult &r) { result = r; });
        if (progress)
            connect(&job, &ExportJob::bytesProgress, this, [progress](qint64 done, qint64) { progress->append(done); });
        if (cancelOnFirst) // direct, so the cancel lands while the first file is copied
            connect(&job, &ExportJob::itemStarted, &job, &ExportJob::cancel, Qt::DirectConnection);
        job.start();
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 60000))
            return { ExportResult::Outcome::Failed, -1, -1, u"timed out"_s };
        for (int i = 0; i < plan.items.size(); ++i) {
            const ExportItem &item = plan.items.at(i);
            const bool copied = QFileInfo::exists(item.destinationPath) && contents(item.destinationPath) == contents(item.sourcePath);
            if ((i < result->exported) != copied || (i >= result->exported && QFileInfo::exists(item.destinationPath))
                || (i < started.size() && started[i] != i))
                return { ExportResult::Outcome::Failed, -1, -1, u"wrong files or order at "_s + item.exportName };
        }
        return *result;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_songs = m_dir->filePath(u"songs"_s);
        m_out = m_dir->filePath(u"out"_s);
        QVERIFY(QDir().mkpath(m_songs) && QDir().mkpath(m_out));
    }

    void sourcesAreChecked()
    {
        const QString a = writeSong(m_songs, u"Opening.mp3"_s, 5000, 1);
        QCOMPARE(problems({ a, a }, u"June Tour/Night 1"_s), QStringList());
        QVERIFY(QDir().mkdir(m_songs + u"/Album.mp3"_s));
        const QStringList found = problems({ a, m_songs + u"/Gone.mp3"_s, m_songs + u"/Album.mp3"_s, u"Relative.mp3"_s });
        QCOMPARE(found.size(), 3);
        QVERIFY2(found[0].startsWith(u"02 Gone.mp3: "_s) && found[0].contains(u"見つかりません"_s), qPrintable(found[0]));
        QVERIFY(found[1].startsWith(u"03 Album.mp3: "_s) && found[2].startsWith(u"04 Relative.mp3: "_s));
    }

    void exportOverTheSongsIsRefused_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("setName");
        QTest::newRow("the source folder itself") << u"."_s << u"songs"_s;
        QTest::newRow("a parent of the source folder") << QString() << u"."_s;
        QTest::newRow("through a doubled separator") << u"./"_s << u"songs"_s;
        QTest::newRow("a link to the song under its export name") << u"link"_s << QString();
    }
    void exportOverTheSongsIsRefused()
    {
        QFETCH(QString, base);
        QFETCH(QString, setName);
        const QString a = writeSong(m_songs, u"Opening.mp3"_s, 100, 1);
        if (base == "link"_L1)
            SKIP_WITHOUT(SystemOnly::noSymlinks());
        if (base == "link"_L1)
            QVERIFY(QDir().mkpath(m_out + u"/Set"_s) && QFile::link(a, m_out + u"/Set/01 Opening.mp3"_s));
        const auto before = snapshot(m_songs);
        const QStringList found = base == "link"_L1 ? problems({ a }) : problems({ a }, setName, m_dir->path() + u'/' + base);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].startsWith(u"01 Opening.mp3: "_s), qPrintable(found[0]));
        QCOMPARE(snapshot(m_songs), before);
    }

    void room()
    {
        ScopedMount mount(m_out);
        if (!mount.tmpfs(1024))
            QSKIP(qPrintable(mount.why()));
        QStringList sources;
        for (int i = 0; i < 3; ++i)
            sources += writeSong(m_songs, u"Song%1.mp3"_s.arg(i), 600 * 1024, i);
        const QStringList found = problems(sources, u"Nested/Set"_s);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].contains(u"空き容量"_s) && found[0].contains(u"1.8 MB"_s) && found[0].contains(u"空き 1.0 MB"_s),
                 qPrintable(found[0]));
        QCOMPARE(problems({ sources[0] }), QStringList());
        // Exporting the same set again replaces the file in place: its room comes back.
        QVERIFY(QDir().mkpath(m_out + u"/Set"_s) && QFile::copy(sources[0], m_out + u"/Set/01 Song0.mp3"_s));
        QCOMPARE(problems({ sources[0] }), QStringList());
    }

    void namesTheVolumeRefuses()
    {
        ScopedMount mount(m_out);
        if (!mount.exfat(m_dir->filePath(u"fat.img"_s)))
            QSKIP(qPrintable(mount.why()));
        QCOMPARE(ExportCheck::nameRulesAt(m_out), ExportCheck::NameRules::Windows);
        QCOMPARE(ExportCheck::nameRulesAt(m_songs), ExportCheck::NameRules::Posix);
        const QStringList found = problems({ writeSong(m_songs, u"Fine.mp3"_s, 100, 1), writeSong(m_songs, u"Live: Tokyo.mp3"_s, 100, 2) },
                                           u"A*B"_s);
        QCOMPARE(found.size(), 2);
        QVERIFY2(found[0].contains(u"A*B"_s) && found[0].contains(u"（*）"_s), qPrintable(found[0]));
        QVERIFY(found[1].startsWith(u"02 Live: Tokyo.mp3: "_s));
    }

    void nameRules_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("windowsOk");
        QTest::addColumn<bool>("posixOk");
        for (const QChar c : u"\\:*?\"<>|\t"_s)
            QTest::addRow("refused %#x", c.unicode()) << u"01 a%1b.mp3"_s.arg(c) << false << true;
        QTest::newRow("trailing dot") << u"01 Song."_s << false << true;
        QTest::newRow("256 units") << QString(256, u'a') << false << false;
        QTest::newRow("100 kana are 300 bytes") << QString(100, u'あ') << true << false;
        // Device names, in any case and with any extension, stand for the device in every folder.
        QTest::newRow("device name") << u"CON"_s << false << true;
        QTest::newRow("device name, lower case, extension") << u"nul.mp3"_s << false << true;
        QTest::newRow("device name, blank before the extension") << u"Com1 .wav"_s << false << true;
        QTest::newRow("device name, superscript digit") << u"LPT\u00b9.txt"_s << false << true;
        QTest::newRow("a device name inside a name") << u"01 CON.mp3"_s << true << true;
        QTest::newRow("COM10 is no device") << u"COM10.mp3"_s << true << true;
        QTest::newRow("trailing blank") << u"01 Song "_s << false << true;
    }
    void nameRules()
    {
        QFETCH(QString, name);
        QFETCH(bool, windowsOk);
        QFETCH(bool, posixOk);
        QCOMPARE(ExportCheck::refusedName(name, ExportCheck::NameRules::Windows).isEmpty(), windowsOk);
        QCOMPARE(ExportCheck::refusedName(name, ExportCheck::NameRules::Posix, 255).isEmpty(), posixOk);
        // A device name is told as such, by the name the user typed: the general wording would
        // leave the user guessing what is wrong with "nul.mp3".
        const QString why = ExportCheck::refusedName(name, ExportCheck::NameRules::Windows);
        if (QTest::currentDataTag() == QByteArray("device name, lower case, extension"))
            QVERIFY2(why.contains(u"「nul」"_s) && why.contains(u"装置"_s), qPrintable(why));
    }

    void durableCopy()
    {
        const qint64 size = DurableCopy::InFlightBytes + 12345; // beyond the bound, not a whole piece
        const QString source = writeSong(m_songs, u"Long.wav"_s, size, 7);
        const QByteArray bytes = contents(source);
        qint64 reported = 0;
        QList<int> landed;
        DurableCopy copier([&](qint64 n) { reported += n; }, [&](int file) { landed.append(file); });
        QVERIFY(copier.copy(source, m_out + u"/a"_s).ok());
        QVERIFY(copier.copy(writeSong(m_songs, u"Empty"_s, 0, 1), m_out + u"/e"_s).ok());
        QVERIFY(copier.finish(m_out).ok());
        QCOMPARE(reported, size);
        QCOMPARE(landed, QList<int>({ 0, 1 }));
        QCOMPARE(contents(m_out + u"/a"_s), bytes);
        QVERIFY(DurableCopy().copy(m_songs + u"/Empty"_s, m_out + u"/a"_s).ok()); // replaces a longer file
        QCOMPARE(QFileInfo(m_out + u"/a"_s).size(), 0);
        // A link under the export name is replaced, never written through; a link
        // to the source itself, or the source, is refused (links: where a test can make them).
        const bool links = !SystemOnly::noSymlinks();
        QVERIFY(!links || QFile::link(m_dir->filePath(u"elsewhere"_s), m_out + u"/b"_s));
        QVERIFY(DurableCopy().copy(source, m_out + u"/b"_s).ok());
        QVERIFY(!QFileInfo::exists(m_dir->filePath(u"elsewhere"_s)) && !QFileInfo(m_out + u"/b"_s).isSymLink());
        QVERIFY(!links || QFile::link(source, m_out + u"/c"_s));
        QCOMPARE(DurableCopy().copy(source, m_out + u"/c"_s).outcome, links ? DurableCopy::Outcome::Failed : DurableCopy::Outcome::Copied);
        QCOMPARE(DurableCopy().copy(source, source).outcome, DurableCopy::Outcome::Failed);
        QCOMPARE(contents(source), bytes);
        // A source that cannot be read leaves an older file of the export name alone.
        QCOMPARE(DurableCopy().copy(m_songs + u"/Gone"_s, m_out + u"/b"_s).outcome, DurableCopy::Outcome::Failed);
        QCOMPARE(contents(m_out + u"/b"_s), bytes);
        std::atomic_bool abort{ false };
        DurableCopy aborted([&](qint64) { abort = true; });
        QCOMPARE(aborted.copy(source, m_out + u"/d"_s, &abort).outcome, DurableCopy::Outcome::Aborted);
        QVERIFY(!QFileInfo::exists(m_out + u"/d"_s));
    }

    void wholeSetInOrder()
    {
        const QString a = writeSong(m_songs, u"Opening.mp3"_s, 300000, 1);
        const QString b = writeSong(m_songs, u"Ballad No.2.wav"_s, DurableCopy::InFlightBytes + 1, 2);
        const auto before = snapshot(m_songs);
        const ExportPlan plan = planExport(rowsFor({ a, b, a }), m_out, u"June Tour"_s, u'/');
        QVERIFY(QDir().mkpath(plan.folder));
        QList<qint64> progress;
        const ExportResult result = runJob(plan, &progress);
        QVERIFY2(result.outcome == ExportResult::Outcome::Completed && result.exported == 3, qPrintable(result.reason));
        QCOMPARE(snapshot(m_songs), before);
        QCOMPARE(progress.last(), 2 * 300000 + DurableCopy::InFlightBytes + 1);
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
    }

    // The bar ends full whatever the songs become: copies, MP3s whose frames'
    // gain moves (the same size as their source), and songs converted to
    // files of sizes known only once they are made.
    void progressEndsFull_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("gainDb");
        QTest::newRow("MP3s, levels matched, kept as they are") << QStringList{ u"a.mp3"_s, u"b.mp3"_s } << int(ExportFormat::Format::Original) << -3.0;
        QTest::newRow("a mix, levels matched") << QStringList{ u"a.mp3"_s, u"c.wav"_s, u"d.bin"_s } << int(ExportFormat::Format::Original) << -3.0;
        QTest::newRow("a mix as WAV") << QStringList{ u"a.mp3"_s, u"c.wav"_s } << int(ExportFormat::Format::Wav) << 0.0;
    }
    void progressEndsFull()
    {
        QFETCH(QStringList, names);
        QFETCH(int, format);
        QFETCH(double, gainDb);
        QStringList sources;
        QList<ExportFormat::Source> known;
        for (const QString &name : names) {
            const QString file = m_songs + u'/' + name;
            QVERIFY(name.endsWith(u".bin"_s) ? !writeSong(m_songs, name, 300000, 7).isEmpty() : MediaGen::tone(file, 3.0));
            sources.append(file);
            // A gain the bytes-only file cannot take leaves it a copy.
            known.append({ name.endsWith(u".bin"_s) ? 0.0 : gainDb, Loudness{ -20, -10 }, QFileInfo(file).size(), 3.0, {} });
        }
        ExportPlan plan = planExport(rowsFor(sources), m_out, u"Set"_s, u'/');
        ExportFormat::apply(plan, ExportFormat::Format(format), known);
        QVERIFY(QDir().mkpath(plan.folder));
        ExportJob job(plan);
        QList<std::pair<qint64, qint64>> progress;
        std::optional<ExportResult> result;
        connect(&job, &ExportJob::bytesProgress, this, [&](qint64 done, qint64 total) { progress.append({ done, total }); });
        connect(&job, &ExportJob::finished, this, [&](const ExportResult &r) { result = r; });
        job.start();
        QVERIFY(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
        QVERIFY2(result->outcome == ExportResult::Outcome::Completed, qPrintable(result->reason));
        qint64 written = 0;
        for (const ExportItem &item : plan.items)
            written += QFileInfo(item.destinationPath).size();
        QCOMPARE(progress.last(), std::make_pair(written, written));
        for (const auto &[done, total] : progress)
            QVERIFY(done <= total);
    }

    // On a volume as slow as a stick: the bar never shows a byte that has not
    // reached the device, nor lags far behind it, and a device torn down before
    // the end is never reported as done.
    void slowVolume_data()
    {
        QTest::addColumn<int>("pullAt"); // the song whose start pulls the stick out; 4: once all is shown
        QTest::newRow("left in") << -1;
        QTest::newRow("pulled during the third song") << 2;
        QTest::newRow("pulled once every byte is shown") << 4;
    }
    void slowVolume()
    {
        QFETCH(int, pullAt);
        SlowVolume volume(m_dir->path());
        if (!volume.mount())
            QSKIP(qPrintable(volume.why()));
        const qint64 songBytes = 3 << 20, total = 4 * songBytes;
        QStringList sources;
        for (int i = 0; i < 4; ++i)
            sources += writeSong(m_songs, u"S%1.mp3"_s.arg(i), songBytes, i);
        const ExportPlan plan = planExport(rowsFor(sources), volume.folder(), u"Set"_s, u'/');
        QVERIFY(QDir().mkpath(plan.folder));
        const qint64 before = volume.arrived();
        qint64 ahead = -total, behind = 0, shown = 0;
        ExportJob job(plan);
        std::optional<ExportResult> result;
        // Direct, so that the device is looked at the moment the bar is told to move.
        connect(&job, &ExportJob::bytesProgress, &job, [&](qint64 done, qint64) {
            const qint64 there = volume.arrived() - before;
            ahead = qMax(ahead, done - there), behind = qMax(behind, there - done), shown = done;
            if (pullAt == 4 && done == total)
                volume.pull();
        }, Qt::DirectConnection);
        connect(&job, &ExportJob::itemStarted, &job, [&](int i) { i == pullAt ? volume.pull() : void(); }, Qt::DirectConnection);
        connect(&job, &ExportJob::finished, this, [&](const ExportResult &r) { result = r; });
        job.start();
        QVERIFY(QTest::qWaitFor([&] { return result.has_value(); }, 120000));
        if (pullAt >= 0) {
            QVERIFY(result->outcome == ExportResult::Outcome::Failed && result->exported <= pullAt && !result->reason.isEmpty());
            return;
        }
        QVERIFY2(result->outcome == ExportResult::Outcome::Completed && shown == total, qPrintable(result->reason));
        QVERIFY2(ahead <= 0, qPrintable(u"shown %1 bytes before they arrived"_s.arg(ahead)));
        QVERIFY2(behind <= 2 * DurableCopy::InFlightBytes, qPrintable(u"shown %1 bytes behind the device"_s.arg(behind)));
        for (const ExportItem &item : plan.items)
            QCOMPARE(contents(item.destinationPath), contents(item.sourcePath));
    }

    void stopsWhereItFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("failedIndex");
        QTest::newRow("cancelled during the first song") << u"cancel"_s << -1;
        QTest::newRow("song deleted after the check") << u"deleted"_s << 1;
        QTest::newRow("disk full at the third song") << u"full"_s << 2;
        QTest::newRow("read-only volume") << u"readonly"_s << 0;
    }
    void stopsWhereItFails()
    {
        QFETCH(QString, fault);
        QFETCH(int, failedIndex);
        ScopedMount mount(m_out);
        if ((fault == "full"_L1 || fault == "readonly"_L1) && !mount.tmpfs(1024))
            QSKIP(qPrintable(mount.why()));
        QStringList sources;
        for (int i = 0; i < 4; ++i)
            sources += writeSong(m_songs, u"S%1.mp3"_s.arg(i), fault == "cancel"_L1 ? DurableCopy::InFlightBytes + 100 : 400 * 1024, i);
        const ExportPlan plan = planExport(rowsFor(sources), m_out, u"Set"_s, u'/');
        QVERIFY(QDir().mkpath(plan.folder));
        if (fault == "deleted"_L1)
            QVERIFY(QFile::remove(sources[1]));
        if (fault == "readonly"_L1)
            QVERIFY(mount.remountReadOnly());
        const ExportResult result = runJob(plan, nullptr, fault == "cancel"_L1);
        if (fault == "cancel"_L1) {
            QVERIFY(result.outcome == ExportResult::Outcome::Cancelled && result.exported == 1);
            return;
        }
        QCOMPARE(result.outcome, ExportResult::Outcome::Failed);
        QCOMPARE(result.failedIndex, failedIndex);
        QCOMPARE(result.exported, failedIndex);
        QVERIFY(!result.reason.isEmpty());
        if (fault == "full"_L1) { // in the user's words, the system's own text kept
            QVERIFY2(result.reason.contains(u"空き容量が足りません"_s), qPrintable(result.reason));
            QVERIFY(result.reason.contains(qt_error_string(ENOSPC)));
        }
    }
};

QTEST_GUILESS_MAIN(TestExportStorage)
#include "tst_exportstorage.moc"
