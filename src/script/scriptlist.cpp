#include "scriptlist.h"

namespace tamrisk {

void StringScriptList::ReplaceLine(std::size_t index, std::string line) {
    std::string& stored = m_lines.at(index);
    if (stored != line) {
        stored = std::move(line);
        m_changed = true;
    }
}

std::vector<std::string> SplitScriptLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinScriptLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace tamrisk
