#pragma once
// The check line: "?[NAME:] FIELD OP VALUE [UNIT]" judges the answer of the
// run's last transaction. Taking a line apart, putting variables in and
// judging an answer are pure functions, so the runner, the tests and the
// benchmark share them.

#include <QRegularExpression>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

enum class CheckResult { Pass, Fail, Error };

// "pass", "fail", "error": as records and reports write a check's result.
std::string_view CheckResultText(CheckResult result);
std::optional<CheckResult> CheckResultFromText(std::string_view text);

// The operator of a check line.
enum class CheckOperator { Equal, NotEqual, Matches, Less, AtMost, Greater, AtLeast, In };

// How a check line writes the operator, and records store it: "=", "!=", "~",
// "<", "<=", ">", ">=", "in"; empty for none (a line that could not be read).
std::string_view CheckOperatorText(std::optional<CheckOperator> op);
// The operator written `text`; none for any other text.
std::optional<CheckOperator> CheckOperatorFromText(std::string_view text);
// <, <=, >, >= and in compare numbers; =, != and ~ compare text.
bool IsNumericOperator(CheckOperator op);

// Variables a check's VALUE, LOW and HIGH may name as {NAME}; `unit` is the
// unit under test. Texts are UTF-8.
using CheckVariables = std::map<std::string, std::string, std::less<>>;

// One check as made: what it asked, what it found and how it ended. Texts are
// UTF-8 (a value found in an answer is decoded from Windows-1251).
struct CheckOutcome {
    std::string name;   // as written, or "line N"
    int line = 0;       // the script line
    std::string field;  // as written: "*", "2", "hex:*"
    std::optional<CheckOperator> op;  // none when the line could not be read that far
    // VALUE with the variables put in, as written: for a numeric operator its
    // number ("0x10"), or LOW..HIGH for in; none when it could not be read.
    std::optional<std::string> expected;
    std::optional<double> low, high;      // numeric operators: the bounds (one of them for <, <=, >, >=)
    std::string units;                    // numeric operators: the word after the number, if any
    std::optional<std::string> value;     // the field as found; none when it was not found
    CheckResult result = CheckResult::Error;
    std::string message;  // "NAME: expected ..., got ...", or why it failed or could not be read
    friend bool operator==(const CheckOutcome&, const CheckOutcome&) = default;
};

// How the run's last transaction ended, as a check sees it.
enum class CheckedAnswerKind {
    Answered,  // a valid answer without the printer's common error
    Refused,   // a valid answer with the printer's common error
    NoAnswer,  // no valid answer: none came, it failed a frame test, or nothing went out
};

struct CheckedAnswer {
    CheckedAnswerKind kind = CheckedAnswerKind::NoAnswer;
    std::string data;  // AnswerData as the transaction left it, Windows-1251
};

// A check line taken apart with its variables put in: what JudgeCheck needs.
struct CheckLine {
    // name, line, field, op, expected, low, high and units; when the line could
    // not be read, result Error and the message saying why.
    CheckOutcome check;
    bool readable = false;
    bool hex = false;            // the field's hexadecimal text is decoded to bytes first
    int fieldNumber = 0;         // from 1; 0 for the whole answer ("*")
    QRegularExpression pattern;  // ~
};

// Takes apart the prepared check line `text` (Windows-1251, with its leading
// '?') of script line `line`, putting `variables` into VALUE, LOW and HIGH.
// The name is "line N" when the line gives none. An unreadable line (no field,
// bad operator, bad number, bad regular expression, unknown variable) comes back
// not readable, its check an Error naming why.
CheckLine ReadCheckLine(std::string_view text, int line, const CheckVariables& variables);

// Judges `answer`, the run's last transaction (nullptr: none yet, an Error), by
// a check read with ReadCheckLine, which is returned unchanged when it was not
// readable. Fields are split at commas and numbered from 1. A missing field, a
// refused command, no valid answer, a field that is not hexadecimal for hex:
// or not a number for a numeric operator, and a comparison that does not hold
// all Fail. The value found is decoded to UTF-8.
CheckOutcome JudgeCheck(const CheckLine& line, const CheckedAnswer* answer);

// A decimal number with an optional sign and fraction, or 0x hexadecimal with
// an optional sign; none for any other text (blanks included).
std::optional<double> ReadCheckNumber(std::string_view text);

// `text` with every {NAME} (NAME: a letter, then letters, digits, '_' or '-')
// replaced by its variable's value; other braces stay. False, with `unknown`
// the first name that has no variable, when one is missing.
bool PutCheckVariables(std::string_view text, const CheckVariables& variables, std::string& out, std::string& unknown);

// What a check expected, as its message, the log, the reports and the windows
// all write it: "2 = 2097152", "3 in 0..2000000 bytes", "2 < 0x10",
// "hex:* ~ ^ZORMIK"; empty for a check whose line could not be read. Numbers are
// written as the line wrote them (a check stored without that text, by an older
// program, in the shortest decimal form that reads back the same), followed by
// the check's unit.
std::string CheckExpectation(const CheckOutcome& check);
// The part of CheckExpectation after the operator: "0..2000000 bytes".
std::string CheckExpectedValue(const CheckOutcome& check);
// The value a check found, as its message and the windows write it: with the
// check's unit when it has one and the value reads as a number ("2167 bytes");
// empty when none was found.
std::string CheckFoundValue(const CheckOutcome& check);

// The results-log line of a check (Windows-1251): "?? ", its message, and
// ": passed", ": failed" or ": error".
std::string CheckLogLine(const CheckOutcome& check);

// Reads "NAME=VALUE" (as given to --set): blanks around the name and the value
// are dropped, the name follows the {NAME} rule. False when it does not.
bool ParseCheckAssignment(std::string_view text, std::string& name, std::string& value);

// Reads a variables file (UTF-8, an optional byte-order mark): one NAME=VALUE a
// line, blank lines and lines whose first non-blank character is '#' ignored.
// Adds to `into`, a later line overwriting an earlier value. False, with
// `error` naming the first bad line ("line 3: ..."), when a line does not read
// or the text is not UTF-8; `into` then holds the lines before it.
bool ReadCheckVariables(std::string_view text, CheckVariables& into, std::string& error);

}  // namespace tamrisk
