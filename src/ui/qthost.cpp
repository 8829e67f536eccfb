#include "qthost.h"

#include <QApplication>
#include <QMessageBox>

#include <thread>

namespace tamrisk {

void QtHost::processEvents() { QApplication::processEvents(); }
void QtHost::showMessage(const std::string& text, const std::string& caption) { showMessageDetail(text, caption, {}); }
void QtHost::showMessageDetail(const std::string&, const std::string&, const std::string&) {}
bool QtHost::askYesNo(const std::string&, const std::string&) { return false; }
Host::Clock::time_point QtHost::now() { return Clock::now(); }
void QtHost::sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tamrisk
