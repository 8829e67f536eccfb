#include "journaltext.h"

#include <algorithm>

namespace tamrisk {

JournalText JournalText::FromFile(std::string_view bytes) {
    JournalText text;
    text.m_bytes.reserve(bytes.size() + bytes.size() / 32);
    std::size_t at = 0;
    while (at < bytes.size()) {
        text.m_starts.push_back(text.m_bytes.size());
        const std::size_t stop = bytes.find_first_of("\r\n", at);
        if (stop == std::string_view::npos) {
            text.m_bytes.append(bytes.substr(at));  // the last line, without an ending
            break;
        }
        text.m_bytes.append(bytes.substr(at, stop - at));
        text.m_bytes += "\r\n";
        at = stop + (bytes[stop] == '\r' && stop + 1 < bytes.size() && bytes[stop + 1] == '\n' ? 2 : 1);
    }
    return text;
}

void JournalText::Clear() {
    m_bytes.clear();
    m_starts.clear();
}

void JournalText::AppendLine(std::string_view line) {
    // After a loaded last line without an ending, the new line starts a line of its own.
    if (!m_bytes.empty() && m_bytes.back() != '\n')
        m_bytes += "\r\n";
    m_starts.push_back(m_bytes.size());
    m_bytes.append(line);
    m_bytes += "\r\n";
}

std::size_t JournalText::LineStart(std::size_t index) const {
    return index < m_starts.size() ? m_starts[index] : m_bytes.size();
}

std::string_view JournalText::Line(std::size_t index) const {
    const std::size_t begin = LineStart(index);
    std::size_t end = LineStart(index + 1);
    if (end > begin && m_bytes[end - 1] == '\n')
        end -= 2;  // every ending here is CR LF
    return std::string_view(m_bytes).substr(begin, end - begin);
}

std::size_t JournalText::LineAt(std::size_t offset) const {
    if (m_starts.empty())
        return 0;
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
    return static_cast<std::size_t>(after - m_starts.begin()) - 1;
}

std::string JournalText::SaveBytes() const {
    std::string bytes = m_bytes;
    if (!bytes.empty() && bytes.back() != '\n')
        bytes += "\r\n";
    return bytes;
}

std::pair<std::size_t, std::size_t> JournalText::WidenSelection(std::size_t start, std::size_t end) const {
    const std::size_t size = m_bytes.size();
    end = std::min(end, size);
    start = std::min(start, end);
    if (start == end)
        return {start, end};
    std::size_t newStart = start <= 1 ? 0 : start;
    while (newStart > 0 && m_bytes[newStart - 1] != '\n')
        --newStart;
    std::size_t last = end - 1;
    while (m_bytes[last] != '\n' && last + 1 < size)
        ++last;
    return {newStart, last + 1};
}

}  // namespace tamrisk
