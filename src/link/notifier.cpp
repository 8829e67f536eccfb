#include "notifier.h"

#include <algorithm>

namespace tamrisk {

Notifier::Subscription& Notifier::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        m_list = std::move(other.m_list);
        m_id = other.m_id;
        other.m_list.reset();
    }
    return *this;
}

void Notifier::Subscription::Reset() {
    if (const auto list = m_list.lock())
        std::erase_if(list->entries, [this](const Entry& entry) { return entry.id == m_id; });
    m_list.reset();
}

Notifier::Subscription Notifier::Subscribe(std::function<void()> callback) {
    const std::size_t id = m_subscribers->nextId++;
    m_subscribers->entries.push_back({id, std::move(callback)});
    return Subscription(m_subscribers, id);
}

void Notifier::Notify() {
    // Subscribers may come and go while they are told: walk the ids known now
    // and look each one up before calling it.
    const auto list = m_subscribers;
    std::vector<std::size_t> ids;
    for (const Entry& entry : list->entries)
        ids.push_back(entry.id);
    for (const std::size_t id : ids) {
        const auto found = std::find_if(list->entries.begin(), list->entries.end(),
                                        [id](const Entry& entry) { return entry.id == id; });
        if (found == list->entries.end())
            continue;
        const std::function<void()> callback = found->callback;
        callback();
    }
}

}  // namespace tamrisk
