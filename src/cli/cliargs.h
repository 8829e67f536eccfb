#pragma once
// Command-line options of tamrisk-cli: "--name value", "--name=value" and
// flags, "--" ending the options.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tamrisk {

struct ParsedArgs {
    std::map<std::string, std::string> values;  // option name (without "--") -> value
    std::map<std::string, std::vector<std::string>> repeated;  // option name -> every value given, in order
    std::set<std::string> flags;
    std::vector<std::string> positional;
    std::string error;  // non-empty when the arguments are not understood

    std::optional<std::string> value(const std::string& name) const;
    bool flag(const std::string& name) const { return flags.count(name) != 0; }
};

// `withValue` and `flags` name the accepted options.
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& withValue,
                     const std::set<std::string>& flags);

// A whole decimal number in [low, high]; empty otherwise.
std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high);

// "A-B": two line numbers from 1, 1-based and inclusive, with A <= B; empty otherwise.
std::optional<std::pair<long long, long long>> ParseLineRange(const std::string& text);

}  // namespace tamrisk
