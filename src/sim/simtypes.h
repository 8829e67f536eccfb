#pragma once
// Small types shared by the parts of the simulated printer: what a command
// produced, the status bits the printer raises, its clock and its random source.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tamrisk::sim {

using StatusArray = std::array<std::uint8_t, 6>;

// One status bit: status byte `byte`, bit value `mask`.
struct StatusBit {
    int byte;
    std::uint8_t mask;
};

inline constexpr StatusBit SyntaxErrorBit{0, 0x01};        // S0.0
inline constexpr StatusBit InvalidCommandBit{0, 0x02};     // S0.1
inline constexpr StatusBit CommonErrorBit{0, 0x20};        // S0.5
inline constexpr StatusBit NotPermittedBit{1, 0x02};       // S1.1
inline constexpr StatusBit CommonFiscalErrorBit{4, 0x20};  // S4.5
inline constexpr StatusBit FmFormattedBit{5, 0x02};        // S5.1
inline constexpr StatusBit FiscalizedBit{5, 0x08};         // S5.3
inline constexpr StatusBit VatRatesSetBit{5, 0x10};        // S5.4
inline constexpr StatusBit SerialNumberSetBit{5, 0x20};    // S5.5

inline void SetBit(StatusArray& status, StatusBit bit) {
    status[static_cast<std::size_t>(bit.byte)] |= bit.mask;
}
inline bool HasBit(const StatusArray& status, StatusBit bit) {
    return (status[static_cast<std::size_t>(bit.byte)] & bit.mask) != 0;
}

// Why a command was refused; the printer model turns it into status bits.
enum class Refusal { None, SyntaxError, InvalidCommand, NotPermitted };

// What one command produced: its answer data, or the reason it was refused
// (a refused command answers with empty data).
struct CommandResult {
    Refusal refusal = Refusal::None;
    bool fiscalError = false;  // raise S4.5 as well (fiscal memory out of range)
    std::string data;
};

inline CommandResult Accepted(std::string data) {
    return CommandResult{Refusal::None, false, std::move(data)};
}
inline CommandResult Refused(Refusal why, bool fiscalError = false) {
    return CommandResult{why, fiscalError, {}};
}

// A local date and time as the printer keeps it (no time zone).
struct SimDateTime {
    int year = 2024;  // full year, 2000..2099
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const SimDateTime&, const SimDateTime&) = default;
};

// "DD-MM-YY HH:MM:SS", as the printer shows dates in its journal and answers.
std::string FormatDateTime(const SimDateTime& at);

// Parses the clock command's data, exactly "DD-MM-YY HH:MM" with a real date
// (leap years included) and time. False, leaving `out` alone, for anything else.
bool ParseClockData(std::string_view text, SimDateTime& out);

// SplitMix64: a small, fully specified generator, so that every seed gives the
// same sequence on every platform and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double NextUnit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // Uniform in [0, bound); bound > 0. The tiny modulo bias does not matter here.
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

private:
    std::uint64_t m_state;
};

// A standard normal value (mean 0, deviation 1) by the Box-Muller transform over
// two uniform draws. Unlike std::normal_distribution it gives the same value for
// the same generator state under every standard library; math libraries may
// differ in the last bit of log and cos, which a result rounded to whole units
// does not show.
inline double StandardNormal(SplitMix64& random) {
    constexpr double TwoPi = 6.283185307179586;
    const double u1 = 1.0 - random.NextUnit();  // in (0, 1]: log stays finite
    const double u2 = random.NextUnit();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(TwoPi * u2);
}

// Upper-case hexadecimal text of `size` bytes, two characters per byte.
std::string HexText(const std::uint8_t* bytes, std::size_t size);

}  // namespace tamrisk::sim
