#include "hexdump.h"

#include "printercommands.h"

namespace tamrisk {

std::optional<std::string> DecodeHexBytes(std::string_view hex, int count) {
    if (count < 0 || hex.size() < static_cast<std::size_t>(count) * 2)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(count), '\0');
    for (int k = 0; k < count; ++k) {
        const int high = HexDigitValue(hex[2 * k]);
        const int low = HexDigitValue(hex[2 * k + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[k] = static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string FormatHexLine(std::uint32_t address, std::string_view hexText, std::string_view bytes) {
    std::string line = Hex(address, 5);
    line.reserve(HexLineLength);
    line += "  ";
    for (int k = 0; k < HexLineBytes; ++k) {
        if (k > 0)
            line += ' ';
        line += static_cast<std::size_t>(2 * k + 1) < hexText.size() ? hexText.substr(2 * k, 2) : "  ";
    }
    line += "  ";
    for (int k = 0; k < HexLineBytes; ++k) {
        if (k >= static_cast<int>(bytes.size())) {
            line += ' ';  // a short tail's line keeps its width
            continue;
        }
        const auto byte = static_cast<unsigned char>(bytes[k]);
        line += byte < 0x20 ? '.' : static_cast<char>(byte);
    }
    return line;
}

}  // namespace tamrisk
