// tamrisk-cli script: scripts released for a product and an operation,
// approved by a second person, listed, shown and revoked where every station
// sees them; here the dispatch and what the actions share.

#include "scriptactions.h"

#include "cli.h"
#include "clisession.h"
#include "processactions.h"
#include "record.h"

#include <QDateTime>
#include <QFile>

#include <ostream>

#include <termios.h>
#include <unistd.h>

namespace tamrisk {

namespace {

// ---- Local log-in: stands in for the CLI's log-in (src/cli/clilogin.h) until
// ---- that is merged into this branch; the PIN from --pin-file or asked on the terminal.
std::optional<std::string> ReadPin(const ParsedArgs& args, std::ostream& err) {
    std::string pin;
    if (const auto file = args.value("pin-file")) {
        QFile in(QString::fromStdString(*file));
        if (!in.open(QIODevice::ReadOnly)) {
            CliError(err, "cannot read " + *file + ": " + in.errorString().toStdString());
            return std::nullopt;
        }
        pin = in.readLine(64).toStdString();
    } else {
        if (!::isatty(STDIN_FILENO)) {
            CliError(err, "no PIN: give --pin-file FILE or run on a terminal");
            return std::nullopt;
        }
        termios shown{};
        ::tcgetattr(STDIN_FILENO, &shown);
        termios hidden = shown;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
        err << "PIN: " << std::flush;
        char line[64] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &shown);
        err << '\n';
        pin.assign(line, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r'))
        pin.pop_back();
    return pin;
}

// The person of --operator logged in with their PIN; CliOk, else the exit status after a message.
int LogInPerson(const ParsedArgs& args, RecordStore& store, Operator& person, std::ostream& err) {
    const auto id = args.value("operator");
    if (!id || id->empty()) {
        UsageError(err, "--operator ID names the person who does this");
        return CliUsage;
    }
    const std::optional<std::string> pin = ReadPin(args, err);
    if (!pin)
        return CliUsage;
    const StoreResult<LogInOutcome> outcome =
        store.Operators().LogIn(*id, *pin, QDateTime::currentMSecsSinceEpoch());
    if (!outcome)
        return StoreFailed(err, "cannot log in", outcome.error());
    using V = LogInOutcome::Verdict;
    switch (outcome->verdict) {
    case V::Accepted: person = *outcome->person; return CliOk;
    case V::WrongPin: CliError(err, "log-in refused: wrong PIN"); break;
    case V::Locked: CliError(err, "log-in refused: " + *id + " is locked for now"); break;
    case V::Disabled: CliError(err, "log-in refused: " + *id + " is disabled"); break;
    case V::Unknown: CliError(err, "log-in refused: no operator " + *id); break;
    }
    return CliLogInRefused;
}
// ---- End of the local log-in.

}  // namespace

int OpenAsPerson(const ParsedArgs& args, RecordStore& store, Privilege privilege, Operator& person,
                 std::ostream& err) {
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    if (const int status = LogInPerson(args, store, person, err); status != CliOk)
        return status;
    if (!May(person.role, privilege)) {
        CliError(err, RefusalText(person.role, privilege));
        return CliNotPermitted;
    }
    store.SetActor(person.id, DefaultStationName());
    return CliOk;
}

std::optional<qint64> ReleaseArgument(const ParsedArgs& args, const std::string& action, std::ostream& err) {
    const auto id = args.positional.size() == 1
                        ? ParseWholeNumber(args.positional[0], 1, std::numeric_limits<qint64>::max())
                        : std::nullopt;
    if (!id)
        UsageError(err, "script " + action + " takes one RELEASE, a release's id");
    return id;
}

int ScriptCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty())
        return UsageError(err, "script needs an action: release, approve, revoke, list or show");
    const std::string& action = rest[0];
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    if (action == "release")
        return ScriptReleaseAction(args, out, err);
    if (action == "approve")
        return ScriptApproveAction(args, out, err);
    if (action == "revoke")
        return ScriptRevokeAction(args, out, err);
    if (action == "list")
        return ScriptListAction(args, out, err);
    if (action == "show")
        return ScriptShowAction(args, out, err);
    return UsageError(err, "unknown script action " + action);
}

}  // namespace tamrisk
