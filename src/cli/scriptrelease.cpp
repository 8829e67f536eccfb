// tamrisk-cli script release FILE --product P --operation O [--vars FILE]
// --operator ID: releases a script (and its variables file) for a product and
// an operation, once every line of both reads as a run reads it; it becomes
// active when another person, a supervisor, approves it.

#include "scriptactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"
#include "inputfile.h"

#include <QDateTime>
#include <QFileInfo>

#include <ostream>

namespace tamrisk {

namespace {

// The bytes of `path`; none after a message on `err`.
std::optional<std::string> ReadFile(const std::string& path, std::ostream& err) {
    std::string error;
    std::optional<std::string> bytes = ReadInputFile(path, error);
    if (!bytes)
        CliError(err, "cannot read " + path + ": " + error);
    return bytes;
}

std::string FileName(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

}  // namespace

int ScriptReleaseAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "product", "operation", "vars"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != 1)
        return UsageError(err, "script release takes one FILE, the script");
    NewRelease made;
    made.product = args.value("product").value_or("");
    made.operation = args.value("operation").value_or("");
    made.scriptName = FileName(args.positional[0]);
    const auto script = ReadFile(args.positional[0], err);
    if (!script)
        return CliUsage;
    made.script = *script;
    if (const auto vars = args.value("vars")) {
        const auto bytes = ReadFile(*vars, err);
        if (!bytes)
            return CliUsage;
        made.varsName = FileName(*vars);
        made.vars = *bytes;
    }
    // Checked before anyone logs in; the store checks it again.
    if (const std::string problem = ReleaseProblem(made); !problem.empty()) {
        CliError(err, "script release: " + problem);
        return CliUsage;
    }
    RecordStore store;
    std::string who;
    if (const int status = OpenAsPerson(args, store, Privilege::ReleaseScript, who, err); status != CliOk)
        return status;
    made.releasedBy = who;
    made.station = DefaultStationName();
    made.releasedMs = QDateTime::currentMSecsSinceEpoch();
    const StoreResult<ScriptRelease> released = store.Releases().Release(made);
    if (!released)
        return StoreFailed(err, "cannot release " + made.scriptName + ":", released.error());
    out << "release " << released->id << ": " << released->product << ' ' << released->operation << " number "
        << released->number << ", " << released->scriptName << " SHA-256 " << released->scriptSha256
        << "; active once a supervisor other than " << who << " approves it\n";
    return CliOk;
}

}  // namespace tamrisk
