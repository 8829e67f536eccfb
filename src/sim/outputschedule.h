#pragma once
// When each byte of the printer's answers is due on the line: every answer waits
// the configured delay after its request came in and never starts before the
// answer ahead of it has gone out; at a set line speed, byte k of an answer is
// due k + 1 byte times (10 bits each) after the answer's start, when it has
// wholly crossed the line. Times are counted
// from the schedule, not from the moment a byte was written, so late wake-ups do
// not add up and the simulator does not make the line slower than its speed.
// A receiving port hands bytes over in bursts, as a UART's FIFO or a USB
// adapter does: the simulator writes an answer's bytes a burst time at a time,
// and its last byte the moment it is due, so that the answer ends on time and
// the simulator does not wake for every byte.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace tamrisk::sim {

class OutputSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // `baud` 0 sends each answer at once when its delay is over.
    OutputSchedule(std::chrono::milliseconds delay, int baud);

    // Queues an answer to a request that came in at `requestAt`.
    void Add(std::string answer, Clock::time_point requestAt);
    // Removes and returns the bytes due at `now`, in order.
    std::string TakeDue(Clock::time_point now);
    // When the next byte falls due; empty when nothing is queued.
    std::optional<Clock::time_point> NextDue() const;
    // When to take the due bytes next: at the end of the burst the next byte
    // falls in (bursts counted from the answer's start), or when the answer's
    // last byte is due if that comes first. Empty when nothing is queued.
    std::optional<Clock::time_point> NextWake() const;
    // How long bytes gather before the receiving port hands them over.
    static constexpr std::chrono::microseconds Burst{1000};
    bool Empty() const { return m_queue.empty(); }
    // Drops everything queued (nobody is listening any more).
    void Clear() { m_queue.clear(); }

    // Time one byte takes on the line; zero when unpaced.
    std::chrono::nanoseconds ByteTime() const { return m_byteTime; }

private:
    struct Pending {
        std::string bytes;
        std::size_t sent = 0;
        Clock::time_point start;
    };
    Clock::time_point DueOf(const Pending& pending) const;

    std::chrono::milliseconds m_delay;
    std::chrono::nanoseconds m_byteTime{0};
    std::deque<Pending> m_queue;
    Clock::time_point m_lineFreeAt{};  // when the last queued answer's last byte is due to end
};

}  // namespace tamrisk::sim
