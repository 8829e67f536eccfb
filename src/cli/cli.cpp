#include "cli.h"

#include "cliargs.h"
#include "consolehost.h"
#include "dataescapes.h"
#include "printercommands.h"
#include "qtserialio.h"
#include "resultlog.h"
#include "scriptlist.h"
#include "scriptrunner.h"
#include "seriallink.h"
#include "settings.h"
#include "terminalsink.h"
#include "textcodec.h"
#include "transaction.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <optional>
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
    "       tamrisk-cli run [--port PORT] [--speed BAUD] [--color auto|always|never] [--retry N]\n"
    "                       [--write-back] [--lines A-B] [--] SCRIPT\n"
    "\n"
    "  ports   list the serial ports in the order of the station's port list\n"
    "  exec    send one command (32..255) with its data (\\t and \\n escapes) and log\n"
    "          the request, the answer and the execution time\n"
    "  run     run a script file (Windows-1251) and log every line the run writes;\n"
    "          --retry N answers Yes to the first N retry questions of each line,\n"
    "          --lines A-B runs only lines A to B (1-based) on a copy, --write-back\n"
    "          saves advanced serial numbers into SCRIPT; SIGINT or SIGTERM cancels\n"
    "\n"
    "PORT is a device path or a name that 'ports' lists; without --port and --speed\n"
    "the station's saved port and speed are used.\n"
    "Exit: exec 0 done without a printer or link error, 1 the transaction failed or\n"
    "the printer reported an error; run 0 completed without a red line, 1 completed\n"
    "with one (or the script could not be saved back), 130 cancelled; both 2 for a\n"
    "usage error, an unreadable script or a port that could not be opened.\n";

// Set from signal handlers; turned into CancelRequest where the run lets events through.
volatile std::sig_atomic_t g_cancelSignal = 0;

extern "C" void OnCancelSignal(int) { g_cancelSignal = 1; }

void InstallCancelSignals() {
    g_cancelSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the process the usual way; no restart, so that a
    // wait for Enter is interrupted too.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int UsageError(std::ostream& err, const std::string& what) {
    err << "tamrisk-cli: " << what << "\n\n" << Usage;
    return CliUsage;
}

// Everything one CLI invocation needs to talk to the printer. The line's own
// waits run the event loop; between them the host only looks for a cancel signal.
struct Session {
    Session(std::ostream& out, std::ostream& err)
        : host(err, [this] {
              if (g_cancelSignal)
                  state.CancelRequest = true;
          }, &out),
          link(host, std::make_unique<QtSerialIo>()),
          transactor(link, host, state) {
        host.setTextFilter([](const std::string& text) { return Cp1251ToUtf8(text); });
    }

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

    Session session(out, err);
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

// "A-B", 1-based and inclusive.
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

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString().toStdString();
        return std::nullopt;
    }
    return bytes.toStdString();
}

// Replaces `path` with `lines` in one step: the old file survives any failure.
bool SaveScriptFile(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    QSaveFile file(QString::fromStdString(path));
    const std::string text = JoinScriptLines(lines);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

int RunCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"port", "speed", "color", "retry", "lines"}, {"write-back"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (args.positional.size() != 1)
        return UsageError(err, "run takes one SCRIPT");
    const std::string& path = args.positional[0];
    const auto retry = ParseWholeNumber(args.value("retry").value_or("0"), 0, 1000000);
    if (!retry)
        return UsageError(err, "--retry takes a number of Yes answers");
    std::optional<std::pair<long long, long long>> range;
    if (const auto text = args.value("lines")) {
        range = ParseLineRange(*text);
        if (!range)
            return UsageError(err, "--lines takes A-B, two line numbers from 1 with A <= B");
        if (args.flag("write-back"))
            return UsageError(err, "--lines runs a copy of the lines, which is never written back");
    }

    std::string readError;
    const auto bytes = ReadWholeFile(path, readError);
    if (!bytes) {
        err << "tamrisk-cli: cannot read " << path << ": " << readError << "\n";
        return CliUsage;
    }
    std::vector<std::string> lines = SplitScriptLines(*bytes);
    if (range) {
        if (static_cast<std::size_t>(range->first) > lines.size()) {
            err << "tamrisk-cli: " << path << " has only " << lines.size() << " lines\n";
            return CliUsage;
        }
        const auto last = std::min<std::size_t>(static_cast<std::size_t>(range->second), lines.size());
        lines = std::vector<std::string>(lines.begin() + (range->first - 1), lines.begin() + static_cast<long>(last));
    }
    StringScriptList list(std::move(lines));

    Session session(out, err);
    if (!OpenLink(session, args, err))
        return CliUsage;
    session.host.setWaitForEnter(::isatty(STDIN_FILENO));
    TerminalSink sink(out, WantColours(args.value("color").value_or("auto")), ::isatty(STDOUT_FILENO));
    ScriptRunner runner(session.transactor, session.host, sink, [&session] { return session.link.IsOpen(); });
    ScriptRunHooks hooks;
    hooks.commandStarting = [&session, yes = static_cast<int>(*retry)] { session.host.setYesAnswers(yes); };
    runner.SetHooks(std::move(hooks));

    InstallCancelSignals();
    runner.ScriptRunning = true;
    const RunOutcome outcome = runner.RunScript(list);
    runner.ScriptRunning = false;
    session.link.ClosePort();
    out.flush();

    bool saveFailed = false;
    if (args.flag("write-back") && list.Changed()) {
        std::string saveError;
        if (!SaveScriptFile(path, list.Lines(), saveError)) {
            err << "tamrisk-cli: cannot save " << path << ": " << saveError << "\n";
            saveFailed = true;
        }
    }
    switch (outcome) {
    case RunOutcome::NotStarted: return CliUsage;
    case RunOutcome::Cancelled: return CliCancelled;
    case RunOutcome::Completed: break;
    }
    return sink.SawRed() || saveFailed ? CliFailed : CliOk;
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
    if (command == "run")
        return RunCommandLine(rest, out, err);
    return UsageError(err, "unknown command " + command);
}

}  // namespace tamrisk
