#include "platform/storage/exportjob.h"

#include "platform/audio/conversionsahead.h"
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

void ExportJob::abort()
{
    m_abort = true;
    m_cancel = true;
}

ExportResult ExportJob::run()
{
    // Converted songs count with their expected size until they are made, then
    // with what was made in place of that: the same figure both times, so the
    // bar ends full whether a song was expected at its source's size (a copy,
    // an MP3 whose frames' gain moves) or at an estimate.
    QList<qint64> counted;
    qint64 total = 0;
    for (const ExportItem &item : m_plan.items) {
        counted.append(item.expectedBytes >= 0 && ConversionsAhead::needsConversion(item)
                           ? item.expectedBytes
                           : qMax<qint64>(0, QFileInfo(item.sourcePath).size()));
        total += counted.last();
    }
    ConversionsAhead conversions(m_plan.items);

    ExportResult result;
    qint64 done = 0;
    Q_EMIT bytesProgress(done, total);
    // The bar counts bytes that reached the device, and a song's line follows
    // once all of it is there, so neither runs ahead of what a pulled stick keeps.
    DurableCopy copier(
        [&](qint64 bytes) {
            done += bytes;
            Q_EMIT bytesProgress(done, qMax(total, done));
        },
        [&](int file) {
            ++result.exported;
            Q_EMIT itemFinished(file);
        });
    const auto failed = [&](const DurableCopy::Result &r) {
        // The earliest song that did not make it is the one to name: the
        // export went no further than it.
        if (result.outcome == ExportResult::Outcome::Failed && result.failedIndex >= 0
            && (r.file < 0 || r.file > result.failedIndex))
            return;
        result.outcome = ExportResult::Outcome::Failed;
        result.failedIndex = r.file;
        result.reason = r.outcome == DurableCopy::Outcome::Aborted ? QStringLiteral("aborted") : r.reason;
    };

    for (qsizetype i = 0; i < m_plan.items.size(); ++i) {
        if (m_cancel) {
            result.outcome = ExportResult::Outcome::Cancelled;
            break;
        }
        const ExportItem &item = m_plan.items.at(i);
        Q_EMIT itemStarted(int(i));
        QString source = item.sourcePath;
        if (ConversionsAhead::needsConversion(item)) {
            const ConversionsAhead::Ready ready = conversions.take(int(i), &m_abort);
            if (!ready.ok) {
                failed({ ready.reason.isEmpty() ? DurableCopy::Outcome::Aborted : DurableCopy::Outcome::Failed,
                         ready.reason, int(i) });
                break;
            }
            total += ready.bytes - counted.at(i);
            source = ready.path;
        }
        // The user's cancel is not passed down: the current song is finished.
        const DurableCopy::Result copy = copier.copy(source, item.destinationPath, &m_abort);
        if (ConversionsAhead::needsConversion(item))
            conversions.release(int(i));
        if (!copy.ok()) {
            failed(copy);
            break;
        }
    }

    // What was copied is flushed whatever the ending, so that what is reported
    // as exported survives the stick being pulled out.
    if (const DurableCopy::Result end = copier.finish(m_plan.folder); !end.ok())
        failed(end);
    return result;
}
