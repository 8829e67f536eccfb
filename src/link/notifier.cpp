#include "notifier.h"

namespace tamrisk {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        m_list = std::move(other.m_list);
        m_id = other.m_id;
        other.m_list.reset();
    }
    return *this;
}

void Subscription::Reset() {
    if (const auto list = m_list.lock())
        list->Remove(m_id);
    m_list.reset();
}

}  // namespace tamrisk
