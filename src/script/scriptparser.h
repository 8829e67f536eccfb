#pragma once
// The script language: one line of a script taken apart. Pure functions; a
// line is parsed again every time a run reaches it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

enum class ScriptLineKind {
    EmptyLine,        // nothing left after the line is prepared
    DescriptionLine,  // '@'
    MessageLine,      // '^'
    WaitLine,         // '#'
    ClockLine,        // '$'
    RepeatLine,       // '*'
    LabelLine,        // ':'
    IncrementLine,    // '+' steps ';' command
    CommandLine,      // command number first
    CheckLine,        // '?' checks the answer of the run's last transaction (text: the prepared line)
    CommentLine,      // anything else
};

constexpr std::size_t MaxScriptLine = 511;   // characters of a prepared line that may be run
constexpr std::size_t MaxScriptData = 255;   // characters of a command's data that may be sent
constexpr std::size_t PreparedScanLength = 255;  // control characters are looked for only this far
constexpr int MinScriptCommand = 32;
constexpr int MaxScriptCommand = 255;
constexpr int MinRepeatCount = 1;
constexpr int MaxRepeatCount = 10000;
constexpr std::size_t MaxLabelLength = 15;
constexpr int MaxIncrementSteps = 5;

struct ScriptLine {
    ScriptLineKind kind = ScriptLineKind::EmptyLine;
    std::string text;                   // the prepared line: cut at the first control character
                                        // among its first 255 characters
    int command = 0;                    // CommandLine, IncrementLine
    std::string data;                   // after the first comma, escapes untranslated
    std::optional<std::size_t> dataOffset;  // position of data's first character in text
    std::array<std::uint32_t, MaxIncrementSteps> steps{};  // IncrementLine; 0 = not advanced
    std::int32_t waitMs = 0;            // WaitLine
    std::int32_t repeatCount = 0;       // RepeatLine
    bool repeatCountRead = false;       // RepeatLine: a number stood after the '*'
    std::string label;                  // RepeatLine: the word after the count's comma
    std::string labelName;              // LabelLine: the text after ':'
    std::string message;                // MessageLine: backslash-n turned into line feeds
    std::string description;            // DescriptionLine: the text after '@'
};

// Classifies and takes apart one raw line of a script.
ScriptLine ParseScriptLine(std::string_view raw);

}  // namespace tamrisk
