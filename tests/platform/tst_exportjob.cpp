#include "exfatimage.h"
#include "exportfixtures.h"

#include "platform/storage/durablecopy.h"
#include "platform/storage/exportjob.h"
#include "platform/storage/foldercreation.h"

#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace fixtures;

class TestExportJob : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void folderCreation();
    void folderCreationRefusesRootAndRelativePaths();

    void copyIsExactAndReportsEveryByte();
    void copyReplacesLongerFile();
    void copyOntoItsOwnSourceIsRefused();
    void copyReplacesALinkInsteadOfWritingThroughIt();
    void abortedCopyLeavesNothing();

    void exportCopiesTheWholeSet();
    void filesAreCreatedInSetListOrder();
    void cancelStopsAfterTheCurrentFile();
    void sourceDeletedAfterPlanning();
    void fullDiskStopsAtTheRow();
    void readOnlyDestination();
    void nameRefusedByFat();

private:
    ExportResult runJob(const ExportPlan &plan, QList<QPair<qint64, qint64>> *progress = nullptr,
                        bool cancelOnFirstItem = false);
    // The files of the plan before index k are exact copies; the rest are absent.
    void verifyExportedUpTo(const ExportPlan &plan, int k);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_songs;
    QString m_out;
};

void TestExportJob::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_songs = m_dir->filePath(u"songs"_s);
    m_out = m_dir->filePath(u"out"_s);
    QVERIFY(QDir().mkpath(m_songs));
    QVERIFY(QDir().mkpath(m_out));
}

ExportResult TestExportJob::runJob(const ExportPlan &plan, QList<QPair<qint64, qint64>> *progress,
                                   bool cancelOnFirstItem)
{
    // Received as the UI will: queued to this thread, in the order emitted.
    ExportJob job(plan);
    QList<int> started;
    QList<int> done;
    std::optional<ExportResult> result;
    connect(&job, &ExportJob::itemStarted, this, [&](int i) { started.append(i); });
    connect(&job, &ExportJob::itemFinished, this, [&](int i) { done.append(i); });
    connect(&job, &ExportJob::finished, this, [&](const ExportResult &r) { result = r; });
    if (progress) {
        connect(&job, &ExportJob::bytesProgress, this,
                [progress](qint64 d, qint64 t) { progress->append({d, t}); });
    }
    // Direct, so the cancel lands while the first file is being copied.
    if (cancelOnFirstItem)
        connect(&job, &ExportJob::itemStarted, &job, &ExportJob::cancel, Qt::DirectConnection);
    job.start();
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 60000))
        return {ExportResult::Outcome::Failed, -1, -1, u"timed out"_s};
    // Every started item but a failed one finished, in order.
    for (int i = 0; i < started.size(); ++i) {
        if (started.at(i) != i || (i < done.size() && done.at(i) != i))
            return {ExportResult::Outcome::Failed, -1, -1, u"signals out of order"_s};
    }
    if (done.size() != result->exported)
        return {ExportResult::Outcome::Failed, -1, -1, u"itemFinished count differs"_s};
    return *result;
}

void TestExportJob::verifyExportedUpTo(const ExportPlan &plan, int k)
{
    for (int i = 0; i < plan.items.size(); ++i) {
        const ExportItem &item = plan.items.at(i);
        if (i < k) {
            QVERIFY2(contents(item.destinationPath) == contents(item.sourcePath),
                     qPrintable(item.exportName));
        } else {
            QVERIFY2(!QFileInfo::exists(item.destinationPath), qPrintable(item.exportName));
        }
    }
}

void TestExportJob::folderCreation()
{
    const QString nested = m_out + u"/2024/June Tour"_s;
    QCOMPARE(FolderCreation::create(nested).outcome, FolderCreation::Outcome::Created);
    QVERIFY(QFileInfo(nested).isDir());
    QCOMPARE(FolderCreation::create(nested).outcome, FolderCreation::Outcome::AlreadyExists);
    // A doubled separator, as a base folder ending with one gives.
    QCOMPARE(FolderCreation::createExportFolder(m_out + u'/', m_out + u"//Set"_s).outcome,
             FolderCreation::Outcome::Created);
    QVERIFY(QFileInfo(m_out + u"/Set"_s).isDir());

    const QString file = writeSong(m_out, u"file"_s, 10, 1);
    auto result = FolderCreation::create(file);
    QCOMPARE(result.outcome, FolderCreation::Outcome::Failed);
    QVERIFY(!result.reason.isEmpty());
    result = FolderCreation::create(file + u"/below"_s);
    QCOMPARE(result.outcome, FolderCreation::Outcome::Failed);
    QVERIFY(!result.reason.isEmpty());
    QCOMPARE(contents(file), songBytes(10, 1));
}

void TestExportJob::folderCreationRefusesRootAndRelativePaths()
{
    // An empty base folder joined with the separator points at the root.
    const QString name = u"korvanda-test-%1"_s.arg(QCoreApplication::applicationPid());
    auto result = FolderCreation::createExportFolder(QString(), u"/"_s + name);
    QCOMPARE(result.outcome, FolderCreation::Outcome::Failed);
    QVERIFY(!QFileInfo::exists(u"/"_s + name));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_out));
    result = FolderCreation::createExportFolder(u"relative"_s, u"relative/Set"_s);
    QDir::setCurrent(before);
    QCOMPARE(result.outcome, FolderCreation::Outcome::Failed);
    QVERIFY(!QFileInfo::exists(m_out + u"/relative"_s));
}

void TestExportJob::copyIsExactAndReportsEveryByte()
{
    // Longer than one chunk, and not a multiple of it.
    const qint64 size = DurableCopy::ChunkBytes + 12345;
    const QString source = writeSong(m_songs, u"Long.wav"_s, size, 7);
    qint64 reported = 0;
    const auto result = DurableCopy::copy(source, m_out + u"/01 Long.wav"_s,
                                          [&](qint64 bytes) { reported += bytes; });
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(reported, size);
    QCOMPARE(contents(m_out + u"/01 Long.wav"_s), songBytes(size, 7));

    const QString empty = writeSong(m_songs, u"Empty.mp3"_s, 0, 1);
    QVERIFY(DurableCopy::copy(empty, m_out + u"/02 Empty.mp3"_s).ok());
    QCOMPARE(QFileInfo(m_out + u"/02 Empty.mp3"_s).size(), 0);
}

void TestExportJob::copyReplacesLongerFile()
{
    const QString source = writeSong(m_songs, u"Short.mp3"_s, 1000, 1);
    writeSong(m_out, u"01 Short.mp3"_s, 50000, 2);
    QVERIFY(DurableCopy::copy(source, m_out + u"/01 Short.mp3"_s).ok());
    QCOMPARE(contents(m_out + u"/01 Short.mp3"_s), songBytes(1000, 1));
}

void TestExportJob::copyOntoItsOwnSourceIsRefused()
{
    const QString source = writeSong(m_songs, u"Mine.mp3"_s, 1000, 1);
    QVERIFY(QFile::link(source, m_out + u"/01 Mine.mp3"_s));
    const auto result = DurableCopy::copy(source, m_out + u"/01 Mine.mp3"_s);
    QCOMPARE(result.outcome, DurableCopy::Outcome::Failed);
    QCOMPARE(contents(source), songBytes(1000, 1));
    QCOMPARE(DurableCopy::copy(source, source).outcome, DurableCopy::Outcome::Failed);
    QCOMPARE(contents(source), songBytes(1000, 1));
}

void TestExportJob::copyReplacesALinkInsteadOfWritingThroughIt()
{
    const QString source = writeSong(m_songs, u"A.mp3"_s, 1000, 1);
    const QString elsewhere = m_dir->filePath(u"elsewhere.mp3"_s);
    QVERIFY(QFile::link(elsewhere, m_out + u"/01 A.mp3"_s));
    QVERIFY(DurableCopy::copy(source, m_out + u"/01 A.mp3"_s).ok());
    QVERIFY(!QFileInfo::exists(elsewhere));
    QVERIFY(!QFileInfo(m_out + u"/01 A.mp3"_s).isSymLink());
    QCOMPARE(contents(m_out + u"/01 A.mp3"_s), songBytes(1000, 1));
}

void TestExportJob::abortedCopyLeavesNothing()
{
    const QString source = writeSong(m_songs, u"Long.wav"_s, DurableCopy::ChunkBytes * 2, 3);
    std::atomic_bool abort{false};
    const auto result = DurableCopy::copy(source, m_out + u"/01 Long.wav"_s,
                                          [&](qint64) { abort = true; }, &abort);
    QCOMPARE(result.outcome, DurableCopy::Outcome::Aborted);
    QVERIFY(!QFileInfo::exists(m_out + u"/01 Long.wav"_s));
}

void TestExportJob::exportCopiesTheWholeSet()
{
    const QString a = writeSong(m_songs, u"Opening.mp3"_s, 300000, 1);
    const QString b = writeSong(m_songs, u"Ballad No.2.wav"_s, DurableCopy::ChunkBytes + 1, 2);
    const auto before = snapshot(m_songs);
    const ExportPlan plan = planExport(rowsFor({a, b, a}), m_out, u"June Tour"_s, u'/');
    QCOMPARE(FolderCreation::create(plan.folder).outcome, FolderCreation::Outcome::Created);

    QList<QPair<qint64, qint64>> progress;
    const ExportResult result = runJob(plan, &progress);
    QVERIFY2(result.outcome == ExportResult::Outcome::Completed, qPrintable(result.reason));
    QCOMPARE(result.exported, 3);
    verifyExportedUpTo(plan, 3);
    QCOMPARE(QDir(plan.folder).entryList(QDir::Files, QDir::Name),
             QStringList({u"01 Opening.mp3"_s, u"02 Ballad No.2.wav"_s, u"03 Opening.mp3"_s}));
    QCOMPARE(snapshot(m_songs), before);

    const qint64 total = 2 * 300000 + DurableCopy::ChunkBytes + 1;
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.first(), qMakePair(qint64(0), total));
    QCOMPARE(progress.last(), qMakePair(total, total));
    for (qsizetype i = 1; i < progress.size(); ++i)
        QVERIFY(progress.at(i).first >= progress.at(i - 1).first);
}

void TestExportJob::filesAreCreatedInSetListOrder()
{
    // Many players play a FAT or exFAT folder in the order of its directory
    // entries, which is the order they were created: read that order from the
    // volume itself once it is unmounted, not from a driver's readdir, which
    // may keep its own order in memory.
    const QString image = m_dir->filePath(u"exfat.img"_s);
    ScopedMount mount;
    if (!mount.mountExfat(image, m_out))
        QSKIP(qPrintable(mount.why()));
    QStringList sources;
    for (int i = 0; i < 12; ++i)
        sources += writeSong(m_songs, u"Song %1.mp3"_s.arg(QChar(u'L' - i)), 20000 + i, i);
    const ExportPlan plan = planExport(rowsFor(sources), m_out, u"Set"_s, u'/');
    QCOMPARE(FolderCreation::create(plan.folder).outcome, FolderCreation::Outcome::Created);
    QCOMPARE(runJob(plan).outcome, ExportResult::Outcome::Completed);
    verifyExportedUpTo(plan, 12);
    QVERIFY(mount.unmount());

    const ExfatImage volume(image);
    QVERIFY(volume.isValid());
    QStringList expected;
    for (const ExportItem &item : plan.items)
        expected += item.exportName;
    QCOMPARE(volume.entries({u"Set"_s}), expected);
}

void TestExportJob::cancelStopsAfterTheCurrentFile()
{
    QStringList sources;
    for (int i = 0; i < 4; ++i)
        sources += writeSong(m_songs, u"S%1.mp3"_s.arg(i), DurableCopy::ChunkBytes + 100, i);
    const ExportPlan plan = planExport(rowsFor(sources), m_out, u"Set"_s, u'/');
    QVERIFY(QDir().mkpath(plan.folder));
    const ExportResult result = runJob(plan, nullptr, true);
    QCOMPARE(result.outcome, ExportResult::Outcome::Cancelled);
    QCOMPARE(result.exported, 1);
    verifyExportedUpTo(plan, 1);
}

void TestExportJob::sourceDeletedAfterPlanning()
{
    const QString a = writeSong(m_songs, u"A.mp3"_s, 5000, 1);
    const QString b = writeSong(m_songs, u"B.mp3"_s, 5000, 2);
    const QString c = writeSong(m_songs, u"C.mp3"_s, 5000, 3);
    const ExportPlan plan = planExport(rowsFor({a, b, c}), m_out, u"Set"_s, u'/');
    QVERIFY(QDir().mkpath(plan.folder));
    QVERIFY(QFile::remove(b));
    const auto before = snapshot(m_songs);

    const ExportResult result = runJob(plan);
    QCOMPARE(result.outcome, ExportResult::Outcome::Failed);
    QCOMPARE(result.failedIndex, 1);
    QCOMPARE(result.exported, 1);
    QVERIFY(!result.reason.isEmpty());
    verifyExportedUpTo(plan, 1);
    QCOMPARE(snapshot(m_songs), before);
}

void TestExportJob::fullDiskStopsAtTheRow()
{
    ScopedMount mount;
    if (!mount.mountTmpfs(m_out, 1024))
        QSKIP(qPrintable(mount.why()));
    QStringList sources;
    for (int i = 0; i < 4; ++i)
        sources += writeSong(m_songs, u"S%1.mp3"_s.arg(i), 400 * 1024, i);
    const auto before = snapshot(m_songs);
    const ExportPlan plan = planExport(rowsFor(sources), m_out, u"Set"_s, u'/');
    QCOMPARE(FolderCreation::create(plan.folder).outcome, FolderCreation::Outcome::Created);

    const ExportResult result = runJob(plan);
    QCOMPARE(result.outcome, ExportResult::Outcome::Failed);
    QCOMPARE(result.failedIndex, 2);
    // The reason is told in the user's words, with the system's own text kept.
    QVERIFY2(result.reason.contains(u"空き容量が足りません"_s), qPrintable(result.reason));
    QVERIFY(result.reason.contains(qt_error_string(ENOSPC)));
    verifyExportedUpTo(plan, 2);
    QCOMPARE(snapshot(m_songs), before);
}

void TestExportJob::readOnlyDestination()
{
    ScopedMount mount;
    const QString a = writeSong(m_songs, u"A.mp3"_s, 5000, 1);
    const ExportPlan plan = planExport(rowsFor({a}), m_out, u"Set"_s, u'/');
    if (isRoot()) {
        // Root writes through any mode bits, but not onto a read-only mount.
        if (!mount.mountTmpfs(m_out, 1024))
            QSKIP(qPrintable(mount.why()));
        QVERIFY(QDir().mkpath(plan.folder));
        QVERIFY(mount.remountReadOnly());
    } else {
        QVERIFY(QDir().mkpath(plan.folder));
        QVERIFY(::chmod(QFile::encodeName(plan.folder).constData(), 0555) == 0);
    }
    const ExportResult result = runJob(plan);
    if (!isRoot())
        ::chmod(QFile::encodeName(plan.folder).constData(), 0755);
    QCOMPARE(result.outcome, ExportResult::Outcome::Failed);
    QVERIFY2(result.failedIndex == 0, qPrintable(result.reason));
    QCOMPARE(result.failedIndex, 0);
    QVERIFY(!result.reason.isEmpty());
    verifyExportedUpTo(plan, 0);
}

void TestExportJob::nameRefusedByFat()
{
    ScopedMount mount;
    if (!mount.mountFat(m_dir->filePath(u"fat.img"_s), m_out))
        QSKIP(qPrintable(mount.why()));
    const QString a = writeSong(m_songs, u"A.mp3"_s, 5000, 1);
    const QString b = writeSong(m_songs, u"Why?.mp3"_s, 5000, 2);
    const auto before = snapshot(m_songs);
    const ExportPlan plan = planExport(rowsFor({a, b, a}), m_out, u"Set"_s, u'/');
    QVERIFY(QDir().mkpath(plan.folder));

    const ExportResult result = runJob(plan);
    QCOMPARE(result.outcome, ExportResult::Outcome::Failed);
    QCOMPARE(result.failedIndex, 1);
    QVERIFY(!result.reason.isEmpty());
    verifyExportedUpTo(plan, 1);
    QCOMPARE(QDir(plan.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"01 A.mp3"_s});
    QCOMPARE(snapshot(m_songs), before);
}

QTEST_GUILESS_MAIN(TestExportJob)
#include "tst_exportjob.moc"
