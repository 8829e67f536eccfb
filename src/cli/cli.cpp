#include "cli.h"

#include "cliargs.h"
#include "consolehost.h"
#include "dataescapes.h"
#include "printercommands.h"
#include "qtserialio.h"
#include "resultlog.h"
#include "seriallink.h"
#include "settings.h"
#include "terminalsink.h"
#include "textcodec.h"
#include "transaction.h"

#include <QCoreApplication>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <unistd.h>

namespace tamrisk {

namespace {

const char* const Usage =
    "usage: tamrisk-cli ports\n"
    "       tamrisk-cli exec [--port PORT] [--speed BAUD] [--color auto|always|never] [--] COMMAND [DATA]\n"
    "\n"
    "  ports   list the serial ports in the order of the station's port list\n"
    "  exec    send one command (32..255) with its data (\\t and \\n escapes) and log\n"
    "          the request, the answer and the execution time\n"
    "\n"
    "PORT is a device path or a name that 'ports' lists; without --port and --speed\n"
    "the station's saved port and speed are used. Exit: 0 done without a printer or\n"
    "link error, 1 the transaction failed or the printer reported an error, 2 usage\n"
    "or port error.\n";

int UsageError(std::ostream& err, const std::string& what) {
    err << "tamrisk-cli: " << what << "\n\n" << Usage;
    return CliUsage;
}

// Everything one CLI invocation needs to talk to the printer.
struct Session {
    explicit Session(std::ostream& err)
        : host(err, [] { QCoreApplication::processEvents(); }),
          link(host, std::make_unique<QtSerialIo>()),
          transactor(link, host, state) {}

    ConsoleHost host;
    TransactionState state;
    SerialLink link;
    Transactor transactor;
};

bool WantColours(const std::string& mode) {
    if (mode == "always")
        return true;
    if (mode == "never")
        return false;
    return ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr;
}

// Opens --port at --speed, or the saved port and speed. Returns false (after a
// message on `err`) when the port cannot be opened.
bool OpenLink(Session& session, const ParsedArgs& args, std::ostream& err) {
    SerialLink& link = session.link;
    std::int32_t speedIndex = DefaultSpeedIndex;
    const auto store = OpenSettingsStore();
    LoadSettings(*store, link, speedIndex);

    int speed = speedIndex >= 0 && speedIndex < static_cast<int>(LineSpeeds.size())
                    ? LineSpeeds[static_cast<std::size_t>(speedIndex)]
                    : LineSpeeds[DefaultSpeedIndex];
    if (const auto text = args.value("speed"))
        speed = static_cast<int>(*ParseWholeNumber(*text, 1, 10000000));

    std::string path;
    if (const auto port = args.value("port")) {
        const int index = link.FindPort(*port);
        if (index >= 0) {
            path = link.PortAt(index).path;
        } else if (port->find('/') != std::string::npos) {
            path = *port;
        } else {
            err << "tamrisk-cli: no port named " << *port << " (see 'tamrisk-cli ports')\n";
            return false;
        }
    } else {
        path = link.PortAt(link.PortIndex).path;
        if (path.empty()) {
            err << "tamrisk-cli: no saved port; give one with --port\n";
            return false;
        }
    }
    return link.OpenPath(path, speed);
}

// Checks the options shared by the commands that talk to the printer.
std::string CheckLinkOptions(const ParsedArgs& args) {
    if (const auto speed = args.value("speed"); speed && !ParseWholeNumber(*speed, 1, 10000000))
        return "--speed takes a line speed in bit/s";
    if (const auto color = args.value("color"); color && *color != "auto" && *color != "always" && *color != "never")
        return "--color takes auto, always or never";
    return {};
}

int PortsCommand(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (!rest.empty())
        return UsageError(err, "ports takes no arguments");
    ConsoleHost host(err);
    SerialLink link(host, std::make_unique<QtSerialIo>());
    link.EnumeratePorts();
    for (const std::string& name : link.PortList)
        out << name << '\n';
    return CliOk;
}

int ExecCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"port", "speed", "color"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (args.positional.empty() || args.positional.size() > 2)
        return UsageError(err, "exec takes COMMAND and an optional DATA");
    const auto command = ParseWholeNumber(args.positional[0], 32, 255);
    if (!command)
        return UsageError(err, "COMMAND must be a number from 32 to 255");
    const auto data = Utf8ToCp1251(args.positional.size() > 1 ? args.positional[1] : std::string());
    if (!data)
        return UsageError(err, "DATA holds a character that Windows-1251 cannot carry");

    Session session(err);
    if (!OpenLink(session, args, err))
        return CliUsage;
    TerminalSink sink(out, WantColours(args.value("color").value_or("auto")));
    const auto start = session.host.now();
    LogTransaction(session.transactor, sink, static_cast<int>(*command), *data, TranslateDataEscapes(*data));
    const double seconds = std::chrono::duration<double>(session.host.now() - start).count();
    sink.AppendResultLine(FormatElapsed("Command execution time ", seconds), ResultColour::Black);
    session.link.ClosePort();

    const std::uint32_t flags = session.state.StatusFlags;
    return (flags & (FailureMask | CommonErrorFlag)) == 0 ? CliOk : CliFailed;
}

}  // namespace

int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        out << Usage;
        return CliOk;
    }
    if (command == "ports")
        return PortsCommand(rest, out, err);
    if (command == "exec")
        return ExecCommandLine(rest, out, err);
    return UsageError(err, "unknown command " + command);
}

}  // namespace tamrisk
