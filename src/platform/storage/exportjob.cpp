#include "platform/storage/exportjob.h"

#include "platform/storage/durablecopy.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

ExportJob::ExportJob(ExportPlan plan, QObject *parent) : QObject(parent), m_plan(std::move(plan))
{
}

ExportJob::~ExportJob()
{
    m_abort = true;
    m_cancel = true;
    m_future.waitForFinished();
}

void ExportJob::start()
{
    if (isRunning())
        return;
    m_cancel = false;
    m_abort = false;
    // Signals emitted on the worker reach receivers in this object's thread
    // through queued connections; finished is the last of them.
    m_future = QtConcurrent::run([this] {
        const ExportResult result = run();
        Q_EMIT finished(result);
    });
}

bool ExportJob::isRunning() const
{
    return m_future.isRunning();
}

void ExportJob::cancel()
{
    m_cancel = true;
}

ExportResult ExportJob::run()
{
    qint64 total = 0;
    for (const ExportItem &item : m_plan.items)
        total += qMax<qint64>(0, QFileInfo(item.sourcePath).size());

    ExportResult result;
    qint64 done = 0;
    Q_EMIT bytesProgress(done, total);
    for (qsizetype i = 0; i < m_plan.items.size(); ++i) {
        if (m_cancel) {
            result.outcome = ExportResult::Outcome::Cancelled;
            break;
        }
        const ExportItem &item = m_plan.items.at(i);
        Q_EMIT itemStarted(int(i));
        // The user's cancel is not passed down: the current song is finished.
        const DurableCopy::Result copy = DurableCopy::copy(
            item.sourcePath, item.destinationPath,
            [&](qint64 bytes) {
                done += bytes;
                Q_EMIT bytesProgress(done, qMax(total, done));
            },
            &m_abort);
        if (!copy.ok()) {
            result.outcome = ExportResult::Outcome::Failed;
            result.failedIndex = int(i);
            result.reason = copy.outcome == DurableCopy::Outcome::Aborted
                ? QStringLiteral("aborted")
                : copy.reason;
            break;
        }
        ++result.exported;
        Q_EMIT itemFinished(int(i));
    }

    // The entries of the copied files are flushed whatever the ending, so
    // that what was reported as exported survives the stick being pulled out.
    const QString syncError = DurableCopy::syncFolder(m_plan.folder);
    if (!syncError.isEmpty() && result.outcome != ExportResult::Outcome::Failed) {
        result.outcome = ExportResult::Outcome::Failed;
        result.failedIndex = -1;
        result.reason = syncError;
    }
    return result;
}
