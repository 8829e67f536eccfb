#include "fakehost.h"
#include "linkrig.h"
#include "scriptedio.h"
#include "seriallink.h"
#include "transaction.h"

#include <gtest/gtest.h>

#include <bit>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace tamrisk {
namespace {

using namespace std::chrono_literals;
using testing::Chunk;
using testing::FakeHost;
using testing::ScriptedIo;

// A link with one port, opened, over a scripted line.
struct Rig : testing::LinkRig<ScriptedIo> {
    Rig() { EXPECT_TRUE(link->IsOpen()); }

    // The printer answers every frame with `answer` for the frame's sequence and command.
    void AnswerAlways(std::string data, StatusBytesArray status = {}, std::string prefix = {}) {
        io->respond = [=](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            return std::vector<Chunk>{
                {1ms, prefix + EncodeAnswerFrame(request->sequence, request->command, data, status)}};
        };
    }
    ExecResult Exec(int command, std::string_view data) { return transactor->ExecCommand(command, data); }
};

TEST(ExecCommand, AcceptedAnswerFillsTheState) {
    Rig rig;
    rig.AnswerAlways("P", {0x21, 0x02, 0, 0, 0, 0x08}, "\x16\x16");
    EXPECT_EQ(rig.Exec(74, ""), ExecResult::ExecOk);
    EXPECT_EQ(rig.state.AnswerData, "P");
    EXPECT_EQ(rig.state.StatusBytes, (StatusBytesArray{0x21, 0x02, 0, 0, 0, 0x08}));
    EXPECT_EQ(rig.state.StatusFlags, CommonErrorFlag | SyntaxErrorFlag | NotPermittedFlag | FiscalizedFlag);
    EXPECT_NE(rig.state.StatusFlags & FailureMask, 0u);  // the caller judges; no question is asked
    EXPECT_EQ(rig.state.FailedAttempts, 0);
    EXPECT_EQ(rig.state.SynCount, 2);
    EXPECT_EQ(rig.state.SequenceNumber, 0x21);
    EXPECT_TRUE(rig.host.questions.empty());
    ASSERT_EQ(rig.io->written.size(), 1u);
    EXPECT_EQ(rig.io->written[0], EncodeRequestFrame(0x20, 74, ""));
}

TEST(ExecCommand, StatusBitsMapToTheirFlags) {
    struct Case {
        StatusBytesArray status;
        std::uint32_t flags;
    };
    const std::vector<Case> cases = {
        {{0x21, 0x02, 0, 0, 0, 0}, CommonErrorFlag | SyntaxErrorFlag | NotPermittedFlag},
        {{0x02, 0x01, 0x04, 0, 0x01, 0x02}, InvalidCommandFlag | ArithmeticOverflowFlag | ControlTapeEndFlag |
                                                 FiscalMemoryWriteErrorFlag | FiscalMemoryFormattedFlag},
        {{0, 0, 0, 0xFF, 0, 0}, 0u},  // byte 3 is not mapped
        {{0xD0, 0xC8, 0xC0, 0, 0xC2, 0xC0}, 0u},  // the unmapped bits of every byte
        {{0, 0x04, 0, 0, 0x04, 0x04}, Status12Flag | Status42Flag | Status52Flag},  // mapped without a check box
        {{0, 0, 0, 0, 0x20, 0}, CommonFiscalErrorFlag},
        {{0x0C, 0x30, 0x3B, 0, 0x18, 0x39}, DateTimeWrongFlag | NoDisplayFlag | RamResetFlag | RotatedReceiptOpenFlag |
                                                 OutOfPaperFlag | PaperNearEndFlag | FiscalReceiptOpenFlag |
                                                 JournalNearEndFlag | NonFiscalReceiptOpenFlag | FewFiscalRecordsFlag |
                                                 FiscalMemoryFullFlag | FiscalMemoryReadOnlyFlag | FiscalizedFlag |
                                                 VatRatesSetFlag | SerialNumberSetFlag},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapStatusToFlags(c.status, 0), c.flags) << std::hex << c.flags;
    EXPECT_EQ(MapStatusToFlags({}, NoAnswer), NoAnswer);  // bits are only added
    // Every mapped bit has a flag of its own, apart from the link's.
    const std::uint32_t all = MapStatusToFlags({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0);
    EXPECT_EQ(std::popcount(all), 27);
    EXPECT_EQ(all & LinkFailureMask, 0u);
}

TEST(ExecCommand, SecondAttemptResendsTheSameFrame) {
    Rig rig;
    int calls = 0;
    rig.io->respond = [&](const std::string& written) {
        const auto request = DecodeRequestFrame(written);
        if (++calls == 1)  // an answer to an earlier request
            return std::vector<Chunk>{{1ms, EncodeAnswerFrame(0x7E, request->command, "old", {})}};
        return std::vector<Chunk>{{1ms, EncodeAnswerFrame(request->sequence, request->command, "new", {})}};
    };
    EXPECT_EQ(rig.Exec(48, "x"), ExecResult::ExecOk);
    ASSERT_EQ(rig.io->written.size(), 2u);
    EXPECT_EQ(rig.io->written[0], rig.io->written[1]);
    EXPECT_EQ(rig.state.FailedAttempts, 1);
    EXPECT_EQ(rig.state.AnswerData, "new");
    EXPECT_EQ(rig.host.sleeps, std::vector<int>{300});
    EXPECT_TRUE(rig.host.questions.empty());
    rig.Exec(48, "x");
    EXPECT_EQ(static_cast<std::uint8_t>(rig.io->written[2][2]), 0x21);
}

TEST(ExecCommand, TwoTimeOutsAskOnceAndKeepTheOldAnswerData) {
    Rig rig;
    rig.AnswerAlways("first");
    rig.Exec(48, "");
    rig.io->respond = nullptr;
    rig.host.answers = {true};
    const double before = rig.host.elapsedMs();
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(rig.state.FailedAttempts, 2);
    EXPECT_EQ(rig.state.StatusFlags, NoAnswer);
    EXPECT_EQ(rig.state.StatusBytes, StatusBytesArray{});
    EXPECT_EQ(rig.state.AnswerData, "first");
    ASSERT_EQ(rig.host.questions.size(), 1u);
    EXPECT_EQ(rig.host.questions[0].text, "No printer serponse. Retry?");
    EXPECT_EQ(rig.host.questions[0].caption, "Error");
    EXPECT_TRUE(rig.state.RepeatRequest);
    EXPECT_NEAR(rig.host.elapsedMs() - before, 2 * (2000.16 + 300), 1.0);
    EXPECT_EQ(rig.state.SequenceNumber, 0x22);
}

TEST(ExecCommand, TheGapBetweenBytesRestartsWithEveryByte) {
    struct Case {
        std::chrono::microseconds gap;
        ExecResult result;
    };
    for (const Case c : {Case{2000us * 1000, ExecResult::ExecOk}, Case{2000160us, ExecResult::ExecOk},
                         Case{2000200us, ExecResult::ExecNoAnswer}}) {
        Rig rig;
        rig.io->respond = [&](const std::string& written) {
            if (rig.io->written.size() > 1)  // the second attempt meets silence
                return std::vector<Chunk>{};
            const auto request = DecodeRequestFrame(written);
            const std::string answer = EncodeAnswerFrame(request->sequence, request->command, "AB", {});
            // A busy printer: SYN after SYN, each just inside the gap, then the answer.
            return std::vector<Chunk>{{c.gap, "\x16"}, {2 * c.gap, "\x16"}, {3 * c.gap, answer.substr(0, 5)},
                                      {4 * c.gap, answer.substr(5)}};
        };
        EXPECT_EQ(rig.Exec(48, ""), c.result) << c.gap.count();
        if (c.result == ExecResult::ExecOk) {
            EXPECT_EQ(rig.state.SynCount, 2);
        }
    }
}

TEST(ExecCommand, FullBufferWithoutEndByteIsJudgedByTheFrameTest) {
    Rig rig;
    rig.io->respond = [](const std::string&) { return std::vector<Chunk>{{1ms, std::string(300, 'A')}}; };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecBadProtocol);
    EXPECT_EQ(rig.state.StatusFlags, BadProtocol);
    EXPECT_EQ(rig.host.questions.at(0).text, "Bad protocol. Retry?");
    EXPECT_LT(rig.host.elapsedMs(), 1000.0);  // no time-out was waited for
}

TEST(ExecCommand, BadFrameCopiesWhatPassedAndMapsIt) {
    Rig rig;
    const StatusBytesArray status{0x20, 0, 0, 0, 0, 0};
    rig.io->respond = [&](const std::string& written) {
        const auto request = DecodeRequestFrame(written);
        std::string answer = EncodeAnswerFrame(request->sequence, request->command, "X", status);
        answer[answer.size() - 2] ^= 1;  // checksum digit
        return std::vector<Chunk>{{1ms, answer}};
    };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecBadProtocol);
    EXPECT_EQ(rig.state.StatusFlags, BadProtocol | CommonErrorFlag);
    EXPECT_EQ(rig.state.StatusBytes, status);
    EXPECT_EQ(rig.state.AnswerData, "X");
    EXPECT_EQ(rig.state.FailedAttempts, 2);
}

// What the caller finds after both attempts brought the same malformed answer:
// data and status bytes are copied only as far as the tests before them passed.
TEST(ExecCommand, MalformedAnswersLeaveOnlyWhatPassedInTheState) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        bool dataCopied;
        bool statusCopied;
    };
    const std::vector<Case> cases = {
        {"no start byte", [](std::string& a) { a.erase(0, 1); }, false, false},
        {"length below 0x2B", [](std::string& a) { a[1] = 0x2A; }, false, false},
        {"sequence of another request", [](std::string& a) { a[2] = 0x7E; }, false, false},
        {"other command", [](std::string& a) { a[3] = 49; }, false, false},
        {"no status separator", [](std::string& a) { a[7] = 0x06; }, true, false},
        {"no end of status", [](std::string& a) { a[14] = 0x06; }, true, true},
        {"checksum digit off", [](std::string& a) { a[15] ^= 0x01; }, true, true},
        {"byte before the end", [](std::string& a) { a.insert(a.size() - 1, "Z"); }, true, true},
    };
    const StatusBytesArray status{0x20, 0x02, 0, 0, 0x20, 0};
    for (const Case& c : cases) {
        Rig rig;
        rig.AnswerAlways("old");
        rig.Exec(48, "");  // leaves AnswerData "old"
        rig.io->respond = [&](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            std::string answer = EncodeAnswerFrame(request->sequence, request->command, "NEW", status);
            c.damage(answer);
            return std::vector<Chunk>{{1ms, answer}};
        };
        EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecBadProtocol) << c.what;
        EXPECT_EQ(rig.state.FailedAttempts, 2) << c.what;
        EXPECT_EQ(rig.state.AnswerData, c.dataCopied ? "NEW" : "old") << c.what;
        EXPECT_EQ(rig.state.StatusBytes, c.statusCopied ? status : StatusBytesArray{}) << c.what;
        const std::uint32_t mapped = c.statusCopied ? (CommonErrorFlag | NotPermittedFlag | CommonFiscalErrorFlag) : 0u;
        EXPECT_EQ(rig.state.StatusFlags, BadProtocol | mapped) << c.what;
        EXPECT_EQ(rig.host.questions.size(), 1u) << c.what;
    }
}

TEST(ExecCommand, ChecksumDigitsAreReadByTheirOffsetFromZero) {
    // Digits above '?' still count by their distance from '0': 0x3E then 0x46
    // read as 14 * 16 + 22 = 246, the sum of this answer.
    Rig rig;
    rig.io->respond = [](const std::string&) {
        return std::vector<Chunk>{
            {1ms, std::string("\x01\x2C\x20\x4A\x50\x04\x00\x00\x07\x00\x00\x00\x05\x30\x30\x3E\x46\x03", 18)}};
    };
    EXPECT_EQ(rig.Exec(74, ""), ExecResult::ExecOk);
    EXPECT_EQ(rig.state.StatusBytes, (StatusBytesArray{0, 0, 7, 0, 0, 0}));
}

TEST(ExecCommand, BytesAfterTheEndStayForTheNextReception) {
    Rig rig;
    rig.io->respond = [&](const std::string& written) {
        const auto request = DecodeRequestFrame(written);
        return std::vector<Chunk>{{1ms, EncodeAnswerFrame(request->sequence, request->command, "1", {}) +
                                            EncodeAnswerFrame(NextSequence(request->sequence), request->command,
                                                              "2", {})}};
    };
    rig.Exec(48, "");
    rig.io->respond = nullptr;
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecOk);
    EXPECT_EQ(rig.state.AnswerData, "2");
}

// A frame the line took only part of fails its attempt at once: no answer is
// awaited, and only a frame that went out whole counts as sent.
TEST(ExecCommand, AFrameCutShortFailsItsAttemptWithoutWaiting) {
    struct Case {
        const char* what;
        std::deque<std::size_t> limits;
        ExecResult result;
        int failedAttempts;
        bool requestSent;
        double elapsedMs;
    };
    const std::vector<Case> cases = {
        {"first cut, second whole", {4}, ExecResult::ExecOk, 1, true, 300 + 1},
        {"both cut", {4, 9}, ExecResult::ExecNoAnswer, 2, false, 2 * 300},
        {"nothing taken", {0, 0}, ExecResult::ExecNoAnswer, 2, false, 2 * 300},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.AnswerAlways("P");
        rig.io->writeLimits = c.limits;
        EXPECT_EQ(rig.Exec(48, "AB"), c.result) << c.what;
        EXPECT_EQ(rig.state.FailedAttempts, c.failedAttempts) << c.what;
        EXPECT_EQ(rig.state.RequestSent, c.requestSent) << c.what;
        EXPECT_NEAR(rig.host.elapsedMs(), c.elapsedMs, 0.5) << c.what;
        EXPECT_EQ(rig.io->written.size(), 2u) << c.what;
        EXPECT_EQ(rig.io->written.at(0), EncodeRequestFrame(0x20, 48, "AB").substr(0, c.limits.front())) << c.what;
        EXPECT_EQ(rig.state.StatusFlags, c.requestSent ? 0u : NoAnswer) << c.what;
        EXPECT_EQ(rig.host.questions.size(), c.requestSent ? 0u : 1u) << c.what;
    }
}

TEST(ExecCommand, SequenceWrapsAfter0x7E) {
    Rig rig;
    rig.AnswerAlways("");
    rig.state.SequenceNumber = 0x7E;
    EXPECT_EQ(rig.Exec(45, "ABC"), ExecResult::ExecOk);
    EXPECT_EQ(rig.io->written[0], EncodeRequestFrame(0x7E, 45, "ABC"));
    EXPECT_EQ(rig.state.SequenceNumber, 0x20);
}

TEST(ExecCommand, NoPortOpenSendsNothingAndKeepsTheSequence) {
    Rig rig;
    rig.link->ClosePort();
    rig.state.StatusFlags = DateTimeWrongFlag;
    rig.state.FailedAttempts = 2;
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(rig.state.StatusFlags, DateTimeWrongFlag | PortNotOpen);
    EXPECT_EQ(rig.state.FailedAttempts, 0);
    EXPECT_EQ(rig.state.SequenceNumber, 0x20);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Serial port not open");
    EXPECT_TRUE(rig.io->written.empty());
    EXPECT_TRUE(rig.host.questions.empty());
}

// After a lost port no answer of a transaction before the loss passes for the
// failed one's, whether the loss came during its wait or before the call.
TEST(ExecCommand, ALostPortLeavesNoEarlierAnswer) {
    for (const bool duringTheWait : {true, false}) {
        Rig rig;
        rig.AnswerAlways("block 1", {0x20, 0, 0, 0, 0, 0});
        ASSERT_EQ(rig.Exec(121, "0000,64"), ExecResult::ExecOk);
        rig.io->respond = nullptr;
        if (duringTheWait)
            rig.host.onEvents = [&] {
                if (rig.io->written.size() == 2)
                    rig.io->unplug("gone");
            };
        else
            rig.io->unplug("gone");
        EXPECT_EQ(rig.Exec(121, "0040,64"), ExecResult::ExecNoAnswer) << duringTheWait;
        EXPECT_EQ(rig.state.AnswerData, "") << duringTheWait;
        EXPECT_EQ(rig.state.StatusBytes, StatusBytesArray{}) << duringTheWait;
        EXPECT_NE(rig.state.StatusFlags & PortNotOpen, 0u) << duringTheWait;
        EXPECT_EQ(rig.io->written.size(), duringTheWait ? 2u : 1u) << duringTheWait;
        EXPECT_TRUE(rig.host.questions.empty()) << duringTheWait;
    }
}

TEST(ExecCommand, DataTooLongForAFrameIsRefused) {
    Rig rig;
    rig.AnswerAlways("prev", {0x20, 0, 0, 0, 0, 0});
    rig.Exec(48, "");
    EXPECT_EQ(rig.Exec(48, std::string(MaxRequestData + 1, 'x')), ExecResult::ExecBadProtocol);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_EQ(rig.host.messages.at(0).text, "Command data too long (220 bytes, at most 219)");
    EXPECT_EQ(rig.host.messages.at(0).caption, "Error");
    EXPECT_EQ(rig.state.StatusFlags, BadProtocol);
    EXPECT_NE(rig.state.StatusFlags & FailureMask, 0u);
    EXPECT_EQ(rig.state.StatusBytes, StatusBytesArray{});
    EXPECT_EQ(rig.state.AnswerData, "");
    EXPECT_EQ(rig.state.FailedAttempts, 0);
    EXPECT_EQ(rig.state.SequenceNumber, 0x21);
    EXPECT_TRUE(rig.host.questions.empty());

    EXPECT_EQ(rig.Exec(48, std::string(MaxRequestData, 'x')), ExecResult::ExecOk);  // the longest that fits is sent
    EXPECT_EQ(static_cast<std::uint8_t>(rig.io->written.back()[1]), 0xFF);
}

TEST(ExecCommand, CancelSetBeforeTheCallSendsNothingAndReturnsNoOldAnswer) {
    Rig rig;
    rig.AnswerAlways("prev", {0x20, 0, 0, 0, 0, 0});
    rig.Exec(48, "");
    rig.state.CancelRequest = true;
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_EQ(rig.state.AnswerData, "");
    EXPECT_EQ(rig.state.StatusBytes, StatusBytesArray{});
    EXPECT_EQ(rig.state.StatusFlags, NoAnswer);
    EXPECT_EQ(rig.state.FailedAttempts, 0);
    EXPECT_EQ(rig.state.SequenceNumber, 0x21);
    EXPECT_TRUE(rig.host.questions.empty());
    EXPECT_TRUE(rig.state.CancelRequest);  // only read here
}

TEST(ExecCommand, CancelDuringAFailedFirstAttemptEndsAfterIt) {
    Rig rig;
    rig.host.onEvents = [&] { rig.state.CancelRequest = true; };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_EQ(rig.state.FailedAttempts, 1);
    EXPECT_EQ(rig.host.questions.size(), 1u);
}

// A printer that sends busy bytes every 100 ms for `busy`, then its answer.
// Busy bytes restart the gap until a Cancel; after it the answer in flight is
// awaited for one gap, and no second attempt follows.
TEST(ExecCommand, CancelEndsAnAttemptHeldOpenByBusyBytes) {
    struct Case {
        const char* what;
        std::chrono::milliseconds busy;
        std::optional<std::chrono::milliseconds> cancelAt;  // after the write
        ExecResult result;
        double endMs;  // when the call returned, after the write
    };
    const std::vector<Case> cases = {
        {"no cancel: busy for 10 s, then the answer", 10s, std::nullopt, ExecResult::ExecOk, 10000},
        {"the answer within a gap of the cancel", 3s, 2450ms, ExecResult::ExecOk, 3000},
        {"busy for ever", 600s, 1050ms, ExecResult::ExecNoAnswer, 1000 + 2000.16 + 300},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.io->respond = [&](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            std::vector<Chunk> chunks;
            for (auto at = 100ms; at < c.busy; at += 100ms)
                chunks.push_back({at, "\x16"});
            chunks.push_back({c.busy, EncodeAnswerFrame(request->sequence, request->command, "P", {})});
            return chunks;
        };
        const auto start = rig.host.now();
        rig.host.onEvents = [&] {
            if (c.cancelAt && rig.host.now() - start >= *c.cancelAt)
                rig.state.CancelRequest = true;
        };
        EXPECT_EQ(rig.Exec(48, ""), c.result) << c.what;
        EXPECT_EQ(rig.io->written.size(), 1u) << c.what;
        const double endMs = std::chrono::duration<double, std::milli>(rig.host.now() - start).count();
        EXPECT_NEAR(endMs, c.endMs, 1.0) << c.what;
        EXPECT_EQ(rig.state.FailedAttempts, c.result == ExecResult::ExecOk ? 0 : 1) << c.what;
    }
}

// What a watcher of the transactions hears, with the views copied out.
struct Heard {
    int command = 0;
    std::string data;
    std::optional<StatusBytesArray> status;
    std::string answer;
    TransactionResult result = TransactionResult::Answered;
    int attempts = 0;
    double durationMs = 0;
};

// Every transaction is told once as it ends, whatever became of it; the time an
// operator takes to answer the retry question is not the transaction's.
TEST(ExecCommand, EachTransactionIsToldOnceWithItsResult) {
    const StatusBytesArray fine{0x00, 0, 0, 0, 0, 0x08};
    const StatusBytesArray refused{0x21, 0x02, 0, 0, 0, 0x08};
    struct Case {
        const char* what;
        std::function<void(Rig&)> arrange;
        std::string data;
        TransactionResult result;
        std::optional<StatusBytesArray> status;
        std::string answer;
        int attempts;
        double durationMs;
    };
    const auto damaged = [](Rig& rig) {
        rig.io->respond = [](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            std::string answer = EncodeAnswerFrame(request->sequence, request->command, "X", {0x20, 0, 0, 0, 0, 0});
            answer[answer.size() - 2] ^= 1;  // checksum digit
            return std::vector<Chunk>{{1ms, answer}};
        };
    };
    const double silentAttempt = 2000.16 + 300;
    const std::vector<Case> cases = {
        {"answered", [&](Rig& rig) { rig.AnswerAlways("P", fine); }, "ab", TransactionResult::Answered, fine, "P",
         1, 1},
        {"refused", [&](Rig& rig) { rig.AnswerAlways("", refused); }, "ab", TransactionResult::Refused, refused, "",
         1, 1},
        {"answered at the second attempt",
         [&](Rig& rig) {
             rig.AnswerAlways("P", fine);
             rig.io->writeLimits = {3};
         },
         "ab", TransactionResult::Answered, fine, "P", 2, 300 + 1},
        {"silent twice", [](Rig&) {}, "ab", TransactionResult::NoAnswer, std::nullopt, "", 2, 2 * silentAttempt},
        {"malformed twice", damaged, "ab", TransactionResult::BadAnswer, std::nullopt, "X", 2, 2 * (1 + 300)},
        {"no port open", [](Rig& rig) { rig.link->ClosePort(); }, "ab", TransactionResult::NotSent, std::nullopt, "",
         0, 0},
        {"cancelled before sending", [](Rig& rig) { rig.state.CancelRequest = true; }, "ab",
         TransactionResult::NotSent, std::nullopt, "", 0, 0},
        {"too long", [](Rig&) {}, std::string(MaxRequestData + 1, 'x'), TransactionResult::NotSent, std::nullopt, "",
         0, 0},
        {"port lost while waiting",
         [](Rig& rig) {
             rig.host.onEvents = [&rig] {
                 if (!rig.io->written.empty() && rig.host.elapsedMs() >= 500)
                     rig.io->unplug("gone");
             };
         },
         "ab", TransactionResult::NoAnswer, std::nullopt, "", 1, 500},
        {"port lost before the frame went out",
         [](Rig& rig) { rig.host.onEvents = [&rig] { rig.io->unplug("gone"); }; }, "ab", TransactionResult::NotSent,
         std::nullopt, "", 1, 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.host.answerWait = 60s;
        c.arrange(rig);
        std::vector<Heard> heard;
        const auto start = rig.host.now();
        const Subscription watch = rig.transactor->OnTransaction([&](const TransactionReport& r) {
            EXPECT_FALSE(rig.transactor->InProgress()) << c.what;
            heard.push_back({r.command, std::string(r.data), r.status, std::string(r.answer), r.result, r.attempts,
                             std::chrono::duration<double, std::milli>(r.ended - r.started).count()});
            EXPECT_EQ(r.started, start) << c.what;
        });
        rig.Exec(48, c.data);
        ASSERT_EQ(heard.size(), 1u) << c.what;
        const Heard& h = heard[0];
        EXPECT_EQ(h.command, 48) << c.what;
        EXPECT_EQ(h.data, c.data) << c.what;
        EXPECT_EQ(h.result, c.result) << c.what;
        EXPECT_EQ(h.status, c.status) << c.what;
        EXPECT_EQ(h.answer, c.answer) << c.what;
        EXPECT_EQ(h.attempts, c.attempts) << c.what;
        EXPECT_NEAR(h.durationMs, c.durationMs, 1.0) << c.what;
    }
}

// A call refused as busy is no transaction; a watch that ended hears nothing more.
TEST(ExecCommand, ABusyCallAndAnEndedWatchHearNothing) {
    Rig rig;
    rig.AnswerAlways("outer");
    std::vector<int> heard;
    Subscription watch =
        rig.transactor->OnTransaction([&](const TransactionReport& r) { heard.push_back(r.command); });
    rig.host.onEvents = [&] {
        if (rig.transactor->InProgress())
            rig.Exec(49, "inner");
    };
    rig.Exec(48, "");
    EXPECT_EQ(heard, std::vector<int>{48});
    watch.Reset();
    rig.Exec(50, "");
    EXPECT_EQ(heard, std::vector<int>{48});
}

TEST(ExecCommand, ACallDuringATransactionIsRefused) {
    Rig rig;
    rig.AnswerAlways("outer");
    std::optional<ExecResult> inner;
    rig.host.onEvents = [&] {
        if (!inner && rig.transactor->InProgress())
            inner = rig.Exec(49, "inner");
    };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecOk);
    EXPECT_EQ(inner, ExecResult::ExecBusy);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_EQ(rig.state.AnswerData, "outer");
    EXPECT_EQ(rig.state.SequenceNumber, 0x21);
}

// A printer whose answers come in the same time are slept through: one wake-up
// takes the whole answer. A slower answer is waited for after the sleep and
// lengthens the time an eighth at a time; every eighth answer is timed afresh
// (a quicker one shortens it at once); busy bytes forget it.
TEST(ExecCommand, AnAnswerThatCameWholeInAKnownTimeIsSleptThrough) {
    Rig rig;  // 9600 bit/s: 1041 us a byte
    std::chrono::microseconds restAt = 3ms;
    std::string busy;
    rig.io->respond = [&](const std::string& written) {
        const auto request = DecodeRequestFrame(written);
        const std::string frame = EncodeAnswerFrame(request->sequence, request->command, "P", {});  // 18 bytes
        return std::vector<Chunk>{{1ms, busy + frame.substr(0, 4)}, {restAt, frame.substr(4)}};
    };
    // Learnt on a wait for 14 bytes to come at 1 ms: 1000 + 15 * 1041 us.
    constexpr std::chrono::microseconds learnt{16615};
    constexpr std::chrono::microseconds slower = learnt + 15 * 1041us / 8;  // the rest from the sleep's end
    struct Case {
        std::chrono::microseconds restAt;
        bool busy;
        std::optional<std::chrono::microseconds> slept;
        int waits;
    };
    const std::vector<Case> cases = {
        {3ms, false, std::nullopt, 2},  // first bytes, then their rest
        {3ms, false, learnt, 0},
        {30ms, false, learnt, 1},  // woken before the rest
        {3ms, false, slower, 0},    {3ms, false, slower, 0}, {3ms, false, slower, 0},
        {3ms, false, slower, 0},    {3ms, false, slower, 0},
        {3ms, false, std::nullopt, 2},  // the eighth since it was learnt, timed afresh
        {3ms, false, learnt, 0},
        {3ms, true, learnt, 0},  // busy first: forgotten
        {3ms, false, std::nullopt, 2},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        restAt = cases[i].restAt;
        busy = cases[i].busy ? "\x16" : "";
        rig.io->sleeps.clear();
        rig.io->waits = 0;
        EXPECT_EQ(rig.Exec(74, ""), ExecResult::ExecOk) << i;
        EXPECT_EQ(rig.io->sleeps.empty() ? std::nullopt : std::optional(rig.io->sleeps.front()), cases[i].slept) << i;
        EXPECT_EQ(rig.io->waits, cases[i].waits) << i;
    }
}

TEST(ExecCommand, EventsRunWhileWaiting) {
    Rig rig;
    rig.io->respond = [](const std::string& written) {
        const auto request = DecodeRequestFrame(written);
        return std::vector<Chunk>{{1500ms, EncodeAnswerFrame(request->sequence, request->command, "", {})}};
    };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecOk);
    // One turn before the write, then at least one per wait slice.
    EXPECT_GE(rig.host.eventTurns, 1 + 1500 / 50);
}

// A status dialog held open for seconds while the answer comes in: the bytes
// waiting are read before the silence is judged, so it is no time-out.
TEST(ExecCommand, AnAnswerThatArrivedDuringALongDialogIsNoTimeOut) {
    Rig rig;
    rig.AnswerAlways("late but here");
    bool dialogShown = false;
    rig.host.onEvents = [&] {
        if (!dialogShown && !rig.io->written.empty()) {
            dialogShown = true;
            rig.host.advance(5s);
        }
    };
    EXPECT_EQ(rig.Exec(48, ""), ExecResult::ExecOk);
    EXPECT_TRUE(dialogShown);
    EXPECT_EQ(rig.state.AnswerData, "late but here");
    EXPECT_EQ(rig.state.FailedAttempts, 0);
}

}  // namespace
}  // namespace tamrisk
