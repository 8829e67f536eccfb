#include "hexdump.h"
#include "memoryreader.h"
#include "printercommands.h"
#include "printerrig.h"

#include <gtest/gtest.h>

#include <memory>

namespace tamrisk {
namespace {

using testing::PrinterRig;
using testing::Reply;

// Collects what a read shows.
struct Recorder : MemoryReadObserver {
    std::vector<std::string> lines;
    std::vector<int> progress;
    int probesPassed = 0;
    int blocksFailed = 0;
    std::function<void(int lineCount)> onLine;
    void ProbesPassed() override { ++probesPassed; }
    void BlockFailed() override { ++blocksFailed; }
    void HexLine(const std::string& line) override {
        lines.push_back(line);
        if (onLine)
            onLine(static_cast<int>(lines.size()));
    }
    void Progress(int value) override { progress.push_back(value); }
};

// 128 hex digits of a block whose byte k is (address + k) & 0xFF.
std::string BlockHex(std::uint32_t address, int bytes = 64) {
    std::string hex;
    for (int k = 0; k < bytes; ++k)
        hex += Hex((address + static_cast<std::uint32_t>(k)) & 0xFF, 2);
    return hex;
}

// The block's address from "ADDRESS,LENGTH".
std::uint32_t AddressOf(const std::string& data) {
    return static_cast<std::uint32_t>(std::stoul(data.substr(0, data.find(',')), nullptr, 16));
}

constexpr StatusBytesArray Refusal{0x21, 0, 0, 0, 0x20, 0};  // syntax error, common fiscal error

TEST(HexLine, ShowsAddressPairsAsReceivedAndCharacters) {
    const std::string hex = "48656C6C6F2C20776F726C6421000102";
    const auto bytes = DecodeHexBytes(hex, 16);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(FormatHexLine(0x100, hex, *bytes),
              "00100  48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21 00 01 02  Hello, world!...");
    // Lower-case pairs stay as the printer sent them; bytes from 0x20 up are shown as they are.
    const std::string lower = "7f1fe0c0202020202020202020202020";
    const std::string line = FormatHexLine(0x2FFF0, lower, *DecodeHexBytes(lower, 16));
    EXPECT_EQ(line.size(), 72u);
    EXPECT_EQ(line.substr(0, 18), "2FFF0  7f 1f e0 c0");
    EXPECT_EQ(line.substr(56, 4), "\x7F.\xE0\xC0");
    EXPECT_FALSE(DecodeHexBytes("4G", 1));
    EXPECT_FALSE(DecodeHexBytes("48", 2));
}

TEST(ReadProgress, StepsByTheBlockCountAndEndsAt255) {
    const std::vector<std::tuple<int, int, int>> cases = {
        {0, 3072, 0}, {11, 3072, 0}, {12, 3072, 1}, {3070, 3072, 255}, {3071, 3072, 255},
        {4, 1024, 1}, {1023, 1024, 255}, {8, 2048, 1}, {16, 4096, 1}, {4094, 4096, 255}};
    for (const auto& [i, count, value] : cases)
        EXPECT_EQ(ReadProgress(i, count), value) << i << " of " << count;
}

TEST(FiscalMemoryRead, SizeComesFromByteEightOfTheFirstBlock) {
    const std::vector<std::pair<char, int>> cases = {{'5', 1024}, {'6', 2048}, {'7', 4096}, {'\0', 4096}};
    for (const auto& [byte8, blocks] : cases) {
        PrinterRig rig;
        rig.printer = [&](int command, const std::string& data) -> std::optional<Reply> {
            if (command == CmdReadiness)
                return Reply{"P"};
            std::string hex = BlockHex(AddressOf(data));
            if (AddressOf(data) == 0)
                hex.replace(16, 2, Hex(static_cast<unsigned char>(byte8), 2));
            return Reply{hex};
        };
        MemoryReaderState state;
        Recorder seen;
        const auto result = ReadMemory(*rig.transactor, rig.host, FiscalMemoryRead, state, seen);
        EXPECT_EQ(result.end, MemoryReadEnd::Complete) << byte8;
        EXPECT_EQ(state.Image.length, blocks * 64) << byte8;
        EXPECT_EQ(seen.lines.size(), static_cast<std::size_t>(blocks) * 4);
        EXPECT_FALSE(result.tailRead);  // a full read, even of 4096 blocks, has no tail
        ASSERT_EQ(rig.requests.size(), 2u + blocks);
        EXPECT_EQ(rig.requests[2], "116:00000,64");
        EXPECT_EQ(rig.requests.back(), "116:" + FiscalBlockData((blocks - 1) * 64));
    }
}

// How a read ends on an unusual answer, and what the tail then stores.
TEST(MemoryRead, EndingsAndTheTail) {
    struct Case {
        const char* name;
        const MemoryReadConfig* config;
        std::uint32_t oddAddress;  // the block that answers oddly
        std::optional<Reply> oddBlock;
        std::optional<Reply> tail;  // the answer to the tail request
        MemoryReadEnd end;
        const char* tailRequest;
        std::int32_t length;
        std::size_t lines;
        int failedDialogs;
    };
    const std::string hex127 = BlockHex(0x140).substr(0, 127);
    const std::string badPair = BlockHex(0x140).replace(100, 2, "G0");
    const std::vector<Case> cases = {
        {"127 characters", &CodeMemoryRead, 0x140, Reply{hex127}, Reply{BlockHex(0x140, 48)},
         MemoryReadEnd::ShortAnswer, "121:00140,48", 5 * 64 + 48, 23, 0},
        {"pair not hexadecimal", &CodeMemoryRead, 0x140, Reply{badPair}, Reply{BlockHex(0x140, 48)},
         MemoryReadEnd::InvalidAnswer, "121:00140,48", 5 * 64 + 48, 23, 0},
        {"tail at FFC0", &CodeMemoryRead, 0xFFC0, Reply{"00"}, Reply{BlockHex(0xFFC0, 48)},
         MemoryReadEnd::ShortAnswer, "121:0FFC0,48", 0xFFC0 + 48, 0xFFC0 / 16 + 3, 0},
        {"first block and tail refused", &FiscalMemoryRead, 0, Reply{"", Refusal}, Reply{"", Refusal},
         MemoryReadEnd::FailedBlock, "116:00000,48", 0, 0, 1},
        {"tail refused without fiscal error", &CodeMemoryRead, 0x80, Reply{"", {0x21, 0, 0, 0, 0, 0}},
         Reply{BlockHex(0x80, 48), {0x21, 0, 0, 0, 0, 0}}, MemoryReadEnd::FailedBlock, "121:00080,48",
         2 * 64 + 48, 11, 1},
        // Without an answer of its own the tail takes nothing from the block before it.
        {"tail unanswered", &CodeMemoryRead, 0x80, Reply{std::string(100, 'E')}, std::nullopt, MemoryReadEnd::ShortAnswer,
         "121:00080,48", 2 * 64, 8, 0},
        // Only the answer's own whole pairs are stored.
        {"tail of 41 characters", &CodeMemoryRead, 0x80, Reply{"1"}, Reply{BlockHex(0x80, 20) + "A"},
         MemoryReadEnd::ShortAnswer, "121:00080,48", 2 * 64 + 20, 10, 0},
    };
    for (const Case& c : cases) {
        PrinterRig rig;
        rig.printer = [&](int command, const std::string& data) -> std::optional<Reply> {
            if (command == CmdReadiness)
                return Reply{"P"};
            const std::uint32_t address = AddressOf(data);
            if (data.ends_with(",48"))
                return c.tail;
            if (address == c.oddAddress)
                return c.oddBlock;
            return Reply{BlockHex(address)};
        };
        MemoryReaderState state;
        Recorder seen;
        const auto result = ReadMemory(*rig.transactor, rig.host, *c.config, state, seen);
        EXPECT_EQ(result.end, c.end) << c.name;
        EXPECT_TRUE(result.tailRead) << c.name;
        EXPECT_EQ(rig.requests.back(), c.tailRequest) << c.name;
        EXPECT_EQ(state.Image.length, c.length) << c.name;
        EXPECT_EQ(seen.lines.size(), c.lines) << c.name;
        EXPECT_EQ(seen.blocksFailed, c.failedDialogs) << c.name;
        // Every stored byte is the printer's byte at its address.
        for (std::int32_t n = 0; n < state.Image.length; ++n)
            ASSERT_EQ(static_cast<unsigned char>(state.Image.bytes[n]), n & 0xFF) << c.name << " at " << n;
        for (const std::string& line : seen.lines)
            ASSERT_EQ(line.size(), 72u) << c.name;
    }
}

TEST(MemoryRead, RefusedProbeReadsNothingAndKeepsTheImage) {
    PrinterRig rig;
    int probes = 0;
    rig.printer = [&](int, const std::string&) -> std::optional<Reply> {
        return ++probes == 2 ? Reply{"", {0x02, 0, 0, 0, 0, 0}} : Reply{"P"};
    };
    MemoryReaderState state;
    state.Image.Append("kept");
    Recorder seen;
    const auto result = ReadMemory(*rig.transactor, rig.host, CodeMemoryRead, state, seen);
    EXPECT_EQ(result.end, MemoryReadEnd::Refused);
    EXPECT_EQ(rig.requests.size(), 2u);
    EXPECT_EQ(seen.probesPassed, 0);
    EXPECT_EQ(state.Image.View(), "kept");
}

TEST(MemoryRead, CancelDuringABlockEndsAfterItWithoutTail) {
    PrinterRig rig;
    rig.printer = [&](int command, const std::string& data) -> std::optional<Reply> {
        return command == CmdReadiness ? Reply{"P"} : Reply{BlockHex(AddressOf(data))};
    };
    MemoryReaderState state;
    Recorder seen;
    // Cancel pressed while block 100 is on the line.
    rig.host.onEvents = [&] {
        if (!rig.requests.empty() && rig.requests.back() == "121:1900,64")
            state.ReadCancelled = true;
    };
    const auto result = ReadMemory(*rig.transactor, rig.host, CodeMemoryRead, state, seen);
    EXPECT_EQ(result.end, MemoryReadEnd::Cancelled);
    EXPECT_FALSE(result.tailRead);
    EXPECT_EQ(state.Image.length, 6464);
    EXPECT_EQ(rig.requests.size(), 2u + 101u);
}

}  // namespace
}  // namespace tamrisk
