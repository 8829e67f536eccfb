#include "pin.h"

#include <sodium.h>

#include <cstddef>

namespace tamrisk {

namespace {

// Argon2id at libsodium's interactive limits: 2 passes over 64 MiB, one
// thread. Measured on the 2-core build machine (libsodium 1.0.18): a hash
// 0.15 s and a check 0.15 s when idle (0.31 s together), up to 0.44 s
// together with a build running beside. A log-in is one check: short enough
// at a station, and each guess at a stolen hash costs as much.
constexpr unsigned long long PinOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t PinMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The number of characters of `text` read as UTF-8, or -1 when one is a
// control character (C0, DEL, or C1 encoded as 0xC2 0x80..0x9F).
int CharactersWithoutControls(std::string_view text) {
    int characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f)
            return -1;
        if (byte == 0xc2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f)
                return -1;
        }
        // Continuation bytes belong to the character before them.
        if ((byte & 0xc0) != 0x80)
            ++characters;
    }
    return characters;
}

}  // namespace

bool PinWellFormed(std::string_view pin) {
    const int characters = CharactersWithoutControls(pin);
    return characters >= 4 && characters <= 32;
}

bool OperatorIdWellFormed(std::string_view id) {
    const int characters = CharactersWithoutControls(id);
    return characters >= 1 && characters <= 64 && id.front() != ' ' && id.back() != ' ';
}

namespace {

std::string HashPinAt(std::string_view pin, unsigned long long opsLimit, std::size_t memLimit) {
    if (!SodiumReady())
        return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, pin.data(), pin.size(), opsLimit, memLimit) != 0)
        return {};
    return hash;
}

}  // namespace

std::string HashPin(std::string_view pin) {
    return HashPinAt(pin, PinOpsLimit, PinMemLimit);
}

std::string HashPinCheaply(std::string_view pin) {
    return HashPinAt(pin, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
}

bool PinMatches(const std::string& hash, std::string_view pin) {
    if (!SodiumReady() || hash.empty())
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), pin.data(), pin.size()) == 0;
}

}  // namespace tamrisk
