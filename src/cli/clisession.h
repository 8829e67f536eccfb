#pragma once
// What the printer-facing commands of tamrisk-cli share: the station's core
// behind a console host, opening the link from the options or the saved
// settings, colours, usage errors and the cancel signals.

#include "cliargs.h"
#include "consolehost.h"
#include "station.h"

#include <csignal>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

extern const char* const CliUsageText;

// Writes "tamrisk-cli: what" as one line, `what` (UTF-8, it may hold a file
// name or an argument) through EscapeControls.
void CliError(std::ostream& err, const std::string& what);
// CliError, a blank line and the usage; returns CliUsage.
int UsageError(std::ostream& err, const std::string& what);

// A command's action: its name and what runs it with the arguments after it.
struct CliAction {
    const char* name;
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};
// Runs the action of `command` that `rest` names first, with the rest of it;
// a usage error without one ("route needs an action: set, show or delete") or
// for a name none of `actions` has ("unknown route action X").
int RunAction(const std::string& command, std::initializer_list<CliAction> actions,
              const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

// Set from signal handlers; turned into CancelRequest (or the session's own
// cancel action) where the run lets events through.
extern volatile std::sig_atomic_t g_cancelSignal;
void InstallCancelSignals();

// Everything one CLI invocation needs to talk to the printer. The line's own
// waits run the event loop; between them the host only looks for a cancel signal.
struct CliSession {
    CliSession(std::ostream& out, std::ostream& err);

    ConsoleHost host;
    Station station;
    // What a cancel signal does when events are let through; empty sets
    // CancelRequest. The memory and journal reads set their own stop flag here.
    std::function<void()> onCancelSignal;

    // Set by OpenLink: the device path opened and its speed in bit/s.
    std::string openedPort;
    int openedSpeed = 0;
    // The last message the operator was told (UTF-8, "text: detail"): why a port
    // did not open or was lost, in the words the operator read.
    std::string lastMessage;

private:
    std::string m_detail;
};

// Colours on stdout: "always", "never", or "auto" (a terminal without NO_COLOR).
bool WantColours(const std::string& mode);
// Stdout is a terminal: control characters are escaped there.
bool StdoutIsTerminal();

// Opens --port at --speed, or the saved port and speed. Returns false (after a
// message on `err`) when the port cannot be opened.
bool OpenLink(CliSession& session, const ParsedArgs& args, std::ostream& err);

// Writes `bytes` as FILE in one step; on failure the operator is told "Can't
// write output file" with the reason, an existing file stays, and false (with
// "<path>: <reason>" in `problem` when given).
bool SaveOutputFile(Host& host, const std::string& path, std::string_view bytes, std::string* problem = nullptr);

// True when SaveOutputFile could replace FILE: its temporary file can be made
// beside it (the folder exists and takes files, FILE is no folder and, when it
// exists, is writable). The trial leaves no file behind; `error` holds
// "<path>: <reason>" when false.
bool OutputFileWritable(const std::string& path, std::string& error);

// Checks the options shared by the commands that talk to the printer; the
// problem, or empty.
std::string CheckLinkOptions(const ParsedArgs& args);

// The sub-commands, each in a file of its own; `rest` is what follows the command.
int PortsCommand(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ExecCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RunCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ReadCodeCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ReadFiscalCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ReadJournalBinCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// journal read, print, check, info and sha1: src/cli/journal*.cpp.
int JournalCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// records list and show: src/cli/records*.cpp.
int RecordsCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// What the line knows of one unit (unit history): src/cli/unit*.cpp.
int UnitCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// The line's web page over the records until stopped: src/cli/dashboard*.cpp.
int RouteCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int UnitCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// The audit trail listed and verified: src/cli/audit*.cpp.
int AuditCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// Released scripts (script release, approve, revoke, list, show): src/cli/script*.cpp.
int ScriptCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
// The line's people: src/cli/operator*.cpp.
int OperatorCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int DashboardCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
