#pragma once
// Runs a script against the printer and writes the run's record through the
// results sink: commands with their request and answer lines, waits, operator
// messages, the clock line, repeat blocks and digit-field increments.

#include "printercommands.h"
#include "resultlog.h"
#include "scriptlist.h"
#include "scriptparser.h"
#include "serialnumbers.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "host.h"

namespace tamrisk {

class Transactor;
struct TransactionState;

// The computer's local date and time, and how the clock line shows it.
struct WallClockReading {
    LocalDateTime at;
    std::string text;  // short date and long time in the system's form
};
WallClockReading ReadSystemWallClock();

// What the windows around a run do when it starts and ends; every hook is optional.
struct ScriptRunHooks {
    std::function<void(bool running)> runControls;      // Connect, Cancel, Load Script
    std::function<void(bool enabled)> timerEnabled;     // the 100 ms elapsed-time timer
    std::function<void(const std::string&)> timerText;  // the elapsed-time panel
    std::function<void()> commandStarting;              // before each command line is handled
    // While a claim waits for the claims to come within reach: what the status
    // line shows; an empty text once the wait ends.
    std::function<void(const std::string&)> claimWaiting;
    // The script line number about to run.
    std::function<void(int line)> lineStarting;
};

// SerialUnavailable: a number could not be claimed, so the run stopped before sending it.
// StoppedAtFailure: asked to stop at the first failure, the run ended at a
// failed check or a red answer line.
enum class RunOutcome { NotStarted, Completed, Cancelled, PortLost, SerialUnavailable, StoppedAtFailure };

constexpr int MaxWaitMs = 600000;
constexpr int ResendPauseMs = 500;
constexpr int WaitSliceMs = 100;
// How long a claim waits by default for claims out of reach, and at most.
constexpr std::chrono::seconds DefaultClaimWait{60};
constexpr std::chrono::seconds MaxClaimWait{86400};

class ScriptRunner {
public:
    // `connected` tells whether the station is connected to a printer.
    ScriptRunner(Transactor& transactor, Host& host, ResultSink& sink, std::function<bool()> connected);

    void SetHooks(ScriptRunHooks hooks) { m_hooks = std::move(hooks); }
    void SetWallClock(std::function<WallClockReading()> clock) { m_wallClock = std::move(clock); }
    // Told of each script line as it runs and of every transaction of an
    // incrementing line; none by default. Not owned.
    void SetRunObserver(RunObserver* observer) { m_observer = observer; }
    // The script line number of the list's first line (1 by default): a run of
    // a selection or of a range numbers its lines from the first one taken.
    void SetFirstLineNumber(int number) { m_firstLineNumber = number; }
    // How long a number whose claims are out of reach waits for them, trying
    // again, before the run ends as when no claim can be made (DefaultClaimWait).
    void SetClaimWait(std::chrono::milliseconds wait) { m_claimWait = wait; }
    // The variables that check lines put in as {NAME}; {unit} only when the
    // map holds "unit". Kept for every run until set again.
    void SetCheckVariables(CheckVariables variables) { m_checkVariables = std::move(variables); }
    // Asked to stop at the first failure, a run ends at the first failed check
    // or red answer line as StoppedAtFailure; a check that cannot be read does
    // not stop it. Off by default: runs go on.
    void SetStopOnFail(bool stop) { m_stopOnFail = stop; }

    // Runs the whole list: refuses with "Serial port not open" when not
    // connected; clears CancelRequest and RepeatRequest; ends with "Script
    // cancelled !!!" when cancelled, with "Serial port lost !!!" when the
    // connection went away during the run, with "Script stopped at the first
    // failure !!!" when asked to stop there, and always with the execution time.
    RunOutcome RunScript(ScriptList& lines);
    // Runs lines first..end-1. Repeat blocks nest to any depth without using the
    // machine stack for each level.
    void RunScriptLines(ScriptList& lines, std::size_t first, std::size_t end);
    // The elapsed-time text of the running script, also handed to the timerText hook.
    std::string ScriptTmrTimer();

    // Set by whoever starts a run (the Execute Script button, tamrisk-cli run).
    bool ScriptRunning = false;
    Host::Clock::time_point ScriptStartTime{};

private:
    // A repeat block being run: the lines strictly between its repeat line and
    // its label line, `count` passes, `outerEnd` the end of the range it stands in.
    struct RepeatBlock {
        std::size_t repeatLine;
        std::size_t labelLine;
        std::size_t outerEnd;
        int pass;
        int count;
        std::string label;
    };
    // The label line of the valid repeat line i, searched below it up to `end`;
    // none when the line is to be skipped (after the red notice of an invalid one).
    std::optional<std::size_t> FindRepeatBlock(const ScriptList& lines, std::size_t i, std::size_t end,
                                               const ScriptLine& line);
    // Tells the observer and the lineStarting hook that script line `line` runs.
    void TellLineStarting(int line);
    void RunWait(const ScriptLine& line);
    void RunClock();
    // Judges the last transaction by the check line `line` (script line
    // `number`): its "?? " line, then the observer is told.
    void RunCheck(const ScriptLine& line, int number);
    // One command with its resends; `index` is the line's place for write-back
    // (none for the clock line's command).
    void RunCommand(ScriptList* lines, std::size_t index, const ScriptLine& line);
    // Claims the number of the incrementing line `index` before it is sent: a
    // number taken before is skipped (the line advanced, written back into
    // `lines` and into `line` and `send`, and a black line says so) until one is
    // claimed, then the number after it is told to the observer. The observer
    // waits for claims out of reach at most the claim wait, watching Cancel (a
    // black line as the wait begins and as it ends). The next number is told
    // only when the line runs again: one claimed ahead for no later unit would be
    // held, seen taken and skipped by the other programs claiming in its space,
    // and given back behind them, a gap.
    // False, after a red line with the reason, when none can be made, and without
    // one when the run was cancelled during the wait.
    bool ClaimNumber(ScriptList& lines, std::size_t index, ScriptLine& line, std::string& send);
    // Sleeps `ms` in slices, letting events run after each; false as soon as the
    // run is cancelled.
    bool SleepWatchingCancel(int ms);
    // The run stops at its next check: cancelled, or the connection is gone.
    bool Cancelled() const;
    bool ConnectionGone() const;
    double SecondsSinceStart();

    Transactor& m_transactor;
    TransactionState& m_state;
    Host& m_host;
    ResultSink& m_sink;
    std::function<bool()> m_connected;
    std::function<WallClockReading()> m_wallClock;
    ScriptRunHooks m_hooks;
    RunObserver* m_observer = nullptr;
    int m_firstLineNumber = 1;
    std::chrono::milliseconds m_claimWait = DefaultClaimWait;
    // Set when a number could not be claimed: the run stops as after Cancel.
    bool m_serialUnavailable = false;
    CheckVariables m_checkVariables;
    bool m_stopOnFail = false;
    // A failure ended the run, asked to stop at the first: it stops as after Cancel.
    bool m_stoppedAtFailure = false;
    // The run's last transaction, for its check lines; none before the first.
    std::optional<CheckedAnswer> m_lastAnswer;
    // The line under way runs again: a repeat block around it has passes left.
    bool m_lineRunsAgain = false;
};

}  // namespace tamrisk
