#pragma once
// The one way the core reaches the operator and the passage of time.
// The station implements it with its event loop and message boxes, tamrisk-cli
// with stderr/stdin, tests with a scripted fake whose clock can be advanced.

#include <chrono>
#include <string>

namespace tamrisk {

class Host {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Host() = default;

    // Lets pending window events run (Cancel buttons, repaints, timers).
    virtual void processEvents() = 0;
    // Shows `text` with `caption` and an OK button; returns when the operator closed it.
    virtual void showMessage(const std::string& text, const std::string& caption) = 0;
    // The same with the system's reason for a failure beside the message (a
    // message box's detail text, or a second line on stderr).
    virtual void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) {
        showMessage(detail.empty() ? text : text + "\n" + detail, caption);
    }
    // Asks a Yes/No question; true only for Yes.
    virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;
    // Monotonic time, for gaps and durations (never the wall clock).
    virtual Clock::time_point now() = 0;
    // Blocks for `ms` milliseconds without processing events.
    virtual void sleepMs(int ms) = 0;
};

}  // namespace tamrisk
