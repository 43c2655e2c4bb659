#include "shell/DisplayProfile.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct TFree {
    void operator()(void* p) const { std::free(p); }
};

// Profiles larger than this are not taken (real ones are a few kilobytes).
constexpr std::uint32_t kMaxProfileBytes = 4u << 20;

} // namespace

QByteArray ReadDisplayProfile() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) return {};
    static constexpr char kName[] = "_ICC_PROFILE";
    const std::unique_ptr<xcb_intern_atom_reply_t, TFree> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr));
    if (!atom || atom->atom == XCB_NONE) return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) return {};
    const std::unique_ptr<xcb_get_property_reply_t, TFree> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen->root, atom->atom,
                                                XCB_ATOM_CARDINAL, 0, kMaxProfileBytes / 4),
                               nullptr));
    if (!reply || reply->format != 8) return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}
