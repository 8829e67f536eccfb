#pragma once
// A list of subscribers to one event, told in the order they subscribed, with
// the event's arguments. Each subscription is a handle that unsubscribes when it
// is destroyed, so a window that goes away is never called, whatever order
// things were made in.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tamrisk {

template <typename... Args>
class BasicNotifier;

// Unsubscribes on destruction; movable, not copyable. An empty handle (default
// made, or moved from) holds nothing. One type for every notifier's subscribers.
class Subscription {
public:
    // What a notifier's subscriber list offers its handles.
    struct List {
        virtual ~List() = default;
        virtual void Remove(std::size_t id) = 0;
    };

    Subscription() = default;
    Subscription(Subscription&& other) noexcept { *this = std::move(other); }
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { Reset(); }
    // Unsubscribes now.
    void Reset();

private:
    template <typename...>
    friend class BasicNotifier;
    Subscription(std::weak_ptr<List> list, std::size_t id) : m_list(std::move(list)), m_id(id) {}
    std::weak_ptr<List> m_list;
    std::size_t m_id = 0;
};

template <typename... Args>
class BasicNotifier {
    struct Entry {
        std::size_t id;
        std::function<void(Args...)> callback;
    };
    struct Subscribers : Subscription::List {
        void Remove(std::size_t id) override {
            std::erase_if(entries, [id](const Entry& entry) { return entry.id == id; });
        }
        std::vector<Entry> entries;
        std::size_t nextId = 0;
    };

public:
    using Subscription = tamrisk::Subscription;

    // Adds `callback` after the subscribers so far; it is called until the
    // returned handle is destroyed (or the notifier is).
    [[nodiscard]] Subscription Subscribe(std::function<void(Args...)> callback) {
        const std::size_t id = m_subscribers->nextId++;
        m_subscribers->entries.push_back({id, std::move(callback)});
        return Subscription(std::weak_ptr<Subscription::List>(m_subscribers), id);
    }
    // True while nobody listens: the caller may skip preparing the event.
    bool Empty() const { return m_subscribers->entries.empty(); }
    // Calls every subscriber in subscription order with `args`. One that
    // unsubscribes (itself or another) during the call is not called afterwards;
    // one added during the call is told from the next time on. Nothing is
    // allocated when nobody listens.
    void Notify(Args... args) {
        if (Empty())
            return;
        // Subscribers may come and go while they are told: walk the ids known now
        // and look each one up before calling it.
        const auto list = m_subscribers;
        std::vector<std::size_t> ids;
        ids.reserve(list->entries.size());
        for (const Entry& entry : list->entries)
            ids.push_back(entry.id);
        for (const std::size_t id : ids) {
            const auto found = std::find_if(list->entries.begin(), list->entries.end(),
                                            [id](const Entry& entry) { return entry.id == id; });
            if (found == list->entries.end())
                continue;
            const std::function<void(Args...)> callback = found->callback;
            callback(args...);
        }
    }

private:
    std::shared_ptr<Subscribers> m_subscribers = std::make_shared<Subscribers>();
};

// A notifier of an event without arguments.
using Notifier = BasicNotifier<>;

}  // namespace tamrisk
