#pragma once
// The lines a run works on: the station's editor, or a copy of the selected lines
// or of a file's lines.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

class ScriptList {
public:
    virtual ~ScriptList() = default;
    virtual std::size_t Count() const = 0;
    virtual std::string Line(std::size_t index) const = 0;
    virtual void ReplaceLine(std::size_t index, std::string line) = 0;
};

// Lines held in memory; remembers whether any was replaced by a different text.
class StringScriptList : public ScriptList {
public:
    StringScriptList() = default;
    explicit StringScriptList(std::vector<std::string> lines) : m_lines(std::move(lines)) {}

    std::size_t Count() const override { return m_lines.size(); }
    std::string Line(std::size_t index) const override { return m_lines.at(index); }
    void ReplaceLine(std::size_t index, std::string line) override;

    const std::vector<std::string>& Lines() const { return m_lines; }
    bool Changed() const { return m_changed; }

private:
    std::vector<std::string> m_lines;
    bool m_changed = false;
};

// Splits script text into lines at CR, LF or CR LF; a line break at the very end
// does not start another line.
std::vector<std::string> SplitScriptLines(std::string_view text);

// The lines joined, each followed by CR LF, as a script file is written.
std::string JoinScriptLines(const std::vector<std::string>& lines);

}  // namespace tamrisk
