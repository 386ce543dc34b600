// lumivane-host console: a stand-in for the host's console window. A plain X11 window,
// drawn with xcb so the host stays free of Qt, titled the way the host titles its
// consoles: the block's title format filled with its console instance id. The viewer's
// toolbar finds it by that title and docks above it.
#include "HostCommand.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "toolbar/ProcessWindowMonitor.h"

#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void Usage(FILE* out) {
    std::fprintf(
        out, "usage: lumivane-host console [NAME] [--id N] [--title TEXT] [--geometry WxH+X+Y]\n"
             "\n"
             "Opens a stand-in console window and keeps it open until the process is ended\n"
             "or the window is closed. Its title is the block NAME's CallingWindowNameFormat\n"
             "filled with its ConsoleInstanceId (--id replaces the id); --title gives the\n"
             "whole title instead. Prints the X window id (0x...) on its first line.\n");
}

struct Geometry {
    int width = 640;
    int height = 400;
    int x = 100;
    int y = 150;
};

Geometry ParseGeometry(const std::string& text) {
    Geometry g;
    char sx = '+', sy = '+';
    int w = 0, h = 0, x = 0, y = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c%d%c%d", &w, &h, &sx, &x, &sy, &y) != 6 || w <= 0 ||
        h <= 0 || (sx != '+' && sx != '-') || (sy != '+' && sy != '-'))
        throw std::runtime_error("bad --geometry '" + text + "' (want WxH+X+Y)");
    g.width = w;
    g.height = h;
    g.x = sx == '-' ? -x : x;
    g.y = sy == '-' ? -y : y;
    return g;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::string TitleFromBlock(const std::string& name, const std::string& idOption) {
    auto view = lvplatform::OpenSharedMemory(name, lvcontrol::kBlockSize);
    if (!view || !view->IsMapped())
        throw std::runtime_error("no control block named '" + name + "'");
    std::vector<std::uint8_t> block(lvcontrol::kBlockSize, 0);
    view->Read(0, block.data(), block.size());
    const std::string format = lvcontrol::ReadSlotString(
        block.data() + lvcontrol::kCallingWindowNameFormat, lvcontrol::kStringSlot);
    if (format.empty())
        throw std::runtime_error(
            "the block's CallingWindowNameFormat is empty (set it, or give --title)");
    int id = block[lvcontrol::kConsoleInstanceId] | (block[lvcontrol::kConsoleInstanceId + 1] << 8);
    if (!idOption.empty())
        id = std::stoi(idOption);
    return FormatWithInteger(format, id);
}

int RunConsole(const lvhost::Args& args) {
    if (lvhost::WantsHelp(args)) {
        Usage(stdout);
        return 0;
    }
    std::string name, title, idOption;
    Geometry geometry;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw std::runtime_error(a + " needs a value");
            return args[++i];
        };
        if (a == "--id")
            idOption = value();
        else if (a == "--title")
            title = value();
        else if (a == "--geometry")
            geometry = ParseGeometry(value());
        else if (!a.empty() && a[0] == '-')
            throw std::runtime_error("unknown option " + a);
        else if (name.empty())
            name = a;
        else
            throw std::runtime_error("unexpected argument " + a);
    }
    if (title.empty()) {
        if (name.empty()) {
            Usage(stderr);
            return 2;
        }
        title = TitleFromBlock(name, idOption);
    }

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        throw std::runtime_error("cannot connect to the X display (is DISPLAY set?)");
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {0x202830u,
                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root,
                      static_cast<std::int16_t>(geometry.x), static_cast<std::int16_t>(geometry.y),
                      static_cast<std::uint16_t>(geometry.width),
                      static_cast<std::uint16_t>(geometry.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

    const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
    const xcb_atom_t netWmName = Atom(c, "_NET_WM_NAME");
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = Atom(c, "WM_DELETE_WINDOW");
    const auto titleLength = static_cast<std::uint32_t>(title.size());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmName, utf8, 8, titleLength,
                        title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, utf8, 8, titleLength,
                        title.data());
    static const char wmClass[] = "lumivane-console\0LumivaneConsole";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1,
                        &deleteWindow);
    // Ask the window manager to keep the given position.
    xcb_size_hints_t hints{};
    xcb_icccm_size_hints_set_position(&hints, 1, geometry.x, geometry.y);
    xcb_icccm_size_hints_set_size(&hints, 1, geometry.width, geometry.height);
    xcb_icccm_set_wm_normal_hints(c, window, &hints);
    xcb_map_window(c, window);
    xcb_flush(c);

    std::printf("0x%x\n", window);
    std::fflush(stdout);

    while (xcb_generic_event_t* ev = xcb_wait_for_event(c)) {
        const auto type = ev->response_type & ~0x80;
        bool done = false;
        if (type == XCB_CLIENT_MESSAGE) {
            auto* m = reinterpret_cast<xcb_client_message_event_t*>(ev);
            done = m->type == protocols && m->data.data32[0] == deleteWindow;
        } else if (type == XCB_DESTROY_NOTIFY) {
            done = true;
        }
        std::free(ev);
        if (done)
            break;
    }
    xcb_disconnect(c);
    return 0;
}

lvhost::HostCommandRegistrar reg{
    {"console", "open a stand-in console window titled by the block's format and id", &RunConsole}};

} // namespace
