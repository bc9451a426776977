#pragma once

#include <QStandardPaths>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

// What the benchmarks share: medians of noisy runs, this process's peak memory,
// and the set-up of a benchmark that drives the real window.

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

// Before the application is made: figures appear as they are measured, the
// window draws offscreen unless a display is asked for, and no setting of a
// real user is read or written.
inline void prepareWindowBench()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
}
