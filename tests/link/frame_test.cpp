#include "frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

struct RequestVector {
    std::uint8_t sequence;
    int command;
    std::string data;
    std::string frame;
};

TEST(RequestFrame, EncodesTheKnownFrames) {
    const std::vector<RequestVector> vectors = {
        {0x20, 33, "", Bytes({0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03})},
        {0x21, 74, "W", Bytes({0x01, 0x25, 0x21, 0x4A, 0x57, 0x05, 0x30, 0x30, 0x3E, 0x3C, 0x03})},
        {0x7E, 45, "ABC", Bytes({0x01, 0x27, 0x7E, 0x2D, 0x41, 0x42, 0x43, 0x05, 0x30, 0x31, 0x39, 0x3D, 0x03})},
        // Only the low byte of the command number goes out.
        {0x20, 0x100 + 33, "", Bytes({0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03})},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(EncodeRequestFrame(v.sequence, v.command, v.data), v.frame) << v.command;
        const auto decoded = DecodeRequestFrame(v.frame);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->sequence, v.sequence);
        EXPECT_EQ(decoded->command, v.command & 0xFF);
        EXPECT_EQ(decoded->data, v.data);
    }
}

TEST(RequestFrame, LongestDataFillsTheLengthByte) {
    const std::string frame = EncodeRequestFrame(0x20, 48, std::string(MaxRequestData, 'x'));
    EXPECT_EQ(frame.size(), MaxRequestData + 10);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[1]), 0xFF);
    EXPECT_TRUE(DecodeRequestFrame(frame));
}

TEST(RequestFrame, DecodeRejectsDamagedFrames) {
    const std::string good = EncodeRequestFrame(0x21, 74, "W");
    std::vector<std::string> bad;
    for (std::size_t i = 0; i < good.size(); ++i) {
        std::string damaged = good;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x40);
        bad.push_back(damaged);
    }
    bad.push_back(good.substr(0, good.size() - 1));
    bad.push_back("");
    for (const auto& frame : bad) {
        // Flipping a data byte and a checksum digit could in principle cancel
        // out; one flip at a time never does.
        EXPECT_FALSE(DecodeRequestFrame(frame)) << testing::PrintToString(frame);
    }
}

TEST(Sequence, CyclesThroughThePrintableRange) {
    EXPECT_EQ(NextSequence(0x20), 0x21);
    EXPECT_EQ(NextSequence(0x7D), 0x7E);
    EXPECT_EQ(NextSequence(0x7E), 0x20);
    int steps = 0;
    std::uint8_t s = 0x20;
    do {
        s = NextSequence(s);
        ++steps;
    } while (s != 0x20);
    EXPECT_EQ(steps, 95);
}

ReceiveBufferArray Collect(const std::string& stream, AnswerReceiver* out = nullptr) {
    AnswerReceiver receiver;
    receiver.Reset();
    for (char c : stream)
        if (receiver.Push(static_cast<std::uint8_t>(c)) != AnswerReceiver::Step::More)
            break;
    if (out)
        *out = receiver;
    return receiver.Buffer();
}

const std::string kReadyAnswer =
    Bytes({0x01, 0x2C, 0x20, 0x4A, 0x50, 0x04, 0, 0, 0, 0, 0, 0, 0x05, 0x30, 0x30, 0x3E, 0x3F, 0x03});

TEST(AnswerFrame, TheKnownReadinessAnswerPasses) {
    AnswerReceiver receiver;
    const auto r = Collect(kReadyAnswer, &receiver);
    const AnswerCheck check = TestAnswerFrame(r, 0x20, 74);
    EXPECT_TRUE(check.passed);
    EXPECT_EQ(check.data, "P");
    EXPECT_EQ(check.status, StatusBytesArray{});
    EXPECT_EQ(receiver.SynCount(), 0);
    EXPECT_EQ(EncodeAnswerFrame(0x20, 74, "P", {}), kReadyAnswer);
}

TEST(AnswerFrame, SynBytesBeforeTheFrameAreCountedAndDropped) {
    AnswerReceiver receiver;
    const auto r = Collect(Bytes({0x16, 0x16, 0x16}) + kReadyAnswer, &receiver);
    EXPECT_TRUE(TestAnswerFrame(r, 0x20, 74).passed);
    EXPECT_EQ(receiver.SynCount(), 3);
}

TEST(AnswerFrame, ReceiverKeepsOnlyWhatFollowsTheLastStartByte) {
    EXPECT_TRUE(TestAnswerFrame(Collect("noise" + Bytes({0x01, 0x02}) + kReadyAnswer), 0x20, 74).passed);
}

TEST(AnswerFrame, ReceiverStopsAtTheLimitWithoutAnEndByte) {
    AnswerReceiver receiver;
    receiver.Reset();
    AnswerReceiver::Step step = AnswerReceiver::Step::More;
    int pushed = 0;
    while (step == AnswerReceiver::Step::More) {
        step = receiver.Push('A');
        ++pushed;
    }
    EXPECT_EQ(step, AnswerReceiver::Step::Full);
    EXPECT_EQ(pushed, 256);
    EXPECT_EQ(receiver.Position(), 256u);
}

// The LEN byte tells how many bytes of the frame are still to come, through
// its 0x03; before it, and after a SYN restarted the frame, nothing is known.
TEST(AnswerFrame, TheLengthByteTellsTheBytesStillToCome) {
    for (const std::string& data :
         std::vector<std::string>{"", "P", std::string(40, 'D'), std::string(MaxAnswerData, 'x')}) {
        SCOPED_TRACE(data.size());
        const std::string answer = EncodeAnswerFrame(0x21, 121, data, {});
        AnswerReceiver receiver;
        receiver.Reset();
        EXPECT_EQ(receiver.BytesToCome(), 0u);
        for (std::size_t i = 0; i + 1 < answer.size(); ++i) {
            ASSERT_EQ(receiver.Push(static_cast<std::uint8_t>(answer[i])), AnswerReceiver::Step::More);
            EXPECT_EQ(receiver.BytesToCome(), i == 0 ? 0u : answer.size() - i - 1) << i;
        }
        EXPECT_EQ(receiver.Push(FrameEnd), AnswerReceiver::Step::Ended);
    }
    AnswerReceiver receiver;
    receiver.Reset();
    for (const char byte : EncodeAnswerFrame(0x21, 74, "P", {}).substr(0, 5))
        receiver.Push(static_cast<std::uint8_t>(byte));
    EXPECT_GT(receiver.BytesToCome(), 0u);
    receiver.Push(Syn);
    EXPECT_EQ(receiver.BytesToCome(), 0u);
    for (const char byte : std::string("noise"))
        receiver.Push(static_cast<std::uint8_t>(byte));
    EXPECT_EQ(receiver.BytesToCome(), 0u);
}

TEST(AnswerFrame, SynInsideTheFrameRestartsIt) {
    std::string answer = EncodeAnswerFrame(0x20, 48, "AB", {});
    answer.insert(5, 1, '\x16');
    AnswerReceiver receiver;
    const auto r = Collect(answer, &receiver);
    EXPECT_EQ(r[0], 0x16);
    EXPECT_FALSE(TestAnswerFrame(r, 0x20, 48).passed);
    EXPECT_EQ(receiver.SynCount(), 1);
}

// Each of the answer tests failing on its own, and what is copied by then.
struct FailingAnswer {
    const char* what;
    std::string stream;
    int failedTest;
    bool dataCopied;
    bool statusCopied;
};

TEST(AnswerFrame, EachTestFailsOnItsOwnAndCopiesOnlyWhatPassedBefore) {
    const StatusBytesArray status{0x21, 0x02, 0, 0, 0, 0};
    const std::string good = EncodeAnswerFrame(0x20, 48, "DATA", status);  // m = 4
    auto with = [&](std::size_t index, int value) {
        std::string s = good;
        s[index] = static_cast<char>(value);
        return s;
    };
    std::string trailing = good;
    trailing.insert(trailing.size() - 1, 1, 'Z');
    const std::vector<FailingAnswer> cases = {
        {"no start byte", good.substr(1), 1, false, false},
        {"length below 0x2B", with(1, 0x2A), 2, false, false},
        {"sequence of another request", with(2, 0x21), 3, false, false},
        {"other command", with(3, 49), 4, false, false},
        {"no status separator", with(8, 0x06), 5, true, false},
        {"no end of status", with(15, 0x06), 7, true, true},
        {"checksum digit off", with(16, 0x31), 8, true, true},
        {"byte between checksum and end", trailing, 9, true, true},
    };
    for (const auto& c : cases) {
        const AnswerCheck check = TestAnswerFrame(Collect(c.stream), 0x20, 48);
        EXPECT_FALSE(check.passed) << c.what;
        EXPECT_EQ(check.failedTest, c.failedTest) << c.what;
        EXPECT_EQ(check.dataCopied, c.dataCopied) << c.what;
        EXPECT_EQ(check.statusCopied, c.statusCopied) << c.what;
        if (c.dataCopied) {
            EXPECT_EQ(check.data, "DATA") << c.what;
        }
        if (c.statusCopied) {
            EXPECT_EQ(check.status, status) << c.what;
        }
    }
}

TEST(AnswerFrame, DataHoldingFramingBytesIsNotReceivedWhole) {
    for (char framing : {'\x01', '\x03', '\x16'}) {
        const std::string answer = EncodeAnswerFrame(0x20, 48, std::string("A") + framing + "B", {});
        EXPECT_FALSE(TestAnswerFrame(Collect(answer), 0x20, 48).passed) << int(framing);
    }
}

TEST(AnswerFrame, CommandAboveAByteNeverMatches) {
    const std::string answer = EncodeAnswerFrame(0x20, 48, "", {});
    EXPECT_FALSE(TestAnswerFrame(Collect(answer), 0x20, 48 + 256).passed);
}

TEST(AnswerFrame, LargestAnswerDataPasses) {
    const std::string data(MaxAnswerData, 'F');
    const AnswerCheck check = TestAnswerFrame(Collect(EncodeAnswerFrame(0x7E, 116, data, {})), 0x7E, 116);
    EXPECT_TRUE(check.passed);
    EXPECT_EQ(check.data, data);
}

}  // namespace
}  // namespace tamrisk
