// tamrisk-cli journal sha1: the SHA-1 of lines of a journal text file, loaded
// and selected as the journal window loads a file and widens a mouse selection.

#include "journalcli.h"

#include "cli.h"
#include "consolehost.h"
#include "inputfile.h"

#include <ostream>

namespace tamrisk {

int JournalSha1Action(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"lines"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != 1)
        return UsageError(err, "journal sha1 takes one FILE");
    const std::string& path = args.positional[0];
    std::optional<std::pair<long long, long long>> range;
    if (const auto text = args.value("lines")) {
        range = ParseLineRange(*text);
        if (!range)
            return UsageError(err, "--lines takes A-B, two line numbers from 1 with A <= B");
    }

    std::string readError;
    const auto bytes = ReadInputFile(path, readError);
    if (!bytes) {
        CliError(err, "cannot read " + path + ": " + readError);
        return CliUsage;
    }
    const JournalText text = JournalText::FromFile(*bytes);
    // An empty selection has no digest in the window either (SHA-1 does nothing).
    if (text.Empty()) {
        CliError(err, path + " holds no lines");
        return CliUsage;
    }
    const std::size_t lineCount = text.LineCount();
    const std::size_t first = range ? static_cast<std::size_t>(range->first) : 1;
    const std::size_t last = range ? static_cast<std::size_t>(range->second) : lineCount;
    if (last > lineCount)
        return UsageError(err, path + " has " + std::to_string(lineCount) + (lineCount == 1 ? " line" : " lines") +
                                   ", --lines asks for line " + std::to_string(last));

    // From the first byte of line A to a byte inside line B, widened as a mouse
    // selection is: whole lines with their endings, the last one as held.
    // Every line holds at least one byte (its ending, or its text when it is the
    // last line without one), so the end stays inside line B.
    const auto [start, end] = text.WidenSelection(text.LineStart(first - 1), text.LineStart(last - 1) + 1);
    ConsoleHost host(err);
    bool cancelled = false;
    const auto digest = Sha1Text(std::string_view(text.Bytes()).substr(start, end - start), cancelled, host);
    out << *digest << '\n';
    return CliOk;
}

}  // namespace tamrisk
