#include "statusbits.h"

#include <array>

namespace tamrisk {

namespace {

constexpr std::array<StatusBit, 28> Bits{{
    {0, 0, "Status00", "Syntax error", SyntaxErrorFlag, false},
    {0, 1, "Status01", "Invalid command", InvalidCommandFlag, false},
    {0, 2, "Status02", "Date and time not correct", DateTimeWrongFlag, false},
    {0, 3, "Status03", "No display connected", NoDisplayFlag, false},
    {0, 5, "Status05", "Common error", CommonErrorFlag, true},
    {0, 6, "Status06", "Cover open", 0, false},
    {1, 0, "Status10", "Arithmetic overflow", ArithmeticOverflowFlag, false},
    {1, 1, "Status11", "Command not permitted", NotPermittedFlag, false},
    {1, 4, "Status14", "RAM reset", RamResetFlag, false},
    {1, 5, "Status15", "Rotated receipt open", RotatedReceiptOpenFlag, false},
    {2, 0, "Status20", "Out of paper", OutOfPaperFlag, false},
    {2, 1, "Status21", "Paper near end", PaperNearEndFlag, false},
    {2, 2, "Status22", "Край на контролна лента", ControlTapeEndFlag, false},
    {2, 3, "Status23", "Fiscal receipt open", FiscalReceiptOpenFlag, false},
    {2, 4, "Status24", "Journal near end", JournalNearEndFlag, false},
    {2, 5, "Status25", "Non-fiscal receipt open", NonFiscalReceiptOpenFlag, false},
    {4, 0, "Status40", "Error writing to fiscal memory", FiscalMemoryWriteErrorFlag, false},
    {4, 3, "Status43", "Less than 30 records in FM", FewFiscalRecordsFlag, false},
    {4, 4, "Status44", "Fiscal memori full", FiscalMemoryFullFlag, false},
    {4, 5, "Status45", "Common fiscal error", CommonFiscalErrorFlag, true},
    {5, 0, "Status50", "Fiscal memory is Read Only", FiscalMemoryReadOnlyFlag, false},
    {5, 1, "Status51", "Fiscal memory formatted", FiscalMemoryFormattedFlag, false},
    {5, 3, "Status53", "Printer fiscalized", FiscalizedFlag, false},
    {5, 4, "Status54", "VAT rates set", VatRatesSetFlag, false},
    {5, 5, "Status55", "Serial number set", SerialNumberSetFlag, false},
    {1, 2, nullptr, nullptr, Status12Flag, false},
    {4, 2, nullptr, nullptr, Status42Flag, false},
    {5, 2, nullptr, nullptr, Status52Flag, false},
}};

constexpr std::array<LinkConditionBox, 2> LinkBoxes{{
    {"Status_Timeout", "No printer response", NoAnswer},
    {"Status_Protocol", "Protocol error", BadProtocol},
}};

}  // namespace

std::span<const StatusBit> StatusBitTable() { return Bits; }

std::span<const LinkConditionBox> LinkConditionTable() { return LinkBoxes; }

}  // namespace tamrisk
