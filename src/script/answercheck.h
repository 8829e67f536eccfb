#pragma once
// The check line: "?[NAME:] FIELD OP VALUE [UNIT]" judges the answer of the
// run's last transaction. Taking a line apart, putting variables in and
// judging an answer are pure functions, so the runner, the tests and the
// benchmark share them.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

enum class CheckResult { Pass, Fail, Error };

// "pass", "fail", "error": as records and reports write a check's result.
std::string_view CheckResultText(CheckResult result);
std::optional<CheckResult> CheckResultFromText(std::string_view text);

// Variables a check's VALUE, LOW and HIGH may name as {NAME}; `unit` is the
// unit under test. Texts are UTF-8.
using CheckVariables = std::map<std::string, std::string, std::less<>>;

// One check as made: what it asked, what it found and how it ended. Texts are
// UTF-8 (a value found in an answer is decoded from Windows-1251).
struct CheckOutcome {
    std::string name;   // as written, or "line N"
    int line = 0;       // the script line
    std::string field;  // as written: "*", "2", "hex:*"
    std::string op;     // "=", "!=", "~", "<", "<=", ">", ">=", "in"; empty when the line could not be read
    std::optional<std::string> expected;  // =, != and ~: VALUE with the variables put in
    std::optional<double> low, high;      // numeric operators: the bounds (one of them for <, <=, >, >=)
    std::string units;                    // numeric operators: the word after the number, if any
    std::optional<std::string> value;     // the field as found; none when it was not found
    CheckResult result = CheckResult::Error;
    std::string message;  // "NAME: expected ..., got ...", or why it failed or could not be read
    friend bool operator==(const CheckOutcome&, const CheckOutcome&) = default;
};

}  // namespace tamrisk
