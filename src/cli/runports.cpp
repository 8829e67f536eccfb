// tamrisk-cli run --port A --port B ...: every printer runs the script in its own
// child process, so a lost port, a cancel or a failure of one run leaves the
// others alone; the parent only prefixes their lines and collects their status.

#include "runports.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "increments.h"
#include "inputfile.h"
#include "recordstore.h"
#include "savefile.h"
#include "scriptlist.h"
#include "serialnumbers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <list>
#include <map>
#include <ostream>
#include <signal.h>
#include <unistd.h>

namespace tamrisk {

namespace {

volatile std::sig_atomic_t g_signalToPass = 0;

extern "C" void OnSignalToPass(int signal) { g_signalToPass = signal; }

// Every SIGINT and SIGTERM is kept to be passed on: a second one reaches the
// children too, whose own second signal ends them.
void InstallPassedSignals() {
    g_signalToPass = 0;
    struct sigaction action {};
    action.sa_handler = OnSignalToPass;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Cancelled is the worst status, then a run that could not start or lost its
// port, then a failed run, then a passed one.
int Worse(int a, int b) {
    const auto rank = [](int status) {
        return status == CliCancelled ? 3 : status == CliOk ? 0 : status == CliFailed ? 1 : 2;
    };
    return rank(b) > rank(a) ? b : a;
}

struct PortRun {
    std::string port;
    QStringList arguments;
    QProcess process;
    QByteArray pending[2];  // the unfinished last line of stdout and of stderr
    bool running = false;
};

// Writes the whole lines of `pending` + `more` to `to`, each after "PORT: ", and
// keeps the unfinished rest; at the end the rest is written as a line of its own.
void PassLines(std::ostream& to, const std::string& port, QByteArray& pending, const QByteArray& more, bool end) {
    pending += more;
    qsizetype start = 0;
    for (qsizetype eol; (eol = pending.indexOf('\n', start)) >= 0; start = eol + 1)
        to << port << ": " << std::string_view(pending.constData() + start, static_cast<std::size_t>(eol - start + 1));
    pending.remove(0, start);
    if (end && !pending.isEmpty()) {
        to << port << ": " << pending.toStdString() << '\n';
        pending.clear();
    }
    to.flush();
}

// The child's options: those given, but one port and its unit.
QStringList ChildArguments(const ParsedArgs& args, const std::string& port, const std::string* unit) {
    QStringList list{"run"};
    for (const auto& [name, value] : args.values) {
        if (name == "port" || name == "unit")
            continue;
        // An option given more than once (--set) reaches each child as often.
        const auto every = args.repeated.find(name);
        for (const std::string& one : every != args.repeated.end() ? every->second : std::vector{value})
            list << QString::fromStdString("--" + name + "=" + one);
    }
    // The script is written back once, by the parent, when every run has ended.
    for (const auto& flag : args.flags) {
        if (flag != "write-back")
            list << QString::fromStdString("--" + flag);
    }
    // The children write to pipes: colours the parent's terminal would show are asked for.
    if (!args.value("color") && WantColours("auto"))
        list << "--color=always";
    list << QString::fromStdString("--port=" + port);
    if (unit != nullptr)
        list << QString::fromStdString("--unit=" + *unit);
    list << "--";
    for (const auto& positional : args.positional)
        list << QString::fromStdString(positional);
    return list;
}

// Saves the script of `args` with its stepping fields past the numbers claimed
// in the records. False after "cannot save <path>: <reason>" on `err`.
bool WriteBackPastClaims(const ParsedArgs& args, std::ostream& err) {
    const std::string& path = args.positional.at(0);
    const auto fail = [&](const std::string& reason) {
        CliError(err, "cannot save " + path + ": " + reason);
        return false;
    };
    std::string readError;
    const auto bytes = ReadInputFile(path, readError);
    if (!bytes)
        return fail(readError);
    // The claims are where the runs made them: in the records file, or in the
    // line's database that the records go to.
    RecordStore claims;
    if (StoreResult<void> opened = claims.Open(RecordsLocation(args)); !opened)
        return fail("the claims cannot be read: " + opened.error().Text().toStdString());
    const std::vector<std::string> lines = SplitScriptLines(*bytes);
    StoreError unread;
    const auto written = LinesPastClaims(lines, [&](const std::string& space) -> std::optional<std::vector<std::string>> {
        StoreResult<std::vector<SerialClaimRow>> read = claims.Claims({.limit = 0, .space = space});
        if (!read) {
            unread = read.error();
            return std::nullopt;
        }
        std::vector<std::string> data;
        for (SerialClaimRow& claim : *read)
            data.push_back(std::move(claim.data));
        return data;
    });
    if (!written)
        return fail("the claims cannot be read: " + unread.Text().toStdString());
    if (*written == lines)
        return true;
    QString problem;
    if (!SaveBytesToFile(QString::fromStdString(path), JoinScriptLines(*written), problem))
        return fail(problem.toStdString());
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> LinesPastClaims(std::vector<std::string> lines, const ClaimedIn& claimedIn) {
    std::map<std::string, std::vector<std::string>> claimedBySpace;
    for (std::string& stored : lines) {
        const ScriptLine line = ParseScriptLine(stored);
        if (line.kind != ScriptLineKind::IncrementLine || !line.dataOffset)
            continue;
        const std::string space = SerialNumberSpace(line);
        auto known = claimedBySpace.find(space);
        if (known == claimedBySpace.end()) {
            auto claimed = claimedIn(space);
            if (!claimed)
                return std::nullopt;
            known = claimedBySpace.emplace(space, *std::move(claimed)).first;
        }
        // The data is claimed as sent, its escapes translated: its digit fields are
        // the line's, in the same order and widths, only at other places.
        const std::vector<IncrementField> fields = FindDigitFields(line);
        std::vector<std::string> highest(fields.size());
        for (const std::string& data : known->second) {
            ScriptLine sent;
            sent.data = data;
            sent.dataOffset = 0;
            const std::vector<IncrementField> found = FindDigitFields(sent);
            for (std::size_t i = 0; i < fields.size() && i < found.size(); ++i) {
                if (found[i].digits.size() == fields[i].digits.size())
                    highest[i] = std::max(highest[i], found[i].digits);
            }
        }
        // The line as if it had sent the highest numbers, advanced as a run advances it.
        ScriptLine last = line;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (highest[i].empty() || highest[i] < fields[i].digits)
                last.steps[i] = 0;
            else
                last.data.replace(fields[i].position - *line.dataOffset, highest[i].size(), highest[i]);
        }
        stored = WriteBackDigitFields(last, std::move(stored));
    }
    return lines;
}

int RunOnPorts(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const std::vector<std::string>& ports = args.repeated.at("port");
    for (const std::string report : {"junit", "json"}) {
        if (args.value(report))
            return UsageError(err, "--" + report + " writes the report of one run: give one --port");
    }
    // With several runs at once only the claims say which numbers went out.
    if (args.flag("write-back") && !args.flag("unique-serials"))
        return UsageError(err, "--write-back with several ports needs --unique-serials");
    std::map<std::string, std::string> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (ports[i] == ports[j])
                return UsageError(err, "--port " + ports[i] + " is given twice");
        }
    }
    if (const auto it = args.repeated.find("unit"); it != args.repeated.end()) {
        for (const std::string& unit : it->second) {
            std::size_t eq = std::string::npos;
            for (const std::string& port : ports) {
                if (unit.size() > port.size() && unit.compare(0, port.size(), port) == 0 && unit[port.size()] == '=')
                    eq = port.size();
            }
            if (eq == std::string::npos)
                return UsageError(err, "with several ports --unit takes PORT=TEXT, PORT one of the ports");
            units[unit.substr(0, eq)] = unit.substr(eq + 1);
        }
    }

    std::list<PortRun> runs;
    for (const std::string& port : ports) {
        PortRun& run = runs.emplace_back();
        run.port = port;
        const auto unit = units.find(port);
        run.arguments = ChildArguments(args, port, unit == units.end() ? nullptr : &unit->second);
    }

    InstallPassedSignals();
    QEventLoop loop;
    int worst = CliOk;
    int running = 0;
    bool signalled = false;
    const auto ended = [&](PortRun& run, int status) {
        if (!run.running)
            return;
        run.running = false;
        PassLines(out, run.port, run.pending[0], run.process.readAllStandardOutput(), true);
        PassLines(err, run.port, run.pending[1], run.process.readAllStandardError(), true);
        worst = Worse(worst, status);
        if (--running == 0)
            loop.quit();
    };
    for (PortRun& run : runs) {
        QProcess& process = run.process;
        // Its own process group: a terminal's Ctrl-C reaches the parent alone,
        // which passes it on once to every child.
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        process.setStandardInputFile(QProcess::nullDevice());
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [&out, &run] {
            PassLines(out, run.port, run.pending[0], run.process.readAllStandardOutput(), false);
        });
        QObject::connect(&process, &QProcess::readyReadStandardError, [&err, &run] {
            PassLines(err, run.port, run.pending[1], run.process.readAllStandardError(), false);
        });
        QObject::connect(&process, &QProcess::finished, [&, runPtr = &run](int code, QProcess::ExitStatus how) {
            ended(*runPtr, how == QProcess::NormalExit ? code : signalled ? CliCancelled : CliUsage);
        });
        QObject::connect(&process, &QProcess::errorOccurred, [&, runPtr = &run](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            PassLines(err, runPtr->port, runPtr->pending[1],
                      "tamrisk-cli: cannot start " + runPtr->process.program().toUtf8() + "\n", false);
            ended(*runPtr, CliUsage);
        });
        run.running = true;
        ++running;
        process.start(QCoreApplication::applicationFilePath(), run.arguments);
    }
    QTimer passSignals;
    QObject::connect(&passSignals, &QTimer::timeout, [&] {
        const int signal = g_signalToPass;
        if (signal == 0)
            return;
        g_signalToPass = 0;
        signalled = true;
        for (PortRun& run : runs) {
            if (run.running && run.process.processId() > 0)
                ::kill(static_cast<pid_t>(run.process.processId()), signal);
        }
    });
    passSignals.start(50);
    if (running > 0)
        loop.exec();
    if (args.flag("write-back") && !WriteBackPastClaims(args, err))
        worst = Worse(worst, CliFailed);
    return worst;
}

}  // namespace tamrisk
