// What every benchmark program shares, free of Qt: durations in milliseconds, medians and
// the process's own memory figures.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace lvbench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration ADuration) {
    return std::chrono::duration<double, std::milli>(ADuration).count();
}

inline double Median(std::vector<double> AValues) {
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}

// A figure of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when it is not there.
inline long StatusKb(const char* AKey) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == AKey) {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

} // namespace lvbench
