#pragma once

#include "model/exportplan.h"

#include <QFuture>
#include <QObject>
#include <QString>

#include <atomic>

// How an export ended.
struct ExportResult
{
    enum class Outcome {
        Completed,   // every item copied and the folder flushed
        Cancelled,   // stopped after item exported - 1 at the user's request
        Failed,      // item failedIndex could not be copied (or, with
                     // failedIndex -1, the device or the folder could not be flushed)
    };
    Outcome outcome = Outcome::Completed;
    int exported = 0;       // items whose bytes all reached the device, from the first on
    int failedIndex = -1;   // index into the plan's items
    QString reason;         // the system's reason when Failed
};

// Runs a plan's copies one after another, in set-list order, off the UI thread.
// The signals are queued to the thread that owns the job. bytesProgress counts
// bytes that reached the device; itemFinished follows once all of a song is
// there, which may be while the next one is being copied.
class ExportJob : public QObject
{
    Q_OBJECT

public:
    explicit ExportJob(ExportPlan plan, QObject *parent = nullptr);
    // Waits for the worker; a copy under way is abandoned and its partial file
    // removed, so a closing program never leaves half a song on the stick.
    ~ExportJob() override;

    // Starts the copies; the folder must already exist.
    void start();
    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] const ExportPlan &plan() const { return m_plan; }

public Q_SLOTS:
    // Stops after the item being copied: a song is either on the stick whole,
    // with its line, or not at all.
    void cancel();
    // Stops at once, as a closing program does: the song being copied is
    // removed, the songs done stay.
    void abort();

Q_SIGNALS:
    void itemStarted(int index);
    void itemFinished(int index);
    void bytesProgress(qint64 done, qint64 total);
    void finished(const ExportResult &result);

private:
    ExportResult run();

    const ExportPlan m_plan;
    QFuture<void> m_future;
    std::atomic_bool m_cancel{false};
    std::atomic_bool m_abort{false};
};
