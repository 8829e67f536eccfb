#include "closeguard.h"

#include <utility>

namespace tamrisk {

namespace {

// How often a put-off close looks again whether work it is not told of has ended.
constexpr int RetryIntervalMs = 50;

}  // namespace

CloseGuard::CloseGuard(std::function<void()> closeNow, std::function<bool()> busyElsewhere)
    : m_closeNow(std::move(closeNow)), m_busyElsewhere(std::move(busyElsewhere)) {
    m_retry.setInterval(RetryIntervalMs);
    QObject::connect(&m_retry, &QTimer::timeout, &m_retry, [this] { Settle(); });
}

CloseGuard::Busy::Busy(CloseGuard& guard) : m_guard(guard) { ++m_guard.m_held; }

CloseGuard::Busy::~Busy() {
    --m_guard.m_held;
    m_guard.Settle();
}

bool CloseGuard::IsBusy() const { return m_held > 0 || (m_busyElsewhere && m_busyElsewhere()); }

bool CloseGuard::Request() {
    if (IsBusy()) {
        m_pending = true;
        if (m_busyElsewhere)
            m_retry.start();
        return false;
    }
    m_pending = false;
    m_retry.stop();
    return true;
}

void CloseGuard::Settle() {
    if (!m_pending || IsBusy())
        return;
    m_pending = false;
    m_retry.stop();
    m_settling = true;
    m_closeNow();
    m_settling = false;
}

}  // namespace tamrisk
