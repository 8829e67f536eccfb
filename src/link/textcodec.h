#pragma once
// The station's 8-bit text is Windows-1251: scripts, journal lines, the
// printer's answers. These are the one decoder and the one encoder used
// wherever that text meets a widget (QString) or a terminal (UTF-8).

#include <QString>
#include <QStringView>

#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

QString DecodeCp1251(std::string_view bytes);
// Empty when `text` holds a character Windows-1251 cannot carry; then
// `badIndex` (when given) receives the position of the first such character.
std::optional<std::string> EncodeCp1251(QStringView text, qsizetype* badIndex = nullptr);

std::string Cp1251ToUtf8(std::string_view bytes);
// Empty when `utf8` holds a character Windows-1251 cannot carry.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);

}  // namespace tamrisk
