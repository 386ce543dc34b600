// What the viewer benchmarks share: placing sample files where a search finds them, and
// the process's own memory figures.
#pragma once

#include <QFile>
#include <QString>

#include <unistd.h>

#include <fstream>
#include <string>

namespace lvbench {

// A hard link where the file system allows it (a symbolic link would leave the source
// folder, which the search refuses to open), a copy otherwise.
inline void Place(const QString& ASource, const QString& ATarget) {
    QFile::remove(ATarget);
    if (::link(QFile::encodeName(ASource).constData(), QFile::encodeName(ATarget).constData()) != 0)
        QFile::copy(ASource, ATarget);
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
