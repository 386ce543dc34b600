// TFrameCache: decoded pages kept for the viewer window, so a step back, a step forward
// or a return to a page costs no decode. One frame per page of a file (the sharpest one
// decoded), a memory budget over the pixels held, the least recently used going first, and
// the frame on screen kept whatever the budget says. It also remembers how many pages each
// file has once any of its pages was decoded. Used on the GUI thread only; the decode
// workers hand their frames over to it there.
#pragma once

#include <QHash>
#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

// One page of one file, as a page or as a thumbnail of a given size.
struct TFrameKey {
    QString Path;
    int Page = 0;
    // A thumbnail's box side in device pixels; 0 for the page itself. Tiles of the page
    // strip never take the place of the page, nor the page theirs.
    int Thumb = 0;

    bool IsEmpty() const { return Path.isEmpty(); }
    friend bool operator==(const TFrameKey& A, const TFrameKey& B) {
        return A.Page == B.Page && A.Thumb == B.Thumb && A.Path == B.Path;
    }
    friend bool operator!=(const TFrameKey& A, const TFrameKey& B) { return !(A == B); }
};

// What a file was when it was read. A file replaced under the same name (renamed over,
// copied over, rewritten in place, grown) differs in one of these, so a frame or a failure
// of the file before is not taken for the file now.
struct TFileStamp {
    qint64 Size = -1; // -1: not known (the file could not be examined, or it changed while read)
    qint64 ModifiedNs = 0;
    quint64 Inode = 0;
    quint64 Device = 0;

    bool IsKnown() const { return Size >= 0; }
    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

// The file's stamp now; unknown when it cannot be examined. Asks the file system, which may
// hang on a share that does not answer: never on the GUI thread.
TFileStamp StampOf(const QString& APath);

// A decoded page, or the reason it could not be decoded.
struct TFrame {
    QImage Image;   // reduced to the size it is drawn at (or more); empty when Failed()
    QSize FullSize; // the page's own pixel size, upright
    int Page = 0;   // 0-based
    int PageCount = 1;
    QSizeF DotsPerInch; // empty when the file states none
    QString Error;      // why the decode failed; empty on success
    TFileStamp Stamp;   // the file as it was read; unknown when it changed during the read

    bool Failed() const { return !Error.isEmpty(); }
    qint64 Bytes() const { return Image.sizeInBytes(); }
};

// The cache's budget: LUMIVANE_CACHE_MB mebibytes when set to a positive whole number,
// otherwise 128 MiB.
qint64 FrameCacheBudgetFromEnvironment();

class TFrameCache {
public:
    explicit TFrameCache(qint64 ABudgetBytes);

    qint64 Budget() const { return FBudget; }
    // Bytes of pixels held now.
    qint64 Used() const { return FUsed; }
    int Count() const { return static_cast<int>(FEntries.size()); }

    // The frame held for the page, marked as just used; nothing when none is held.
    std::optional<TFrame> Find(const TFrameKey& AKey);
    // The frame held for the page without marking it used; null when none is held.
    const TFrame* Peek(const TFrameKey& AKey) const;
    bool Contains(const TFrameKey& AKey) const { return Peek(AKey) != nullptr; }
    // Keeps the frame for the page. A frame with fewer pixels of the same picture does not
    // replace a sharper one already held. Least recently used frames go until the budget
    // holds again; the shown frame stays, so a shown frame larger than the budget is kept
    // alone.
    void Insert(const TFrameKey& AKey, TFrame AFrame);
    // The page on screen: never evicted, also when its frame comes later. An empty key:
    // nothing on screen.
    void SetShown(const TFrameKey& AKey);
    const TFrameKey& Shown() const { return FShown; }
    // Forgets every frame and page count of the file (it changed on disk).
    void Remove(const QString& APath);
    // Forgets everything (another identifier was searched).
    void Clear();

    // The number of pages of the file, once a page of it was decoded; -1 until then.
    int PageCount(const QString& APath) const { return FPageCounts.value(APath, -1); }

private:
    struct Entry {
        TFrameKey Key;
        TFrame Frame;
        quint64 LastUse = 0;
    };
    void Evict();
    std::vector<Entry>::iterator At(const TFrameKey& AKey);

    qint64 FBudget;
    qint64 FUsed = 0;
    quint64 FClock = 0;
    std::vector<Entry> FEntries;
    TFrameKey FShown;
    QHash<QString, int> FPageCounts;
};
