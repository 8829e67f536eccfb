#include "journalbinary.h"
#include "printercommands.h"
#include "printerrig.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::PrinterRig;
using testing::ReadFileBytes;
using testing::Reply;
using testing::WriteFileBytes;

// "P," and 64 bytes of `fill` as hex.
std::string DataAnswer(unsigned char fill) {
    std::string answer = "P,";
    for (int k = 0; k < 64; ++k)
        answer += Hex(fill, 2);
    return answer;
}

TEST(StartAddress, NineUpperCaseHexDigitsAtMost) {
    const std::vector<std::pair<const char*, std::optional<std::uint64_t>>> cases = {
        {"1A2B", 0x1A2B}, {"", 0}, {"0", 0}, {"FFFFFFFFF", 0xFFFFFFFFFull}, {"000000001", 1},
        {"1a2b", std::nullopt}, {"12G", std::nullopt}, {" 1A", std::nullopt}, {"1A ", std::nullopt},
        {"0123456789", std::nullopt}, {"-1", std::nullopt}};
    for (const auto& [text, address] : cases)
        EXPECT_EQ(ParseStartAddress(text), address) << '"' << text << '"';
}

TEST(JournalProgress, NextAddressAndCount) {
    EXPECT_EQ(JournalProgressText(0x40, 64), "Address: 000000040   Read: 64 ");
    EXPECT_EQ(JournalProgressText(0xFFFFFFFFFull + 64, 64), "Address: 100000003F   Read: 64 ");
    EXPECT_EQ(JournalProgressText(64000, 64000), "Address: 00000FA00   Read: 64000 ");
}

TEST(JournalBlock, DecodesAnyCharacterByItsLowBits) {
    std::string answer = "P," + std::string(128, '0');
    answer.replace(2, 6, "A5f1G:");  // 0xA5, 'f' counts 6 and '1' 1, 'G' 7 and ':' 10
    const auto block = DecodeJournalBlock(answer);
    ASSERT_TRUE(block);
    EXPECT_EQ(static_cast<unsigned char>((*block)[0]), 0xA5);
    EXPECT_EQ(static_cast<unsigned char>((*block)[1]), 0x61);
    EXPECT_EQ(static_cast<unsigned char>((*block)[2]), 0x7A);
    EXPECT_FALSE(DecodeJournalBlock(answer.substr(0, 129)));
}

struct CopyRig : PrinterRig {
    QTemporaryDir dir;
    QString path = dir.filePath("klen.bin");
    bool stop = false;
    std::vector<std::string> progress;

    JournalCopyResult Copy(std::uint64_t start, bool keepExisting = true) {
        JournalCopyOptions options;
        options.start = start;
        options.keepExistingWhenEmpty = keepExisting;
        options.stopRequested = &stop;
        options.progress = [this](const std::string& text) { progress.push_back(text); };
        return CopyJournalToFile(*transactor, host, path, options);
    }
};

TEST(JournalCopy, AdvancesBy64WhateverTheAlignment) {
    CopyRig rig;
    int served = 0;
    rig.printer = [&](int, const std::string&) -> std::optional<Reply> {
        return ++served <= 3 ? Reply{DataAnswer(static_cast<unsigned char>(served))} : Reply{"F"};
    };
    ASSERT_TRUE(WriteFileBytes(rig.path, std::string(1000, 'x')));  // a longer old copy is replaced, not overlaid
    const auto result = rig.Copy(0x1A2B);
    EXPECT_EQ(result.end, JournalCopyEnd::EndOfData);
    ASSERT_EQ(rig.requests.size(), 4u);
    EXPECT_EQ(rig.requests[0], "119:R,Q1A2B,64");
    EXPECT_EQ(rig.requests[1], "119:R,Q1A6B,64");
    EXPECT_EQ(ReadFileBytes(rig.path).toStdString(),
              std::string(64, '\1') + std::string(64, '\2') + std::string(64, '\3'));
    EXPECT_EQ(rig.progress.back(), "Address: 000001AEB   Read: 192 ");
}

TEST(JournalCopy, EndingsLeaveExactlyTheBlocksRead) {
    struct Case {
        const char* name;
        int dataBlocks;           // answers with data before the odd one
        std::optional<Reply> odd;  // then this
        bool fileExisted;
        bool keepExisting;
        JournalCopyEnd end;
        const char* content;  // expected file: "old" or N blocks of 0x11
    };
    const std::vector<Case> cases = {
        {"no data, new file", 0, Reply{"F"}, false, true, JournalCopyEnd::EndOfData, ""},
        {"no data, old file kept", 0, Reply{"F"}, true, true, JournalCopyEnd::EndOfData, "old"},
        {"no data, old file emptied", 0, Reply{"F"}, true, false, JournalCopyEnd::EndOfData, ""},
        {"silent printer", 2, std::nullopt, true, true, JournalCopyEnd::Failed, "2"},
        {"refused", 1, Reply{"", {0x21, 0, 0, 0, 0, 0}}, false, true, JournalCopyEnd::EndOfData, "1"},
        {"short data answer", 2, Reply{"P,0011"}, false, true, JournalCopyEnd::ShortAnswer, "2"},
    };
    for (const Case& c : cases) {
        CopyRig rig;
        int served = 0;
        rig.printer = [&](int, const std::string&) -> std::optional<Reply> {
            return served++ < c.dataBlocks ? Reply{DataAnswer(0x11)} : c.odd;
        };
        if (c.fileExisted) {
            ASSERT_TRUE(WriteFileBytes(rig.path, "old"));
        }
        const auto result = rig.Copy(0, c.keepExisting);
        EXPECT_EQ(result.end, c.end) << c.name;
        const std::string expected =
            std::string(c.content) == "old" ? "old" : std::string(64 * std::atoi(c.content), '\x11');
        EXPECT_EQ(ReadFileBytes(rig.path).toStdString(), expected) << c.name;
        EXPECT_EQ(result.bytesRead, static_cast<std::int64_t>(expected == "old" ? 0 : expected.size())) << c.name;
    }
}

TEST(JournalCopy, StopIsSeenBeforeTheNextBlock) {
    CopyRig rig;
    rig.printer = [&](int, const std::string&) -> std::optional<Reply> { return Reply{DataAnswer(0x22)}; };
    rig.stop = true;  // Stop pressed before Start: the file is made, nothing read
    EXPECT_EQ(rig.Copy(0).end, JournalCopyEnd::Stopped);
    EXPECT_TRUE(rig.requests.empty());
    EXPECT_EQ(ReadFileBytes(rig.path).toStdString(), "");

    rig.stop = false;
    rig.host.onEvents = [&] { rig.stop = rig.stop || rig.progress.size() == 1000; };
    const auto result = rig.Copy(0xFFFFFFFFFull);
    EXPECT_EQ(result.end, JournalCopyEnd::Stopped);
    EXPECT_EQ(rig.progress.back(), JournalProgressText(0xFFFFFFFFFull + 64000, 64000));
    EXPECT_EQ(ReadFileBytes(rig.path).toStdString().size(), 64000u);
}

TEST(JournalCopy, AFileThatCannotBeMadeIsReportedBeforeAnyRequest) {
    CopyRig rig;
    rig.printer = [&](int, const std::string&) -> std::optional<Reply> { return Reply{"F"}; };
    rig.path = rig.dir.filePath("missing/klen.bin");
    const auto result = rig.Copy(0);
    EXPECT_EQ(result.end, JournalCopyEnd::OpenFailed);
    EXPECT_TRUE(result.fileError.startsWith(rig.path + ": "));
    EXPECT_TRUE(rig.requests.empty());
}

}  // namespace
}  // namespace tamrisk
