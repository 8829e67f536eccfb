#pragma once
// A serial line whose far end is a function: every frame written is answered by
// chunks of bytes that arrive at given delays on the fake host's clock.

#include "fakehost.h"
#include "serialio.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tamrisk::testing {

struct Chunk {
    std::chrono::microseconds after;  // delay after the write
    std::string bytes;
};

class ScriptedIo : public SerialIo {
public:
    explicit ScriptedIo(FakeHost& host) : m_host(host) {}

    bool open(const std::string& path, int baud) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    std::size_t bytesWaiting() override;
    bool readByte(std::uint8_t& byte) override;
    std::size_t writeAll(std::string_view bytes) override;
    void waitForBytes(std::chrono::microseconds timeout) override;
    // A line that lets bytes gather: the clock moves on by `time`, kept in `sleeps`.
    void sleepFor(std::chrono::microseconds time) override;

    // The device goes away: the line closes and the link is told `reason`.
    void unplug(const std::string& reason) {
        m_open = false;
        reportLost(reason);
    }
    // Queues bytes that arrive `after` from now.
    void deliver(std::chrono::microseconds after, std::string bytes);

    // The far end: gets each written buffer, returns what it sends back.
    std::function<std::vector<Chunk>(const std::string& written)> respond;
    std::vector<std::string> written;  // what each write handed to the line
    std::vector<std::chrono::microseconds> sleeps;
    int waits = 0;  // waitForBytes calls
    // Bytes the line takes from each coming write, front first; later writes go
    // out whole. A write cut short reaches the far end as nothing it answers.
    std::deque<std::size_t> writeLimits;
    bool refuseOpen = false;
    std::string refuseReason;  // the system's text for a refused open
    std::string errorText() const override { return refuseReason; }
    bool denyAccess = false;  // a refused open is for lack of permission
    bool accessDenied() const override { return refuseOpen && denyAccess; }
    std::string openedPath;
    int openedBaud = 0;
    int openCount = 0;

private:
    struct Pending {
        FakeHost::Clock::time_point at;
        std::string bytes;
    };
    void arrive();

    FakeHost& m_host;
    bool m_open = false;
    std::deque<Pending> m_pending;  // ordered by arrival time
    std::deque<std::uint8_t> m_inbox;
};

}  // namespace tamrisk::testing
