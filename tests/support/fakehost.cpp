#include "fakehost.h"

namespace tamrisk::testing {

void FakeHost::processEvents() {
    ++eventTurns;
    if (onEvents)
        onEvents();
}

void FakeHost::showMessage(const std::string& text, const std::string& caption) {
    messages.push_back({text, caption, {}});
}

void FakeHost::showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) {
    messages.push_back({text, caption, detail});
}

bool FakeHost::askYesNo(const std::string& text, const std::string& caption) {
    questions.push_back({text, caption, {}});
    advance(answerWait);
    if (answers.empty())
        return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void FakeHost::sleepMs(int ms) {
    sleeps.push_back(ms);
    m_now += std::chrono::milliseconds(ms);
}

double FakeHost::elapsedMs() const {
    return std::chrono::duration<double, std::milli>(m_now - m_start).count();
}

}  // namespace tamrisk::testing
