#pragma once
// When two presses on the results view are a double click (FPDataMouseDown):
// two left presses at most 0.216 seconds apart (2.5e-6 of a day), timed on the
// station's monotonic clock. The desktop's own double-click interval (Qt's
// QStyleHints::mouseDoubleClickInterval, 400 ms by default) is not used: with
// it two clicks 0.3 seconds apart would open an answer line's status, which
// the station's rule says they do not, and it would differ from one desktop
// to the next.

#include "host.h"

#include <QEvent>
#include <Qt>

#include <chrono>
#include <optional>

namespace tamrisk {

class DoubleClickTimer {
public:
    static constexpr std::chrono::microseconds Interval{216000};

    explicit DoubleClickTimer(Host& host) : m_host(host) {}

    // Tells of a mouse press, double click or release over the view. True for
    // a press to hand on; false for the others, and for the double click that
    // Qt reports after its own second press, which is that same press again.
    bool IsPress(QEvent::Type type);
    // A press with `buttons` down: true when it is a left press within
    // Interval of the last left press. Every left press is remembered; a press
    // without the left button is not.
    bool LeftPressDoubles(Qt::MouseButtons buttons);

private:
    Host& m_host;
    QEvent::Type m_lastEvent = QEvent::None;
    std::optional<Host::Clock::time_point> m_lastLeftPress;
};

}  // namespace tamrisk
