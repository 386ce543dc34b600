// ScreenPositionTracker: the placement record of one window, its JSON file, and saving
// and restoring a window's placement over plain window and display descriptions.
//
// Nothing here knows a GUI toolkit: the window is an IPlacementWindow and the displays,
// the main window, the data folder and the program title arrive in a
// TPlacementEnvironment, so any set of displays can be described (the Qt adapter in
// app/QtFormPlacement.h fills both from real widgets and screens).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The toolkit's window-state enumeration, in its order.
enum TWindowState : std::uint8_t {
    wsNormal = 0,
    wsMinimized = 1,
    wsMaximized = 2,
};

// A point of two 32-bit floats, x then y.
struct TPointF {
    float X = 0;
    float Y = 0;
    friend bool operator==(const TPointF&, const TPointF&) = default;
};

// A rectangle in window-geometry units. Right and Bottom are Left + Width and
// Top + Height, so two displays side by side share an edge.
struct TPlacementRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    long long Right() const { return static_cast<long long>(Left) + Width; }
    long long Bottom() const { return static_cast<long long>(Top) + Height; }
    friend bool operator==(const TPlacementRect&, const TPlacementRect&) = default;
};

// One display: its work area (without task bars) and its full bounds.
struct TPlacementDisplay {
    TPlacementRect WorkArea;
    TPlacementRect Bounds;
};

// Everything around a window that saving and loading look at.
struct TPlacementEnvironment {
    std::vector<TPlacementDisplay> Displays;  // in the toolkit's order
    std::optional<TPlacementRect> MainWindow; // outer geometry of the main window, if any
    std::filesystem::path DataFolder;         // the per-user local data folder
    std::string Title;                        // the program's default title
};

// The window being saved or restored. Sizes are outer (frame included) unless named
// client sizes.
class IPlacementWindow {
public:
    virtual ~IPlacementWindow() = default;
    virtual std::string ComponentName() const = 0;
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual TWindowState WindowState() const = 0;
    virtual bool FullScreen() const = 0;
    // Keeps the toolkit and the system from placing the window on their own.
    virtual void SetDesignedPosition() = 0;
    virtual void SetPosition(int ALeft, int ATop) = 0;
    virtual void SetSize(int AWidth, int AHeight) = 0;
    virtual void SetWindowState(TWindowState AState) = 0;
    virtual void SetFullScreen(bool AFullScreen) = 0;
};

// A window together with what surrounds it: what the controllers pass around as "the
// form" when they save or restore its placement, without knowing the toolkit.
class IPlacementForm : public IPlacementWindow {
public:
    virtual TPlacementEnvironment PlacementEnvironment() const = 0;
};

class IPositionTracker;
using IPositionTrackerPtr = std::shared_ptr<IPositionTracker>;

// A hook that takes part in saving or loading; an empty one is skipped.
using TPositionTrackerEvent = std::function<void(const IPositionTrackerPtr& ATracker)>;

class IPositionTracker {
public:
    virtual ~IPositionTracker() = default;
    virtual void SetFullScreen(bool Value) = 0;
    virtual void SetMonitor(std::int32_t Value) = 0;
    virtual void SetMonitorCount(float Value) = 0;
    virtual void SetPosition(TPointF Value) = 0;
    virtual void SetScreenMode(TWindowState Value) = 0;
    virtual void SetTargetName(const std::string& Value) = 0;
    virtual void SetDesktopSize(TPointF Value) = 0;
    virtual void SetMainformMonitor(std::int32_t Value) = 0;
    virtual void SetFitToWidth(bool Value) = 0;
    virtual void SetZoom(float Value) = 0;
    virtual void SetFormSize(TPointF Value) = 0;
    virtual bool FullScreen() const = 0;
    virtual std::int32_t Monitor() const = 0;
    virtual float MonitorCount() const = 0;
    virtual TPointF Position() const = 0;
    virtual TWindowState ScreenMode() const = 0;
    virtual std::string TargetName() const = 0; // "TrackedForms" while the stored name is empty
    virtual TPointF DesktopSize() const = 0;
    virtual std::int32_t MainformMonitor() const = 0;
    virtual bool FitToWidth() const = 0;
    virtual float Zoom() const = 0;
    virtual TPointF FormSize() const = 0;
    // Captures AForm into this record and writes its file; writing failures are silent.
    virtual void Save(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                      const TPositionTrackerEvent& AOnCustomProperties) = 0;
    // Restores AForm from its file when the saved place still fits, else calls AOnDefault.
    virtual void Load(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                      const TPositionTrackerEvent& AOnDefault,
                      const TPositionTrackerEvent& AOnCustomProperties) = 0;
};

// The record. Always held through a shared pointer (see Create), since the hooks receive
// the record itself.
class TPositionTracker final : public IPositionTracker,
                               public std::enable_shared_from_this<TPositionTracker> {
public:
    static constexpr const char* DefaultTargetName = "TrackedForms";
    // The viewer opened on files, with no host, keeps its placement and its other
    // remembered choices under this name. A block's connection name ends at its first NUL,
    // so no host can give a connection this name, and the files it maps to (the NUL
    // written "%00") are no connection's.
    static std::string OpenedFilesTargetName() { return std::string("\0opened-files", 13); }
    // What the reader takes at most: a written file is a few hundred bytes, nested three
    // deep.
    static constexpr std::size_t MaxFileSize = std::size_t{64} * 1024;
    static constexpr std::size_t MaxNestingDepth = 16;

    static std::shared_ptr<TPositionTracker> Create(const std::string& ATargetName);

    // One record per call, released at its end.
    static void SaveFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                 const TPlacementEnvironment& AEnvironment,
                                 const TPositionTrackerEvent& AOnCustomProperties);
    static void LoadFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                 const TPlacementEnvironment& AEnvironment,
                                 const TPositionTrackerEvent& AOnDefault,
                                 const TPositionTrackerEvent& AOnCustomProperties);

    void SetFullScreen(bool Value) override { FFullScreen = Value; }
    void SetMonitor(std::int32_t Value) override { FMonitor = Value; }
    void SetMonitorCount(float Value) override { FMonitorCount = Value; }
    void SetPosition(TPointF Value) override { FPosition = Value; }
    void SetScreenMode(TWindowState Value) override { FScreenMode = Value; }
    void SetTargetName(const std::string& Value) override { FTargetName = Value; }
    void SetDesktopSize(TPointF Value) override { FDesktopSize = Value; }
    void SetMainformMonitor(std::int32_t Value) override { FMainformMonitor = Value; }
    void SetFitToWidth(bool Value) override { FFitToWidth = Value; }
    void SetZoom(float Value) override { FZoom = Value; }
    void SetFormSize(TPointF Value) override { FFormSize = Value; }
    bool FullScreen() const override { return FFullScreen; }
    std::int32_t Monitor() const override { return FMonitor; }
    float MonitorCount() const override { return FMonitorCount; }
    TPointF Position() const override { return FPosition; }
    TWindowState ScreenMode() const override { return FScreenMode; }
    std::string TargetName() const override;
    TPointF DesktopSize() const override { return FDesktopSize; }
    std::int32_t MainformMonitor() const override { return FMainformMonitor; }
    bool FitToWidth() const override { return FFitToWidth; }
    float Zoom() const override { return FZoom; }
    TPointF FormSize() const override { return FFormSize; }

    void Save(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
              const TPositionTrackerEvent& AOnCustomProperties) override;
    void Load(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
              const TPositionTrackerEvent& AOnDefault,
              const TPositionTrackerEvent& AOnCustomProperties) override;

    // Copies all eleven properties through ATracker's read access (so an empty target
    // name arrives as "TrackedForms").
    void CopyFrom(const IPositionTracker& ATracker);

    // The target name as stored, without the read default.
    const std::string& StoredTargetName() const { return FTargetName; }

    // The file's text: byte-order mark, then the compact JSON object.
    std::string ToJSON() const;
    // A new record holding the values of `text` (byte-order mark optional), the others at
    // their new-record values with `ATargetName` as name. Empty when the text is not one
    // JSON object, is longer than MaxFileSize or nests deeper than MaxNestingDepth.
    static std::shared_ptr<TPositionTracker> FromJSON(std::string_view text,
                                                      const std::string& ATargetName);

    // <data folder>/<title>/screen/<target>.<window>.json, the target from the stored
    // name (ConnectionFile).
    std::filesystem::path FileName(const std::filesystem::path& ADataFolder,
                                   const std::string& ATitle, const std::string& AWindowName) const;
    // Creates the folder and replaces the file as a whole (ReplaceFile), so a failed or
    // interrupted write leaves the previous file intact. Throws on failure.
    void SaveToFile(const std::filesystem::path& AFileName) const;
    // The record in AFileName; empty when the file is missing, unreadable, longer than
    // MaxFileSize, too deeply nested, empty or not one JSON object.
    static std::shared_ptr<TPositionTracker> LoadFromFile(const std::filesystem::path& AFileName,
                                                          const std::string& ATargetName);

private:
    explicit TPositionTracker(const std::string& ATargetName) : FTargetName(ATargetName) {}

    bool IsOnScreen(const IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                    int& ADisplay) const;
    void ApplyToForm(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                     int ATestedDisplay, const TPositionTrackerEvent& AOnCustomProperties);

    std::int32_t FMonitor = 0;
    bool FFullScreen = false;
    float FMonitorCount = 0;
    TWindowState FScreenMode = wsNormal;
    TPointF FPosition;
    std::string FTargetName;
    TPointF FDesktopSize;
    std::int32_t FMainformMonitor = 0;
    bool FFitToWidth = false;
    float FZoom = 0;
    TPointF FFormSize;
};

namespace lvpositions {

// Index of the first display whose work area holds the centre of `window` (edges
// included), or -1.
int GetFormMonitor(const TPlacementRect& window, const std::vector<TPlacementDisplay>& displays);

// Nearest integer, halves to the even neighbour.
long long RoundHalfEven(double value);

// A float widened to double, at most 15 significant digits, no trailing zeros and no
// decimal point for whole values; locale independent. Non-finite values become 0 so the
// file stays valid JSON.
std::string FormatFloat(float value);

// A JSON string literal: quotes, `\"` `\\` `\/`, the short control escapes, and
// \uXXXX (upper case, UTF-16 units) for everything else outside U+0020..U+007F.
// Malformed UTF-8 is written as U+FFFD.
std::string QuoteJSON(std::string_view text);

// A name made safe as part of a file name: path separators, characters that file names
// may not hold, '%', bytes that are no UTF-8 and the names "." and ".." are
// percent-encoded, so the file always lands in its folder, its name is UTF-8 (which every
// system can take) and names that differ in any byte keep apart. A name whose encoded form is
// longer than one file name may be is cut into pieces of at most 180 bytes, each but the last a
// folder whose name ends in
// "%~" (which no plain name's encoding holds); so distinct names never share a file.
std::string FileNamePart(std::string_view name);

// <data folder>/<title>/screen: the folder of the placement files and of the small
// per-connection stores beside them.
std::filesystem::path PlacementFolder(const std::filesystem::path& ADataFolder,
                                      const std::string& ATitle);

// The file of one connection in AFolder: the connection's name made safe, followed by
// ASuffix. The empty name (no block) has "TrackedForms"; a connection really named
// "TrackedForms" gets "%54rackedForms", so the two never share a file.
std::filesystem::path ConnectionFile(const std::filesystem::path& AFolder,
                                     const std::string& AConnectionName, std::string_view ASuffix);

// Whether `text` nests JSON arrays and objects no deeper than AMaxDepth (brackets inside
// strings do not count). Checked before parsing, so a hostile file cannot make the parser
// build an endless tree.
bool JsonNestingWithin(std::string_view text, std::size_t AMaxDepth);

// The executable's file name cut at its first full stop; the first character kept, the
// rest in lower case.
std::string ApplicationTitle(const std::filesystem::path& executable);

} // namespace lvpositions
