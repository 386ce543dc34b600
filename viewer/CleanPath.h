// Paths as QDir::cleanPath spells them, cheaply for the common case: a path with nothing to
// clean is returned as it is after a scan of its characters, where cleaning every path of a
// list of ten thousand files would take the GUI thread for milliseconds.
#pragma once

#include <QDir>
#include <QString>

namespace lvpaths {

// Whether QDir::cleanPath could spell APath otherwise: an empty segment ("//"), a "." or
// ".." segment, a trailing "/" (other than the root's), or, on Windows, a backslash. One
// pass over the characters.
inline bool MayNeedCleaning(const QString& APath) {
    const qsizetype n = APath.size();
    if (n > 1 && APath.back() == QLatin1Char('/'))
        return true;
    qsizetype segmentStart = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        const QChar c = i < n ? APath[i] : QLatin1Char('/');
#if defined(Q_OS_WIN)
        if (c == QLatin1Char('\\'))
            return true;
#endif
        if (c != QLatin1Char('/'))
            continue;
        const qsizetype length = i - segmentStart;
        if (length == 0 && i > 0 && i < n)
            return true; // "//"
        if (length == 1 && APath[segmentStart] == QLatin1Char('.'))
            return true;
        if (length == 2 && APath[segmentStart] == QLatin1Char('.') &&
            APath[segmentStart + 1] == QLatin1Char('.'))
            return true;
        segmentStart = i + 1;
    }
    return false;
}

inline QString Cleaned(const QString& APath) {
    return MayNeedCleaning(APath) ? QDir::cleanPath(APath) : APath;
}

} // namespace lvpaths
