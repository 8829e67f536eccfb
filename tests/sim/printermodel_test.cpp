#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "printermodel.h"
#include "simtesting.h"

namespace tamrisk::sim {
namespace {

using testing::Collect;
using testing::Exchange;
using testing::ModelCaller;
using testing::Transact;

constexpr StatusArray Healthy{0x00, 0x00, 0x00, 0x00, 0x00, 0x3A};

std::string Frame(std::uint8_t sequence, int command = 74, std::string_view data = {}) {
    return EncodeRequestFrame(sequence, command, data);
}

std::string BadSum(std::string frame) {
    frame[frame.size() - 2] ^= 0x01;
    return frame;
}

struct FramingCase {
    const char* name;
    std::string input;
    std::vector<std::uint8_t> answered;  // sequence bytes answered, in order
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

std::vector<std::uint8_t> AnsweredSequences(PrinterModel& model) {
    std::vector<std::uint8_t> sequences;
    for (const std::string& answer : model.TakeAnswers()) {
        const auto sequence = static_cast<std::uint8_t>(answer[2]);
        EXPECT_TRUE(Collect(answer, sequence, 74).check.passed);
        sequences.push_back(sequence);
    }
    return sequences;
}

TEST_P(FramingTest, AnswersTheSameWholeOrByteByByte) {
    PrinterModel whole;
    whole.Receive(GetParam().input);
    EXPECT_EQ(AnsweredSequences(whole), GetParam().answered);

    PrinterModel pieces;
    for (char c : GetParam().input)
        pieces.Receive(std::string_view(&c, 1));
    EXPECT_EQ(AnsweredSequences(pieces), GetParam().answered);
}

INSTANTIATE_TEST_SUITE_P(
    Model, FramingTest,
    ::testing::Values(
        FramingCase{"single", Frame(0x20), {0x20}},
        FramingCase{"noise_before", std::string("\x05\x03zz\x16", 5) + Frame(0x21), {0x21}},
        FramingCase{"back_to_back", Frame(0x22) + Frame(0x23, 74, "W"), {0x22, 0x23}},
        FramingCase{"bad_checksum_unanswered", BadSum(Frame(0x24)) + Frame(0x25), {0x25}},
        FramingCase{"stray_start_with_long_length", std::string("\x01\xF0", 2) + Frame(0x26), {0x26}},
        FramingCase{"stray_start_with_short_length", std::string("\x01\x10", 2) + Frame(0x27), {0x27}},
        FramingCase{"cut_off_frame", Frame(0x28, 74, "ABC").substr(0, 6) + Frame(0x29, 74, "ABC"), {0x29}},
        FramingCase{"lone_bad_frame", BadSum(Frame(0x2A, 48, "x")), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrinterModelTest, EchoesSequenceAndCommandAndSendsConfiguredSynBytes) {
    for (int syn : {0, 1, 7}) {
        PrinterModel model(SimOptions{.synCount = syn});
        const auto exchange = Transact(model, 0x7E, 200, "data");
        EXPECT_TRUE(exchange.check.passed) << syn;
        EXPECT_EQ(exchange.synCount, syn);
    }
}

struct CommandCase {
    int command;
    const char* data;
    const char* answer;
    StatusArray status;
};

class CommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTest, AnswersDataAndStatus) {
    PrinterModel model;
    const auto exchange = Transact(model, 0x20, GetParam().command, GetParam().data);
    ASSERT_TRUE(exchange.check.passed);
    EXPECT_EQ(exchange.check.data, GetParam().answer);
    EXPECT_EQ(exchange.check.status, GetParam().status);
}

constexpr StatusArray ModelSyntax{0x21, 0x00, 0x00, 0x00, 0x00, 0x3A};
constexpr StatusArray Invalid{0x22, 0x00, 0x00, 0x00, 0x00, 0x3A};

INSTANTIATE_TEST_SUITE_P(
    Model, CommandTest,
    ::testing::Values(CommandCase{74, "", "P", Healthy},
                      CommandCase{61, "15-03-24 14:05", "", Healthy},
                      CommandCase{61, "29-02-24 23:59", "", Healthy},
                      CommandCase{61, "29-02-23 10:00", "", ModelSyntax},  // not a leap year
                      CommandCase{61, "31-04-24 10:00", "", ModelSyntax},
                      CommandCase{61, "15-03-24 24:00", "", ModelSyntax},
                      CommandCase{61, "15-03-24 14:60", "", ModelSyntax},
                      CommandCase{61, "15-3-24 14:05", "", ModelSyntax},
                      CommandCase{61, "15-03-24 14:05:00", "", ModelSyntax},
                      CommandCase{61, "", "", ModelSyntax},
                      CommandCase{48, "1,2,3", "", Healthy},
                      CommandCase{32, "", "", Healthy},
                      CommandCase{255, "", "", Healthy},
                      CommandCase{31, "", "", Invalid},
                      CommandCase{119, "Q", "", ModelSyntax}));

TEST(PrinterModelTest, ClockCommandSetsTheClockOnlyWhenWellFormed) {
    PrinterModel model;
    ModelCaller station(model);
    station.Request(61, "05-11-25 07:08");
    EXPECT_EQ(model.Clock(), (SimDateTime{2025, 11, 5, 7, 8, 0}));
    station.Request(61, "05-13-25 07:08");
    EXPECT_EQ(model.Clock(), (SimDateTime{2025, 11, 5, 7, 8, 0}));
}

TEST(PrinterModelTest, StatusOverrides) {
    SimOptions options;
    options.statusOverrides[48] = {0x21, 0x00, 0x00, 0x00, 0x00, 0x00};  // syntax error
    options.statusOverrides[74] = {0x00, 0x00, 0x04, 0x00, 0x00, 0x3A};  // S2.2, no refusal
    options.statusOverrides[61] = {0x20, 0x02, 0x00, 0x00, 0x00, 0x3A};  // not permitted
    PrinterModel model(options);
    ModelCaller station(model);
    StatusArray status{};

    EXPECT_EQ(station.Request(48, "", &status), "");
    EXPECT_EQ(status, options.statusOverrides[48]);
    // Without a refusal bit the command still runs; only its status is replaced.
    EXPECT_EQ(station.Request(74, "", &status), "P");
    EXPECT_EQ(status, options.statusOverrides[74]);
    // With one, it does not run.
    const SimDateTime before = model.Clock();
    station.Request(61, "01-01-30 12:00", &status);
    EXPECT_EQ(status, options.statusOverrides[61]);
    EXPECT_EQ(model.Clock(), before);
    // Other commands keep the printer's own status.
    station.Request(49, "", &status);
    EXPECT_EQ(status, Healthy);
}

TEST(PrinterModelTest, RepeatedRequestIsAnsweredAgainWithoutRunningTwice) {
    PrinterModel model;
    ASSERT_TRUE(Transact(model, 0x30, 119, "R,A").check.passed);
    const auto first = Transact(model, 0x31, 119, "N");
    const auto again = Transact(model, 0x31, 119, "N");  // the station's second attempt
    const auto next = Transact(model, 0x32, 119, "N");
    ASSERT_TRUE(first.check.passed && again.check.passed && next.check.passed);
    EXPECT_EQ(again.check.data, first.check.data);

    const auto& lines = model.Journal().Book().documents.front().lines;
    EXPECT_EQ(first.check.data, "P," + lines[1]);
    EXPECT_EQ(next.check.data, "P," + lines[2]);
    EXPECT_EQ(model.Stats().repetitions, 1u);
}

struct FaultCase {
    FaultKind kind;
    bool answered;
    int failedTest;  // 0: passes
};

class FaultKindTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultKindTest, EveryAnswerHitAtRateOne) {
    SimOptions options;
    options.faultRate = 1.0;
    options.faultKinds = {GetParam().kind};
    PrinterModel model(options);
    for (std::uint8_t sequence : {std::uint8_t{0x20}, std::uint8_t{0x55}}) {
        const auto exchange = Transact(model, sequence, 74, "");
        EXPECT_EQ(exchange.answered, GetParam().answered);
        if (exchange.answered) {
            EXPECT_EQ(exchange.check.failedTest, GetParam().failedTest);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Model, FaultKindTest,
                         ::testing::Values(FaultCase{FaultKind::NoAnswer, false, 0},
                                           FaultCase{FaultKind::BadChecksum, true, 8},
                                           FaultCase{FaultKind::WrongSequence, true, 3}));

TEST(PrinterModelTest, WrongSequenceFaultIsOtherwiseAValidFrame) {
    SimOptions options{.faultRate = 1.0, .faultKinds = {FaultKind::WrongSequence}};
    PrinterModel model(options);
    model.Receive(Frame(0x20));
    // It carries the sequence byte a late answer to the previous request would.
    EXPECT_TRUE(Collect(model.TakeOutput(), LastSequence, 74).check.passed);
}

// Outcome of each of `count` requests: '.' passed, 'n' none, 'c' checksum, 's' sequence.
std::string FaultPattern(std::uint64_t seed, int count) {
    SimOptions options{.faultRate = 0.3, .faultSeed = seed};
    PrinterModel model(options);
    std::string pattern;
    std::uint8_t sequence = FirstSequence;
    for (int i = 0; i < count; ++i, sequence = NextSequence(sequence)) {
        const auto exchange = Transact(model, sequence, 74, "");
        pattern += !exchange.answered          ? 'n'
                   : exchange.check.passed     ? '.'
                   : exchange.check.failedTest == 3 ? 's'
                   : exchange.check.failedTest == 8 ? 'c'
                                                    : '?';
    }
    return pattern;
}

TEST(PrinterModelTest, FaultDrawIsRepeatableFromItsSeed) {
    const std::string pattern = FaultPattern(42, 600);
    EXPECT_EQ(FaultPattern(42, 600), pattern);
    EXPECT_NE(FaultPattern(43, 600), pattern);
    const auto hits = 600 - std::count(pattern.begin(), pattern.end(), '.');
    EXPECT_GT(hits, 120);  // 0.3 of 600 is 180
    EXPECT_LT(hits, 240);
    for (char kind : {'n', 'c', 's'})
        EXPECT_NE(pattern.find(kind), std::string::npos) << kind;
    EXPECT_EQ(pattern.find('?'), std::string::npos);
}

// A reader that retries a failed attempt with the same sequence byte, as the
// station does, gets the same journal through a faulty line as through a clean one.
TEST(PrinterModelTest, RetriesThroughFaultsReadTheSameJournal) {
    auto readAll = [](double rate) {
        PrinterModel model(SimOptions{.faultRate = rate, .faultSeed = 7});
        std::vector<std::string> answers;
        std::uint8_t sequence = FirstSequence;
        std::string data = "R,A";
        for (int guard = 0; guard < 5000; ++guard) {
            Exchange exchange;
            for (int attempt = 0; attempt < 20 && !exchange.check.passed; ++attempt)
                exchange = Transact(model, sequence, 119, data);
            EXPECT_TRUE(exchange.check.passed);
            sequence = NextSequence(sequence);
            answers.push_back(exchange.check.data);
            if (exchange.check.data == "F")
                break;
            data = "N";
        }
        return answers;
    };
    const auto clean = readAll(0.0);
    ASSERT_GT(clean.size(), 100u);
    EXPECT_EQ(readAll(0.4), clean);
}

}  // namespace
}  // namespace tamrisk::sim
