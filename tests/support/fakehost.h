#pragma once
// A host whose clock moves only when told (or when the code under test sleeps
// or waits), and which records every message and question.

#include "host.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tamrisk::testing {

class FakeHost : public Host {
public:
    struct Shown {
        std::string text;
        std::string caption;
        std::string detail;  // the system's reason, when one was given
    };

    void processEvents() override;
    void showMessage(const std::string& text, const std::string& caption) override;
    void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    Clock::time_point now() override { return m_now; }
    void sleepMs(int ms) override;

    void advance(std::chrono::microseconds by) { m_now += by; }
    // Milliseconds since the fake clock started.
    double elapsedMs() const;

    // Answers for the next questions, in order; No once they run out.
    std::deque<bool> answers;
    // How long the operator takes to answer a question, on the fake clock.
    std::chrono::microseconds answerWait{0};
    std::vector<Shown> messages;
    std::vector<Shown> questions;
    std::vector<int> sleeps;
    int eventTurns = 0;
    // Runs on every processEvents, as a window handler would.
    std::function<void()> onEvents;

private:
    Clock::time_point m_start{std::chrono::hours(1000)};
    Clock::time_point m_now{m_start};
};

}  // namespace tamrisk::testing
