#pragma once
// Decimal and hexadecimal digits as the printer, its answers and the station's inputs write
// them. Pure, shared with the printer simulator.

namespace tamrisk {

// "0" to "9" only, whatever the locale.
constexpr bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Value of one hexadecimal digit ("0"-"9", "A"-"F", "a"-"f"), or -1 for any
// other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace tamrisk
