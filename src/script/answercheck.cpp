#include "answercheck.h"

#include "hexdigits.h"
#include "textcodec.h"

#include <QStringDecoder>

#include <charconv>
#include <iterator>

namespace tamrisk {

namespace {

constexpr std::string_view CheckResultTexts[] = {"pass", "fail", "error"};
// How a check's log line ends, by result.
constexpr std::string_view CheckEndings[] = {": passed", ": failed", ": error"};
constexpr std::string_view OperatorCharacters = "=!~<>";
// By CheckOperator.
constexpr std::string_view OperatorTexts[] = {"=", "!=", "~", "<", "<=", ">", ">=", "in"};
// The operators written in symbols, longest first, so that "<=" is not read as "<".
constexpr CheckOperator SymbolOperators[] = {CheckOperator::NotEqual, CheckOperator::AtMost,  CheckOperator::AtLeast,
                                             CheckOperator::Equal,    CheckOperator::Matches, CheckOperator::Less,
                                             CheckOperator::Greater};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsNameCharacter(char c) { return IsLetter(c) || IsDecimalDigit(c) || c == '_' || c == '-'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

// The length of the variable name that starts `text`, 0 when none does.
std::size_t NameLength(std::string_view text) {
    if (text.empty() || !IsLetter(text.front()))
        return 0;
    std::size_t length = 1;
    while (length < text.size() && IsNameCharacter(text[length]))
        ++length;
    return length;
}

bool IsVariableName(std::string_view text) { return !text.empty() && NameLength(text) == text.size(); }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The check of `line`, unreadable for `why`.
CheckLine Unreadable(CheckLine line, std::string_view why) {
    line.readable = false;
    line.check.result = CheckResult::Error;
    line.check.message = line.check.name + ": " + std::string(why);
    return line;
}

// The N-th field (from 1) of `data` split at commas; none when it has fewer.
std::optional<std::string_view> AnswerField(std::string_view data, int number) {
    std::size_t begin = 0;
    for (int i = 1; i < number; ++i) {
        const std::size_t comma = data.find(',', begin);
        if (comma == std::string_view::npos)
            return std::nullopt;
        begin = comma + 1;
    }
    const std::size_t end = data.find(',', begin);
    return data.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

std::optional<std::string> HexBytes(std::string_view hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]);
        const int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

// UTF-8 text as a results-log line holds it; a character that Windows-1251
// cannot carry (from a variable) shows as '?'.
std::string LogText(std::string_view utf8) {
    if (auto bytes = Utf8ToCp1251(utf8))
        return *std::move(bytes);
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    std::string out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const auto byte = EncodeCp1251(QStringView(text).mid(i, width));
        out += byte ? *byte : std::string("?");
        i += width - 1;
    }
    return out;
}

// Whether `value` found, read as `number` for a numeric operator, holds for the readable check `c`.
bool Holds(const CheckLine& line, const std::string& value, double number) {
    const CheckOutcome& c = line.check;
    switch (*c.op) {
    case CheckOperator::Equal: return value == *c.expected;
    case CheckOperator::NotEqual: return value != *c.expected;
    case CheckOperator::Matches:
        return line.pattern.match(QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()))).hasMatch();
    case CheckOperator::Less: return number < *c.high;
    case CheckOperator::AtMost: return number <= *c.high;
    case CheckOperator::Greater: return number > *c.low;
    case CheckOperator::AtLeast: return number >= *c.low;
    case CheckOperator::In: return number >= *c.low && number <= *c.high;
    }
    return false;
}

// The bound that <, <=, >, >= compare with: HIGH for < and <=, LOW for > and >=.
std::optional<double> CheckOutcome::*Bound(CheckOperator op) {
    return op == CheckOperator::Less || op == CheckOperator::AtMost ? &CheckOutcome::high : &CheckOutcome::low;
}

}  // namespace

std::string_view CheckResultText(CheckResult result) { return CheckResultTexts[static_cast<int>(result)]; }

std::string_view CheckOperatorText(std::optional<CheckOperator> op) {
    return op ? OperatorTexts[static_cast<int>(*op)] : std::string_view();
}

std::optional<CheckOperator> CheckOperatorFromText(std::string_view text) {
    for (std::size_t i = 0; i < std::size(OperatorTexts); ++i)
        if (OperatorTexts[i] == text)
            return static_cast<CheckOperator>(i);
    return std::nullopt;
}

bool IsNumericOperator(CheckOperator op) {
    return op != CheckOperator::Equal && op != CheckOperator::NotEqual && op != CheckOperator::Matches;
}

std::optional<CheckResult> CheckResultFromText(std::string_view text) {
    for (int i = 0; i < 3; ++i)
        if (CheckResultTexts[i] == text)
            return static_cast<CheckResult>(i);
    return std::nullopt;
}

std::optional<double> ReadCheckNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        for (const char c : digits)
            if (HexDigitValue(c) < 0)
                return std::nullopt;
        std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::hex);
    } else {
        // Digits, then optionally a point and digits: no exponent, no "inf".
        std::size_t i = 0;
        while (i < text.size() && IsDecimalDigit(text[i]))
            ++i;
        if (i == 0)
            return std::nullopt;
        if (i < text.size() && text[i] == '.') {
            const std::size_t point = i++;
            while (i < text.size() && IsDecimalDigit(text[i]))
                ++i;
            if (i == point + 1)
                return std::nullopt;
        }
        if (i != text.size())
            return std::nullopt;
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    }
    return negative ? -value : value;
}

bool PutCheckVariables(std::string_view text, const CheckVariables& variables, std::string& out, std::string& unknown) {
    out.clear();
    out.reserve(text.size());
    std::size_t done = 0;  // text before it is in `out`
    for (std::size_t open = text.find('{'); open != std::string_view::npos; open = text.find('{', open + 1)) {
        const std::size_t length = NameLength(text.substr(open + 1));
        const std::size_t close = open + 1 + length;
        if (length == 0 || close >= text.size() || text[close] != '}')
            continue;
        const std::string_view name = text.substr(open + 1, length);
        const auto found = variables.find(name);
        if (found == variables.end()) {
            unknown = name;
            return false;
        }
        out.append(text.substr(done, open - done));
        out += found->second;
        done = close + 1;
        open = close;
    }
    out.append(text.substr(done));
    return true;
}

CheckLine ReadCheckLine(std::string_view text, int line, const CheckVariables& variables) {
    CheckLine read;
    CheckOutcome& check = read.check;
    check.line = line;
    // Everything after the '?' is read as UTF-8, as the variables are.
    const std::string body = Cp1251ToUtf8(text.substr(text.empty() ? 0 : 1));
    const std::string_view rest = body;

    std::size_t pos = 0;
    const std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view before = rest.substr(0, colon);
        if (before.find_first_of(OperatorCharacters) == std::string_view::npos && Trimmed(before) != "hex") {
            check.name = Trimmed(before);
            pos = colon + 1;
        }
    }
    if (check.name.empty())
        check.name = "line " + std::to_string(line);

    pos = SkipBlanks(rest, pos);
    const std::size_t fieldStart = pos;
    if (rest.substr(pos, 4) == "hex:") {
        read.hex = true;
        pos += 4;
    }
    if (pos < rest.size() && rest[pos] == '*') {
        ++pos;
    } else {
        const std::size_t digits = pos;
        while (pos < rest.size() && IsDecimalDigit(rest[pos]))
            ++pos;
        if (pos == digits)
            return Unreadable(std::move(read), "no field (* or a number from 1)");
        const auto [end, error] = std::from_chars(rest.data() + digits, rest.data() + pos, read.fieldNumber);
        if (error != std::errc{} || read.fieldNumber < 1)
            return Unreadable(std::move(read), "bad field " + Quoted(rest.substr(digits, pos - digits)));
    }
    check.field = rest.substr(fieldStart, pos - fieldStart);

    pos = SkipBlanks(rest, pos);
    for (const CheckOperator op : SymbolOperators)
        if (rest.substr(pos).starts_with(CheckOperatorText(op))) {
            check.op = op;
            break;
        }
    if (!check.op && rest.substr(pos, 2) == "in" && (pos + 2 == rest.size() || IsBlank(rest[pos + 2])))
        check.op = CheckOperator::In;
    if (!check.op) {
        const std::string_view word = rest.substr(pos, rest.find_first_of(" \t", pos) - pos);
        return Unreadable(std::move(read), word.empty() ? "no operator" : "bad operator " + Quoted(word));
    }
    const CheckOperator op = *check.op;
    pos = SkipBlanks(rest, pos + CheckOperatorText(op).size());
    const std::string_view value = rest.substr(pos);

    std::string put, unknown;
    const auto unknownVariable = [&] { return "unknown variable {" + unknown + "}"; };
    if (!IsNumericOperator(op)) {
        if (!PutCheckVariables(value, variables, put, unknown))
            return Unreadable(std::move(read), unknownVariable());
        if (op == CheckOperator::Matches) {
            read.pattern.setPattern(QString::fromUtf8(put.data(), static_cast<qsizetype>(put.size())));
            if (!read.pattern.isValid()) {
                // Read before `read` is handed on: the order arguments are made in is the compiler's.
                std::string why = "bad regular expression: " + read.pattern.errorString().toStdString();
                return Unreadable(std::move(read), std::move(why));
            }
        }
        check.expected = std::move(put);
    } else {
        const std::size_t blank = value.find_first_of(" \t");
        const std::string_view numbers = value.substr(0, blank);
        const std::string_view units =
            blank == std::string_view::npos ? std::string_view{} : Trimmed(value.substr(blank));
        if (units.find_first_of(" \t") != std::string_view::npos)
            return Unreadable(std::move(read), "more than one word after the number: " + Quoted(units));
        // A number as written, its variables put in; `shown` collects the numbers as written.
        std::string shown;
        const auto number = [&](std::string_view written, std::optional<double>& into) {
            if (!PutCheckVariables(written, variables, put, unknown))
                return unknownVariable();
            const std::string_view text = Trimmed(put);
            into = ReadCheckNumber(text);
            shown += text;
            return into ? std::string() : "bad number " + Quoted(text);
        };
        std::string why;
        if (op == CheckOperator::In) {
            const std::size_t dots = numbers.find("..");
            if (dots == std::string_view::npos)
                return Unreadable(std::move(read), "bad range " + Quoted(numbers) + " (LOW..HIGH)");
            why = number(numbers.substr(0, dots), check.low);
            shown += "..";
            if (why.empty())
                why = number(numbers.substr(dots + 2), check.high);
        } else {
            why = number(numbers, check.*Bound(op));
        }
        if (!why.empty())
            return Unreadable(std::move(read), why);
        check.units = units;
        check.expected = std::move(shown);
    }
    read.readable = true;
    return read;
}

CheckOutcome JudgeCheck(const CheckLine& line, const CheckedAnswer* answer) {
    CheckOutcome check = line.check;
    if (!line.readable)
        return check;
    const auto ends = [&check](CheckResult result, std::string_view why) {
        check.result = result;
        check.message = check.name + ": " + std::string(why);
        return check;
    };
    if (answer == nullptr)
        return ends(CheckResult::Error, "no command has been sent yet in this run");
    if (answer->kind == CheckedAnswerKind::Refused)
        return ends(CheckResult::Fail, "the printer refused the command");
    if (answer->kind == CheckedAnswerKind::NoAnswer)
        return ends(CheckResult::Fail, "the command had no valid answer");
    const std::optional<std::string_view> field = line.fieldNumber == 0 ? std::optional<std::string_view>(answer->data)
                                                                        : AnswerField(answer->data, line.fieldNumber);
    if (!field)
        return ends(CheckResult::Fail, "the answer has no field " + std::to_string(line.fieldNumber));
    const std::string got = "expected " + CheckExpectation(check) + ", got ";
    std::optional<std::string> bytes;
    if (line.hex) {
        bytes = HexBytes(*field);
        if (!bytes) {
            check.value = Cp1251ToUtf8(*field);
            return ends(CheckResult::Fail, got + *check.value + ", not hexadecimal");
        }
    }
    check.value = Cp1251ToUtf8(bytes ? *bytes : *field);
    const std::string& value = *check.value;
    const std::optional<double> number = IsNumericOperator(*check.op) ? ReadCheckNumber(Trimmed(value)) : 0.0;
    if (!number)
        return ends(CheckResult::Fail, got + value + ", not a number");
    return ends(Holds(line, value, *number) ? CheckResult::Pass : CheckResult::Fail, got + CheckFoundValue(check));
}

std::string CheckExpectedValue(const CheckOutcome& check) {
    if (!check.op)
        return {};
    const bool numeric = IsNumericOperator(*check.op);
    const std::string units = numeric && !check.units.empty() ? " " + check.units : std::string();
    if (check.expected)
        return *check.expected + units;
    if (!numeric)
        return {};
    // Stored without the text as written: the numbers alone.
    std::string text;
    const auto number = [&text](double value) {
        char digits[400];  // the longest fixed form of a double
        const auto written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
        text.append(digits, written.ec == std::errc() ? written.ptr : digits);
    };
    // A line that could not be read may have its operator without its numbers.
    const std::optional<double> bound = check.*Bound(*check.op);
    if (!bound || (*check.op == CheckOperator::In && !check.high))
        return {};
    if (*check.op == CheckOperator::In) {
        number(*check.low);
        text += "..";
        number(*check.high);
    } else {
        number(*bound);
    }
    return text + units;
}

std::string CheckExpectation(const CheckOutcome& check) {
    std::string value = CheckExpectedValue(check);
    if (value.empty() && (!check.op || IsNumericOperator(*check.op) || !check.expected))
        return {};
    return check.field + " " + std::string(CheckOperatorText(check.op)) + " " + value;
}

std::string CheckFoundValue(const CheckOutcome& check) {
    if (!check.value)
        return {};
    if (check.units.empty() || !check.op || !IsNumericOperator(*check.op) || !ReadCheckNumber(Trimmed(*check.value)))
        return *check.value;
    return *check.value + " " + check.units;
}

std::string CheckLogLine(const CheckOutcome& check) {
    return "?? " + LogText(check.message) + std::string(CheckEndings[static_cast<int>(check.result)]);
}

bool ParseCheckAssignment(std::string_view text, std::string& name, std::string& value) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string_view written = Trimmed(text.substr(0, equals));
    if (!IsVariableName(written))
        return false;
    name = written;
    value = Trimmed(text.substr(equals + 1));
    return true;
}

bool ReadCheckVariables(std::string_view text, CheckVariables& into, std::string& error) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view content = Trimmed(line);
        if (content.empty() || content.front() == '#')
            continue;
        (void)QString(utf8.decode(QByteArrayView(line.data(), static_cast<qsizetype>(line.size()))));
        std::string name, value;
        if (utf8.hasError()) {
            error = "line " + std::to_string(number) + ": not UTF-8 text";
            return false;
        }
        if (!ParseCheckAssignment(content, name, value)) {
            error =
                "line " + std::to_string(number) + ": not NAME=VALUE (NAME: a letter, then letters, digits, _ or -)";
            return false;
        }
        into.insert_or_assign(std::move(name), std::move(value));
    }
    return true;
}

}  // namespace tamrisk
