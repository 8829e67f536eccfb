#pragma once
// tamrisk-cli: the station's headless front end. Needs a QCoreApplication.

#include <iosfwd>
#include <string>
#include <vector>

namespace tamrisk {

// Exit codes.
constexpr int CliOk = 0;         // done, nothing failed
constexpr int CliFailed = 1;     // a transaction or line failed
constexpr int CliUsage = 2;      // usage error, unreadable input, port not opened
constexpr int CliCancelled = 130;

// Runs `args` (without the program name); result lines go to `out`, messages to `err`.
int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
