// Real top-level windows on the test's X server (Xvfb + openbox from the runner), made
// with a connection of the test's own, so the console monitor sees them as it would see
// the host's console windows. Header-only; the toolbar benchmarks use it too.
#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lvtest {

// Polls `condition` until it holds or `timeout` passes; true when it held. The limit is
// only reached when the test fails: a loaded machine must not fail a test that waits.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class XDesktop {
public:
    XDesktop() {
        FConnection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(FConnection))
            return;
        FScreen = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data;
        FUtf8 = Atom("UTF8_STRING");
        FNetWmName = Atom("_NET_WM_NAME");
        FClientList = Atom("_NET_CLIENT_LIST");
        FNetWmState = Atom("_NET_WM_STATE");
        FChangeState = Atom("WM_CHANGE_STATE");
        FFrameExtents = Atom("_NET_FRAME_EXTENTS");
        FOk = true;
    }
    ~XDesktop() {
        if (FConnection)
            xcb_disconnect(FConnection);
    }
    XDesktop(const XDesktop&) = delete;
    XDesktop& operator=(const XDesktop&) = delete;

    bool Ok() const { return FOk; }
    xcb_connection_t* Connection() const { return FConnection; }
    xcb_window_t Root() const { return FScreen->root; }

    xcb_atom_t Atom(const char* name) {
        auto cookie =
            xcb_intern_atom(FConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(FConnection, cookie, nullptr);
        const xcb_atom_t atom = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(r);
        return atom;
    }

    // Creates and maps a top-level window titled `title` (in _NET_WM_NAME, and in
    // WM_NAME unless `netNameOnly`), without waiting for the window manager.
    xcb_window_t Open(const std::string& title, int x = 100, int y = 200, int width = 400,
                      int height = 300) {
        const xcb_window_t w = xcb_generate_id(FConnection);
        const std::uint32_t values[] = {FScreen->black_pixel};
        xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, w, FScreen->root,
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, FScreen->root_visual, XCB_CW_BACK_PIXEL,
                          values);
        SetTitle(w, title);
        // USPosition, so openbox puts the frame where asked.
        std::uint32_t hints[18] = {};
        hints[0] = 1u | 2u; // USPosition | USSize
        hints[1] = static_cast<std::uint32_t>(x);
        hints[2] = static_cast<std::uint32_t>(y);
        hints[3] = static_cast<std::uint32_t>(width);
        hints[4] = static_cast<std::uint32_t>(height);
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        xcb_map_window(FConnection, w);
        xcb_flush(FConnection);
        FOpened.push_back(w);
        return w;
    }

    void SetTitle(xcb_window_t w, const std::string& title) {
        const auto n = static_cast<std::uint32_t>(title.size());
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, w, FNetWmName, FUtf8, 8, n,
                            title.data());
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, n, title.data());
        Sync();
    }

    void Close(xcb_window_t w) {
        xcb_destroy_window(FConnection, w);
        FOpened.erase(std::remove(FOpened.begin(), FOpened.end(), w), FOpened.end());
        Sync();
    }

    void CloseAll() {
        for (xcb_window_t w : FOpened)
            xcb_destroy_window(FConnection, w);
        FOpened.clear();
        Sync();
    }

    // Asks the window manager to move the window's frame to (x, y).
    void Move(xcb_window_t w, int x, int y) {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(x),
                                        static_cast<std::uint32_t>(y)};
        xcb_configure_window(FConnection, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        Sync();
    }

    // Asks the window manager to minimise w and waits until it has unmapped it: a map sent
    // before that (a restore) is a no-op on a still mapped window and is lost.
    void Minimise(xcb_window_t w) {
        SendToRoot(w, FChangeState, {3, 0, 0, 0, 0}); // IconicState
        WaitFor([&] { return !Viewable(w); });
    }

    bool Viewable(xcb_window_t w) {
        xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(
            FConnection, xcb_get_window_attributes(FConnection, w), nullptr);
        const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return viewable;
    }

    void Restore(xcb_window_t w) {
        xcb_map_window(FConnection, w);
        Sync();
    }

    // Withdraws the window (hides it without minimising), as ICCCM asks a client to.
    void Hide(xcb_window_t w) {
        xcb_unmap_window(FConnection, w);
        xcb_unmap_notify_event_t ev{};
        ev.response_type = XCB_UNMAP_NOTIFY;
        ev.event = Root();
        ev.window = w;
        xcb_send_event(FConnection, 0, Root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
        Sync();
    }

    void Maximise(xcb_window_t w, bool on) {
        SendToRoot(w, FNetWmState,
                   {on ? 1u : 0u, Atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                    Atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 1, 0});
    }

    // Asks the window manager to activate w, as a task bar click does.
    void Activate(xcb_window_t w) {
        SendToRoot(w, Atom("_NET_ACTIVE_WINDOW"), {2, XCB_CURRENT_TIME, 0, 0, 0});
    }

    // Asks the window manager to raise w without activating it, as a client's raise does.
    void Raise(xcb_window_t w) {
        const std::uint32_t values[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(FConnection, w, XCB_CONFIG_WINDOW_STACK_MODE, values);
        Sync();
    }

    // The window w is transient for (WM_TRANSIENT_FOR), or 0.
    xcb_window_t TransientFor(xcb_window_t w) {
        auto cookie =
            xcb_get_property(FConnection, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_reply_t* r = xcb_get_property_reply(FConnection, cookie, nullptr);
        xcb_window_t owner = 0;
        if (r && xcb_get_property_value_length(r) == 4)
            owner = *static_cast<xcb_window_t*>(xcb_get_property_value(r));
        std::free(r);
        return owner;
    }

    // The share of the pixels on screen in the rectangle (root coordinates) that are not
    // black, 0 to 1: what the user sees there, whichever window it belongs to.
    double NonBlackShare(int x, int y, int width, int height) {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            FConnection,
            xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, Root(),
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                          ~0u),
            nullptr);
        if (!image)
            return 0;
        // 24-bit screens store a pixel in 4 bytes.
        const auto* data = xcb_get_image_data(image);
        const int bytes = xcb_get_image_data_length(image);
        int pixels = 0, lit = 0;
        for (int i = 0; i + 3 < bytes; i += 4, ++pixels)
            if ((data[i] | data[i + 1] | data[i + 2]) != 0)
                ++lit;
        std::free(image);
        return pixels ? static_cast<double>(lit) / pixels : 0;
    }

    // The window the window manager reports as active, or 0.
    xcb_window_t ActiveWindow() {
        auto cookie = xcb_get_property(FConnection, 0, Root(), Atom("_NET_ACTIVE_WINDOW"),
                                       XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_reply_t* r = xcb_get_property_reply(FConnection, cookie, nullptr);
        xcb_window_t w = 0;
        if (r && xcb_get_property_value_length(r) == 4)
            w = *static_cast<xcb_window_t*>(xcb_get_property_value(r));
        std::free(r);
        return w;
    }

    // Whether the window manager lists the window among its clients.
    bool Managed(xcb_window_t w) {
        auto list = ClientList();
        return std::find(list.begin(), list.end(), w) != list.end();
    }

    // Waits until the window manager lists w. A window mapped while the window manager
    // is still starting can be missed by it, so the window is mapped again now and then.
    bool WaitManaged(xcb_window_t w,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (WaitFor([&] { return Managed(w); }, std::chrono::milliseconds(500)))
                return true;
            xcb_unmap_window(FConnection, w);
            xcb_map_window(FConnection, w);
            Sync();
        }
        return false;
    }

    std::vector<xcb_window_t> ClientList() {
        auto cookie =
            xcb_get_property(FConnection, 0, Root(), FClientList, XCB_ATOM_WINDOW, 0, 1u << 16);
        xcb_get_property_reply_t* r = xcb_get_property_reply(FConnection, cookie, nullptr);
        std::vector<xcb_window_t> out;
        if (r) {
            auto* data = static_cast<xcb_window_t*>(xcb_get_property_value(r));
            out.assign(data, data + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
        return out;
    }

    // Left, right, top, bottom of the frame the window manager drew around w.
    std::vector<std::uint32_t> FrameExtents(xcb_window_t w) {
        auto cookie = xcb_get_property(FConnection, 0, w, FFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
        xcb_get_property_reply_t* r = xcb_get_property_reply(FConnection, cookie, nullptr);
        std::vector<std::uint32_t> out(4, 0);
        if (r && xcb_get_property_value_length(r) == 16) {
            auto* v = static_cast<std::uint32_t*>(xcb_get_property_value(r));
            out.assign(v, v + 4);
        }
        std::free(r);
        return out;
    }

    // The window manager's frame around w (the root's child that holds it), in root
    // coordinates: x, y, width, height including borders. Empty when w is gone.
    std::vector<int> FrameGeometry(xcb_window_t w) {
        xcb_window_t frame = w;
        for (int depth = 0; depth < 16; ++depth) {
            xcb_query_tree_reply_t* tree =
                xcb_query_tree_reply(FConnection, xcb_query_tree(FConnection, frame), nullptr);
            if (!tree)
                return {};
            const xcb_window_t parent = tree->parent;
            std::free(tree);
            if (parent == Root())
                break;
            frame = parent;
        }
        xcb_get_geometry_reply_t* g =
            xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, frame), nullptr);
        if (!g)
            return {};
        std::vector<int> out{g->x, g->y, g->width + 2 * g->border_width,
                             g->height + 2 * g->border_width};
        std::free(g);
        return out;
    }

    // Waits until the server has handled everything sent so far.
    void Sync() {
        xcb_flush(FConnection);
        std::free(
            xcb_get_input_focus_reply(FConnection, xcb_get_input_focus(FConnection), nullptr));
    }

private:
    void SendToRoot(xcb_window_t w, xcb_atom_t type, std::initializer_list<std::uint32_t> data) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = type;
        std::size_t i = 0;
        for (auto v : data)
            ev.data.data32[i++] = v;
        xcb_send_event(FConnection, 0, Root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
        Sync();
    }

    xcb_connection_t* FConnection = nullptr;
    const xcb_screen_t* FScreen = nullptr;
    bool FOk = false;
    xcb_atom_t FUtf8 = 0, FNetWmName = 0, FClientList = 0, FNetWmState = 0, FChangeState = 0,
               FFrameExtents = 0;
    std::vector<xcb_window_t> FOpened;
};

} // namespace lvtest
