#pragma once
// The idle log-out: the person logged in is logged out once the application
// has had no keyboard or mouse input for the "IdleLogOut" setting's minutes
// (DefaultIdleMinutes when unset). A run in progress is not idle: its time
// counts as input, so a run is never cut short and the minutes start again
// when it ends. A log-out that falls due while a dialog is open over the
// window waits until it closes. The clock is given, so that a test can drive it.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tamrisk {

class IdleLogOut : public QObject {
    Q_OBJECT
public:
    static constexpr const char* Setting = "IdleLogOut";
    static constexpr std::chrono::minutes DefaultIdleMinutes{15};
    static constexpr std::chrono::minutes MaxIdleMinutes{8 * 60};
    // Milliseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    // `busy`: a run is in progress (counts as input); `held`: the log-out must
    // wait (a dialog is open); `logOut` logs the person out.
    IdleLogOut(std::function<bool()> busy, std::function<bool()> held, std::function<void()> logOut,
               QObject* parent = nullptr);
    ~IdleLogOut() override;

    // The minutes saved in the settings (1 to MaxIdleMinutes; others are clamped).
    static std::chrono::minutes SavedLimit();
    // Sets and saves them; the wait under way follows at once.
    void SetLimit(std::chrono::minutes limit);
    std::chrono::minutes Limit() const { return m_limit; }
    void SetClock(Clock clock);

    // Watches the application's input while someone is logged in, from now.
    void Start();
    void Stop();
    bool Watching() const { return m_watching; }
    // Logs out when the limit has passed since the last input; run by a timer
    // each second while watching.
    void Check();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> m_busy, m_held;
    std::function<void()> m_logOut;
    Clock m_clock;
    std::chrono::minutes m_limit;
    qint64 m_lastInputMs = 0;
    bool m_watching = false;
    QTimer m_timer;
};

}  // namespace tamrisk
