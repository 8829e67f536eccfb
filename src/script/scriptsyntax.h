#pragma once
// The script syntax help that the station writes into the results view: the
// lines and their colours, next to the parser whose rules they describe.
// Where the help's numbers differ from the parser's limits (command numbers,
// label length), the parser's limits apply; the help keeps the operator's
// familiar text.

#include "linesink.h"

#include <span>

namespace tamrisk {

// One line of the help: its text (8-bit, without a line end unless it carries
// one of its own) and its colour.
struct SyntaxHelpLine {
    ResultColour colour;
    const char* text;
};

// The help's lines in the order they are appended to the results view.
std::span<const SyntaxHelpLine> ScriptSyntaxHelp();

}  // namespace tamrisk
