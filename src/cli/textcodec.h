#pragma once
// Conversions between the station's 8-bit Windows-1251 text and the UTF-8 of
// terminals and command lines.

#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

std::string Cp1251ToUtf8(std::string_view bytes);
// Empty when `utf8` holds a character Windows-1251 cannot represent.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);

}  // namespace tamrisk
