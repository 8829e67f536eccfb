#include "consolehost.h"

#include <iostream>
#include <string>
#include <thread>

namespace tamrisk {

ConsoleHost::ConsoleHost(std::ostream& err, std::function<void()> pumpEvents, std::ostream* flushFirst)
    : m_err(err), m_pumpEvents(std::move(pumpEvents)), m_flushFirst(flushFirst) {}

void ConsoleHost::processEvents() {
    if (m_pumpEvents)
        m_pumpEvents();
}

void ConsoleHost::write(const std::string& caption, const std::string& text, const std::string& answer) {
    if (m_flushFirst)
        m_flushFirst->flush();
    m_err << caption << ": " << (m_filter ? m_filter(text) : text) << answer << std::endl;
}

void ConsoleHost::showMessage(const std::string& text, const std::string& caption) {
    showMessageDetail(text, caption, {});
}

void ConsoleHost::showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) {
    write(caption, text, detail.empty() ? std::string() : ": " + (m_detailFilter ? m_detailFilter(detail) : detail));
    if (m_waitForEnter) {
        m_err << "(press Enter to go on)" << std::endl;
        std::string line;
        std::getline(std::cin, line);
    }
}

bool ConsoleHost::askYesNo(const std::string& text, const std::string& caption) {
    const bool yes = m_yesAnswers > 0;
    if (yes)
        --m_yesAnswers;
    write(caption, text, yes ? " Yes" : " No");
    return yes;
}

Host::Clock::time_point ConsoleHost::now() { return Clock::now(); }

void ConsoleHost::sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tamrisk
