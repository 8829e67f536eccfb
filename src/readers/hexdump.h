#pragma once
// The memory readers' hex text: the answers carry bytes as hexadecimal pairs,
// and the dump shows 16 bytes a line with their address and characters.

#include "hexdigits.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

constexpr int HexLineBytes = 16;
constexpr int HexLineLength = 72;

// Decodes `count` bytes from the first 2 * count characters of `hex`; empty
// when the text is shorter or a pair is not a hexadecimal number.
std::optional<std::string> DecodeHexBytes(std::string_view hex, int count);

// The 72-character dump line of 16 bytes at `address`: "%05X", two spaces, the
// 16 pairs of `hexText` as received separated by spaces, two spaces, and the
// bytes as characters ("." below 0x20). `hexText` holds 32 characters and
// `bytes` 16; the line is in the printer's code page (Windows-1251).
std::string FormatHexLine(std::uint32_t address, std::string_view hexText, std::string_view bytes);

}  // namespace tamrisk
