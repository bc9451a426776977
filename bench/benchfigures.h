#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include "support/mediagen.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

// What the benchmarks share: medians of noisy runs, this process's peak memory, and the
// 60-minute set the audio benchmarks work on.

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The 60-minute set of songs (MediaGen::showSet), made once in argv[2] or in `folder` beside
// the program, and how many runs to measure (argv[1], 3 by default). Needs the application.
struct ShowSetBench {
    int runs = 3;
    QString base;
    QStringList songs; // empty when the songs could not be made
};

inline ShowSetBench showSetBench(int argc, char **argv, const QString &folder, bool ownLevels)
{
    ShowSetBench bench;
    bench.runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 3;
    bench.base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationDirPath() + u'/' + folder;
    std::printf("making the songs (once) in %s\n", qPrintable(bench.base));
    bench.songs = MediaGen::showSet(bench.base + QLatin1StringView("/songs"), ownLevels);
    return bench;
}

// The event loop's longest wait while it lives: how late a 1 ms timer fires,
// the time a window would have stood still.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, double(m_beat.nsecsElapsed()) / 1e6 - 1);
            m_beat.restart();
        });
        m_beat.start();
        m_ticker.start();
    }
    [[nodiscard]] double longestMs() const { return m_longest; }

private:
    QElapsedTimer m_beat;
    QTimer m_ticker;
    double m_longest = 0;
};
