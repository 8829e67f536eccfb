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

std::string FormatSeconds(std::chrono::milliseconds duration, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(duration.count()) / 1000.0);
    return text;
}

}  // namespace tamrisk
