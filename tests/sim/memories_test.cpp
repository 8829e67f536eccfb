#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "memories.h"
#include "printermodel.h"
#include "simtesting.h"

namespace tamrisk::sim {
namespace {

using testing::ModelCaller;
using testing::Transact;

constexpr StatusArray Syntax{0x21, 0x00, 0x00, 0x00, 0x00, 0x3A};
constexpr StatusArray OutOfCode{0x20, 0x02, 0x00, 0x00, 0x00, 0x3A};
constexpr StatusArray OutOfFiscal{0x20, 0x02, 0x00, 0x00, 0x20, 0x3A};

std::string Hex(const std::vector<std::uint8_t>& memory, std::size_t from, std::size_t size) {
    std::string text;
    char pair[3];
    for (std::size_t i = from; i < from + size; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", memory[i]);
        text += pair;
    }
    return text;
}

struct BlockCase {
    int command;
    const char* data;
    std::size_t address;  // for an accepted read
    std::size_t size;     // 0: refused
    StatusArray refusal;
};

class BlockReadTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockReadTest, AnswersUpperCaseHexOrRefuses) {
    PrinterModel model;  // 128 KiB fiscal memory
    const BlockCase& c = GetParam();
    const auto exchange = Transact(model, 0x20, c.command, c.data);
    ASSERT_TRUE(exchange.check.passed);
    if (c.size == 0) {
        EXPECT_EQ(exchange.check.data, "");
        EXPECT_EQ(exchange.check.status, c.refusal);
        return;
    }
    const auto& memory = c.command == 121 ? model.CodeMemory() : model.FiscalMemory();
    EXPECT_EQ(exchange.check.data, Hex(memory, c.address, c.size));
    EXPECT_EQ(exchange.check.status, PrinterModel::HealthyStatus());
}

INSTANTIATE_TEST_SUITE_P(
    Model, BlockReadTest,
    ::testing::Values(BlockCase{121, "0000,64", 0x0000, 64, {}},
                      BlockCase{121, "FFC0,64", 0xFFC0, 64, {}},
                      BlockCase{121, "10000,64", 0x10000, 64, {}},
                      BlockCase{121, "2FFC0,64", 0x2FFC0, 64, {}},
                      BlockCase{121, "0FFC0,48", 0xFFC0, 48, {}},
                      BlockCase{121, "2FFC0,48", 0x2FFC0, 48, {}},
                      BlockCase{121, "1a2b,64", 0x1A2B, 64, {}},
                      BlockCase{121, "2FFC1,64", 0, 0, OutOfCode},
                      BlockCase{121, "30000,64", 0, 0, OutOfCode},
                      BlockCase{121, "30000,48", 0, 0, OutOfCode},
                      BlockCase{121, "0000,65", 0, 0, Syntax},
                      BlockCase{121, "0000,0", 0, 0, Syntax},
                      BlockCase{121, "0000", 0, 0, Syntax},
                      BlockCase{121, "G000,64", 0, 0, Syntax},
                      BlockCase{121, ",64", 0, 0, Syntax},
                      BlockCase{121, "0000,-1", 0, 0, Syntax},
                      BlockCase{116, "00000,64", 0, 64, {}},
                      BlockCase{116, "1FFC0,64", 0x1FFC0, 64, {}},
                      BlockCase{116, "20000,48", 0, 0, OutOfFiscal}));

TEST(MemoriesTest, CodeMemoryIsVariedAndRepeatableFromItsSeed) {
    const auto memory = MakeCodeMemory(1);
    ASSERT_EQ(memory.size(), 196608u);
    EXPECT_EQ(MakeCodeMemory(1), memory);
    EXPECT_NE(MakeCodeMemory(2), memory);
    const std::set<std::uint8_t> values(memory.begin(), memory.begin() + 4096);
    EXPECT_GT(values.size(), 200u);
}

struct FiscalSizeCase {
    int kib;
    char byte8;
};

class FiscalSizeTest : public ::testing::TestWithParam<FiscalSizeCase> {};

// Reads the fiscal memory as the station's reader does: byte 8 of the first block
// decides how many blocks follow, and exactly that many must be readable.
TEST_P(FiscalSizeTest, ByteEightTellsTheSizeTheModelServes) {
    SimOptions options;
    options.fiscalMemoryKiB = GetParam().kib;
    PrinterModel model(options);
    ModelCaller station(model);
    const std::string first = station.Request(116, "00000,64");
    ASSERT_EQ(first.size(), 128u);
    const int byte8 = std::stoi(first.substr(16, 2), nullptr, 16);
    EXPECT_EQ(byte8, GetParam().byte8);
    const std::size_t blocks = byte8 == '5' ? 1024 : byte8 == '6' ? 2048 : 4096;
    EXPECT_EQ(blocks * 64, model.FiscalMemory().size());

    char data[16];
    std::snprintf(data, sizeof data, "%05zX,64", (blocks - 1) * 64);
    EXPECT_EQ(station.Request(116, data).size(), 128u);
    StatusArray status{};
    std::snprintf(data, sizeof data, "%05zX,64", blocks * 64);
    EXPECT_EQ(station.Request(116, data, &status), "");
    EXPECT_EQ(status, OutOfFiscal);
}

INSTANTIATE_TEST_SUITE_P(Model, FiscalSizeTest,
                         ::testing::Values(FiscalSizeCase{64, '5'}, FiscalSizeCase{128, '6'},
                                           FiscalSizeCase{256, '7'}));

}  // namespace
}  // namespace tamrisk::sim
