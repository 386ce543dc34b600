// Finding another program's top-level window by its title and reading where it stands.
// One backend per window system (x11/ today, win32/ later); callers only see this
// interface, so tests and benchmarks can hand the console monitor a real connection of
// their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace lvplatform {

struct TPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct TRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Show states, with the values the Win32 API gives them.
constexpr std::uint32_t SW_HIDE = 0;
constexpr std::uint32_t SW_SHOWNORMAL = 1;
constexpr std::uint32_t SW_SHOWMINIMIZED = 2;
constexpr std::uint32_t SW_SHOWMAXIMIZED = 3;

// Placement flags.
constexpr std::uint32_t WPF_SETMINPOSITION = 1;
constexpr std::uint32_t WPF_RESTORETOMAXIMIZED = 2;

// The placement record, laid out as the Win32 one (44 bytes) so the Win32 backend can
// fill it directly.
struct WINDOWPLACEMENT {
    std::uint32_t length = 0;
    std::uint32_t flags = 0;
    std::uint32_t showCmd = 0;
    TPoint ptMinPosition;
    TPoint ptMaxPosition;
    TRect rcNormalPosition;
};
static_assert(sizeof(WINDOWPLACEMENT) == 44, "WINDOWPLACEMENT must keep the Win32 size");

// A window of the window system; 0 is no window.
using TWindowHandle = std::uint64_t;

class IWindowSystem {
public:
    virtual ~IWindowSystem() = default;

    // The first top-level window whose whole title equals `title` without regard to
    // letter case, or 0. Hidden and minimised windows count.
    virtual TWindowHandle FindWindow(const std::string& title) = 0;

    // Fills `placement` for `window`; false (and `placement` untouched) when the window
    // does not exist (any more). `placement.length` must be sizeof(WINDOWPLACEMENT).
    // rcNormalPosition is the outer frame rectangle in screen coordinates. A maximised
    // window also gets WPF_RESTORETOMAXIMIZED and its frame's top-left in ptMaxPosition;
    // positions that are not known read -1.
    virtual bool GetWindowPlacement(TWindowHandle window, WINDOWPLACEMENT& placement) = 0;

    // Makes `window` belong to `owner`, so the window manager keeps it above the owner and
    // raises it whenever the owner is raised or activated (X11: WM_TRANSIENT_FOR; Win32:
    // the owner window). Writes only when the window belongs elsewhere, so it may be called
    // on every tick. False when either window is 0 or gone.
    virtual bool SetTransientFor(TWindowHandle window, TWindowHandle owner) = 0;

    // Width of a sizable window's frame in screen units (SM_CXFRAME); the X11 backend
    // reports exact frame rectangles and so returns 0.
    virtual std::int32_t FrameWidth() = 0;
};

// Whether the session's window system answers: on X11 a connection to `displayName`
// ($DISPLAY when empty) can be opened; always true on Windows.
bool DisplayReachable(const std::string& displayName = std::string());

// SM_CXFRAME of the session without a connection: what FrameWidth() gives.
std::int32_t SystemFrameWidth();

// The backend for the running session: on X11 a connection to $DISPLAY of its own. When
// no display can be reached the object still exists and finds nothing.
std::shared_ptr<IWindowSystem> CreateWindowSystem();

// Same, for a named display (tests, benchmarks); an empty name means $DISPLAY.
std::shared_ptr<IWindowSystem> CreateWindowSystem(const std::string& displayName);

// Compares two UTF-8 titles the way window titles are matched: whole text, letter case
// ignored (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters).
bool TitlesEqualIgnoringCase(const std::string& a, const std::string& b);

// The key TitlesEqualIgnoringCase compares: the title with those letters folded.
std::string FoldTitleCase(const std::string& title);

} // namespace lvplatform
