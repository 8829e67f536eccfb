#pragma once
// Digit fields of an incrementing command line: found in its data, advanced by
// their steps after a good answer, written back into the stored script line.

#include "scriptparser.h"

#include <string>
#include <vector>

namespace tamrisk {

constexpr std::size_t MaxDigitField = 16;

struct IncrementField {
    std::uint32_t step = 0;     // added to the field; 0 leaves it
    std::size_t position = 0;   // of the first digit, in the script line
    std::string digits;         // the field as found
};

// The digit fields of `line.data`, at most five, positions counted in the line
// from line.dataOffset. A run of more than 16 digits splits into a field of 16,
// one passed-over digit and a further field.
std::vector<IncrementField> FindDigitFields(const ScriptLine& line);

// Writes the advanced digits into `stored` (the line as it stands in the
// script, control characters and all): only the digit characters change, each
// field keeps its width and a carry out of the field is lost.
std::string WriteBackDigitFields(const ScriptLine& line, std::string stored);

// `stored` (a line as it stands in a script) with the digits of each field
// that a run advances written as '#', as a serial number's space names them:
// two lines with the same result differ at most in the numbers a run steps.
// Other lines, and the digits of fields with no step, stay as they are.
std::string HideSteppingDigits(std::string stored);

}  // namespace tamrisk
