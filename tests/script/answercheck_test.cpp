#include "answercheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {
namespace {

// A check as read, in one line: "name|field|op|expected|low..high|units", or
// the message of an unreadable one.
std::string Parts(const CheckLine& read) {
    const CheckOutcome& c = read.check;
    if (!read.readable)
        return c.message;
    const auto number = [](const std::optional<double>& n) {
        char text[32] = "";
        if (n)
            std::snprintf(text, sizeof text, "%g", *n);
        return std::string(text);
    };
    const std::string bounds = c.low || c.high ? number(c.low) + ".." + number(c.high) : "";
    return c.name + "|" + c.field + "|" + std::string(CheckOperatorText(c.op)) + "|" + c.expected.value_or("-") + "|" +
           bounds + "|" + c.units;
}

TEST(ReadCheckLine, PartsOperatorsVariablesAndUnreadableLines) {
    const CheckVariables variables = {{"fw", "19157"}, {"lo", "10"}, {"hi", "0x20"}, {"unit", "U-17"}};
    const struct {
        std::string text, parts;
    } cases[] = {
        {"?journal size: 2 = 2097152", "journal size|2|=|2097152||"},
        {"? 1=", "line 7|1|=|||"},
        {"?s: 3 = a b  ", "s|3|=|a b  ||"},    // the rest of the line
        {"?1 != x: y", "line 7|1|!=|x: y||"},  // a ':' after an operator character names nothing
        {"?answer shape: * ~ ^P,[0-9]+(,[0-9]+){5}$", "answer shape|*|~|^P,[0-9]+(,[0-9]+){5}$||"},
        {"?hex:* ~ ^ZORMIK FP-3", "line 7|hex:*|~|^ZORMIK FP-3||"},
        {"?firmware: hex:2 = {fw}", "firmware|hex:2|=|19157||"},
        {"?serial: 1 = {unit}-A", "serial|1|=|U-17-A||"},
        {"?1 ~ a{5}{ fw}{fw{fw }{9x}", "line 7|1|~|a{5}{ fw}{fw{fw }{9x}||"},
        {"?3 < 10", "line 7|3|<|10|..10|"},
        {"?3 <= -1.5 V", "line 7|3|<=|-1.5|..-1.5|V"},
        {"?3 >= +0x1F", "line 7|3|>=|+0x1F|31..|"},
        {"?journal used: 3 in 0..2000000 bytes", "journal used|3|in|0..2000000|0..2e+06|bytes"},
        {"?3 in {lo}..{hi} V", "line 7|3|in|10..0x20|10..32|V"},
        {"?\xCF\xF0\xE8\xE1\xEE\xF0: 1 = \xC4\xE0",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB1\xD0\xBE\xD1\x80|1|=|\xD0\x94\xD0\xB0||"},
        {"?2 is 5", "line 7: bad operator \"is\""},
        {"?2", "line 7: no operator"},
        {"?size: abc = 1", "size: no field (* or a number from 1)"},
        {"?x: 0 = 1", "x: bad field \"0\""},
        {"?99999999999 = 1", "line 7: bad field \"99999999999\""},
        {"?3 < ten", "line 7: bad number \"ten\""},
        {"?3 < 1e5", "line 7: bad number \"1e5\""},
        {"?3 in 5", "line 7: bad range \"5\" (LOW..HIGH)"},
        {"?3 < 5 V extra", "line 7: more than one word after the number: \"V extra\""},
        {"?fw: 1 = {fw2}", "fw: unknown variable {fw2}"},
        {"?3 < {nope}", "line 7: unknown variable {nope}"},
        {"?* ~ (unclosed", "line 7: bad regular expression: missing closing parenthesis"},
    };
    for (const auto& c : cases) {
        const CheckLine read = ReadCheckLine(c.text, 7, variables);
        EXPECT_EQ(Parts(read), c.parts) << c.text;
    }
}

// Each operator holding and not, fields missing, empty or not numbers, hex
// fields, and answers refused, missing or not yet made.
TEST(JudgeCheck, ResultValueAndMessage) {
    using K = CheckedAnswerKind;
    using R = CheckResult;
    const CheckedAnswer info{K::Answered, "P,0,2097152, 12,,"}, refused{K::Refused, "P"}, lost{K::NoAnswer, ""},
        firmware{K::Answered, "5A4F524D494B2046502D33,c4E0,AB4G"};
    const std::nullopt_t none = std::nullopt;
    const struct {
        std::string line;
        const CheckedAnswer* answer;
        R result;
        std::optional<std::string> value;
        std::string message;
    } cases[] = {
        {"?2 = 0", &info, R::Pass, "0", "line 1: expected 2 = 0, got 0"},
        {"?size: 3 = 2097151", &info, R::Fail, "2097152", "size: expected 3 = 2097151, got 2097152"},
        {"?1 != P", &info, R::Fail, "P", "line 1: expected 1 != P, got P"},
        {"?1 != p", &info, R::Pass, "P", "line 1: expected 1 != p, got P"},
        {"?5 =", &info, R::Pass, "", "line 1: expected 5 = , got "},
        {"?* ~ 2097", &info, R::Pass, "P,0,2097152, 12,,", "line 1: expected * ~ 2097, got P,0,2097152, 12,,"},
        {"?* ~ ^0", &info, R::Fail, "P,0,2097152, 12,,", "line 1: expected * ~ ^0, got P,0,2097152, 12,,"},
        {"?3 < 2097153", &info, R::Pass, "2097152", "line 1: expected 3 < 2097153, got 2097152"},
        {"?3 < 2097152", &info, R::Fail, "2097152", "line 1: expected 3 < 2097152, got 2097152"},
        {"?3 <= 2097152", &info, R::Pass, "2097152", "line 1: expected 3 <= 2097152, got 2097152"},
        {"?3 > 2097152", &info, R::Fail, "2097152", "line 1: expected 3 > 2097152, got 2097152"},
        {"?3 >= 0x200000", &info, R::Pass, "2097152", "line 1: expected 3 >= 0x200000, got 2097152"},
        {"?used: 3 in 0..2000000 bytes", &info, R::Fail, "2097152",
         "used: expected 3 in 0..2000000 bytes, got 2097152 bytes"},
        {"?4 in 11.5..12", &info, R::Pass, " 12", "line 1: expected 4 in 11.5..12, got  12"},
        {"?1 < 5", &info, R::Fail, "P", "line 1: expected 1 < 5, got P, not a number"},
        {"?firmware: 7 = x", &info, R::Fail, none, "firmware: the answer has no field 7"},
        {"?size: 1 = P", &refused, R::Fail, none, "size: the printer refused the command"},
        {"?size: 1 = P", &lost, R::Fail, none, "size: the command had no valid answer"},
        {"?size: 1 = P", nullptr, R::Error, none, "size: no command has been sent yet in this run"},
        {"?hex:1 ~ ^ZORMIK FP-3$", &firmware, R::Pass, "ZORMIK FP-3",
         "line 1: expected hex:1 ~ ^ZORMIK FP-3$, got ZORMIK FP-3"},
        {"?hex:2 = \xC4\xE0", &firmware, R::Pass, "\xD0\x94\xD0\xB0",
         "line 1: expected hex:2 = \xD0\x94\xD0\xB0, got \xD0\x94\xD0\xB0"},
        {"?hex:3 = x", &firmware, R::Fail, "AB4G", "line 1: expected hex:3 = x, got AB4G, not hexadecimal"},
    };
    for (const auto& c : cases) {
        const CheckOutcome check = JudgeCheck(ReadCheckLine(c.line, 1, {}), c.answer);
        EXPECT_EQ(check.result, c.result) << c.line;
        EXPECT_EQ(check.value, c.value) << c.line;
        EXPECT_EQ(check.message, c.message) << c.line;
    }
}

// Every numeric operator at its limits: a value exactly at a limit of in,
// <= and >= passes, one just beyond it fails; < and > fail at the limit and
// pass just inside it. Limits in decimal, hexadecimal, negative and fractional.
TEST(JudgeCheck, NumbersAtJustInsideAndJustOutsideTheLimits) {
    const struct {
        const char* line;
        std::vector<const char*> pass, fail;
    } cases[] = {
        {"?1 in 10..20", {"10", "10.001", "15", "19.999", "20", "0x14", " 20"}, {"9.999", "9", "20.001", "21", "-10"}},
        {"?1 in -0.5..0x10 V", {"-0.5", "-0.499", "15.999", "16", "0x10"}, {"-0.501", "-1", "16.001", "0x11"}},
        {"?1 in 7..7", {"7", "7.0", "0x7"}, {"6.999", "7.001"}},
        {"?1 <= 20", {"20", "19.999", "-20"}, {"20.001", "21", "0x15"}},
        {"?1 <= -1.5", {"-1.5", "-1.501"}, {"-1.499", "1.5"}},
        {"?1 >= 10", {"10", "10.001", "0xA"}, {"9.999", "9", "-10"}},
        {"?1 >= 0x1F", {"31", "0x1F", "31.001"}, {"30.999", "0x1E"}},
        {"?1 < 20", {"19.999", "19"}, {"20", "0x14", "20.001"}},
        {"?1 > 10", {"10.001", "11"}, {"10", "9.999"}},
        {"?1 > -0.5", {"-0.499", "0"}, {"-0.5", "-0.501"}},
    };
    for (const auto& c : cases) {
        const CheckLine read = ReadCheckLine(c.line, 1, {});
        ASSERT_TRUE(read.readable) << c.line;
        for (const bool passes : {true, false})
            for (const char* value : passes ? c.pass : c.fail) {
                const CheckedAnswer answer{CheckedAnswerKind::Answered, value};
                EXPECT_EQ(JudgeCheck(read, &answer).result, passes ? CheckResult::Pass : CheckResult::Fail)
                    << c.line << " with " << value;
            }
    }
}

// The log line is in the log's code page; what it cannot carry shows as '?'.
TEST(CheckLogLine, MessageAndEndInTheLogsCodePage) {
    CheckOutcome check;
    check.result = CheckResult::Fail;
    check.message = "s: expected 1 = \xE4\xB8\xAD\xD0\x94, got a";
    EXPECT_EQ(CheckLogLine(check), "?? s: expected 1 = ?\xC4, got a: failed");
}

// What a check expected reads as the line wrote it, numbers and all, with its
// unit, and so does the value it found; a check stored without the text as
// written (by an older program) writes its numbers in their shortest decimal
// form. The message says the same.
TEST(CheckExpectation, ReadsAsWrittenWithItsUnit) {
    const CheckedAnswer answer{CheckedAnswerKind::Answered, "P,12,2167, 7.5"};
    const struct {
        const char* line;
        const char* expectation;
        const char* found;   // none: the line could not be read
        bool older = false;  // stored without the text as written
    } cases[] = {
        {"?size: 2 = 2097152", "2 = 2097152", "12"},
        {"?used: 3 in 0..2000000 bytes", "3 in 0..2000000 bytes", "2167 bytes"},
        {"?used: 3 in 0..2000000 bytes", "3 in 0..2000000 bytes", "2167 bytes", true},
        {"?v: 4 in -0.5..12.25 V", "4 in -0.5..12.25 V", " 7.5 V"},
        {"?fw: hex:* ~ ^ZORMIK {5}", "hex:* ~ ^ZORMIK {5}", "P,12,2167, 7.5"},
        {"?n: 2 < 0x10", "2 < 0x10", "12"},
        {"?n: 2 < 0x10 V", "2 < 16 V", "12 V", true},
        {"?n: 1 >= 0 V", "1 >= 0 V", "P"},  // not a number: no unit on it
        {"?n: 2 >= 1e3", "", nullptr},      // not a number the line may hold: unreadable
        {"?n: 2 != ", "2 != ", "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CheckOutcome check = JudgeCheck(ReadCheckLine(c.line, 7, {}), &answer);
        if (c.older)
            check.expected.reset();
        EXPECT_EQ(CheckExpectation(check), c.expectation);
        if (c.found == nullptr)
            continue;
        EXPECT_EQ(CheckFoundValue(check), c.found);
        if (!c.older) {
            EXPECT_TRUE(check.message.starts_with(check.name + ": expected " + c.expectation + ", got " + c.found))
                << check.message;
        }
    }
}

// Every operator is read from its text and written back the same; no other text is one.
TEST(CheckOperator, ReadFromTextAndWrittenBack) {
    for (const char* text : {"=", "!=", "~", "<", "<=", ">", ">=", "in"}) {
        const std::optional<CheckOperator> op = CheckOperatorFromText(text);
        ASSERT_TRUE(op) << text;
        EXPECT_EQ(CheckOperatorText(*op), text);
        EXPECT_EQ(IsNumericOperator(*op), text[0] == '<' || text[0] == '>' || text[0] == 'i') << text;
    }
    for (const char* text : {"", "==", "IN", "=<", " ="})
        EXPECT_FALSE(CheckOperatorFromText(text)) << text;
    EXPECT_EQ(CheckOperatorText(std::nullopt), "");
}

TEST(CheckVariables, AssignmentsAndFiles) {
    const std::string notAssignment = ": not NAME=VALUE (NAME: a letter, then letters, digits, _ or -)";
    const struct {
        std::string text;
        CheckVariables variables;
        std::string error;
    } cases[] = {
        {"\xEF\xBB\xBF"
         "fw=19157\n# note\n\n   \n  lo = two words \r\nx-y_1=\n  #x=1\nfw=19203\nd=\xD0\x94=1",
         {{"fw", "19203"}, {"lo", "two words"}, {"x-y_1", ""}, {"d", "\xD0\x94=1"}}, ""},
        {"a=1\nbad line\nb=2", {{"a", "1"}}, "line 2" + notAssignment},
        {"1a=3", {}, "line 1" + notAssignment},
        {"f w=3", {}, "line 1" + notAssignment},
        {"a=1\r\n\r\nb=\xC4\xE0", {{"a", "1"}}, "line 3: not UTF-8 text"},
    };
    for (const auto& c : cases) {
        CheckVariables variables;
        std::string error;
        EXPECT_EQ(ReadCheckVariables(c.text, variables, error), c.error.empty()) << c.text;
        EXPECT_EQ(variables, c.variables) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

}  // namespace
}  // namespace tamrisk
