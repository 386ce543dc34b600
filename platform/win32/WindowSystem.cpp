// Win32 backend of the window lookup: FindWindowW by title (the system matches without
// regard to case), GetWindowPlacement for the state and normal position.
#include "platform/WindowSystem.h"
#include "platform/win32/WideText.h"

#include <windows.h>
// windows.h maps FindWindow to FindWindowA/W; ours is the interface's own member.
#undef FindWindow

namespace lvplatform {
namespace {

static_assert(sizeof(::WINDOWPLACEMENT) == sizeof(lvplatform::WINDOWPLACEMENT),
              "the placement record keeps the Win32 layout");

class Win32WindowSystem final : public IWindowSystem {
public:
    TWindowHandle FindWindow(const std::string& title) override {
        // FindWindowW takes a NUL-terminated title: one with a NUL inside names no window.
        if (title.find('\0') != std::string::npos)
            return 0;
        HWND window = FindWindowW(nullptr, win32::Wide(title).c_str());
        return reinterpret_cast<TWindowHandle>(window);
    }

    bool GetWindowPlacement(TWindowHandle window, WINDOWPLACEMENT& placement) override {
        HWND handle = reinterpret_cast<HWND>(window);
        if (!handle || !IsWindow(handle))
            return false;
        ::WINDOWPLACEMENT system{};
        system.length = sizeof system;
        if (!::GetWindowPlacement(handle, &system))
            return false;
        placement.length = sizeof(WINDOWPLACEMENT);
        placement.flags = system.flags;
        // A hidden window reports the state it would be shown in; the caller needs to
        // know it is hidden.
        placement.showCmd = IsWindowVisible(handle) ? system.showCmd : SW_HIDE;
        placement.ptMinPosition = {system.ptMinPosition.x, system.ptMinPosition.y};
        placement.ptMaxPosition = {system.ptMaxPosition.x, system.ptMaxPosition.y};
        placement.rcNormalPosition = {system.rcNormalPosition.left, system.rcNormalPosition.top,
                                      system.rcNormalPosition.right,
                                      system.rcNormalPosition.bottom};
        return true;
    }

    bool SetTransientFor(TWindowHandle window, TWindowHandle owner) override {
        HWND handle = reinterpret_cast<HWND>(window);
        HWND ownerHandle = reinterpret_cast<HWND>(owner);
        if (!handle || !ownerHandle || !IsWindow(handle) || !IsWindow(ownerHandle))
            return false;
        // An owned window stays above its owner and comes to the front with it.
        if (reinterpret_cast<HWND>(GetWindowLongPtrW(handle, GWLP_HWNDPARENT)) != ownerHandle)
            SetWindowLongPtrW(handle, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(ownerHandle));
        return true;
    }

    std::int32_t FrameWidth() override { return SystemFrameWidth(); }
};

} // namespace

std::int32_t SystemFrameWidth() {
    return GetSystemMetrics(SM_CXFRAME);
}

bool DisplayReachable(const std::string&) {
    return true;
}

std::shared_ptr<IWindowSystem> CreateWindowSystem(const std::string&) {
    return std::make_shared<Win32WindowSystem>();
}

std::shared_ptr<IWindowSystem> CreateWindowSystem() {
    return std::make_shared<Win32WindowSystem>();
}

} // namespace lvplatform
