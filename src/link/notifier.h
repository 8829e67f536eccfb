#pragma once
// A list of subscribers to one event, told in the order they subscribed. Each
// subscription is a handle that unsubscribes when it is destroyed, so a window
// that goes away is never called, whatever order things were made in.

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tamrisk {

class Notifier {
    struct Entry {
        std::size_t id;
        std::function<void()> callback;
    };
    struct Subscribers {
        std::vector<Entry> entries;
        std::size_t nextId = 0;
    };

public:
    // Unsubscribes on destruction; movable, not copyable. An empty handle (default
    // made, or moved from) holds nothing.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept { *this = std::move(other); }
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { Reset(); }
        // Unsubscribes now.
        void Reset();

    private:
        friend class Notifier;
        Subscription(std::weak_ptr<Subscribers> list, std::size_t id) : m_list(std::move(list)), m_id(id) {}
        std::weak_ptr<Subscribers> m_list;
        std::size_t m_id = 0;
    };

    // Adds `callback` after the subscribers so far; it is called until the
    // returned handle is destroyed (or the notifier is).
    [[nodiscard]] Subscription Subscribe(std::function<void()> callback);
    // Calls every subscriber in subscription order. One that unsubscribes (itself
    // or another) during the call is not called afterwards; one added during the
    // call is told from the next time on.
    void Notify();

private:
    std::shared_ptr<Subscribers> m_subscribers = std::make_shared<Subscribers>();
};

}  // namespace tamrisk
