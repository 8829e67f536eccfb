#include "cliargs.h"

#include <charconv>

namespace tamrisk {

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
    const auto it = values.find(name);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& withValue,
                     const std::set<std::string>& flags) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            parsed.error = "unknown option " + arg;
            return parsed;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (withValue.count(name)) {
            if (inlineValue) {
                parsed.values[name] = *inlineValue;
            } else if (i + 1 < args.size()) {
                parsed.values[name] = args[++i];
            } else {
                parsed.error = "option --" + name + " needs a value";
                return parsed;
            }
            parsed.repeated[name].push_back(parsed.values[name]);
        } else if (flags.count(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else {
            // Named without a value given with it: that may be a secret typed where it does not belong.
            parsed.error = "unknown option --" + name;
            return parsed;
        }
    }
    return parsed;
}

std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::pair<long long, long long>> ParseLineRange(const std::string& text) {
    const auto dash = text.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    const auto first = ParseWholeNumber(text.substr(0, dash), 1, 1LL << 40);
    const auto last = ParseWholeNumber(text.substr(dash + 1), 1, 1LL << 40);
    if (!first || !last || *last < *first)
        return std::nullopt;
    return std::pair{*first, *last};
}

}  // namespace tamrisk
