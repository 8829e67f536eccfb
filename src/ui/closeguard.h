#pragma once
// Closing a window that is busy: a close asked for during a run, a
// transaction, a read or an open box is put off, and carried out once the
// window is no longer busy, so that nothing is pulled out from under an
// operation that still uses the window's controls.

#include <QTimer>

#include <functional>

namespace tamrisk {

class CloseGuard {
public:
    // `closeNow` closes the window for good (it may call Request() again,
    // which then allows the close). `busyElsewhere`, when given, tells of work
    // whose end the guard is not told of (a box another part opened); while a
    // close waits on it, it is asked again every 50 ms.
    explicit CloseGuard(std::function<void()> closeNow, std::function<bool()> busyElsewhere = {});

    // Holds the window busy for its own lifetime; when the last one goes, a
    // close asked for meanwhile is carried out.
    class Busy {
    public:
        explicit Busy(CloseGuard& guard);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        CloseGuard& m_guard;
    };

    // A Busy is held, or `busyElsewhere` says the window is busy.
    bool IsBusy() const;
    // A close has been put off and not yet carried out.
    bool Pending() const { return m_pending; }
    // The close now being carried out is one that was put off.
    bool Settling() const { return m_settling; }
    // The operator (or the window manager) asks to close. True: the window
    // may close now. False: it is busy; the close is carried out as soon as
    // it is not.
    bool Request();
    // The window may have stopped being busy: carries out a close put off
    // meanwhile, or goes on waiting.
    void Settle();

private:
    std::function<void()> m_closeNow;
    std::function<bool()> m_busyElsewhere;
    QTimer m_retry;
    int m_held = 0;
    bool m_pending = false;
    bool m_settling = false;
};

}  // namespace tamrisk
