#pragma once
// Host for headless front ends: messages on stderr, questions answered by a
// policy (a fixed number of Yes answers, then No), real monotonic clock.

#include "host.h"

#include <functional>
#include <iosfwd>

namespace tamrisk {

class ConsoleHost : public Host {
public:
    // `err` receives every message and question; `pumpEvents` lets a Qt event
    // loop run when the front end has one (may be empty); `flushFirst` (may be
    // null) is flushed before anything is written to `err`, so that results
    // and messages keep their order.
    explicit ConsoleHost(std::ostream& err, std::function<void()> pumpEvents = {},
                         std::ostream* flushFirst = nullptr);

    void processEvents() override;
    void showMessage(const std::string& text, const std::string& caption) override;
    // "caption: text: detail", the detail (the system's UTF-8 reason) through the detail filter.
    void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    Clock::time_point now() override;
    void sleepMs(int ms) override;

    // The next `count` questions are answered Yes, later ones No.
    void setYesAnswers(int count) { m_yesAnswers = count; }
    // When set, a message waits for Enter on stdin after it is shown.
    void setWaitForEnter(bool wait) { m_waitForEnter = wait; }
    // Converts message texts (the station's 8-bit text) for the terminal.
    void setTextFilter(std::function<std::string(const std::string&)> filter) { m_filter = std::move(filter); }
    // Prepares the details (UTF-8, which may name a file or a port) for the terminal.
    void setDetailFilter(std::function<std::string(const std::string&)> filter) { m_detailFilter = std::move(filter); }

private:
    void write(const std::string& caption, const std::string& text, const std::string& answer);

    std::ostream& m_err;
    std::function<void()> m_pumpEvents;
    std::ostream* m_flushFirst;
    std::function<std::string(const std::string&)> m_filter;
    std::function<std::string(const std::string&)> m_detailFilter;
    int m_yesAnswers = 0;
    bool m_waitForEnter = false;
};

}  // namespace tamrisk
