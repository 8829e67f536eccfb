#include "scriptrunner.h"

#include "dataescapes.h"
#include "increments.h"
#include "transaction.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tamrisk {

namespace {

std::string Printf(const char* format, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

WallClockReading ReadSystemWallClock() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    const QLocale locale = QLocale::system();
    const QString text = locale.toString(date, QLocale::ShortFormat) + ' ' + locale.toString(time, QLocale::LongFormat);
    return {{date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()},
            text.toStdString()};
}

ScriptRunner::ScriptRunner(Transactor& transactor, Host& host, ResultSink& sink, std::function<bool()> connected)
    : m_transactor(transactor),
      m_state(transactor.State()),
      m_host(host),
      m_sink(sink),
      m_connected(std::move(connected)),
      m_wallClock(ReadSystemWallClock) {}

bool ScriptRunner::ConnectionGone() const { return m_connected && !m_connected(); }

bool ScriptRunner::Cancelled() const {
    return m_state.CancelRequest || m_serialUnavailable || m_stoppedAtFailure || ConnectionGone();
}

double ScriptRunner::SecondsSinceStart() {
    return std::chrono::duration<double>(m_host.now() - ScriptStartTime).count();
}

std::string ScriptRunner::ScriptTmrTimer() {
    std::string text = FormatElapsed("", SecondsSinceStart());
    if (m_hooks.timerText)
        m_hooks.timerText(text);
    return text;
}

RunOutcome ScriptRunner::RunScript(ScriptList& lines) {
    if (m_connected && !m_connected()) {
        m_host.showMessage("Serial port not open", "Error");
        return RunOutcome::NotStarted;
    }
    m_state.CancelRequest = false;
    // A Yes given outside a run must not resend the first command of this one.
    m_state.RepeatRequest = false;
    m_serialUnavailable = false;
    m_stoppedAtFailure = false;
    m_lastAnswer.reset();
    if (m_hooks.runControls)
        m_hooks.runControls(true);
    ScriptStartTime = m_host.now();
    if (m_hooks.timerEnabled)
        m_hooks.timerEnabled(true);

    RunScriptLines(lines, 0, lines.Count());
    if (m_observer != nullptr)
        m_observer->LineStarting(0);

    if (m_hooks.timerEnabled)
        m_hooks.timerEnabled(false);
    if (m_hooks.timerText)
        m_hooks.timerText(FormatElapsed("", SecondsSinceStart()));
    RunOutcome outcome = RunOutcome::Completed;
    if (ConnectionGone()) {
        m_sink.AppendResultLine("Serial port lost !!!", ResultColour::Red);
        m_state.CancelRequest = false;
        outcome = RunOutcome::PortLost;
    } else if (m_serialUnavailable) {
        // Its red line said why; a Cancel given meanwhile changes nothing.
        m_state.CancelRequest = false;
        outcome = RunOutcome::SerialUnavailable;
    } else if (m_stoppedAtFailure) {
        m_sink.AppendResultLine("Script stopped at the first failure !!!", ResultColour::Red);
        m_state.CancelRequest = false;
        outcome = RunOutcome::StoppedAtFailure;
    } else if (m_state.CancelRequest) {
        m_sink.AppendResultLine("Script cancelled !!!", ResultColour::Red);
        m_state.CancelRequest = false;
        outcome = RunOutcome::Cancelled;
    }
    m_sink.AppendResultLine(ElapsedResultLine("Script execution time ", SecondsSinceStart()), ResultColour::Black);
    if (m_hooks.runControls)
        m_hooks.runControls(false);
    return outcome;
}

void ScriptRunner::TellLineStarting(int line) {
    if (m_observer != nullptr)
        m_observer->LineStarting(line);
    if (m_hooks.lineStarting)
        m_hooks.lineStarting(line);
}

void ScriptRunner::RunScriptLines(ScriptList& lines, std::size_t first, std::size_t end) {
    // Repeat blocks nest on this stack rather than the machine's, so that no
    // depth of nesting can overflow it; the lines, events and cancel checks come
    // in the order that one nested call per block would give.
    std::vector<RepeatBlock> blocks;
    std::size_t i = first;
    // The current range returns: its lines are done, or the run stops.
    bool leave = false;
    for (;;) {
        if (!leave && i < end) {
            m_host.processEvents();
            leave = Cancelled();
        }
        if (!leave && i < end) {
            const ScriptLine line = ParseScriptLine(lines.Line(i));
            TellLineStarting(m_firstLineNumber + static_cast<int>(i));
            switch (line.kind) {
            case ScriptLineKind::EmptyLine:
            case ScriptLineKind::DescriptionLine:
            case ScriptLineKind::LabelLine:
                ++i;
                continue;
            case ScriptLineKind::MessageLine:
                m_host.showMessage(line.message, "Message");
                ++i;
                continue;
            case ScriptLineKind::WaitLine:
                RunWait(line);
                ++i;
                continue;
            case ScriptLineKind::RepeatLine:
                if (const auto labelLine = FindRepeatBlock(lines, i, end, line)) {
                    blocks.push_back({i, *labelLine, end, 0, line.repeatCount, line.label});
                    // Into the block's pass loop, which is entered as a range ends.
                    leave = true;
                } else {
                    ++i;
                }
                continue;
            case ScriptLineKind::ClockLine:
                RunClock();
                break;
            case ScriptLineKind::CommandLine:
            case ScriptLineKind::IncrementLine:
                m_lineRunsAgain =
                    std::ranges::any_of(blocks, [](const RepeatBlock& block) { return block.pass < block.count; });
                RunCommand(&lines, i, line);
                break;
            case ScriptLineKind::CheckLine:
                RunCheck(line, m_firstLineNumber + static_cast<int>(i));
                break;
            case ScriptLineKind::CommentLine:
                m_sink.AppendResultLine("!! " + line.text, ResultColour::Black);
                break;
            }
        } else {
            leave = false;
            if (blocks.empty())
                return;
            // A pass of the innermost block has ended (or it has not begun).
            RepeatBlock& block = blocks.back();
            if (block.pass < block.count) {
                m_host.processEvents();
                if (!Cancelled()) {
                    ++block.pass;
                    TellLineStarting(m_firstLineNumber + static_cast<int>(block.repeatLine));
                    m_sink.AppendResultLine(Printf("** Repeating %d from %d for Label \"%s\"", block.pass,
                                                   block.count, block.label.c_str()),
                                            ResultColour::Black);
                    i = block.repeatLine + 1;
                    end = block.labelLine;
                    continue;
                }
            }
            // The block is done: the walk goes on at its label line.
            i = block.labelLine;
            end = block.outerEnd;
            blocks.pop_back();
        }
        m_host.processEvents();
        if (Cancelled())
            leave = true;
        else
            ++i;
    }
}

std::optional<std::size_t> ScriptRunner::FindRepeatBlock(const ScriptList& lines, std::size_t i, std::size_t end,
                                                         const ScriptLine& line) {
    const std::string invalid = "** Invalid repeat command (" + line.text + ")";
    if (!line.repeatCountRead) {
        m_sink.AppendResultLine(invalid, ResultColour::Red);
        return std::nullopt;
    }
    if (line.repeatCount < MinRepeatCount || line.repeatCount > MaxRepeatCount)
        return std::nullopt;
    if (i + 1 >= lines.Count())
        return std::nullopt;
    if (line.label.empty() || line.label.size() > MaxLabelLength) {
        m_sink.AppendResultLine(invalid, ResultColour::Red);
        return std::nullopt;
    }
    const std::string labelLine = ":" + line.label;
    std::size_t j = i + 1;
    while (j < end && lines.Line(j) != labelLine)
        ++j;
    if (j >= end) {
        m_sink.AppendResultLine(invalid, ResultColour::Red);
        return std::nullopt;
    }
    return j;
}

void ScriptRunner::RunWait(const ScriptLine& line) {
    int ms = line.waitMs;
    if (ms % 1000 == 0)
        m_sink.AppendResultLine(Printf("## Wait %d seconds ...", ms / 1000), ResultColour::Black);
    else
        m_sink.AppendResultLine(Printf("## Wait %d milliseconds ...", ms), ResultColour::Black);
    // A negative count would block the station for weeks: it waits nothing.
    ms = std::clamp(ms, 0, MaxWaitMs);
    if (ms <= 1000) {
        m_host.sleepMs(ms);
        return;
    }
    SleepWatchingCancel(ms / WaitSliceMs * WaitSliceMs);
}

bool ScriptRunner::SleepWatchingCancel(int ms) {
    // The events of each slice run before its check, so a Cancel or a lost
    // port ends the wait within one slice.
    for (; ms > 0; ms -= WaitSliceMs) {
        m_host.sleepMs(std::min(ms, WaitSliceMs));
        m_host.processEvents();
        if (Cancelled())
            return false;
    }
    return true;
}

void ScriptRunner::RunClock() {
    const WallClockReading reading = m_wallClock();
    m_sink.AppendResultLine("$$ Set RTC using PC clock: " + reading.text, ResultColour::Black);
    ScriptLine command;
    command.kind = ScriptLineKind::CommandLine;
    command.command = CmdSetDateTime;
    command.data = SetDateTimeData(reading.at);
    command.text = std::to_string(CmdSetDateTime) + "," + command.data;
    command.dataOffset = command.text.size() - command.data.size();
    RunCommand(nullptr, 0, command);
}

void ScriptRunner::RunCheck(const ScriptLine& line, int number) {
    const CheckOutcome check =
        JudgeCheck(ReadCheckLine(line.text, number, m_checkVariables), m_lastAnswer ? &*m_lastAnswer : nullptr);
    m_sink.AppendResultLine(CheckLogLine(check),
                            check.result == CheckResult::Pass ? ResultColour::Green : ResultColour::Red);
    if (m_observer != nullptr)
        m_observer->Checked(check);
    if (m_stopOnFail && check.result == CheckResult::Fail)
        m_stoppedAtFailure = true;
}

void ScriptRunner::RunCommand(ScriptList* lines, std::size_t index, const ScriptLine& line) {
    if (m_hooks.commandStarting)
        m_hooks.commandStarting();
    // Lines and data beyond what a script may carry are reported, never sent;
    // a check after them finds no answer rather than the one before.
    if (line.text.size() > MaxScriptLine || line.data.size() > MaxScriptData)
        m_lastAnswer = CheckedAnswer{};
    if (line.text.size() > MaxScriptLine) {
        m_sink.AppendResultLine(Printf("** Line too long, not sent (%zu characters, at most %zu)", line.text.size(),
                                       MaxScriptLine),
                                ResultColour::Red);
        return;
    }
    if (line.data.size() > MaxScriptData) {
        m_sink.AppendResultLine(Printf("** Data too long, not sent (%zu characters, at most %zu)", line.data.size(),
                                       MaxScriptData),
                                ResultColour::Red);
        return;
    }
    ScriptLine current = line;  // moves on past numbers given before
    std::string send = TranslateDataEscapes(current.data);
    const bool incrementing = lines != nullptr && line.kind == ScriptLineKind::IncrementLine;
    // A number is kept for good once it may have gone out; a refused one is given
    // up, so a resend claims it again.
    bool claimed = false;
    bool kept = false;
    for (;;) {
        if (incrementing && m_observer != nullptr && !claimed) {
            if (!ClaimNumber(*lines, index, current, send))
                return;
            claimed = true;
        }
        // A busy link or a lost port logs no answer line.
        const bool answerLogged = !m_transactor.InProgress() && !m_transactor.PortLost();
        const ExecResult result = LogTransaction(m_transactor, m_sink, current.command, current.data, send);
        if (result != ExecResult::ExecBusy) {
            const bool refused = (m_state.StatusFlags & CommonErrorFlag) != 0;
            m_lastAnswer = CheckedAnswer{result != ExecResult::ExecOk ? CheckedAnswerKind::NoAnswer
                                         : refused                    ? CheckedAnswerKind::Refused
                                                                      : CheckedAnswerKind::Answered,
                                         m_state.AnswerData};
        }
        if (m_stopOnFail && answerLogged && AnswerLineColour(m_state.StatusFlags) == ResultColour::Red)
            m_stoppedAtFailure = true;
        // Only a definite refusal keeps the digit fields: a serial number handed
        // out twice is worse than a gap.
        const SentSerialResult judged = JudgeTransaction(result, m_state);
        if (judged != SentSerialResult::Refused && incrementing && current.dataOffset)
            lines->ReplaceLine(index, WriteBackDigitFields(current, lines->Line(index)));
        if (incrementing && m_observer != nullptr)
            m_observer->SerialSent(
                {SerialNumberSpace(current), send, m_firstLineNumber + static_cast<int>(index), judged});
        kept = kept || judged != SentSerialResult::Refused;
        claimed = kept;
        m_host.processEvents();
        if (!m_state.RepeatRequest)
            return;
        m_state.RepeatRequest = false;
        if (Cancelled())
            return;
        m_host.sleepMs(ResendPauseMs);
    }
}

bool ScriptRunner::ClaimNumber(ScriptList& lines, std::size_t index, ScriptLine& line, std::string& send) {
    const std::string space = SerialNumberSpace(line);
    const std::string first = send;
    const int number = m_firstLineNumber + static_cast<int>(index);
    // The line as it stands once `send` is kept, and what it sends then.
    const auto advance = [&](std::string& advanced, ScriptLine& next, std::string& nextSend) {
        advanced = WriteBackDigitFields(line, lines.Line(index));
        next = ParseScriptLine(advanced);
        nextSend = TranslateDataEscapes(next.data);
    };
    OutOfReachWait wait;
    wait.limit = m_claimWait;
    wait.cancelled = [this] { return Cancelled(); };
    wait.began = [&](const std::string& reason) {
        const long long seconds = std::chrono::ceil<std::chrono::seconds>(m_claimWait).count();
        m_sink.AppendResultLine("** " + send + " waits for its claim (at most " + std::to_string(seconds) +
                                    " s): " + reason,
                                ResultColour::Black);
        if (m_hooks.claimWaiting)
            m_hooks.claimWaiting("Waiting for the serial-number claims: " + reason);
    };
    wait.ended = [this](bool answered, double waited) {
        if (answered)
            m_sink.AppendResultLine(Printf("** Claims can be made again (waited %.2f s)", waited),
                                    ResultColour::Black);
        if (m_hooks.claimWaiting)
            m_hooks.claimWaiting({});
    };
    for (;;) {
        ClaimAnswer answer = m_observer->ClaimSerial(space, send, number, wait);
        std::string advanced, nextSend;
        ScriptLine next;
        switch (answer.claim) {
        case SerialClaim::Claimed:
            advance(advanced, next, nextSend);
            if (m_lineRunsAgain && nextSend != send)
                m_observer->NextSerial(space, nextSend, number);
            return true;
        case SerialClaim::Taken:
            advance(advanced, next, nextSend);
            // Fields without a step, or a whole round of numbers given, leave nothing to try.
            if (nextSend == send || nextSend == first) {
                answer.reason = "no number of the line is left to give";
                break;
            }
            m_sink.AppendResultLine("** " + send + " already given, skipped", ResultColour::Black);
            lines.ReplaceLine(index, std::move(advanced));
            line = std::move(next);
            send = std::move(nextSend);
            continue;
        case SerialClaim::Cancelled:
            // The run ends as cancelled, the number not sent.
            return false;
        case SerialClaim::Unavailable:
        case SerialClaim::Unreachable: break;
        }
        m_sink.AppendResultLine("** " + send + " not sent, no claim on it: " + answer.reason, ResultColour::Red);
        m_serialUnavailable = true;
        return false;
    }
}

}  // namespace tamrisk
