#include "linesink.h"

#include <utility>

namespace tamrisk {

Rgb ColourRgb(ResultColour colour) {
    switch (colour) {
    case ResultColour::Black: return {0, 0, 0};
    case ResultColour::Blue: return {0, 0, 255};
    case ResultColour::Green: return {0, 128, 0};
    case ResultColour::Red: return {255, 0, 0};
    case ResultColour::Gray: return {128, 128, 128};
    case ResultColour::Purple: return {128, 0, 128};
    }
    return {0, 0, 0};
}

void BatchingSink::AppendResultLine(std::string_view text, ResultColour colour) {
    m_pending.push_back({std::string(text.substr(0, MaxResultLineText)), colour});
    if (m_pending.size() == 1)
        BatchStarted();
    if (m_maxBatch != 0 && m_pending.size() >= m_maxBatch)
        Flush();
}

void BatchingSink::Flush() {
    // A destination that lets events run while it writes may be asked to flush
    // again from inside; the lines of that turn wait for the next flush.
    if (m_flushing)
        return;
    m_flushing = true;
    while (!m_pending.empty()) {
        std::vector<ResultLine> batch = std::exchange(m_pending, {});
        WriteBatch(batch);
    }
    m_flushing = false;
}

}  // namespace tamrisk
