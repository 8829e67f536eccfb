// Feeds arbitrary bytes as one script line to the line parser, the escape
// translation, the digit-field increments, the check reader and judge (the
// bytes themselves as the answer) and the selection widening, and traps
// when a property that the script runner relies on does not hold.

#include "answercheck.h"
#include "dataescapes.h"
#include "increments.h"
#include "scriptparser.h"
#include "selection.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void CheckPreparedText(std::string_view raw, const tamrisk::ScriptLine& line) {
    const std::string& text = line.text;
    Check(raw.substr(0, text.size()) == text);
    const std::size_t scanned = text.size() < tamrisk::PreparedScanLength ? text.size() : tamrisk::PreparedScanLength;
    for (std::size_t i = 0; i < scanned; ++i)
        Check(static_cast<unsigned char>(text[i]) >= 32);
    if (text.size() < raw.size())
        Check(text.size() < tamrisk::PreparedScanLength && static_cast<unsigned char>(raw[text.size()]) < 32);
    Check((line.kind == tamrisk::ScriptLineKind::EmptyLine) == text.empty());
}

void CheckCommandAndData(const tamrisk::ScriptLine& line) {
    using tamrisk::ScriptLineKind;
    const bool sends = line.kind == ScriptLineKind::CommandLine || line.kind == ScriptLineKind::IncrementLine;
    if (sends)
        Check(line.command >= tamrisk::MinScriptCommand && line.command <= tamrisk::MaxScriptCommand);
    if (line.kind == ScriptLineKind::IncrementLine)
        Check(line.text.front() == '+' && line.text.find(';') != std::string::npos);
    if (line.kind == ScriptLineKind::CommandLine)
        Check(line.text.front() != '+');
    if (line.dataOffset) {
        const std::size_t offset = *line.dataOffset;
        Check(offset >= 1 && offset <= line.text.size());
        Check(line.text.substr(offset) == line.data);
        Check(line.text.find(',') == offset - 1);
    } else {
        Check(line.data.empty());
        if (sends)
            Check(line.text.find(',') == std::string::npos);
    }
    if (line.kind == ScriptLineKind::MessageLine)
        Check(line.message.size() < line.text.size());
    if (line.kind == ScriptLineKind::RepeatLine) {
        if (!line.repeatCountRead)
            Check(line.repeatCount == 0 && line.label.empty());
        for (const char c : line.label)
            Check(c != ' ');
    }
}

void CheckIncrements(std::string_view raw, const tamrisk::ScriptLine& line) {
    const auto fields = tamrisk::FindDigitFields(line);
    Check(fields.size() <= tamrisk::MaxIncrementSteps);
    std::size_t previousEnd = 0;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const auto& field = fields[k];
        Check(!field.digits.empty() && field.digits.size() <= tamrisk::MaxDigitField);
        Check(field.step == line.steps[k]);
        Check(field.position >= *line.dataOffset && field.position >= previousEnd);
        Check(line.text.compare(field.position, field.digits.size(), field.digits) == 0);
        previousEnd = field.position + field.digits.size() + 1;
    }

    const std::string advanced = tamrisk::WriteBackDigitFields(line, line.text);
    Check(advanced.size() == line.text.size());
    for (std::size_t i = 0; i < advanced.size(); ++i)
        if (advanced[i] != line.text[i])
            Check(IsDigit(advanced[i]) && IsDigit(line.text[i]));

    // The stored line is the prepared one plus whatever followed a control
    // character; the write-back advances the first and keeps the rest.
    const std::string stored(raw);
    const std::string written = tamrisk::WriteBackDigitFields(line, stored);
    Check(written.size() == stored.size());
    Check(written.compare(0, advanced.size(), advanced) == 0);
    Check(written.compare(advanced.size(), std::string::npos, stored, advanced.size()) == 0);
    Check(tamrisk::WriteBackDigitFields(line, line.text) == advanced);
}

void CheckEscapes(const std::string& data) {
    const std::string sent = tamrisk::TranslateDataEscapes(data);
    std::size_t pairs = 0;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == '\\' && (data[i + 1] == 't' || data[i + 1] == 'n')) {
            ++pairs;
            ++i;
        }
    Check(sent.size() == data.size() - pairs);
    if (data.find('\\') == std::string::npos)
        Check(sent == data);
}

void CheckCheckLine(std::string_view raw, const tamrisk::ScriptLine& line) {
    using tamrisk::CheckResult;
    const tamrisk::CheckLine read = tamrisk::ReadCheckLine(line.text, 3, {{"unit", "U-1"}, {"v", "{v}"}});
    const tamrisk::CheckedAnswer answer{tamrisk::CheckedAnswerKind::Answered, std::string(raw)};
    const tamrisk::CheckOutcome check = tamrisk::JudgeCheck(read, &answer);
    Check(check.message.starts_with(check.name + ": ") && !check.name.empty());
    Check((check.result == CheckResult::Error) == !read.readable);
    Check(!read.readable || check.op.has_value());
    if (check.result == CheckResult::Pass)
        Check(check.value.has_value());
    if (read.readable && (check.op == tamrisk::CheckOperator::Less || check.op == tamrisk::CheckOperator::AtMost))
        Check(check.high && !check.low && check.expected);
    if (read.readable && check.op == tamrisk::CheckOperator::In)
        Check(check.high && check.low && check.expected && check.expected->find("..") != std::string::npos);
    Check(tamrisk::CheckLogLine(check).starts_with("?? "));
}

void CheckSelection(std::string_view text, std::size_t start, std::size_t end) {
    const tamrisk::TextSelection got = tamrisk::ExtendSelectionToLines(text, {start, end});
    Check(got.start <= got.end && got.end <= text.size());
    const std::size_t lo = start < end ? start : end;
    const std::size_t hi = start < end ? end : start;
    if (lo >= text.size() || lo == hi)
        return;
    Check(got.start <= lo && got.end >= (hi < text.size() ? hi : text.size()));
    Check(got.start == 0 || text[got.start - 1] == '\n');
    Check(text.substr(got.start, lo - got.start).find('\n') == std::string_view::npos);
    Check(got.end == text.size() || text[got.end - 1] == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(bytes), size);
    const tamrisk::ScriptLine line = tamrisk::ParseScriptLine(raw);
    CheckPreparedText(raw, line);
    CheckCommandAndData(line);
    CheckEscapes(line.data);
    CheckEscapes(std::string(raw));
    if (line.kind == tamrisk::ScriptLineKind::IncrementLine)
        CheckIncrements(raw, line);
    if (line.kind == tamrisk::ScriptLineKind::CheckLine)
        CheckCheckLine(raw, line);
    // Where the ';' stands before the data, advancing touches neither the steps
    // nor the command, so the advanced line parses to the same line again. (A
    // data comma before the ';' puts the command's digits into the fields.)
    if (line.kind == tamrisk::ScriptLineKind::IncrementLine &&
        (!line.dataOffset || line.text.find(';') < *line.dataOffset)) {
        const tamrisk::ScriptLine again = tamrisk::ParseScriptLine(tamrisk::WriteBackDigitFields(line, line.text));
        Check(again.kind == line.kind && again.command == line.command && again.steps == line.steps &&
              again.dataOffset == line.dataOffset);
    }
    if (size >= 2)
        CheckSelection(raw, bytes[0] % (size + 1), bytes[size - 1] % (size + 1));
    return 0;
}
