// TBrowseModel: what the viewer is browsing and where in it the user is. It holds the
// image records of the current search in order, the selected file with the page wanted
// of it, the page on screen, and each file's page count once known; it applies the step
// rules (next / back by file, Page Down / Up across files, first / last, go to file n page
// p), merges fresh scans, and names the neighbours worth decoding ahead.
//
// It never decodes, reads a file or touches a widget: the window, the navigation row, the
// title line and the page strip observe its signals and call its steps. None of them keeps
// its own copy of the position.
//
// A page step moves the wanted position at once, also while the file's page count is not
// known yet: the page is then held relative to the file's start (0, 1, ...) or to its end
// (-1 the last page, -2 the one before), and put right when the count arrives (SetPageCount),
// which may carry it into the next or previous file.
#pragma once

#include "images/Orlenza.Types.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>

#include <vector>

// A page of a listed file. Page >= 0 counts from the file's first page, Page < 0 from its
// last (-1 is the last page).
struct TBrowsePosition {
    int File = -1;
    int Page = 0;

    bool IsEmpty() const { return File < 0; }
    friend bool operator==(const TBrowsePosition&, const TBrowsePosition&) = default;
};

// A list of files with each file's path (as FilePath spells it) and where each path is
// listed: made on the worker that listed the folders, so ten thousand files cost the GUI
// thread no conversions and no hashing when the model takes them.
struct TBrowseList {
    std::vector<TLumivaneImage> Images;
    std::vector<QString> Paths;
    std::vector<QString> Texts; // each file's Path as a list shows it
    // Each file's FullFileName as it is, bytes and all: shared, so a worker may hold it.
    std::shared_ptr<const std::vector<std::string>> FileNames;
    QHash<QString, QList<int>> FilesByPath;
    // The few paths QDir::cleanPath would spell otherwise, by their clean spelling.
    QHash<QString, QString> CleanSpellings;

    // On any thread.
    static TBrowseList Of(std::vector<TLumivaneImage> AImages);
};

class TBrowseModel : public QObject {
    Q_OBJECT
public:
    explicit TBrowseModel(QObject* parent = nullptr);

    // The list.
    const std::vector<TLumivaneImage>& Images() const { return FImages; }
    int Count() const { return static_cast<int>(FImages.size()); }
    // The record of a listed file; an empty record outside the list.
    const TLumivaneImage& Image(int AFile) const;
    // The file's path as decodes and page counts name it.
    QString FilePath(int AFile) const;
    // Each file's FullFileName, shared with whoever holds it (a worker looking up turns).
    std::shared_ptr<const std::vector<std::string>> FileNames() const { return FFileNames; }
    // Each file's Path as the file list shows it.
    const std::vector<QString>& Texts() const { return FTexts; }
    // Whether a file is listed under the path AFilePath (as FilePath spells it).
    bool Lists(const QString& AFilePath) const { return FFilesByPath.contains(AFilePath); }
    // The path a file is listed under, as FilePath spells it, for APath spelt as
    // QDir::cleanPath spells it (as the folder watcher names files); empty when no file is
    // listed there. Found without walking the list.
    QString ListedSpelling(const QString& APath) const;
    // A new search's list: nothing selected, nothing shown, nothing wanted.
    void SetImages(std::vector<TLumivaneImage> AImages);
    void SetImages(TBrowseList AList);
    enum class TMerge {
        Unchanged,     // the same files in the same order: nothing happened
        SelectionKept, // the selected file is still listed (perhaps at another place)
        NoneSelected,  // nothing was selected in a list that had entries, and still is not
        Reselected,    // the selected file went (the one now in its place is selected) or
                       // the first files arrived in an empty list: it is to be shown
    };
    // A fresh scan of the same search: files join, leave or move; what is known of the
    // files still listed (page counts, container text) stays.
    TMerge Merge(std::vector<TLumivaneImage> AImages);
    TMerge Merge(TBrowseList AList);
    // Where each path is listed (FilePath spelling): a copy shares it, so a worker may hold
    // one for a while.
    const QHash<QString, QList<int>>& FilesByPath() const { return FFilesByPath; }
    // A container's text was read: every entry of the path takes it.
    void SetContainerText(const std::string& APath, TLumivaneCantOpenReason AReason,
                          const std::string& AText);

    // The position.
    // 0-based selected file; -1 when nothing is selected.
    int Selected() const { return FWanted.File; }
    const TLumivaneImage& SelectedImage() const { return Image(FWanted.File); }
    // The selected file and the page wanted of it (possibly still relative, see above).
    TBrowsePosition Wanted() const { return FWanted; }
    // The wanted page as a page number of its file, when it can be told: a page from the
    // end needs the count; a page past page 0 needs it too, as the file may not have it.
    // -1 when the count must come first.
    int WantedPage() const;
    // Asked for and not on screen yet.
    bool IsPending() const { return FPending; }
    // The page on screen and its file's page count (1 for a file that failed as a whole).
    TBrowsePosition Shown() const { return FShown; }
    int ShownPageCount() const { return FShown.IsEmpty() ? 0 : FShownPageCount; }

    // Steps; each returns whether the position moved (or, for Select, was asked for).
    // Select asks for the file's page even when it is selected already (shown again).
    bool Select(int AFile, int APage = 0);
    bool StepFile(int ADirection);
    bool StepPage(int ADirection);
    bool SelectFirstOrLast(bool ALast);
    // What the user typed to go to: "3" (file 3) or "3/2" (its page 2), counted from 1 as
    // the title line counts. Empty, with why in AWhy, for anything else, a file not listed
    // or a page its file does not have. A page past 1 of a file whose count is not known
    // yet is taken; the count places it when it comes.
    std::optional<TBrowsePosition> GoToTarget(const QString& AText, QString* AWhy = nullptr) const;

    // The page put on screen (its picture or its failure), with its file's page count.
    void SetShown(int AFile, int APage, int APageCount);
    // Nothing on screen (a hide, another search).
    void ClearShown();
    // Whatever was asked for is no longer coming (a cancel): the position stays.
    void Abandon() { FPending = false; }

    // Page counts, by path: every entry of the path takes it. A file that cannot be read
    // counts as one page.
    void SetPageCount(const QString& APath, int ACount);
    // -1 while not known.
    int PageCount(int AFile) const;

    // The pages worth having ready next, the most likely first: the next page of the file
    // shown, the next file, the previous file. Never a secured file. Empty while a step
    // is on its way.
    std::vector<TBrowsePosition> Neighbours() const;

signals:
    // The list was replaced or merged: its rows changed.
    void ListChanged();
    // A file's record changed in place (its container text).
    void FileChanged(int AFile);
    // The selected file or the wanted page changed, or the same page was asked for again.
    void WantedChanged();
    // What is on screen changed.
    void ShownChanged();
    // A file's page count became known.
    void PageCountKnown(int AFile);

private:
    // Puts a relative wanted page right as far as the counts known allow.
    void Normalize();
    void Want(TBrowsePosition APosition);

    // The list and its index, replacing what was listed.
    void Take(TBrowseList AList);

    std::vector<TLumivaneImage> FImages;
    // Each file's FilePath, and where a path is listed: a count arriving for one file of
    // ten thousand finds it without converting and comparing every path of the list.
    std::vector<QString> FPaths;
    std::vector<QString> FTexts;
    std::shared_ptr<const std::vector<std::string>> FFileNames =
        std::make_shared<const std::vector<std::string>>();
    QHash<QString, QList<int>> FFilesByPath;
    // The few listed paths QDir::cleanPath would spell otherwise, by their clean spelling.
    QHash<QString, QString> FCleanSpellings;
    QHash<QString, int> FCounts; // by FilePath, kept across merges
    TBrowsePosition FWanted;
    bool FPending = false;
    TBrowsePosition FShown;
    int FShownPageCount = 1;
};
