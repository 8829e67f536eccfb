#pragma once
// The printer's code memory (its firmware) and fiscal memory, and the block
// reads of commands 121 and 116 that copy them out as hexadecimal text.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "journalcontent.h"
#include "simtypes.h"

namespace tamrisk::sim {

constexpr std::size_t CodeMemorySize = 196608;  // 0x00000..0x2FFFF
constexpr std::size_t MaxMemoryBlock = 64;      // bytes one block read may ask for

// Firmware image of CodeMemorySize bytes: pseudo-random bytes from `seed`, with the
// firmware's name and version as text at 0x100.
std::vector<std::uint8_t> MakeCodeMemory(std::uint64_t seed);

// Byte 8 of the fiscal memory tells its size: '5' 64 KiB, '6' 128 KiB, '7' 256 KiB.
// Returns 0 for any other size.
char FiscalMemorySizeCode(int kib);

// Fiscal memory of `kib` KiB (64, 128 or 256; anything else gives 128): a 32-byte
// header (fiscal memory number, size code at byte 8, printer serial number, tax
// number, fiscalisation date), one 16-byte record per Z-report, the rest erased (0xFF).
std::vector<std::uint8_t> MakeFiscalMemory(int kib, const std::vector<ZReportRecord>& zReports);

// Serves a block read "ADDRESS,LENGTH": the address in hexadecimal (1 to 8 digits,
// either case), the length in decimal (1 to MaxMemoryBlock). Answers the bytes as
// upper-case hexadecimal text. Malformed data is refused with SyntaxError; a block
// that does not lie wholly inside `memory` with NotPermitted, and for the fiscal
// memory (`fiscal`) with the common fiscal error as well.
CommandResult ReadMemoryBlock(const std::vector<std::uint8_t>& memory, std::string_view request,
                              bool fiscal);

}  // namespace tamrisk::sim
