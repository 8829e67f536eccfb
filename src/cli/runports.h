#pragma once
// tamrisk-cli run with several --port options: one run per printer at once.

#include "cliargs.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tamrisk {

// Runs the script of `args` (parsed from `rest`, with more than one --port) in one
// child `tamrisk-cli run` per port, prints each child's lines prefixed by "PORT: ",
// passes SIGINT and SIGTERM on to every child and returns the worst exit status.
int RunOnPorts(const ParsedArgs& args, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
