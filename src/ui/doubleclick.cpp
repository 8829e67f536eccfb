#include "doubleclick.h"

namespace tamrisk {

bool DoubleClickTimer::IsPress(QEvent::Type type) {
    const bool samePress = type == QEvent::MouseButtonDblClick && m_lastEvent == QEvent::MouseButtonPress;
    m_lastEvent = type;
    return (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) && !samePress;
}

bool DoubleClickTimer::LeftPressDoubles(Qt::MouseButtons buttons) {
    if (!(buttons & Qt::LeftButton))
        return false;
    const Host::Clock::time_point now = m_host.now();
    const bool doubles = m_lastLeftPress && now - *m_lastLeftPress <= Interval;
    m_lastLeftPress = now;
    return doubles;
}

}  // namespace tamrisk
