#include "viewer/FrameCache.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

TFileStamp StampOf(const QString& APath) {
    TFileStamp stamp;
#if defined(Q_OS_UNIX)
    struct stat st {};
    if (::stat(QFile::encodeName(APath).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return stamp;
    stamp.Size = static_cast<qint64>(st.st_size);
    stamp.ModifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Inode = static_cast<quint64>(st.st_ino);
    stamp.Device = static_cast<quint64>(st.st_dev);
#else
    const QFileInfo info(APath);
    if (!info.isFile())
        return stamp;
    stamp.Size = info.size();
    stamp.ModifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return stamp;
}

qint64 FrameCacheBudgetFromEnvironment() {
    constexpr qint64 kMiB = qint64{1024} * 1024;
    bool ok = false;
    const qint64 mb = qEnvironmentVariable("LUMIVANE_CACHE_MB").trimmed().toLongLong(&ok);
    // Beyond a terabyte is a typo, not a budget.
    if (ok && mb > 0 && mb <= qint64{1024} * 1024)
        return mb * kMiB;
    return 128 * kMiB;
}

TFrameCache::TFrameCache(qint64 ABudgetBytes) : FBudget(std::max<qint64>(0, ABudgetBytes)) {}

std::vector<TFrameCache::Entry>::iterator TFrameCache::At(const TFrameKey& AKey) {
    return std::find_if(FEntries.begin(), FEntries.end(),
                        [&](const Entry& AEntry) { return AEntry.Key == AKey; });
}

std::optional<TFrame> TFrameCache::Find(const TFrameKey& AKey) {
    const auto it = At(AKey);
    if (it == FEntries.end())
        return std::nullopt;
    it->LastUse = ++FClock;
    return it->Frame;
}

const TFrame* TFrameCache::Peek(const TFrameKey& AKey) const {
    const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                                 [&](const Entry& AEntry) { return AEntry.Key == AKey; });
    return it == FEntries.end() ? nullptr : &it->Frame;
}

void TFrameCache::Insert(const TFrameKey& AKey, TFrame AFrame) {
    // A failed page still tells how many pages its file has (the decoder reads that apart).
    if (AFrame.PageCount > 0)
        FPageCounts.insert(AKey.Path, AFrame.PageCount);
    // Frames of the file as it was before are of no use any more.
    if (AFrame.Stamp.IsKnown()) {
        const auto end = std::remove_if(FEntries.begin(), FEntries.end(), [&](const Entry& AEntry) {
            if (AEntry.Key.Path != AKey.Path || AEntry.Frame.Stamp == AFrame.Stamp)
                return false;
            FUsed -= AEntry.Frame.Bytes();
            return true;
        });
        FEntries.erase(end, FEntries.end());
    }
    auto it = At(AKey);
    if (it != FEntries.end()) {
        const TFrame& held = it->Frame;
        // A prefetch at the fitted size must not throw away the detail a zoom decoded.
        if (!AFrame.Failed() && !held.Failed() && held.Stamp == AFrame.Stamp &&
            held.FullSize == AFrame.FullSize && held.Image.width() >= AFrame.Image.width() &&
            held.Image.height() >= AFrame.Image.height()) {
            it->LastUse = ++FClock;
            return;
        }
        FUsed -= held.Bytes();
        it->Frame = std::move(AFrame);
        FUsed += it->Frame.Bytes();
        it->LastUse = ++FClock;
    } else {
        FUsed += AFrame.Bytes();
        FEntries.push_back({AKey, std::move(AFrame), ++FClock});
    }
    Evict();
}

void TFrameCache::Evict() {
    while (FUsed > FBudget) {
        auto victim = FEntries.end();
        for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
            if (it->Key != FShown && (victim == FEntries.end() || it->LastUse < victim->LastUse))
                victim = it;
        }
        if (victim == FEntries.end())
            return; // only the shown frame is left
        FUsed -= victim->Frame.Bytes();
        FEntries.erase(victim);
    }
}

void TFrameCache::SetShown(const TFrameKey& AKey) {
    FShown = AKey;
    if (const auto it = At(AKey); it != FEntries.end())
        it->LastUse = ++FClock;
    // The frame that lost its protection may now be the one over budget.
    Evict();
}

void TFrameCache::Remove(const QString& APath) {
    FPageCounts.remove(APath);
    const auto end = std::remove_if(FEntries.begin(), FEntries.end(), [&](const Entry& AEntry) {
        if (AEntry.Key.Path != APath)
            return false;
        FUsed -= AEntry.Frame.Bytes();
        return true;
    });
    FEntries.erase(end, FEntries.end());
}

void TFrameCache::Clear() {
    FEntries.clear();
    FPageCounts.clear();
    FUsed = 0;
    FShown = {};
}
