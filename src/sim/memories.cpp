#include "memories.h"

#include "hexdigits.h"

#include <cstring>
#include <optional>

namespace tamrisk::sim {

namespace {

std::optional<std::uint64_t> ParseNumber(std::string_view text, int base, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return value;
}

void PutText(std::vector<std::uint8_t>& memory, std::size_t at, std::string_view text) {
    std::memcpy(memory.data() + at, text.data(), text.size());
}

std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

}  // namespace

std::vector<std::uint8_t> MakeCodeMemory(std::uint64_t seed) {
    std::vector<std::uint8_t> memory(CodeMemorySize);
    SplitMix64 random(seed);
    for (std::size_t i = 0; i < memory.size(); i += 8) {
        std::uint64_t word = random.Next();
        for (std::size_t k = 0; k < 8; ++k, word >>= 8)
            memory[i + k] = static_cast<std::uint8_t>(word);
    }
    PutText(memory, 0x100, "ZORMIK FP-3 SIMULATED FIRMWARE v1.07 (C) ZORMIK");
    return memory;
}

char FiscalMemorySizeCode(int kib) {
    switch (kib) {
    case 64: return '5';
    case 128: return '6';
    case 256: return '7';
    default: return 0;
    }
}

std::vector<std::uint8_t> MakeFiscalMemory(int kib, const std::vector<ZReportRecord>& zReports) {
    if (FiscalMemorySizeCode(kib) == 0)
        kib = 128;
    std::vector<std::uint8_t> memory(static_cast<std::size_t>(kib) * 1024, 0xFF);
    PutText(memory, 0, "36601234");
    memory[8] = static_cast<std::uint8_t>(FiscalMemorySizeCode(kib));
    PutText(memory, 9, "ZK123456");
    PutText(memory, 17, "204518362");
    PutText(memory, 26, "110324");

    // Record: Z-report number (2 bytes, big-endian), its document number (4 bytes),
    // date and time in BCD (DD MM YY HH MM), the first 4 bytes of the recorded SHA-1,
    // and a check byte: the low byte of the sum of the 15 bytes before it.
    std::size_t at = 32;
    for (const ZReportRecord& z : zReports) {
        if (at + 16 > memory.size())
            break;
        std::uint8_t* r = memory.data() + at;
        r[0] = static_cast<std::uint8_t>(z.number >> 8);
        r[1] = static_cast<std::uint8_t>(z.number);
        for (int k = 0; k < 4; ++k)
            r[2 + k] = static_cast<std::uint8_t>(z.documentNumber >> (24 - 8 * k));
        r[6] = Bcd(z.madeAt.day);
        r[7] = Bcd(z.madeAt.month);
        r[8] = Bcd(z.madeAt.year % 100);
        r[9] = Bcd(z.madeAt.hour);
        r[10] = Bcd(z.madeAt.minute);
        for (int k = 0; k < 4; ++k)
            r[11 + k] = static_cast<std::uint8_t>(*ParseNumber(z.recordedSha1.substr(2 * k, 2), 16, 2));
        std::uint8_t sum = 0;
        for (int k = 0; k < 15; ++k)
            sum = static_cast<std::uint8_t>(sum + r[k]);
        r[15] = sum;
        at += 16;
    }
    return memory;
}

CommandResult ReadMemoryBlock(const std::vector<std::uint8_t>& memory, std::string_view request,
                              bool fiscal) {
    const auto comma = request.find(',');
    if (comma == std::string_view::npos)
        return Refused(Refusal::SyntaxError);
    const auto address = ParseNumber(request.substr(0, comma), 16, 8);
    const auto length = ParseNumber(request.substr(comma + 1), 10, 3);
    if (!address || !length || *length == 0 || *length > MaxMemoryBlock)
        return Refused(Refusal::SyntaxError);
    if (*address + *length > memory.size())
        return Refused(Refusal::NotPermitted, fiscal);
    return Accepted(HexText(memory.data() + *address, *length));
}

}  // namespace tamrisk::sim
