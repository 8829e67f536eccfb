#include "simoptions.h"

#include "hexdigits.h"

namespace tamrisk::sim {

namespace {

std::vector<std::string_view> SplitCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return parts;
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

std::optional<std::vector<FaultKind>> ParseFaultKinds(std::string_view text) {
    std::vector<FaultKind> kinds;
    for (std::string_view name : SplitCommas(text)) {
        FaultKind kind;
        if (name == "noanswer")
            kind = FaultKind::NoAnswer;
        else if (name == "checksum")
            kind = FaultKind::BadChecksum;
        else if (name == "sequence")
            kind = FaultKind::WrongSequence;
        else
            return std::nullopt;
        kinds.push_back(kind);
    }
    return kinds;
}

bool ParseStatusOverride(std::string_view text, int& command, StatusArray& status) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals > 3)
        return false;
    int number = 0;
    for (char c : text.substr(0, equals)) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    const auto parts = SplitCommas(text.substr(equals + 1));
    if (number > 255 || parts.size() != status.size())
        return false;
    StatusArray bytes{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string_view part = parts[i];
        if (part.empty() || part.size() > 2)
            return false;
        int value = 0;
        for (char c : part) {
            const int digit = HexDigitValue(c);
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    command = number;
    status = bytes;
    return true;
}

}  // namespace tamrisk::sim
