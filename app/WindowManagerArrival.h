// Windows shown while no window manager runs, or while one is starting, must still come up
// once it has arrived. A window mapped at the moment the manager takes over the screen can
// be lost between the two: the map request goes to the manager, which is not yet taking
// requests, so the window stays unmapped while the toolkit counts it as shown, and showing
// it again does nothing. This watches the screen for a window manager's arrival and then
// maps again every shown top-level window that is still unmapped and unmanaged.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

class TWindowManagerArrival : public QObject, public QAbstractNativeEventFilter {
public:
    // Watches the X screen of the running application; does nothing on other platforms.
    explicit TWindowManagerArrival(QObject* AParent = nullptr);
    ~TWindowManagerArrival() override;

    bool nativeEventFilter(const QByteArray& AEventType, void* AMessage, qintptr* AResult) override;

    // Maps again each shown, not minimised top-level window that is unmapped and has no
    // window manager state; returns how many. Called after an arrival, and by tests.
    int MapLostWindows();

private:
    void Arrived();

    void* FConnection = nullptr; // xcb_connection_t
    std::uint32_t FRoot = 0;
    std::uint32_t FSupportingCheck = 0; // _NET_SUPPORTING_WM_CHECK
    std::uint32_t FManager = 0;         // MANAGER
    std::uint32_t FWmState = 0;         // WM_STATE
};
