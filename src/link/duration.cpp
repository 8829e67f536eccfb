#include "duration.h"

#include <cstdio>

namespace tamrisk {

std::string FormatElapsed(std::string_view prefix, double seconds) {
    char text[64];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%4.2f seconds", seconds);
    } else {
        const int minutes = static_cast<int>(seconds / 60);
        std::snprintf(text, sizeof text, "%d:%4.2f", minutes, seconds - 60.0 * minutes);
    }
    return std::string(prefix) + text;
}

std::string FormatSeconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace tamrisk
