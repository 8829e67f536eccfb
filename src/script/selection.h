#pragma once
// Widening an editor selection to whole lines.

#include <cstddef>
#include <string_view>

namespace tamrisk {

struct TextSelection {
    std::size_t start = 0;  // first selected character
    std::size_t end = 0;    // one past the last selected character
};

// Moves the start back to just after the nearest line feed before it (or to the
// start of `text`) and the end forward until the last selected character is a
// line feed or the last character of `text`. A selection already ending with a
// line feed is not widened forwards.
TextSelection ExtendSelectionToLines(std::string_view text, TextSelection selection);

}  // namespace tamrisk
