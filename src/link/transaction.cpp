#include "transaction.h"

#include "host.h"
#include "seriallink.h"
#include "statusbits.h"

#include <algorithm>

namespace tamrisk {

namespace {

// Slice of one wait on the line, so the host runs its events at least this often.
constexpr std::chrono::microseconds WaitSlice{50000};
// While bytes keep streaming in, events still run after this many bytes.
constexpr int BytesBetweenEvents = 64;
// Every this many answers to a command, one is waited for as it comes rather
// than slept through, and its time learnt afresh: a printer grown quicker is
// not slept past for long.
constexpr int RetimeEvery = 8;
// Longer answers (a printer busy, a slow line) are not slept through: a sleep
// cannot be cut short by a Cancel or by what comes.
constexpr std::chrono::microseconds MaxSleptAnswer = WaitSlice;

}  // namespace

std::uint32_t MapStatusToFlags(const StatusBytesArray& status, std::uint32_t flags) {
    for (const StatusBit& bit : StatusBitTable())
        if (bit.flag != 0 && (status[static_cast<std::size_t>(bit.byte)] & (1u << bit.bit)) != 0)
            flags |= bit.flag;
    return flags;
}

Transactor::Transactor(SerialLink& link, Host& host, TransactionState& state)
    : m_link(link), m_host(host), m_state(state) {}

bool Transactor::PortLost() const { return m_link.PortLost(); }

ExecResult Transactor::ExecCommand(int command, std::string_view data) {
    if (m_inProgress)
        return ExecResult::ExecBusy;
    TransactionReport report;
    report.command = command;
    report.data = data;
    report.started = m_host.now();
    TransactionState& s = m_state;
    s.FailedAttempts = 0;
    s.RequestSent = false;
    if (!m_link.IsOpen()) {
        report.ended = m_host.now();
        m_host.showMessage("Serial port not open", "Error");
        s.StatusFlags |= PortNotOpen;
        // After a lost port the last answer belongs to a transaction before the
        // loss; it must not pass for this one's.
        if (m_link.PortLost())
            ForgetAnswer();
        Tell(report);
        return ExecResult::ExecNoAnswer;
    }
    if (s.CancelRequest) {
        // Nothing is sent, and the previous answer must not pass for this one's.
        ForgetAnswer();
        s.StatusFlags = NoAnswer;
        report.ended = m_host.now();
        Tell(report);
        return ExecResult::ExecNoAnswer;
    }
    if (data.size() > MaxRequestData) {
        report.ended = m_host.now();
        ForgetAnswer();
        s.StatusFlags = BadProtocol;
        m_host.showMessage("Command data too long (" + std::to_string(data.size()) + " bytes, at most " +
                               std::to_string(MaxRequestData) + ")",
                           "Error");
        Tell(report);
        return ExecResult::ExecBadProtocol;
    }

    m_inProgress = true;
    const ExecResult result = Attempt(command, data, report);
    if (s.StatusFlags & PortNotOpen) {
        // Lost on the way: a retry cannot help until the operator connects again.
    } else if (s.StatusFlags & NoAnswer) {
        if (m_host.askYesNo("No printer serponse. Retry?", "Error"))
            s.RepeatRequest = true;
    } else if (s.StatusFlags & BadProtocol) {
        if (m_host.askYesNo("Bad protocol. Retry?", "Error"))
            s.RepeatRequest = true;
    }
    s.SequenceNumber = NextSequence(s.SequenceNumber);
    m_inProgress = false;
    Tell(report);
    return result;
}

ExecResult Transactor::Attempt(int command, std::string_view data, TransactionReport& report) {
    TransactionState& s = m_state;
    ExecResult result = ExecResult::ExecOk;
    bool answerCopied = false;  // the last attempt's answer data reached AnswerData
    while (s.FailedAttempts < 2 && !s.CancelRequest) {
        result = ExecResult::ExecOk;
        answerCopied = false;
        ++report.attempts;
        s.StatusFlags = 0;
        s.StatusBytes.fill(0);
        // A frame the line took only part of cannot pass the printer's checksum:
        // no answer is awaited for it, and the attempt has failed.
        const bool sent = SendFrame(command, data);
        if (!sent)
            m_receiver.Reset();
        const bool timedOut = !sent || ReceiveFrame(command);
        s.SynCount = m_receiver.SynCount();
        if (!m_link.IsOpen()) {
            // The device went away: no second attempt and no question; the
            // operator has been told by the link. Nothing of an answer counts.
            ForgetAnswer();
            s.StatusFlags |= PortNotOpen | NoAnswer;
            result = ExecResult::ExecNoAnswer;
            break;
        }
        if (timedOut) {
            s.StatusFlags |= NoAnswer;
            result = ExecResult::ExecNoAnswer;
        } else {
            const AnswerCheck check = TestAnswerFrame(m_receiver.Buffer(), s.SequenceNumber, command);
            if (check.dataCopied)
                s.AnswerData = check.data;
            answerCopied = check.dataCopied;
            if (check.statusCopied)
                s.StatusBytes = check.status;
            if (check.passed)
                break;
            s.StatusFlags |= BadProtocol;
            result = ExecResult::ExecBadProtocol;
        }
        m_host.sleepMs(AttemptPauseMs);
        ++s.FailedAttempts;
    }
    s.StatusFlags = MapStatusToFlags(s.StatusBytes, s.StatusFlags);
    report.ended = m_host.now();
    switch (result) {
    case ExecResult::ExecOk:
        report.result = (s.StatusFlags & CommonErrorFlag) != 0 ? TransactionResult::Refused
                                                               : TransactionResult::Answered;
        report.status = s.StatusBytes;
        report.answer = s.AnswerData;
        break;
    case ExecResult::ExecBadProtocol:
        report.result = TransactionResult::BadAnswer;
        if (answerCopied)
            report.answer = s.AnswerData;
        break;
    case ExecResult::ExecNoAnswer:
    case ExecResult::ExecBusy:
        report.result = s.RequestSent ? TransactionResult::NoAnswer : TransactionResult::NotSent;
        break;
    }
    return result;
}

void Transactor::Tell(const TransactionReport& report) { m_transactions.Notify(report); }

void Transactor::ForgetAnswer() {
    m_state.AnswerData.clear();
    m_state.StatusBytes.fill(0);
    m_state.SynCount = 0;
}

bool Transactor::SendFrame(int command, std::string_view data) {
    const std::string frame = EncodeRequestFrame(m_state.SequenceNumber, command, data);
    m_host.processEvents();
    if (!m_link.IsOpen())
        return false;
    if (m_link.WriteBytes(frame))
        return false;
    m_sentAt = m_host.now();
    m_state.RequestSent = true;
    return true;
}

void Transactor::LearnAnswerTime(AnswerTime& time, AnswerReceiver::Step step,
                                 std::optional<Host::Clock::time_point> whole) {
    // Busy bytes and broken frames say nothing of the next answer's time.
    if (step != AnswerReceiver::Step::Ended || m_receiver.SynCount() > 0) {
        time = {};
    } else if (whole) {
        // A wake-up the system was late for makes an answer look later than it
        // was: a quicker time is taken at once, a slower one an eighth at a time,
        // so that one late wake-up is not slept past the answers that follow.
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(*whole - m_sentAt);
        if (took > MaxSleptAnswer)
            time = {};
        else if (time.took.count() == 0 || took < time.took)
            time.took = took;
        else
            time.took += (took - time.took) / 8;
    }
    // An answer found whole after sleeping towards it keeps the time it was slept for.
}

bool Transactor::ReceiveFrame(int command) {
    m_receiver.Reset();
    auto lastByte = m_host.now();
    // An answer that came whole in a known time is slept through, so that one
    // wake-up takes all of it (on a line that lets bytes gather).
    AnswerTime& expected = m_answerTimes[static_cast<std::uint8_t>(command)];
    const bool slept = expected.took.count() > 0 && ++expected.uses % RetimeEvery != 0;
    if (slept) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(m_sentAt + expected.took - m_host.now());
        if (left.count() > 0 && m_link.BytesWaiting() == 0)
            m_link.SleepFor(left);
    }
    // When the rest last seen coming is in: its bytes' time on the line and one
    // more, for the port to hand over the last of them.
    std::optional<Host::Clock::time_point> wholeBy;
    int sinceEvents = 0;
    for (;;) {
        while (m_link.BytesWaiting() == 0) {
            const auto silent = std::chrono::duration_cast<std::chrono::microseconds>(m_host.now() - lastByte);
            if (silent > AnswerGap) {
                expected = {};
                return true;
            }
            const std::size_t toCome = m_receiver.BytesToCome();
            if (toCome > 0)
                wholeBy = m_host.now() + LineTime(toCome + 1, m_link.LineSpeed);
            m_link.WaitForBytes(std::min(WaitSlice, AnswerGap - silent + std::chrono::microseconds(1)), toCome);
            m_host.processEvents();
            sinceEvents = 0;
            if (!m_link.IsOpen())
                return true;
        }
        std::uint8_t byte = 0;
        if (!m_link.ReadByte(byte)) {
            // A line that reports bytes but yields none behaves as a silent one.
            if (m_host.now() - lastByte > AnswerGap)
                return true;
            m_link.WaitForBytes(WaitSlice);
            continue;
        }
        if (++sinceEvents >= BytesBetweenEvents) {
            m_host.processEvents();
            sinceEvents = 0;
        }
        if (byte == Syn && m_state.CancelRequest) {
            // After a Cancel the answer in flight is still awaited, but busy
            // bytes no longer hold the attempt open: it ends one gap after the
            // last other byte (or after the last busy byte before the Cancel).
            if (m_host.now() - lastByte > AnswerGap)
                return true;
        } else {
            lastByte = m_host.now();
        }
        if (const auto step = m_receiver.Push(byte); step != AnswerReceiver::Step::More) {
            // Taken whole on a wake-up not slept towards it: whole by now.
            LearnAnswerTime(expected, step, (wholeBy || slept) ? wholeBy : std::optional(m_host.now()));
            return false;
        }
    }
}

}  // namespace tamrisk
