#pragma once
// What the six status bytes of an answer mean: each named bit with its check
// box, caption and StatusFlags bit. The status dialog and the CLI share it.

#include <cstdint>
#include <span>

namespace tamrisk {

// StatusFlags, the condition word of the last transaction: three link bits and
// the printer's status bits that the station maps, each at a fixed position.
// Every flag's value is stated here and nowhere else.

// The link's conditions.
constexpr std::uint32_t PortNotOpen = 0x80000000u;  // no port was open, or it was lost on the way
constexpr std::uint32_t NoAnswer = 0x10000000u;     // the reception timed out
constexpr std::uint32_t BadProtocol = 0x08000000u;  // an answer came but failed a frame test

// The printer's status bits (Sn.b: bit b of status byte n).
constexpr std::uint32_t SyntaxErrorFlag = 0x1u;                 // S0.0
constexpr std::uint32_t InvalidCommandFlag = 0x2u;              // S0.1
constexpr std::uint32_t DateTimeWrongFlag = 0x4u;               // S0.2
constexpr std::uint32_t ControlTapeEndFlag = 0x8u;              // S2.2
constexpr std::uint32_t ArithmeticOverflowFlag = 0x10u;         // S1.0
constexpr std::uint32_t NotPermittedFlag = 0x20u;               // S1.1
constexpr std::uint32_t Status12Flag = 0x40u;                   // S1.2, no caption
constexpr std::uint32_t JournalNearEndFlag = 0x80u;             // S2.4
constexpr std::uint32_t RamResetFlag = 0x100u;                  // S1.4
constexpr std::uint32_t OutOfPaperFlag = 0x200u;                // S2.0
constexpr std::uint32_t FiscalReceiptOpenFlag = 0x400u;         // S2.3
constexpr std::uint32_t NonFiscalReceiptOpenFlag = 0x800u;      // S2.5
constexpr std::uint32_t PaperNearEndFlag = 0x1000u;             // S2.1
constexpr std::uint32_t Status42Flag = 0x2000u;                 // S4.2, no caption
constexpr std::uint32_t SerialNumberSetFlag = 0x4000u;          // S5.5
constexpr std::uint32_t VatRatesSetFlag = 0x8000u;              // S5.4
constexpr std::uint32_t FiscalMemoryWriteErrorFlag = 0x10000u;  // S4.0
constexpr std::uint32_t FiscalMemoryFullFlag = 0x20000u;        // S4.4
constexpr std::uint32_t FiscalMemoryReadOnlyFlag = 0x40000u;    // S5.0
constexpr std::uint32_t Status52Flag = 0x80000u;                // S5.2, no caption
constexpr std::uint32_t FewFiscalRecordsFlag = 0x100000u;       // S4.3
constexpr std::uint32_t FiscalMemoryFormattedFlag = 0x200000u;  // S5.1
constexpr std::uint32_t FiscalizedFlag = 0x400000u;             // S5.3
constexpr std::uint32_t NoDisplayFlag = 0x1000000u;             // S0.3
constexpr std::uint32_t RotatedReceiptOpenFlag = 0x2000000u;    // S1.5
constexpr std::uint32_t CommonErrorFlag = 0x20000000u;          // S0.5
constexpr std::uint32_t CommonFiscalErrorFlag = 0x40000000u;    // S4.5

// The link failed: no port, no answer or a malformed answer.
constexpr std::uint32_t LinkFailureMask = PortNotOpen | NoAnswer | BadProtocol;
// A transaction failed when StatusFlags & FailureMask is not zero: the link
// failed, or the printer refused the command as a syntax error, an invalid
// command or a command not permitted.
constexpr std::uint32_t FailureMask = LinkFailureMask | SyntaxErrorFlag | InvalidCommandFlag | NotPermittedFlag;

struct StatusBit {
    int byte;                 // status byte 0..5
    int bit;                  // 0 = least significant
    const char* checkBox;     // "Status" + byte + bit, or nullptr when not shown
    const char* caption;      // UTF-8; nullptr when not shown
    std::uint32_t flag;       // StatusFlags bit it maps to; 0 when not mapped
    bool red;                 // caption drawn in red
};

// Every shown or mapped status bit: the 25 check boxes in byte/bit order,
// then the three bits mapped without a check box (S1.2, S4.2, S5.2).
std::span<const StatusBit> StatusBitTable();

// The two link conditions the status dialog shows beside the status bits.
struct LinkConditionBox {
    const char* checkBox;
    const char* caption;
    std::uint32_t flag;
};
std::span<const LinkConditionBox> LinkConditionTable();

}  // namespace tamrisk
