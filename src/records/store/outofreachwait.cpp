#include "outofreachwait.h"

#include "scriptrunner.h"

#include <algorithm>

namespace tamrisk {

namespace {

// Sleeps `ms` in slices, the events run after each; false as soon as the wait is cancelled.
bool Pause(Host& host, const OutOfReachWait& wait, std::chrono::milliseconds ms) {
    for (int left = static_cast<int>(ms.count()); left > 0; left -= WaitSliceMs) {
        host.sleepMs(std::min(left, WaitSliceMs));
        host.processEvents();
        if (wait.cancelled && wait.cancelled())
            return false;
    }
    return true;
}

}  // namespace

WaitEnd WaitWhileOutOfReach(Host& host, const OutOfReachWait& wait,
                            const std::function<bool(std::string& reason)>& ask) {
    bool waiting = false;
    Host::Clock::time_point since{};
    std::chrono::milliseconds retry = FirstRetry;
    const auto end = [&](WaitEnd how) {
        if (waiting && wait.ended)
            wait.ended(how == WaitEnd::Answered, std::chrono::duration<double>(host.now() - since).count());
        return how;
    };
    for (;;) {
        std::string reason;
        if (ask(reason))
            return end(WaitEnd::Answered);
        const Host::Clock::time_point now = host.now();
        if (!waiting) {
            waiting = true;
            since = now;
            if (wait.began)
                wait.began(reason);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(since + wait.limit - now);
        if (left.count() <= 0)
            return end(WaitEnd::TimedOut);
        if (!Pause(host, wait, std::min(retry, left)))
            return end(WaitEnd::Cancelled);
        retry = std::min(retry * 2, LongestRetry);
    }
}

ClaimAnswer ClaimWaiting(Host& host, const OutOfReachWait& wait, const std::function<ClaimAnswer()>& claim) {
    ClaimAnswer answer;
    const WaitEnd end = WaitWhileOutOfReach(host, wait, [&](std::string& reason) {
        answer = claim();
        reason = answer.reason;
        return answer.claim != SerialClaim::Unreachable;
    });
    if (end == WaitEnd::Cancelled)
        answer.claim = SerialClaim::Cancelled;
    return answer;
}

}  // namespace tamrisk
