#pragma once
// What the six status bytes of an answer mean: each named bit with its check
// box, caption and StatusFlags bit. The status dialog and the CLI share it.

#include <cstdint>
#include <span>

namespace tamrisk {

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
