#pragma once
// tamrisk-cli run with several --port options: one run per printer at once.

#include "cliargs.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// Runs the script of `args` (parsed from `rest`, with more than one --port) in one
// child `tamrisk-cli run` per port, prints each child's lines prefixed by "PORT: ",
// passes SIGINT and SIGTERM on to every child and returns the worst exit status.
// With --write-back (only with --unique-serials) the script is saved once every
// child has ended, as LinesPastClaims writes it from the claims in the records.
int RunOnPorts(const ParsedArgs& args, std::ostream& out, std::ostream& err);

// The numbers claimed in a number space (Windows-1251, as sent), or nothing when
// they cannot be read.
using ClaimedIn = std::function<std::optional<std::vector<std::string>>(const std::string& space)>;

// `lines` of a script with every incrementing line's stepping fields one step past
// the highest number claimed in its number space, each field on its own; a field
// already past every claim, and a line whose space has no claim, stay. Nothing
// when the claims of a space cannot be read.
std::optional<std::vector<std::string>> LinesPastClaims(std::vector<std::string> lines, const ClaimedIn& claimedIn);

}  // namespace tamrisk
