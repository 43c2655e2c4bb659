#include "platform/WindowSystem.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct TFree {
    void operator()(void* p) const { std::free(p); }
};

// The X server's atom of `name`; none when there is none and `make` is false.
xcb_atom_t Atom(xcb_connection_t* connection, const char* name, bool make = true) {
    const auto cookie =
        xcb_intern_atom(connection, make ? 0 : 1, std::uint16_t(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, TFree> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Qt's connection to the X server; null on any other platform.
xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Profiles larger than this are not taken (real ones are a few kilobytes).
constexpr std::uint32_t kMaxProfileBytes = 4u << 20;

} // namespace

bool OnWayland() {
    // "wayland", or "wayland-egl" when asked for by name.
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool ClientPlacesWindows() {
    return !OnWayland();
}

bool WindowOpacityWorks() {
    return !OnWayland();
}

void SetSkipTaskbar(QWindow& window, bool skip) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || !window.isVisible()) return;
    // One X connection for the run: the atoms are asked once.
    static const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
    static const xcb_atom_t skipTaskbar = Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    static const xcb_atom_t skipPager = Atom(connection, "_NET_WM_STATE_SKIP_PAGER");
    if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE || skipPager == XCB_ATOM_NONE)
        return;
    const auto id = xcb_window_t(window.winId());
    const std::unique_ptr<xcb_query_tree_reply_t, TFree> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr));
    if (!tree) return;

    // The window manager owns the state of a mapped window; a client asks it to change
    // it (a property written before mapping is replaced by Qt's own states).
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = state;
    message.data.data32[0] = skip ? 1 : 0; // _NET_WM_STATE_ADD, _REMOVE
    message.data.data32[1] = skipTaskbar;
    message.data.data32[2] = skipPager;
    message.data.data32[3] = 1; // asked by an application
    xcb_send_event(connection, 0, tree->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

QByteArray ReadDisplayProfile() {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return {};
    const xcb_atom_t atom = Atom(connection, "_ICC_PROFILE", false);
    if (atom == XCB_ATOM_NONE) return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) return {};
    const std::unique_ptr<xcb_get_property_reply_t, TFree> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen->root, atom,
                                                XCB_ATOM_CARDINAL, 0, kMaxProfileBytes / 4),
                               nullptr));
    if (!reply || reply->format != 8) return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}
