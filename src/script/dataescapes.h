#pragma once
// Escapes in command data as operators write it.

#include <string>
#include <string_view>

namespace tamrisk {

// Backslash-t becomes a tab and backslash-n a line feed, the pair replaced by
// one byte; any other backslash is copied and scanning goes on after it.
std::string TranslateDataEscapes(std::string_view data);

}  // namespace tamrisk
