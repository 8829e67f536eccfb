#include "statusbits.h"

#include "transaction.h"

#include <array>

namespace tamrisk {

namespace {

constexpr std::array<StatusBit, 28> Bits{{
    {0, 0, "Status00", "Syntax error", 0x1, false},
    {0, 1, "Status01", "Invalid command", 0x2, false},
    {0, 2, "Status02", "Date and time not correct", 0x4, false},
    {0, 3, "Status03", "No display connected", 0x1000000, false},
    {0, 5, "Status05", "Common error", 0x20000000, true},
    {0, 6, "Status06", "Cover open", 0, false},
    {1, 0, "Status10", "Arithmetic overflow", 0x10, false},
    {1, 1, "Status11", "Command not permitted", 0x20, false},
    {1, 4, "Status14", "RAM reset", 0x100, false},
    {1, 5, "Status15", "Rotated receipt open", 0x2000000, false},
    {2, 0, "Status20", "Out of paper", 0x200, false},
    {2, 1, "Status21", "Paper near end", 0x1000, false},
    {2, 2, "Status22", "Край на контролна лента", 0x8, false},
    {2, 3, "Status23", "Fiscal receipt open", 0x400, false},
    {2, 4, "Status24", "Journal near end", 0x80, false},
    {2, 5, "Status25", "Non-fiscal receipt open", 0x800, false},
    {4, 0, "Status40", "Error writing to fiscal memory", 0x10000, false},
    {4, 3, "Status43", "Less than 30 records in FM", 0x100000, false},
    {4, 4, "Status44", "Fiscal memori full", 0x20000, false},
    {4, 5, "Status45", "Common fiscal error", 0x40000000, true},
    {5, 0, "Status50", "Fiscal memory is Read Only", 0x40000, false},
    {5, 1, "Status51", "Fiscal memory formatted", 0x200000, false},
    {5, 3, "Status53", "Printer fiscalized", 0x400000, false},
    {5, 4, "Status54", "VAT rates set", 0x8000, false},
    {5, 5, "Status55", "Serial number set", 0x4000, false},
    {1, 2, nullptr, nullptr, 0x40, false},
    {4, 2, nullptr, nullptr, 0x2000, false},
    {5, 2, nullptr, nullptr, 0x80000, false},
}};

constexpr std::array<LinkConditionBox, 2> LinkBoxes{{
    {"Status_Timeout", "No printer response", NoAnswer},
    {"Status_Protocol", "Protocol error", BadProtocol},
}};

}  // namespace

std::span<const StatusBit> StatusBitTable() { return Bits; }

std::span<const LinkConditionBox> LinkConditionTable() { return LinkBoxes; }

}  // namespace tamrisk
