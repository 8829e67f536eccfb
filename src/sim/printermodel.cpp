#include "printermodel.h"

#include "memories.h"

#include <algorithm>

namespace tamrisk::sim {

namespace {

constexpr std::size_t MinRequestLength = 0x24;  // LEN of a request without data

// Whole request frame length for a LEN byte: n + 10 with n = LEN - 0x24.
std::size_t RequestFrameSize(std::uint8_t len) {
    return static_cast<std::size_t>(len) - MinRequestLength + 10;
}

bool HoldsRefusal(const StatusArray& status) {
    return HasBit(status, SyntaxErrorBit) || HasBit(status, InvalidCommandBit) ||
           HasBit(status, NotPermittedBit);
}

JournalLayout JournalDays(const SimOptions& options) {
    JournalLayout layout{.seed = options.contentSeed};
    layout.zReportsInJournal = std::max(1, options.journalDays);
    // The third day of the journal is the altered one (Z-report 5 by default).
    layout.tamperedZReport = layout.zReportsBeforeJournal + std::min(3, layout.zReportsInJournal);
    return layout;
}

}  // namespace

PrinterModel::PrinterModel(SimOptions options)
    : m_options(std::move(options)),
      m_faultRandom(m_options.faultSeed),
      m_journal(BuildJournalBook(JournalDays(m_options)), JournalModel::DefaultCapacity, m_options.usedVariation),
      m_codeMemory(MakeCodeMemory(m_options.contentSeed)),
      m_fiscalMemory(MakeFiscalMemory(m_options.fiscalMemoryKiB, m_journal.Book().zReports)) {}

StatusArray PrinterModel::HealthyStatus() {
    StatusArray status{};
    SetBit(status, FmFormattedBit);
    SetBit(status, FiscalizedBit);
    SetBit(status, VatRatesSetBit);
    SetBit(status, SerialNumberSetBit);
    return status;
}

void PrinterModel::Receive(std::string_view bytes) {
    m_input.append(bytes);
    ParseInput();
}

void PrinterModel::ParseInput() {
    // Offset of the first 0x01 at or after `from` that begins a whole, valid frame.
    auto findWholeFrame = [this](std::size_t from) {
        for (auto q = m_input.find(static_cast<char>(FrameStart), from); q != std::string::npos;
             q = m_input.find(static_cast<char>(FrameStart), q + 1)) {
            if (q + 1 >= m_input.size())
                break;
            const auto len = static_cast<std::uint8_t>(m_input[q + 1]);
            if (len < MinRequestLength || q + RequestFrameSize(len) > m_input.size())
                continue;
            if (DecodeRequestFrame(std::string_view(m_input).substr(q, RequestFrameSize(len))))
                return q;
        }
        return std::string::npos;
    };

    for (;;) {
        const auto start = m_input.find(static_cast<char>(FrameStart));
        if (start == std::string::npos) {
            m_input.clear();
            return;
        }
        m_input.erase(0, start);
        if (m_input.size() < 2)
            return;
        const auto len = static_cast<std::uint8_t>(m_input[1]);
        if (len < MinRequestLength) {
            m_input.erase(0, 1);
            continue;
        }
        const std::size_t size = RequestFrameSize(len);
        if (m_input.size() < size) {
            // A whole frame further on shows that this 0x01 was noise; otherwise
            // the rest of the frame is still on its way.
            const auto later = findWholeFrame(1);
            if (later == std::string::npos)
                return;
            m_input.erase(0, later);
            continue;
        }
        if (const auto request = DecodeRequestFrame(std::string_view(m_input).substr(0, size))) {
            m_input.erase(0, size);
            Serve(*request);
            continue;
        }
        if (static_cast<std::uint8_t>(m_input[size - 1]) == FrameEnd &&
            static_cast<std::uint8_t>(m_input[size - 6]) == DataEnd) {
            // Shaped like a frame but the sum disagrees: a damaged request, unanswered.
            ++m_stats.badFrames;
            m_input.erase(0, size);
            continue;
        }
        m_input.erase(0, 1);
    }
}

void PrinterModel::Serve(const RequestFrame& request) {
    ++m_stats.requests;
    if (m_haveLast && request.sequence == m_lastRequest.sequence &&
        request.command == m_lastRequest.command && request.data == m_lastRequest.data) {
        ++m_stats.repetitions;
        Send(request.sequence, request.command, m_lastAnswer);
        return;
    }
    m_lastAnswer = Execute(request.command, request.data);
    m_lastRequest = request;
    m_haveLast = true;
    Send(request.sequence, request.command, m_lastAnswer);
}

void PrinterModel::Send(std::uint8_t sequence, std::uint8_t command, const Answer& answer) {
    bool badChecksum = false;
    if (m_options.faultRate > 0 && !m_options.faultKinds.empty() &&
        m_faultRandom.NextUnit() < m_options.faultRate) {
        const auto kinds = static_cast<std::uint32_t>(m_options.faultKinds.size());
        switch (m_options.faultKinds[m_faultRandom.Below(kinds)]) {
        case FaultKind::NoAnswer:
            ++m_stats.answersDropped;
            return;
        case FaultKind::BadChecksum:
            badChecksum = true;
            break;
        case FaultKind::WrongSequence:
            // The sequence byte of the request before, as a late answer would carry.
            sequence = sequence == FirstSequence ? LastSequence : static_cast<std::uint8_t>(sequence - 1);
            break;
        }
        ++m_stats.answersCorrupted;
    }
    std::string frame = EncodeAnswerFrame(sequence, command, answer.data, answer.status);
    if (badChecksum)
        frame[frame.size() - 2] ^= 0x01;  // the last checksum digit, still a digit byte
    std::string bytes(static_cast<std::size_t>(m_options.synCount > 0 ? m_options.synCount : 0),
                      static_cast<char>(Syn));
    m_answers.push_back(bytes + frame);
}

std::vector<std::string> PrinterModel::TakeAnswers() {
    std::vector<std::string> answers;
    answers.swap(m_answers);
    return answers;
}

std::string PrinterModel::TakeOutput() {
    std::string output;
    for (const std::string& answer : TakeAnswers())
        output += answer;
    return output;
}

PrinterModel::Answer PrinterModel::Execute(int command, std::string_view data) {
    const auto forced = m_options.statusOverrides.find(command);
    if (forced != m_options.statusOverrides.end() && HoldsRefusal(forced->second))
        return Answer{{}, forced->second};

    CommandResult result = Dispatch(command, data);
    Answer answer{std::move(result.data), HealthyStatus()};
    switch (result.refusal) {
    case Refusal::None:
        break;
    case Refusal::SyntaxError:
        SetBit(answer.status, SyntaxErrorBit);
        break;
    case Refusal::InvalidCommand:
        SetBit(answer.status, InvalidCommandBit);
        break;
    case Refusal::NotPermitted:
        SetBit(answer.status, NotPermittedBit);
        break;
    }
    if (result.refusal != Refusal::None) {
        SetBit(answer.status, CommonErrorBit);
        answer.data.clear();
    }
    if (result.fiscalError)
        SetBit(answer.status, CommonFiscalErrorBit);
    if (forced != m_options.statusOverrides.end())
        answer.status = forced->second;
    return answer;
}

CommandResult PrinterModel::Dispatch(int command, std::string_view data) {
    if (command < 32 || command > 255)
        return Refused(Refusal::InvalidCommand);
    switch (command) {
    case CmdReadiness:
        return Accepted("P");
    case CmdSetDateTime:
        return ParseClockData(data, m_clock) ? Accepted({}) : Refused(Refusal::SyntaxError);
    case CmdReadCodeMemory:
        return ReadMemoryBlock(m_codeMemory, data, false);
    case CmdReadFiscalMemory:
        return ReadMemoryBlock(m_fiscalMemory, data, true);
    case CmdJournal:
        return m_journal.Handle(data);
    default:
        return Accepted({});
    }
}

}  // namespace tamrisk::sim
