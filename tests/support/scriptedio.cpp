#include "scriptedio.h"

#include <algorithm>

namespace tamrisk::testing {

bool ScriptedIo::open(const std::string& path, int baud) {
    ++openCount;
    if (refuseOpen)
        return false;
    m_open = true;
    openedPath = path;
    openedBaud = baud;
    return true;
}

void ScriptedIo::deliver(std::chrono::microseconds after, std::string bytes) {
    Pending p{m_host.now() + after, std::move(bytes)};
    auto pos = std::upper_bound(m_pending.begin(), m_pending.end(), p.at,
                                [](auto at, const Pending& q) { return at < q.at; });
    m_pending.insert(pos, std::move(p));
}

void ScriptedIo::arrive() {
    while (!m_pending.empty() && m_pending.front().at <= m_host.now()) {
        for (char c : m_pending.front().bytes)
            m_inbox.push_back(static_cast<std::uint8_t>(c));
        m_pending.pop_front();
    }
}

std::size_t ScriptedIo::bytesWaiting() {
    arrive();
    return m_inbox.size();
}

bool ScriptedIo::readByte(std::uint8_t& byte) {
    arrive();
    if (m_inbox.empty())
        return false;
    byte = m_inbox.front();
    m_inbox.pop_front();
    return true;
}

std::size_t ScriptedIo::writeAll(std::string_view bytes) {
    if (!writeLimits.empty()) {
        const std::size_t limit = writeLimits.front();
        writeLimits.pop_front();
        if (limit < bytes.size()) {
            written.emplace_back(bytes.substr(0, limit));
            return limit;
        }
    }
    written.emplace_back(bytes);
    if (respond)
        for (Chunk& chunk : respond(written.back()))
            deliver(chunk.after, std::move(chunk.bytes));
    return bytes.size();
}

void ScriptedIo::sleepFor(std::chrono::microseconds time) {
    sleeps.push_back(time);
    m_host.advance(time);
}

void ScriptedIo::waitForBytes(std::chrono::microseconds timeout) {
    ++waits;
    arrive();
    if (!m_inbox.empty())
        return;
    const auto limit = m_host.now() + timeout;
    if (!m_pending.empty() && m_pending.front().at <= limit)
        m_host.advance(std::chrono::duration_cast<std::chrono::microseconds>(m_pending.front().at - m_host.now()));
    else
        m_host.advance(timeout);
    arrive();
}

}  // namespace tamrisk::testing
