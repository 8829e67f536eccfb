#pragma once
// How a question to the line's database waits while the database is out of
// reach: asked again after FirstRetry, the pause doubled after each try up to
// LongestRetry, at most the wait's limit; the events run and Cancel is watched
// every WaitSliceMs of a pause. One policy for every such question: the claim
// of a serial number waits so.

#include "host.h"
#include "serialnumbers.h"

#include <chrono>
#include <functional>
#include <string>

namespace tamrisk {

inline constexpr std::chrono::milliseconds FirstRetry{250};
inline constexpr std::chrono::milliseconds LongestRetry{3000};

enum class WaitEnd { Answered, TimedOut, Cancelled };

// Asks `ask` until it answers: it returns true once the database answered,
// false with `reason` while it is out of reach. The first time it is out of
// reach, `wait.began` is told; once the wait is over, `wait.ended`. Answered at
// once when the first question is answered (nothing told then).
WaitEnd WaitWhileOutOfReach(Host& host, const OutOfReachWait& wait,
                            const std::function<bool(std::string& reason)>& ask);

// The answer of `claim` (one try), asked again as WaitWhileOutOfReach says while
// it is Unreachable: Unreachable still when the limit ran out, Cancelled (with
// the last reason) when the wait was cancelled.
ClaimAnswer ClaimWaiting(Host& host, const OutOfReachWait& wait, const std::function<ClaimAnswer()>& claim);

}  // namespace tamrisk
