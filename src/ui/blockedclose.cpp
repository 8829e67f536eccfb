#include "blockedclose.h"

#include <QApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace tamrisk {

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

BlockedCloseFilter::BlockedCloseFilter(QWidget& window) : BlockedCloseFilter(window, X11Atoms()) {}

BlockedCloseFilter::BlockedCloseFilter(QWidget& window, Atoms atoms) : m_window(window), m_atoms(atoms) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

BlockedCloseFilter::~BlockedCloseFilter() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

BlockedCloseFilter::Atoms BlockedCloseFilter::X11Atoms() {
    auto* x11 = qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return {};
    return {InternAtom(x11->connection(), "WM_PROTOCOLS"), InternAtom(x11->connection(), "WM_DELETE_WINDOW")};
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_atoms.wmDeleteWindow == XCB_ATOM_NONE || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != m_atoms.wmProtocols ||
        client->data.data32[0] != m_atoms.wmDeleteWindow || m_window.internalWinId() == 0 ||
        client->window != static_cast<xcb_window_t>(m_window.internalWinId()))
        return false;
    // Unblocked, Qt delivers the request itself.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &m_window)
        return false;
    // Out of the native event's handling, as the window's own close would run.
    QMetaObject::invokeMethod(&m_window, [window = &m_window] { window->close(); }, Qt::QueuedConnection);
    return true;
}

}  // namespace tamrisk
