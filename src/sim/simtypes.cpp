#include "simtypes.h"

#include <cstdio>

namespace tamrisk::sim {

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Two decimal digits at `pos`, or -1.
int TwoDigits(std::string_view text, std::size_t pos) {
    const char hi = text[pos];
    const char lo = text[pos + 1];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9')
        return -1;
    return (hi - '0') * 10 + (lo - '0');
}

}  // namespace

std::string FormatDateTime(const SimDateTime& at) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", at.day, at.month,
                  at.year % 100, at.hour, at.minute, at.second);
    return text;
}

bool ParseClockData(std::string_view text, SimDateTime& out) {
    // DD-MM-YY HH:MM
    if (text.size() != 14 || text[2] != '-' || text[5] != '-' || text[8] != ' ' || text[11] != ':')
        return false;
    const int day = TwoDigits(text, 0);
    const int month = TwoDigits(text, 3);
    const int year = TwoDigits(text, 6);
    const int hour = TwoDigits(text, 9);
    const int minute = TwoDigits(text, 12);
    if (day < 0 || month < 0 || year < 0 || hour < 0 || minute < 0)
        return false;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(2000 + year, month) || hour > 23 ||
        minute > 59)
        return false;
    out = SimDateTime{2000 + year, month, day, hour, minute, 0};
    return true;
}

std::string HexText(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace tamrisk::sim
