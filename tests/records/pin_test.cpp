// People's IDs and PINs: which are well formed, and a PIN's hash that only
// that PIN matches.

#include "pin.h"

#include <gtest/gtest.h>

#include <string>

namespace tamrisk {
namespace {

TEST(Pin, WellFormedPinsAndIds) {
    const std::string cyrillic32 = [] {
        std::string text;
        for (int i = 0; i < 32; ++i)
            text += "\xd0\xbf";  // п: a character of two bytes
        return text;
    }();
    const struct {
        std::string text;
        bool pin, id;
    } cases[] = {
        {"1234", true, true},
        {"123", false, true},
        {"1", false, true},
        {"", false, false},
        {std::string(32, '7'), true, true},
        {std::string(33, '7'), false, true},
        {std::string(64, 'a'), false, true},
        {std::string(65, 'a'), false, false},
        {cyrillic32, true, true},
        {cyrillic32 + "1", false, true},
        {"\xd0\xbf\xd0\xb8\xd0\xbd", false, true},  // пин: three characters
        {"12 34", true, true},
        {" 1234", true, false},
        {"ivana ", true, false},
        {"iv ana", true, true},
        {"12\t34", false, false},
        {"1234\n", false, false},
        {std::string("12\0"
                     "34",
                     5),
         false, false},
        {"12\x7f"
         "34",
         false, false},
        {"12\xc2\x85"
         "34",
         false, false},  // NEL, a control character of Unicode
        {"12\xc2\xa0"
         "34",
         true, true},  // a no-break space is printable
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PinWellFormed(c.text), c.pin) << c.text;
        EXPECT_EQ(OperatorIdWellFormed(c.text), c.id) << c.text;
    }
}

TEST(Pin, AHashMatchesItsPinOnlyAndTwoHashesOfOnePinDiffer) {
    const std::string hash = HashPin("2468");
    ASSERT_FALSE(hash.empty());
    EXPECT_EQ(hash.find("2468"), std::string::npos);
    const std::string again = HashPin("2468");
    EXPECT_NE(again, hash);
    // The tests' cheap hash is checked as any other, its cost read from it.
    const std::string cheap = HashPinCheaply("2468");
    EXPECT_NE(cheap.substr(0, 30), hash.substr(0, 30));
    const struct {
        std::string hash, pin;
        bool matches;
    } cases[] = {
        {hash, "2468", true}, {again, "2468", true}, {hash, "2469", false},   {hash, "24680", false},
        {hash, "", false},    {"", "2468", false},   {"2468", "2468", false}, {cheap, "2468", true},
        {cheap, "2469", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PinMatches(c.hash, c.pin), c.matches) << c.hash << " / " << c.pin;
}

}  // namespace
}  // namespace tamrisk
