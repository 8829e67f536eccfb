#pragma once
// The window manager's close request for a window that a modal box or dialog
// blocks. Qt drops such a request, so the main window's close box would do
// nothing while a script's message box is open. On X11 this filter catches
// the request (a WM_DELETE_WINDOW client message) and hands it to the window
// as QWidget::close(), whose close handling then puts it off or carries it out.

#include <QAbstractNativeEventFilter>

#include <cstdint>

class QWidget;

namespace tamrisk {

class BlockedCloseFilter : public QAbstractNativeEventFilter {
public:
    // The X11 atoms that name a close request.
    struct Atoms {
        std::uint32_t wmProtocols = 0;
        std::uint32_t wmDeleteWindow = 0;
    };

    // Watches `window` with the atoms of the application's X11 connection;
    // off X11 it catches nothing. Installs itself on the application.
    explicit BlockedCloseFilter(QWidget& window);
    // Watches `window` with the given atoms.
    BlockedCloseFilter(QWidget& window, Atoms atoms);
    ~BlockedCloseFilter() override;
    BlockedCloseFilter(const BlockedCloseFilter&) = delete;
    BlockedCloseFilter& operator=(const BlockedCloseFilter&) = delete;

    // The atoms on the application's X11 connection; zeros off X11.
    static Atoms X11Atoms();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QWidget& m_window;
    Atoms m_atoms;
};

}  // namespace tamrisk
