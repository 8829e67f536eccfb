#pragma once
// How a simulated printer is set up: busy bytes, injected faults, forced status
// bytes per command, and the fiscal memory's size. Shared by the model and tamrisk-sim.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simtypes.h"

namespace tamrisk::sim {

// How the journal information's used figure varies: each answer reports the
// stored size + a normal draw of deviation `spread` + `drift` times the number of
// information answers given before, rounded and kept within 0..capacity.
struct UsedVariation {
    std::uint64_t seed = 0;
    std::optional<double> spread{};  // bytes; empty: 1 % of the stored size
    double drift = 0.0;              // bytes per answer, may be negative
};

// What an injected fault does to one answer.
enum class FaultKind {
    NoAnswer,       // the answer is not sent
    BadChecksum,    // one checksum digit is wrong
    WrongSequence,  // the answer carries another sequence byte (a valid frame otherwise)
};

struct SimOptions {
    int synCount = 0;  // SYN bytes sent before every answer frame

    // Each answer is hit by a fault with probability faultRate (0..1); the kind is
    // drawn evenly from faultKinds. faultSeed makes the draw repeatable.
    double faultRate = 0.0;
    std::uint64_t faultSeed = 1;
    std::vector<FaultKind> faultKinds{FaultKind::NoAnswer, FaultKind::BadChecksum,
                                      FaultKind::WrongSequence};

    // Status bytes sent for a command number instead of the printer's own. When they
    // hold a refusal bit (S0.0, S0.1 or S1.1) the command is not carried out and its
    // answer has no data; otherwise it runs as usual and only its status is replaced.
    std::map<int, StatusArray> statusOverrides{};

    int fiscalMemoryKiB = 128;  // 64, 128 or 256

    // Days closed by a Z-report whose documents the journal holds (1..3650).
    // The third of them (or the last, with fewer) was altered after its digest
    // was recorded.
    int journalDays = 6;

    std::uint64_t contentSeed = 0x5A4D4B;  // firmware and journal content

    // When set, the journal information reports a used figure that varies from
    // answer to answer, as units on a line differ (no longer the stored size).
    std::optional<UsedVariation> usedVariation{};
};

// "noanswer", "checksum", "sequence" separated by commas. Empty result on an
// unknown or missing name.
std::optional<std::vector<FaultKind>> ParseFaultKinds(std::string_view text);

// "CMD=B0,B1,B2,B3,B4,B5": a decimal command number 0..255 and six hexadecimal
// bytes of one or two digits. False, leaving the outputs alone, otherwise.
bool ParseStatusOverride(std::string_view text, int& command, StatusArray& status);

}  // namespace tamrisk::sim
