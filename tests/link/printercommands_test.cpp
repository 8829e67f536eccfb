#include "printercommands.h"
#include "statusbits.h"

#include <gtest/gtest.h>

#include <set>

namespace tamrisk {
namespace {

TEST(PrinterCommands, ComposeTheirDataTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {SetDateTimeData({2012, 3, 7, 9, 5}), "07-03-12 09:05"},
        {SetDateTimeData({2000, 12, 31, 23, 59}), "31-12-00 23:59"},
        {CodeBlockData(0), "0000,64"},
        {CodeBlockData(0xFFC0), "FFC0,64"},
        {CodeBlockData(0x10000), "10000,64"},
        {FiscalBlockData(0x40), "00040,64"},
        {MemoryTailData(0xFFC0), "0FFC0,48"},
        {MemoryTailData(0x2FFC0), "2FFC0,48"},
        {JournalReadFirstData("Z1-3"), "R,Z1-3"},
        {JournalNextData(), "N"},
        {JournalPrintData(true, "D5"), "P,<D5"},
        {JournalPrintData(false, "D5"), "P,>D5"},
        {JournalCheckData("Z7"), "C,Z7"},
        {JournalInfoData(), "I"},
        {JournalRawBlockData(0), "R,Q0,64"},
        {JournalRawBlockData(0x1A40), "R,Q1A40,64"},
        {JournalRawBlockData(0x123456789ull), "R,Q123456789,64"},
    };
    for (const auto& [made, expected] : cases)
        EXPECT_EQ(made, expected);
}

TEST(StatusBitTable, NamesEveryShownBitOnceWithItsFlag) {
    std::set<std::string> boxes;
    std::set<std::uint32_t> flags;
    int shown = 0;
    for (const StatusBit& bit : StatusBitTable()) {
        if (bit.checkBox != nullptr) {
            ++shown;
            EXPECT_EQ(std::string(bit.checkBox), "Status" + std::to_string(bit.byte) + std::to_string(bit.bit));
            EXPECT_TRUE(boxes.insert(bit.checkBox).second);
        }
        EXPECT_NE(bit.byte, 3);
        if (bit.flag != 0) {
            EXPECT_TRUE(flags.insert(bit.flag).second) << bit.flag;
        }
    }
    EXPECT_EQ(shown, 25);
    EXPECT_EQ(flags.size(), 27u);  // all but S0.6 are mapped
    EXPECT_EQ(LinkConditionTable().size(), 2u);
}

}  // namespace
}  // namespace tamrisk
