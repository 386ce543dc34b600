#include "app/WindowManagerArrival.h"

#include "controlfile/Trace.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// A manager that has just arrived may still be starting: the windows are looked at
// again a few times while it settles. Windows it took over meanwhile are left alone.
constexpr int kChecksAfterArrival[] = {0, 250, 1000, 3000};

} // namespace

TWindowManagerArrival::TWindowManagerArrival(QObject* AParent) : QObject(AParent) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    auto* c = x11->connection();
    FConnection = c;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return;
    FRoot = screen->root;
    FSupportingCheck = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    FManager = Atom(c, "MANAGER");
    FWmState = Atom(c, "WM_STATE");
    // The toolkit's own interest in the root window stays; ours is added to it. A manager
    // announces itself with MANAGER (structure events) and _NET_SUPPORTING_WM_CHECK
    // (property events).
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, FRoot), nullptr);
    const std::uint32_t mask = (attributes ? attributes->your_event_mask : 0) |
                               XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(attributes);
    xcb_change_window_attributes(c, FRoot, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

TWindowManagerArrival::~TWindowManagerArrival() {
    if (FConnection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool TWindowManagerArrival::nativeEventFilter(const QByteArray& AEventType, void* AMessage,
                                              qintptr*) {
    if (AEventType != "xcb_generic_event_t" || !FConnection)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(AMessage);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* e = static_cast<const xcb_property_notify_event_t*>(AMessage);
        if (e->window == FRoot && e->atom == FSupportingCheck && e->state == XCB_PROPERTY_NEW_VALUE)
            Arrived();
    } else if (type == XCB_CLIENT_MESSAGE) {
        const auto* e = static_cast<const xcb_client_message_event_t*>(AMessage);
        if (e->window == FRoot && e->type == FManager)
            Arrived();
    }
    return false; // the toolkit sees every event as before
}

void TWindowManagerArrival::Arrived() {
    lvtrace::Line("window manager arrived");
    QPointer<TWindowManagerArrival> self(this);
    for (const int ms : kChecksAfterArrival)
        QTimer::singleShot(ms, this, [self] {
            if (self)
                self->MapLostWindows();
        });
}

int TWindowManagerArrival::MapLostWindows() {
    auto* c = static_cast<xcb_connection_t*>(FConnection);
    if (!c)
        return 0;
    int mapped = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || (w->windowState() & Qt::WindowMinimized) ||
            !w->testAttribute(Qt::WA_WState_Created))
            continue;
        const auto id = static_cast<xcb_window_t>(w->winId());
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
        const bool unmapped = attributes && attributes->map_state == XCB_MAP_STATE_UNMAPPED &&
                              !attributes->override_redirect;
        std::free(attributes);
        if (!unmapped)
            continue;
        // A window the manager keeps (iconified, on another desktop) carries its WM_STATE.
        xcb_get_property_reply_t* state = xcb_get_property_reply(
            c, xcb_get_property(c, 0, id, FWmState, XCB_ATOM_ANY, 0, 2), nullptr);
        const bool managed = state && state->type != static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(state);
        if (managed)
            continue;
        xcb_map_window(c, id);
        ++mapped;
        lvtrace::Line("window mapped again after the window manager arrived: " +
                      w->windowTitle().toStdString());
    }
    if (mapped)
        xcb_flush(c);
    return mapped;
}
