#pragma once
// Small helpers the benchmark programs share.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

inline double Percentile(std::vector<double> Values, double Fraction)
{
    if (Values.empty()) return 0;
    std::sort(Values.begin(), Values.end());
    const size_t at = std::min(Values.size() - 1, static_cast<size_t>(Fraction * static_cast<double>(Values.size())));
    return Values[at];
}

inline double Seconds(std::chrono::steady_clock::duration D)
{
    return std::chrono::duration<double>(D).count();
}

// CPU time of the whole process, in seconds.
inline double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of every thread but the calling one, in seconds, from the
// scheduler's own nanosecond counts.
inline double OtherThreadsCpuSeconds()
{
    const long self = static_cast<long>(gettid());
    double total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return 0;
    while (dirent* entry = readdir(dir)) {
        const long tid = std::atol(entry->d_name);
        if (tid <= 0 || tid == self) continue;
        std::ifstream stat("/proc/self/task/" + std::string(entry->d_name) + "/schedstat");
        unsigned long long ns = 0;
        if (stat >> ns) total += static_cast<double>(ns) / 1e9;
    }
    closedir(dir);
    return total;
}

inline double PeakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}
