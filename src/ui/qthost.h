#pragma once
// The station's Host: window events through QApplication::processEvents, the
// operator's messages and questions as modal message boxes over the main
// window, the monotonic clock and a blocking sleep.

#include "host.h"

class QWidget;

namespace tamrisk {

class QtHost : public Host {
public:
    // Message boxes are centred over `parent` once it is set (may be null).
    explicit QtHost(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }

    void processEvents() override;
    void showMessage(const std::string& text, const std::string& caption) override;
    // The reason goes into the box's informative text, below the message.
    void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    Clock::time_point now() override;
    void sleepMs(int ms) override;

    // Events run at most this often through processEvents.
    static constexpr std::chrono::milliseconds EventsInterval{2};

private:
    QWidget* m_parent;
    Clock::time_point m_lastEvents{};
};

}  // namespace tamrisk
