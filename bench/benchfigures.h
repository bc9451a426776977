#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

// What the benchmarks share: medians of noisy runs and this process's peak memory.

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
