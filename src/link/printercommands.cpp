#include "printercommands.h"

#include <cstdio>

namespace tamrisk {

std::string Hex(std::uint64_t value, int minDigits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llX", minDigits, static_cast<unsigned long long>(value));
    return text;
}

std::string SetDateTimeData(const LocalDateTime& at) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d", at.day % 100, at.month % 100, at.year % 100,
                  at.hour % 100, at.minute % 100);
    return text;
}

std::string CodeBlockData(std::uint32_t address) { return Hex(address, 4) + ",64"; }

std::string FiscalBlockData(std::uint32_t address) { return Hex(address, 5) + ",64"; }

std::string MemoryTailData(std::uint32_t address) { return Hex(address, 5) + ",48"; }

std::string JournalReadFirstData(std::string_view query) { return "R," + std::string(query); }

std::string JournalNextData() { return "N"; }

std::string JournalPrintData(bool smallFont, std::string_view query) {
    return (smallFont ? "P,<" : "P,>") + std::string(query);
}

std::string JournalCheckData(std::string_view query) { return "C," + std::string(query); }

std::string JournalInfoData() { return "I"; }

std::string JournalRawBlockData(std::uint64_t address) { return "R,Q" + Hex(address, 1) + ",64"; }

}  // namespace tamrisk
