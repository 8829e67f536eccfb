#pragma once
// The printer commands the station composes itself, built in one place: the
// clock, the readiness probe, memory block reads and the journal sub-requests.

#include <cstdint>
#include <string>
#include <string_view>

namespace tamrisk {

constexpr int CmdSetDateTime = 61;
constexpr int CmdReadiness = 74;
constexpr int CmdReadFiscalMemory = 116;
constexpr int CmdJournal = 119;
constexpr int CmdReadCodeMemory = 121;

constexpr int MemoryBlockSize = 64;  // bytes one block read brings
constexpr int MemoryTailSize = 48;   // bytes of the tail read

struct LocalDateTime {
    int year = 2000;  // full year
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Data of command 61: "DD-MM-YY HH:MM", the year modulo 100.
std::string SetDateTimeData(const LocalDateTime& at);

// Data of command 121: "%04X,64" (at least four hex digits).
std::string CodeBlockData(std::uint32_t address);
// Data of command 116: "%05X,64".
std::string FiscalBlockData(std::uint32_t address);
// Tail read of either memory: "%05X,48".
std::string MemoryTailData(std::uint32_t address);

// Journal sub-requests of command 119.
std::string JournalReadFirstData(std::string_view query);         // "R," + query
std::string JournalNextData();                                    // "N"
std::string JournalPrintData(bool smallFont, std::string_view query);  // "P,<" or "P,>" + query
std::string JournalCheckData(std::string_view query);             // "C," + query
std::string JournalInfoData();                                    // "I"
std::string JournalRawBlockData(std::uint64_t address);           // "R,Q%LX,64"

// Upper-case hexadecimal of `value` with at least `minDigits` digits.
std::string Hex(std::uint64_t value, int minDigits);

}  // namespace tamrisk
