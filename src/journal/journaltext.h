#pragma once
// The journal window's text as bytes: Windows-1251 lines, each ended by CR LF,
// except that a text loaded from a file keeps the file's own ending on its
// last line. Selections and digests work on these bytes; only the view decodes them.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrisk {

class JournalText {
public:
    // A file's bytes with each line end (CR LF, a lone LF or a lone CR) made CR LF;
    // a last line without an ending stays without one.
    static JournalText FromFile(std::string_view bytes);

    void Clear();
    // Adds `line` (without its ending) followed by CR LF.
    void AppendLine(std::string_view line);

    const std::string& Bytes() const { return m_bytes; }
    std::size_t LineCount() const { return m_starts.size(); }
    bool Empty() const { return m_starts.empty(); }
    // Offset of line `index`'s first byte; the text's size for index == LineCount().
    std::size_t LineStart(std::size_t index) const;
    // Line `index` without its ending.
    std::string_view Line(std::size_t index) const;
    // The line holding byte `offset` (the last line for the end of the text).
    std::size_t LineAt(std::size_t offset) const;

    // What Save writes: every line followed by CR LF.
    std::string SaveBytes() const;

    // Widens the selection [start, end) to whole lines, each with its ending,
    // as a mouse selection in the view is widened; returns the new bounds.
    std::pair<std::size_t, std::size_t> WidenSelection(std::size_t start, std::size_t end) const;

private:
    std::string m_bytes;
    std::vector<std::size_t> m_starts;  // first byte of each line
};

}  // namespace tamrisk
