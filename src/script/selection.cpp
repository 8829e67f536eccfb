#include "selection.h"

#include <algorithm>

namespace tamrisk {

TextSelection ExtendSelectionToLines(std::string_view text, TextSelection selection) {
    // A selection reaching past the text, or given end first, is taken as the
    // characters of the text that it spans.
    std::size_t start = std::min(selection.start, text.size());
    std::size_t end = std::min(selection.end, text.size());
    if (end < start)
        std::swap(start, end);
    // Nothing selected: there is no line to widen to.
    if (start == end)
        return {start, end};

    const std::size_t lineFeed = text.rfind('\n', start == 0 ? 0 : start - 1);
    start = start == 0 || lineFeed == std::string_view::npos ? 0 : lineFeed + 1;
    while (text[end - 1] != '\n' && end < text.size())
        ++end;
    return {start, end};
}

}  // namespace tamrisk
