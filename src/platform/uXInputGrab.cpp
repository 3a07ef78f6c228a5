#include "uXInputGrab.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct TFree {
    void operator()(void* Reply) const { std::free(Reply); }
};

} // namespace

bool CanGrabInputNow() {
    auto* X11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* Connection = X11 != nullptr ? X11->connection() : nullptr;
    if (Connection == nullptr)
        return true;
    const xcb_window_t Root = xcb_setup_roots_iterator(xcb_get_setup(Connection)).data->root;
    // Taken and given back at once: only the answer matters.
    const std::unique_ptr<xcb_grab_pointer_reply_t, TFree> Pointer(
        xcb_grab_pointer_reply(Connection,
                               xcb_grab_pointer(Connection, 0, Root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                                XCB_NONE, XCB_NONE, XCB_TIME_CURRENT_TIME),
                               nullptr));
    const bool PointerFree = Pointer && Pointer->status == XCB_GRAB_STATUS_SUCCESS;
    if (PointerFree)
        xcb_ungrab_pointer(Connection, XCB_TIME_CURRENT_TIME);
    const std::unique_ptr<xcb_grab_keyboard_reply_t, TFree> Keyboard(xcb_grab_keyboard_reply(
        Connection,
        xcb_grab_keyboard(Connection, 0, Root, XCB_TIME_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    const bool KeyboardFree = Keyboard && Keyboard->status == XCB_GRAB_STATUS_SUCCESS;
    if (KeyboardFree)
        xcb_ungrab_keyboard(Connection, XCB_TIME_CURRENT_TIME);
    xcb_flush(Connection);
    return PointerFree && KeyboardFree;
}
