#include "increments.h"

#include "hexdigits.h"

namespace tamrisk {
namespace {

// The field's digits plus its step, as many low-order digits as the field is
// wide: the field counts modulo 10^width.
std::string AdvancedDigits(const IncrementField& field) {
    std::uint64_t value = 0;
    for (const char c : field.digits)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    // At most 16 digits, so the sum stays far below 2^64.
    value += field.step;
    std::string out(field.digits.size(), '0');
    for (auto it = out.rbegin(); it != out.rend() && value != 0; ++it) {
        *it = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out;
}

bool FieldFits(const IncrementField& field, std::size_t size) {
    return field.position <= size && field.digits.size() <= size - field.position;
}

}  // namespace

std::vector<IncrementField> FindDigitFields(const ScriptLine& line) {
    std::vector<IncrementField> fields;
    if (!line.dataOffset)
        return fields;
    const std::string& data = line.data;
    std::size_t i = 0;
    while (i < data.size() && fields.size() < MaxIncrementSteps) {
        if (!IsDecimalDigit(data[i])) {
            ++i;
            continue;
        }
        const std::size_t begin = i;
        while (i < data.size() && IsDecimalDigit(data[i]) && i - begin < MaxDigitField)
            ++i;
        IncrementField field;
        field.step = line.steps[fields.size()];
        field.position = *line.dataOffset + begin;
        field.digits = data.substr(begin, i - begin);
        fields.push_back(std::move(field));
        // The character that ended the field is passed over, even when it is
        // the 17th digit of a longer run.
        ++i;
    }
    return fields;
}

std::string WriteBackDigitFields(const ScriptLine& line, std::string stored) {
    for (const IncrementField& field : FindDigitFields(line)) {
        if (field.step == 0 || !FieldFits(field, stored.size()))
            continue;
        const std::string digits = AdvancedDigits(field);
        // Only digits are overwritten: a stored line that no longer matches the
        // parsed one keeps its other characters.
        for (std::size_t k = 0; k < digits.size(); ++k)
            if (IsDecimalDigit(stored[field.position + k]))
                stored[field.position + k] = digits[k];
    }
    return stored;
}

std::string HideSteppingDigits(std::string stored) {
    const ScriptLine line = ParseScriptLine(stored);
    if (line.kind != ScriptLineKind::IncrementLine)
        return stored;
    for (const IncrementField& field : FindDigitFields(line)) {
        if (field.step == 0 || !FieldFits(field, stored.size()))
            continue;
        for (std::size_t k = 0; k < field.digits.size(); ++k)
            if (IsDecimalDigit(stored[field.position + k]))
                stored[field.position + k] = '#';
    }
    return stored;
}

}  // namespace tamrisk
