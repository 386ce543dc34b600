// X11 backend of IWindowSystem, on a connection of its own.
//
// Listing every top-level window with its title costs one round of requests that grows
// with the number of windows, and the toolbar asks every 100 ms. So the backend keeps
// what it learnt and lets the X server tell it what changed: the root's client list
// (PropertyNotify), each listed window's title (PropertyNotify), and for a window whose
// placement was asked, its structure and its frame's (ConfigureNotify, Map/Unmap,
// Reparent, Destroy) and its state properties. An idle desktop costs no request at all;
// a change costs one round of requests for just what changed.
#include "platform/WindowSystem.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lvplatform {
namespace {

template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using XcbPtr = std::unique_ptr<T, FreeDeleter<T>>;

constexpr std::uint32_t kIconicState = 3; // ICCCM WM_STATE value

std::string Latin1ToUtf8(const char* data, std::size_t n) {
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class X11WindowSystem final : public IWindowSystem {
public:
    explicit X11WindowSystem(const std::string& displayName) {
        FConnection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), nullptr);
        if (xcb_connection_has_error(FConnection))
            return;
        const xcb_setup_t* setup = xcb_get_setup(FConnection);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        if (!it.rem)
            return;
        FRoot = it.data->root;
        InternAtoms();
        // Client list changes, and (without a window manager) the root's children.
        const std::uint32_t mask =
            XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(FConnection);
        FUsable = true;
    }

    ~X11WindowSystem() override {
        if (FConnection)
            xcb_disconnect(FConnection);
    }

    TWindowHandle FindWindow(const std::string& title) override {
        if (!Usable())
            return 0;
        ProcessEvents();
        Refresh();
        auto it = FByTitle.find(FoldTitleCase(title));
        return it == FByTitle.end() ? 0 : it->second;
    }

    bool GetWindowPlacement(TWindowHandle window, WINDOWPLACEMENT& placement) override {
        if (!Usable() || window == 0 || window > 0xFFFFFFFFu)
            return false;
        ProcessEvents();
        const auto w = static_cast<xcb_window_t>(window);
        auto it = FFollowed.find(w);
        if (it != FFollowed.end() && it->second.valid) {
            placement = it->second.placement;
            return true;
        }
        Followed& f = FFollowed[w];
        if (!ReadPlacement(w, f)) {
            FFollowed.erase(w);
            if (FKept.erase(w))
                FListDirty = true;
            return false;
        }
        FKept.insert(w);
        placement = f.placement;
        return true;
    }

    bool SetTransientFor(TWindowHandle window, TWindowHandle owner) override {
        if (!Usable() || window == 0 || owner == 0 || window > 0xFFFFFFFFu || owner > 0xFFFFFFFFu)
            return false;
        const auto w = static_cast<xcb_window_t>(window);
        const auto o = static_cast<xcb_window_t>(owner);
        // Asked on every tick of the docking timer: while the window's property has not
        // changed since it was last seen to be ours, no round trip to the server is made.
        ProcessEvents();
        auto known = FTransientOwner.find(w);
        if (known != FTransientOwner.end() && known->second == o)
            return true;
        // Toolkits delete the property when they show a window again, so its changes are
        // watched, from before it is read so that none falls in between.
        const std::uint32_t mask = MaskFor(w) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, w, XCB_CW_EVENT_MASK, &mask);
        XcbPtr<xcb_get_property_reply_t> current(xcb_get_property_reply(
            FConnection,
            xcb_get_property(FConnection, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        if (!current)
            return false; // the window is gone
        if (current->type == XCB_ATOM_WINDOW && current->format == 32 &&
            xcb_get_property_value_length(current.get()) == 4 &&
            *static_cast<const xcb_window_t*>(xcb_get_property_value(current.get())) == o) {
            FTransientOwner[w] = o;
            return true;
        }
        // An owner gone meanwhile only earns an error event, which ProcessEvents drops.
        xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_TRANSIENT_FOR,
                            XCB_ATOM_WINDOW, 32, 1, &o);
        xcb_flush(FConnection);
        return true;
    }

    std::int32_t FrameWidth() override { return SystemFrameWidth(); }

private:
    struct Entry {
        xcb_window_t window = 0;
        std::string folded; // title with letter case folded
        bool stale = true;  // title must be fetched again
    };

    struct Followed {
        xcb_window_t frame = 0; // the window manager's frame (child of the root), or itself
        bool valid = false;     // placement below is current
        WINDOWPLACEMENT placement;
    };

    bool Usable() const { return FUsable && !xcb_connection_has_error(FConnection); }

    void InternAtoms() {
        const char* names[] = {"_NET_CLIENT_LIST",
                               "_NET_WM_NAME",
                               "UTF8_STRING",
                               "WM_STATE",
                               "_NET_WM_STATE",
                               "_NET_WM_STATE_HIDDEN",
                               "_NET_WM_STATE_MAXIMIZED_VERT",
                               "_NET_WM_STATE_MAXIMIZED_HORZ",
                               "_NET_FRAME_EXTENTS"};
        xcb_atom_t* targets[] = {&FNetClientList,     &FNetWmName,         &FUtf8String,
                                 &FWmState,           &FNetWmState,        &FNetWmStateHidden,
                                 &FNetWmStateMaxVert, &FNetWmStateMaxHorz, &FNetFrameExtents};
        constexpr std::size_t n = sizeof(names) / sizeof(names[0]);
        xcb_intern_atom_cookie_t cookies[n];
        for (std::size_t i = 0; i < n; ++i)
            cookies[i] = xcb_intern_atom(
                FConnection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
        for (std::size_t i = 0; i < n; ++i) {
            XcbPtr<xcb_intern_atom_reply_t> r(
                xcb_intern_atom_reply(FConnection, cookies[i], nullptr));
            *targets[i] = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        }
    }

    // Reads what the server has sent. A scan asks hundreds of titles in a row, so the
    // socket itself is read at most once a millisecond; queued events are always taken.
    void ProcessEvents() {
        const auto now = std::chrono::steady_clock::now();
        const bool readSocket = now - FLastSocketPoll >= std::chrono::milliseconds(1);
        if (readSocket)
            FLastSocketPoll = now;
        for (;;) {
            XcbPtr<xcb_generic_event_t> ev(readSocket ? xcb_poll_for_event(FConnection)
                                                      : xcb_poll_for_queued_event(FConnection));
            if (!ev)
                break;
            Handle(ev.get());
        }
    }

    void Invalidate(xcb_window_t window) {
        for (auto& [client, f] : FFollowed)
            if (client == window || f.frame == window)
                f.valid = false;
    }

    void Handle(const xcb_generic_event_t* ev) {
        switch (ev->response_type & ~0x80) {
        case XCB_PROPERTY_NOTIFY: {
            auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
            if (p->window == FRoot) {
                if (p->atom == FNetClientList)
                    FListDirty = true;
                break;
            }
            if (p->atom == XCB_ATOM_WM_TRANSIENT_FOR)
                FTransientOwner.erase(p->window);
            if (p->atom == FNetWmName || p->atom == XCB_ATOM_WM_NAME) {
                for (auto& e : FEntries)
                    if (e.window == p->window) {
                        e.stale = true;
                        FTitlesDirty = true;
                    }
            }
            if (p->atom == FWmState || p->atom == FNetWmState || p->atom == FNetFrameExtents)
                Invalidate(p->window);
            break;
        }
        case XCB_CONFIGURE_NOTIFY:
            Invalidate(reinterpret_cast<const xcb_configure_notify_event_t*>(ev)->window);
            break;
        case XCB_MAP_NOTIFY: {
            auto* m = reinterpret_cast<const xcb_map_notify_event_t*>(ev);
            Invalidate(m->window);
            if (m->event == FRoot && FFallback)
                FListDirty = true;
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            auto* u = reinterpret_cast<const xcb_unmap_notify_event_t*>(ev);
            Invalidate(u->window);
            if (u->event == FRoot && FFallback)
                FListDirty = true;
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            auto* r = reinterpret_cast<const xcb_reparent_notify_event_t*>(ev);
            // The frame changes: find it again on the next read.
            auto it = FFollowed.find(r->window);
            if (it != FFollowed.end())
                FFollowed.erase(it);
            Invalidate(r->window);
            FListDirty = true;
            break;
        }
        case XCB_CREATE_NOTIFY:
            FListDirty = true;
            break;
        case XCB_DESTROY_NOTIFY: {
            auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(ev);
            FFollowed.erase(d->window);
            FKept.erase(d->window);
            FTransientOwner.erase(d->window);
            for (auto& [client, f] : FFollowed)
                if (f.frame == d->window) {
                    f.frame = 0;
                    f.valid = false;
                }
            FListDirty = true;
            break;
        }
        default: // errors of requests on windows that went away, other events
            break;
        }
    }

    std::uint32_t MaskFor(xcb_window_t window) const {
        std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        if (FFollowed.count(window) || FTransientOwner.count(window))
            mask |= XCB_EVENT_MASK_STRUCTURE_NOTIFY; // its destruction must be seen
        return mask;
    }

    // Brings the title index up to date: the window list when it changed, then the
    // titles of new windows and of windows whose title changed, all in one round.
    void Refresh() {
        if (!FListDirty && !FTitlesDirty)
            return;
        if (FListDirty) {
            FListDirty = false;
            std::vector<xcb_window_t> windows = ListTopLevel();
            std::unordered_map<xcb_window_t, Entry> old;
            for (auto& e : FEntries)
                old.emplace(e.window, std::move(e));
            FEntries.clear();
            FEntries.reserve(windows.size());
            for (xcb_window_t w : windows) {
                auto it = old.find(w);
                if (it != old.end()) {
                    FEntries.push_back(std::move(it->second));
                    old.erase(it);
                } else {
                    // Watch the title before reading it, so no change falls in between.
                    const std::uint32_t mask = MaskFor(w);
                    xcb_change_window_attributes(FConnection, w, XCB_CW_EVENT_MASK, &mask);
                    Entry e;
                    e.window = w;
                    FEntries.push_back(std::move(e));
                }
            }
            // A window manager drops a hidden (withdrawn) window from its list; a followed
            // window is still found by its title until it is destroyed, so its placement
            // can say it is hidden.
            for (auto& [w, e] : old)
                if (FKept.count(w))
                    FEntries.push_back(std::move(e));
            FTitlesDirty = true;
        }
        if (FTitlesDirty) {
            FTitlesDirty = false;
            FetchStaleTitles();
        }
        FByTitle.clear();
        for (const auto& e : FEntries)
            FByTitle.emplace(e.folded, e.window); // first in list order wins
    }

    std::vector<xcb_window_t> ListTopLevel() {
        std::vector<xcb_window_t> result;
        auto cookie =
            xcb_get_property(FConnection, 0, FRoot, FNetClientList, XCB_ATOM_WINDOW, 0, 1u << 20);
        // The root's children: without an EWMH window manager these are the top-level
        // windows; with one they still hold the hidden (withdrawn) windows, which it no
        // longer lists, beside its frames.
        auto treeCookie = xcb_query_tree(FConnection, FRoot);
        XcbPtr<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(FConnection, cookie, nullptr));
        XcbPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(FConnection, treeCookie, nullptr));
        std::vector<xcb_window_t> children;
        if (tree) {
            xcb_window_t* c = xcb_query_tree_children(tree.get());
            children.assign(c, c + xcb_query_tree_children_length(tree.get()));
        }
        if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32) {
            FFallback = false;
            auto* data = static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
            const int n = xcb_get_property_value_length(reply.get()) / 4;
            result.assign(data, data + n);
            // Listed windows first, so a shown window wins over a hidden one of its title.
            const std::unordered_set<xcb_window_t> listed(result.begin(), result.end());
            for (xcb_window_t w : children)
                if (!listed.count(w))
                    result.push_back(w);
            return result;
        }
        FFallback = true;
        return children;
    }

    void FetchStaleTitles() {
        struct Pending {
            Entry* entry;
            xcb_get_property_cookie_t netName;
            xcb_get_property_cookie_t wmName;
        };
        std::vector<Pending> pending;
        for (auto& e : FEntries) {
            if (!e.stale)
                continue;
            pending.push_back(
                {&e, xcb_get_property(FConnection, 0, e.window, FNetWmName, FUtf8String, 0, 1024),
                 xcb_get_property(FConnection, 0, e.window, XCB_ATOM_WM_NAME,
                                  XCB_GET_PROPERTY_TYPE_ANY, 0, 1024)});
        }
        for (auto& p : pending) {
            XcbPtr<xcb_get_property_reply_t> net(
                xcb_get_property_reply(FConnection, p.netName, nullptr));
            XcbPtr<xcb_get_property_reply_t> wm(
                xcb_get_property_reply(FConnection, p.wmName, nullptr));
            std::string title;
            if (net && net->type == FUtf8String && net->format == 8) {
                title.assign(static_cast<const char*>(xcb_get_property_value(net.get())),
                             static_cast<std::size_t>(xcb_get_property_value_length(net.get())));
            } else if (wm && wm->format == 8 && wm->type != XCB_ATOM_NONE) {
                const auto* data = static_cast<const char*>(xcb_get_property_value(wm.get()));
                const auto n = static_cast<std::size_t>(xcb_get_property_value_length(wm.get()));
                title = wm->type == XCB_ATOM_STRING ? Latin1ToUtf8(data, n) : std::string(data, n);
            }
            p.entry->folded = FoldTitleCase(title);
            p.entry->stale = false;
        }
    }

    // Reads the placement of `w` in one round of requests, watching the window and its
    // frame from then on so the result stays valid until an event says otherwise.
    bool ReadPlacement(xcb_window_t w, Followed& f) {
        if (f.frame == 0) {
            const std::uint32_t mask =
                XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(FConnection, w, XCB_CW_EVENT_MASK, &mask);
            xcb_window_t frame = w;
            for (int depth = 0; depth < 16; ++depth) {
                XcbPtr<xcb_query_tree_reply_t> tree(
                    xcb_query_tree_reply(FConnection, xcb_query_tree(FConnection, frame), nullptr));
                if (!tree)
                    return false;
                if (tree->parent == FRoot || tree->parent == XCB_WINDOW_NONE)
                    break;
                frame = tree->parent;
            }
            if (frame != w) {
                const std::uint32_t frameMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(FConnection, frame, XCB_CW_EVENT_MASK, &frameMask);
            }
            f.frame = frame;
        }
        // Mark valid before asking: an event that arrives with the replies invalidates it.
        f.valid = true;
        auto cAttr = xcb_get_window_attributes(FConnection, w);
        auto cGeom = xcb_get_geometry(FConnection, w);
        auto cPos = xcb_translate_coordinates(FConnection, w, FRoot, 0, 0);
        auto cWmState = xcb_get_property(FConnection, 0, w, FWmState, FWmState, 0, 2);
        auto cNetState = xcb_get_property(FConnection, 0, w, FNetWmState, XCB_ATOM_ATOM, 0, 64);
        auto cExtents =
            xcb_get_property(FConnection, 0, w, FNetFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
        XcbPtr<xcb_get_window_attributes_reply_t> attr(
            xcb_get_window_attributes_reply(FConnection, cAttr, nullptr));
        XcbPtr<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(FConnection, cGeom, nullptr));
        XcbPtr<xcb_translate_coordinates_reply_t> pos(
            xcb_translate_coordinates_reply(FConnection, cPos, nullptr));
        XcbPtr<xcb_get_property_reply_t> wmState(
            xcb_get_property_reply(FConnection, cWmState, nullptr));
        XcbPtr<xcb_get_property_reply_t> netState(
            xcb_get_property_reply(FConnection, cNetState, nullptr));
        XcbPtr<xcb_get_property_reply_t> extents(
            xcb_get_property_reply(FConnection, cExtents, nullptr));
        if (!attr || !geom || !pos)
            return false;

        bool hidden = false, maxVert = false, maxHorz = false;
        if (wmState && wmState->format == 32 && xcb_get_property_value_length(wmState.get()) >= 4) {
            const auto* v =
                static_cast<const std::uint32_t*>(xcb_get_property_value(wmState.get()));
            hidden = v[0] == kIconicState;
        }
        if (netState && netState->format == 32) {
            const auto* atoms =
                static_cast<const xcb_atom_t*>(xcb_get_property_value(netState.get()));
            const int n = xcb_get_property_value_length(netState.get()) / 4;
            for (int i = 0; i < n; ++i) {
                hidden = hidden || atoms[i] == FNetWmStateHidden;
                maxVert = maxVert || atoms[i] == FNetWmStateMaxVert;
                maxHorz = maxHorz || atoms[i] == FNetWmStateMaxHorz;
            }
        }
        std::int32_t extLeft = 0, extRight = 0, extTop = 0, extBottom = 0;
        if (extents && extents->format == 32 &&
            xcb_get_property_value_length(extents.get()) >= 16) {
            const auto* v =
                static_cast<const std::uint32_t*>(xcb_get_property_value(extents.get()));
            extLeft = static_cast<std::int32_t>(v[0]);
            extRight = static_cast<std::int32_t>(v[1]);
            extTop = static_cast<std::int32_t>(v[2]);
            extBottom = static_cast<std::int32_t>(v[3]);
        }
        const std::int32_t border = geom->border_width;
        const bool maximised = maxVert && maxHorz;

        WINDOWPLACEMENT& p = f.placement;
        p = WINDOWPLACEMENT{};
        p.length = sizeof(WINDOWPLACEMENT);
        if (hidden)
            p.showCmd = SW_SHOWMINIMIZED;
        else if (attr->map_state != XCB_MAP_STATE_VIEWABLE)
            p.showCmd = SW_HIDE;
        else if (maximised)
            p.showCmd = SW_SHOWMAXIMIZED;
        else
            p.showCmd = SW_SHOWNORMAL;
        p.rcNormalPosition.left = pos->dst_x - border - extLeft;
        p.rcNormalPosition.top = pos->dst_y - border - extTop;
        p.rcNormalPosition.right = pos->dst_x + geom->width + border + extRight;
        p.rcNormalPosition.bottom = pos->dst_y + geom->height + border + extBottom;
        p.ptMinPosition = {-1, -1};
        p.ptMaxPosition = {-1, -1};
        if (maximised) {
            p.flags |= WPF_RESTORETOMAXIMIZED;
            p.ptMaxPosition = {p.rcNormalPosition.left, p.rcNormalPosition.top};
        }
        return true;
    }

    xcb_connection_t* FConnection = nullptr;
    bool FUsable = false;
    xcb_window_t FRoot = 0;
    xcb_atom_t FNetClientList = 0, FNetWmName = 0, FUtf8String = 0, FWmState = 0, FNetWmState = 0,
               FNetWmStateHidden = 0, FNetWmStateMaxVert = 0, FNetWmStateMaxHorz = 0,
               FNetFrameExtents = 0;

    std::vector<Entry> FEntries; // top-level windows in list order
    std::unordered_map<std::string, xcb_window_t> FByTitle;
    bool FListDirty = true;
    bool FTitlesDirty = false;
    bool FFallback = false; // listing the root's children (no _NET_CLIENT_LIST)
    std::unordered_map<xcb_window_t, Followed> FFollowed;
    std::unordered_set<xcb_window_t> FKept; // windows whose placement was read, until destroyed
    // Windows whose WM_TRANSIENT_FOR was last seen naming this owner; a change drops them.
    std::unordered_map<xcb_window_t, xcb_window_t> FTransientOwner;
    std::chrono::steady_clock::time_point FLastSocketPoll{};
};

} // namespace

// Frame rectangles on X11 are exact (the window manager's extents are already in them),
// so nothing needs to be added for the frame.
std::int32_t SystemFrameWidth() {
    return 0;
}

bool DisplayReachable(const std::string& displayName) {
    xcb_connection_t* connection =
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

std::shared_ptr<IWindowSystem> CreateWindowSystem(const std::string& displayName) {
    return std::make_shared<X11WindowSystem>(displayName);
}

std::shared_ptr<IWindowSystem> CreateWindowSystem() {
    return CreateWindowSystem(std::string());
}

} // namespace lvplatform
