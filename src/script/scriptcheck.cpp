#include "scriptcheck.h"

#include "scriptlist.h"
#include "scriptparser.h"

#include <vector>

namespace tamrisk {

namespace {

// Why the line `line` (number `number`, at `index` of `lines`) would not run; empty when it would.
std::string LineProblem(const std::vector<std::string>& lines, std::size_t index, const ScriptLine& line, int number,
                        const CheckVariables& variables) {
    switch (line.kind) {
    case ScriptLineKind::RepeatLine: {
        if (!line.repeatCountRead)
            return "a repeat without its count (*COUNT,LABEL)";
        if (line.repeatCount < MinRepeatCount || line.repeatCount > MaxRepeatCount)
            return "a repeat count of " + std::to_string(line.repeatCount) + " (" + std::to_string(MinRepeatCount) +
                   " to " + std::to_string(MaxRepeatCount) + ")";
        if (line.label.empty() || line.label.size() > MaxLabelLength)
            return "a repeat's label must have 1 to " + std::to_string(MaxLabelLength) + " characters";
        const std::string labelLine = ":" + line.label;
        for (std::size_t j = index + 1; j < lines.size(); ++j) {
            if (lines[j] == labelLine)
                return {};
        }
        return "no line " + labelLine + " below the repeat";
    }
    case ScriptLineKind::CommandLine:
    case ScriptLineKind::IncrementLine:
        if (line.text.size() > MaxScriptLine)
            return "line too long (" + std::to_string(line.text.size()) + " characters, at most " +
                   std::to_string(MaxScriptLine) + ")";
        if (line.data.size() > MaxScriptData)
            return "data too long (" + std::to_string(line.data.size()) + " characters, at most " +
                   std::to_string(MaxScriptData) + ")";
        return {};
    case ScriptLineKind::CheckLine: {
        const CheckLine check = ReadCheckLine(line.text, number, variables);
        if (check.readable)
            return {};
        // The message names the check: "line N: why" for one without a name of its own.
        const std::string prefix = "line " + std::to_string(number) + ": ";
        return check.check.message.starts_with(prefix) ? check.check.message.substr(prefix.size())
                                                       : check.check.message;
    }
    default: return {};
    }
}

}  // namespace

std::string ScriptProblem(std::string_view script, const CheckVariables& variables) {
    CheckVariables withUnit = variables;
    // The unit is named only at the run; any name reads as well.
    withUnit.try_emplace("unit", "UNIT");
    const std::vector<std::string> lines = SplitScriptLines(script);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        if (std::string why = LineProblem(lines, i, ParseScriptLine(lines[i]), number, withUnit); !why.empty())
            return "line " + std::to_string(number) + ": " + why;
    }
    return {};
}

}  // namespace tamrisk
