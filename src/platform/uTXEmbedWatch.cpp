#include "uTXEmbedWatch.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

namespace {

xcb_connection_t* XConnection() {
    auto* X11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return X11 != nullptr ? X11->connection() : nullptr;
}

// The screen number of DISPLAY (":0.1" is screen 1), as the selection name uses it.
int ScreenNumber() {
    const QByteArray Display = qgetenv("DISPLAY");
    const qsizetype Colon = Display.lastIndexOf(':');
    const qsizetype Dot = Display.indexOf('.', Colon < 0 ? 0 : Colon);
    return Dot < 0 ? 0 : Display.mid(Dot + 1).toInt();
}

struct TFree {
    void operator()(void* Reply) const { std::free(Reply); }
};

} // namespace

TXEmbedWatch::TXEmbedWatch(QObject* Parent) : QObject(Parent) {
    xcb_connection_t* Connection = XConnection();
    if (Connection == nullptr)
        return;
    const xcb_query_extension_reply_t* XFixes = xcb_get_extension_data(Connection, &xcb_xfixes_id);
    if (XFixes == nullptr || !XFixes->present)
        return;
    const int Screen = ScreenNumber();
    xcb_screen_iterator_t Roots = xcb_setup_roots_iterator(xcb_get_setup(Connection));
    for (int I = 0; I < Screen && Roots.rem > 0; ++I)
        xcb_screen_next(&Roots);
    if (Roots.rem == 0)
        return;
    const QByteArray Name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(Screen);
    const std::unique_ptr<xcb_intern_atom_reply_t, TFree> Atom(xcb_intern_atom_reply(
        Connection, xcb_intern_atom(Connection, false, static_cast<uint16_t>(Name.size()), Name.constData()), nullptr));
    if (!Atom)
        return;
    FAtom = Atom->atom;
    FSelectionNotify = XFixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    // Qt has already negotiated the XFixes version on this connection.
    xcb_xfixes_select_selection_input(Connection, Roots.data->root, FAtom,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(Connection);
    FWatching = true;
    qGuiApp->installNativeEventFilter(this);
    ReadOwner();
}

TXEmbedWatch::~TXEmbedWatch() {
    if (FWatching && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

void TXEmbedWatch::ReadOwner() {
    xcb_connection_t* Connection = XConnection();
    if (Connection == nullptr)
        return;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, TFree> Reply(
        xcb_get_selection_owner_reply(Connection, xcb_get_selection_owner(Connection, FAtom), nullptr));
    const quint32 Owner = Reply ? Reply->owner : 0;
    const bool Changed = (Owner != 0) != (FOwner != 0) || (Owner != 0 && Owner != FOwner);
    FOwner = Owner;
    if (Changed)
        Q_EMIT ManagerChanged(Owner != 0);
}

bool TXEmbedWatch::nativeEventFilter(const QByteArray& EventType, void* Message, qintptr*) {
    if (EventType != "xcb_generic_event_t")
        return false;
    const auto* Event = static_cast<const xcb_generic_event_t*>(Message);
    if ((Event->response_type & 0x7f) != FSelectionNotify)
        return false;
    const auto* Notify = static_cast<const xcb_xfixes_selection_notify_event_t*>(Message);
    // Asked again once this event is through: the event may be stale, the server's answer is not.
    if (Notify->selection == FAtom)
        QMetaObject::invokeMethod(this, &TXEmbedWatch::ReadOwner, Qt::QueuedConnection);
    return false;
}
