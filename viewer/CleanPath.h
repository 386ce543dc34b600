// Paths as QDir::cleanPath spells them, cheaply for the common case: a path with nothing to
// clean is returned as it is after a scan of its characters, where cleaning every path of a
// list of ten thousand files would take the GUI thread for milliseconds.
#pragma once

#include <QDir>
#include <QString>

namespace lvpaths {

// Whether QDir::cleanPath could spell APath otherwise.
inline bool MayNeedCleaning(const QString& APath) {
    if (APath.startsWith(QLatin1String("./")) || APath.endsWith(QLatin1Char('/')) ||
        APath.endsWith(QLatin1String("/.")) || APath.endsWith(QLatin1String("/..")) ||
        APath == QLatin1String(".") || APath == QLatin1String(".."))
        return true;
    if (APath.contains(QLatin1String("//")) || APath.contains(QLatin1String("/./")) ||
        APath.contains(QLatin1String("/../")))
        return true;
#if defined(Q_OS_WIN)
    return APath.contains(QLatin1Char('\\'));
#else
    return false;
#endif
}

inline QString Cleaned(const QString& APath) {
    return MayNeedCleaning(APath) ? QDir::cleanPath(APath) : APath;
}

} // namespace lvpaths
