#include "consolehost.h"

#include <iostream>
#include <string>
#include <thread>

namespace tamrisk {

ConsoleHost::ConsoleHost(std::ostream& err, std::function<void()> pumpEvents)
    : m_err(err), m_pumpEvents(std::move(pumpEvents)) {}

void ConsoleHost::processEvents() {
    if (m_pumpEvents)
        m_pumpEvents();
}

void ConsoleHost::showMessage(const std::string& text, const std::string& caption) {
    m_err << caption << ": " << text << std::endl;
    if (m_waitForEnter) {
        std::string line;
        std::getline(std::cin, line);
    }
}

bool ConsoleHost::askYesNo(const std::string& text, const std::string& caption) {
    const bool yes = m_yesAnswers > 0;
    if (yes)
        --m_yesAnswers;
    m_err << caption << ": " << text << (yes ? " Yes" : " No") << std::endl;
    return yes;
}

Host::Clock::time_point ConsoleHost::now() { return Clock::now(); }

void ConsoleHost::sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tamrisk
