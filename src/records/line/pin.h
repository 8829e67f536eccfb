#pragma once
// People's IDs and PINs: which are well formed, and a PIN kept only as its
// Argon2id hash (libsodium's crypto_pwhash_str), checked against that hash and
// never compared as text. PINs pass as views of the caller's buffer; nothing
// here keeps a copy of one.

#include <string>
#include <string_view>

namespace tamrisk {

// 4 to 32 characters (UTF-8), none of them a control character.
bool PinWellFormed(std::string_view pin);
// 1 to 64 characters (UTF-8), no control character, no blank at either end.
bool OperatorIdWellFormed(std::string_view id);

// The hash of `pin` in crypto_pwhash_str's text form (a new salt each time: two
// hashes of one PIN differ); empty when libsodium cannot start or has no memory for it.
std::string HashPin(std::string_view pin);
// The hash of `pin` at libsodium's least cost, which a check answers in
// microseconds instead of a fraction of a second: for tests, which log people
// in by the hundred. The programs never use it.
std::string HashPinCheaply(std::string_view pin);
// Whether `pin` is the PIN `hash` was made of; false for a hash that is not one.
bool PinMatches(const std::string& hash, std::string_view pin);

}  // namespace tamrisk
