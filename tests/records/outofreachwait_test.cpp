// The wait for claims out of reach, as a script run meets it: the runner asks
// its observer to claim, waiting at most the claim wait, and the claims wait as
// WaitWhileOutOfReach says, on a fake host whose clock moves only when it sleeps.

#include "outofreachwait.h"
#include "scriptrig.h"
#include "seriallink.h"
#include "transaction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace tamrisk {
namespace {

using testing::FakeHost;
using testing::Logged;
using Rig = testing::ScriptRig;

// Claims out of reach are waited for, asked again after 0.25, 0.5, 1, 2, 3, 3 ...
// seconds, at most the claim wait: the run goes on once a claim is made, ends
// as when none can be made once the wait runs out, and as cancelled, sending
// nothing, at a Cancel during the wait. The wait is told once as it begins and
// once as it ends, in the log and to the status line.
TEST(ScriptRun, ClaimsOutOfReachAreWaitedFor) {
    struct Claims : RunObserver {
        explicit Claims(FakeHost& host) : host(host) {}
        void SerialSent(const SentSerial&) override {}
        ClaimAnswer ClaimSerial(const std::string&, const std::string&, int, const OutOfReachWait& wait) override {
            return ClaimWaiting(host, wait, [this]() -> ClaimAnswer {
                asked.push_back(static_cast<int>(host.elapsedMs()));
                if (unreachable != 0) {
                    unreachable -= unreachable > 0 ? 1 : 0;
                    return {SerialClaim::Unreachable, "db: refused"};
                }
                return {};
            });
        }
        FakeHost& host;
        int unreachable = 0;  // answers out of reach before one is claimed; -1: always
        std::vector<int> asked;  // the fake clock's ms at each claim
    };
    struct Case {
        const char* name;
        int unreachable;
        std::chrono::seconds wait;
        int cancelAfterTurns;  // event turns until Cancel is pressed; 0: never
        RunOutcome outcome;
        std::vector<std::string> sent;
        std::vector<int> asked;  // relative to the first ask
        std::vector<Logged> notes;
        std::vector<std::string> status;
    };
    const auto B = ResultColour::Black;
    const auto R = ResultColour::Red;
    const Logged waits{"** DT000100 waits for its claim (at most 60 s): db: refused", B};
    const std::string waiting = "Waiting for the serial-number claims: db: refused";
    const std::vector<Case> cases = {
        {"back after four tries", 4, std::chrono::seconds(60), 0, RunOutcome::Completed, {"DT000100"},
         {0, 250, 750, 1750, 3750},
         {waits, {"** Claims can be made again (waited 3.75 s)", B}}, {waiting, ""}},
        {"the wait runs out", -1, std::chrono::seconds(5), 0, RunOutcome::SerialUnavailable, {},
         {0, 250, 750, 1750, 3750, 5000},
         {{"** DT000100 waits for its claim (at most 5 s): db: refused", B},
          {"** DT000100 not sent, no claim on it: db: refused", R}},
         {waiting, ""}},
        {"no wait at all", -1, std::chrono::seconds(0), 0, RunOutcome::SerialUnavailable, {}, {0},
         {{"** DT000100 waits for its claim (at most 0 s): db: refused", B},
          {"** DT000100 not sent, no claim on it: db: refused", R}},
         {waiting, ""}},
        {"a Cancel during the wait", -1, std::chrono::seconds(60), 3, RunOutcome::Cancelled, {}, {0}, {waits},
         {waiting, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        Claims claims(rig.host);
        claims.unreachable = c.unreachable;
        std::vector<std::string> status;
        ScriptRunHooks hooks;
        hooks.claimWaiting = [&](const std::string& text) { status.push_back(text); };
        rig.runner->SetHooks(std::move(hooks));
        rig.runner->SetClaimWait(c.wait);
        rig.runner->SetRunObserver(&claims);
        int turns = 0;
        rig.host.onEvents = [&] {
            if (!claims.asked.empty() && c.cancelAfterTurns > 0 && ++turns == c.cancelAfterTurns)
                rig.state.CancelRequest = true;
        };
        EXPECT_EQ(rig.Run({"+1;91,DT000100"}), c.outcome);
        EXPECT_EQ(rig.SentData(), c.sent);
        std::vector<int> asked;
        for (const int at : claims.asked)
            asked.push_back(at - claims.asked.front());
        EXPECT_EQ(asked, c.asked);
        std::vector<Logged> notes;
        std::ranges::copy_if(rig.sink.lines, std::back_inserter(notes),
                             [](const Logged& line) { return line.text.starts_with("** "); });
        EXPECT_EQ(notes, c.notes);
        EXPECT_EQ(status, c.status);
        if (c.cancelAfterTurns > 0) {  // within the slice that saw the Cancel
            EXPECT_LE(rig.host.elapsedMs() - claims.asked.front(), c.cancelAfterTurns * WaitSliceMs);
            EXPECT_EQ(rig.sink.Texts()[rig.sink.Texts().size() - 2], "Script cancelled !!!");
        }
    }
}

}  // namespace
}  // namespace tamrisk
