#include "outputschedule.h"

#include <algorithm>

namespace tamrisk::sim {

OutputSchedule::OutputSchedule(std::chrono::milliseconds delay, int baud) : m_delay(delay) {
    if (baud > 0)
        m_byteTime = std::chrono::nanoseconds(10'000'000'000LL / baud);
}

void OutputSchedule::Add(std::string answer, Clock::time_point requestAt) {
    if (answer.empty())
        return;
    const Clock::time_point start = std::max(requestAt + m_delay, m_lineFreeAt);
    m_lineFreeAt = start + m_byteTime * static_cast<long long>(answer.size());
    m_queue.push_back(Pending{std::move(answer), 0, start});
}

OutputSchedule::Clock::time_point OutputSchedule::DueOf(const Pending& pending) const {
    // A byte is on the far side once its whole byte time has passed.
    return pending.start + m_byteTime * static_cast<long long>(pending.sent + 1);
}

std::string OutputSchedule::TakeDue(Clock::time_point now) {
    std::string due;
    while (!m_queue.empty()) {
        Pending& front = m_queue.front();
        if (DueOf(front) > now)
            break;
        std::size_t count = front.bytes.size() - front.sent;
        if (m_byteTime.count() > 0) {
            // Bytes sent + k is due when k byte times have passed since the first of them.
            const auto elapsed = now - DueOf(front);
            count = std::min<std::size_t>(count, static_cast<std::size_t>(elapsed / m_byteTime) + 1);
        }
        due.append(front.bytes, front.sent, count);
        front.sent += count;
        if (front.sent < front.bytes.size())
            break;
        m_queue.pop_front();
    }
    return due;
}

std::optional<OutputSchedule::Clock::time_point> OutputSchedule::NextDue() const {
    if (m_queue.empty())
        return std::nullopt;
    return DueOf(m_queue.front());
}

std::optional<OutputSchedule::Clock::time_point> OutputSchedule::NextWake() const {
    if (m_queue.empty())
        return std::nullopt;
    const Pending& front = m_queue.front();
    const Clock::time_point next = DueOf(front);
    const Clock::time_point last = front.start + m_byteTime * static_cast<long long>(front.bytes.size());
    if (m_byteTime.count() == 0)
        return next;
    // The end of the burst the next byte falls in, counted from the answer's start.
    const auto bursts = (next - front.start + Burst - Clock::duration(1)) / Burst;
    return std::min(front.start + Burst * bursts, last);
}

}  // namespace tamrisk::sim
