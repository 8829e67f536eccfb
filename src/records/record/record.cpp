#include "record.h"

#include <charconv>

#include "programversion.h"

#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <array>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace tamrisk {

namespace {

constexpr std::array<std::string_view, 4> OutcomeTexts = {"pass", "fail", "aborted", "error"};
constexpr std::array<std::string_view, 3> SerialResultTexts = {"answered", "refused", "unknown"};
constexpr std::array<std::string_view, 5> StepResultTexts = {"answered", "refused", "no-answer", "bad-answer",
                                                             "not-sent"};
constexpr std::array<std::string_view, 6> ColourTexts = {"black", "blue", "green", "red", "gray", "purple"};

template <typename Enum, std::size_t N>
std::optional<Enum> FromText(const std::array<std::string_view, N>& texts, std::string_view text) {
    const auto found = std::find(texts.begin(), texts.end(), text);
    if (found == texts.end())
        return std::nullopt;
    return static_cast<Enum>(found - texts.begin());
}


}  // namespace

std::string_view OutcomeText(RecordOutcome outcome) {
    return OutcomeTexts.at(static_cast<std::size_t>(outcome));
}

std::optional<RecordOutcome> OutcomeFromText(std::string_view text) {
    return FromText<RecordOutcome>(OutcomeTexts, text);
}

std::string_view SerialResultText(SerialResult result) {
    return SerialResultTexts.at(static_cast<std::size_t>(result));
}

std::optional<SerialResult> SerialResultFromText(std::string_view text) {
    return FromText<SerialResult>(SerialResultTexts, text);
}

std::string_view StepResultText(StepResult result) {
    return StepResultTexts.at(static_cast<std::size_t>(result));
}

std::optional<StepResult> StepResultFromText(std::string_view text) {
    return FromText<StepResult>(StepResultTexts, text);
}

bool IsBulkKind(std::string_view kind) { return kind != "run" && kind != "command"; }

void AppendStatusText(std::string& text, const StatusBytesArray& status) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < status.size(); ++i) {
        if (i != 0)
            text.push_back(',');
        text.push_back(Digits[status[i] >> 4]);
        text.push_back(Digits[status[i] & 0x0F]);
    }
}

std::string StatusText(const StatusBytesArray& status) {
    std::string text;
    AppendStatusText(text, status);
    return text;
}

std::optional<StatusBytesArray> StatusFromText(std::string_view text) {
    StatusBytesArray status{};
    if (text.size() != 3 * status.size() - 1)
        return std::nullopt;
    for (std::size_t i = 0; i < status.size(); ++i) {
        const std::string_view pair = text.substr(3 * i, 2);
        if ((i + 1 < status.size() && text[3 * i + 2] != ',') ||
            std::from_chars(pair.data(), pair.data() + 2, status[i], 16).ptr != pair.data() + 2)
            return std::nullopt;
    }
    return status;
}

std::string_view ColourText(ResultColour colour) {
    return ColourTexts.at(static_cast<std::size_t>(colour));
}

std::optional<ResultColour> ColourFromText(std::string_view text) {
    return FromText<ResultColour>(ColourTexts, text);
}

namespace {

// `text` with backslashes, CRs, LFs and, with `tabs`, tabs escaped. Runs
// without a character to escape are appended whole; the scan compares each
// character directly, as it runs over every byte a busy run logs.
void AppendEscaped(std::string& out, std::string_view text, bool tabs) {
    const auto special = [tabs](char c) { return c == '\\' || c == '\r' || c == '\n' || (tabs && c == '\t'); };
    for (auto at = std::find_if(text.begin(), text.end(), special); at != text.end();
         at = std::find_if(text.begin(), text.end(), special)) {
        const auto run = static_cast<std::size_t>(at - text.begin());
        out.append(text.data(), run);
        const char c = *at;
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : "\\n";
        text.remove_prefix(run + 1);
    }
    out.append(text);
}

template <typename Number>
void AppendNumber(std::string& out, Number value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char escaped = text[++i];
        out += escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
    }
    return out;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& value) {
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size();
}

}  // namespace

void AddLogLine(std::vector<RecordLogChunk>& chunks, qint64 tMs, ResultColour colour, int scriptLine,
                std::string_view text) {
    if (chunks.empty() || chunks.back().lines >= RecordLogChunk::MaxLines) {
        const std::size_t expected = chunks.empty() ? 0 : chunks.back().text.size();
        chunks.emplace_back().text.reserve(expected);
    }
    RecordLogChunk& chunk = chunks.back();
    std::string& out = chunk.text;
    AppendNumber(out, tMs);
    out += ' ';
    out += ColourText(colour);
    out += ' ';
    AppendNumber(out, scriptLine);
    out += ' ';
    AppendEscaped(out, text, false);
    out += '\n';
    chunk.lastMs = tMs;
    ++chunk.lines;
}

bool ReadLogChunk(std::string_view text, std::vector<RecordLogLine>& log) {
    // A number and the space after it.
    const auto number = [](std::string_view& rest, auto& value) {
        const auto [end, problem] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (problem != std::errc() || end == rest.data() + rest.size() || *end != ' ')
            return false;
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
        return true;
    };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return false;
        std::string_view rest = text.substr(0, end);
        text.remove_prefix(end + 1);
        RecordLogLine line;
        if (!number(rest, line.tMs))
            return false;
        const std::size_t space = rest.find(' ');
        const std::optional<ResultColour> colour =
            space == std::string_view::npos ? std::nullopt : ColourFromText(rest.substr(0, space));
        if (!colour)
            return false;
        line.colour = *colour;
        rest.remove_prefix(space + 1);
        if (!number(rest, line.scriptLine))
            return false;
        line.text = Unescaped(rest);
        log.push_back(std::move(line));
    }
    return true;
}

void AddStep(std::vector<RecordStepChunk>& chunks, const RecordStep& step) {
    if (chunks.empty() || chunks.back().steps >= RecordStepChunk::MaxSteps) {
        // A chunk after a full one will likely fill as much: reserved at once,
        // not grown step by step on the operation's thread.
        const std::size_t expected = chunks.empty() ? 0 : chunks.back().text.size();
        chunks.emplace_back().text.reserve(expected);
    }
    ++chunks.back().steps;
    std::string& chunk = chunks.back().text;
    const auto number = [&](auto value) {
        AppendNumber(chunk, value);
        chunk += '\t';
    };
    if (step.line)
        number(*step.line);
    else
        chunk += '\t';
    number(step.command);
    AppendEscaped(chunk, step.data, true);
    chunk += '\t';
    if (step.status)
        AppendStatusText(chunk, *step.status);
    chunk += '\t';
    AppendEscaped(chunk, step.answer, true);
    chunk += '\t';
    chunk += StepResultText(step.result);
    chunk += '\t';
    number(step.attempts);
    number(step.tMs);
    number(step.durationMs);
    number(step.transactions);
    number(step.failures);
    chunk.back() = '\n';
}

bool ReadStepChunk(std::string_view chunk, std::vector<RecordStep>& steps) {
    constexpr std::size_t Fields = 11;
    while (!chunk.empty()) {
        const std::size_t end = chunk.find('\n');
        if (end == std::string_view::npos)
            return false;
        std::string_view rest = chunk.substr(0, end);
        chunk.remove_prefix(end + 1);
        std::array<std::string_view, Fields> field;
        for (std::size_t i = 0; i < Fields; ++i) {
            const std::size_t tab = rest.find('\t');
            if ((tab == std::string_view::npos) != (i + 1 == Fields))
                return false;
            field[i] = rest.substr(0, tab);
            rest.remove_prefix(tab == std::string_view::npos ? rest.size() : tab + 1);
        }
        RecordStep step;
        if (!field[0].empty() && !ReadNumber(field[0], step.line.emplace()))
            return false;
        step.data = Unescaped(field[2]);
        if (!field[3].empty() && !(step.status = StatusFromText(field[3])))
            return false;
        step.answer = Unescaped(field[4]);
        const std::optional<StepResult> result = StepResultFromText(field[5]);
        if (!result || !ReadNumber(field[1], step.command) || !ReadNumber(field[6], step.attempts) ||
            !ReadNumber(field[7], step.tMs) || !ReadNumber(field[8], step.durationMs) ||
            !ReadNumber(field[9], step.transactions) || !ReadNumber(field[10], step.failures))
            return false;
        step.result = *result;
        steps.push_back(std::move(step));
    }
    return true;
}

bool IsRecordKind(std::string_view kind) {
    return std::find(RecordKinds.begin(), RecordKinds.end(), kind) != RecordKinds.end();
}

std::string ProgramVersion() {
    return ProgramVersionText;
}

std::string DefaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

std::string LoginName() {
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

RecordHeader NewRecordHeader(std::string kind) {
    RecordHeader header;
    header.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    header.kind = std::move(kind);
    header.station = DefaultStationName();
    header.operatorName = LoginName();
    header.computerLogin = header.operatorName;
    header.version = ProgramVersion();
    return header;
}

}  // namespace tamrisk
