// People in tamrisk-cli: each command that needs a privilege refused to the
// roles below it, the operator commands a supervisor manages people with, the
// new PIN typed twice on a terminal with its echo off, and a line's database
// where a supervisor's login adds people and a station's logs them in. No PIN
// nor its hash is ever printed or kept in a record.

#include "cli.h"
#include "pin.h"
#include "privileges.h"

#include "peopletesting.h"
#include "recordtesting.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::CliRun;

// Unlike any text a record holds by chance.
constexpr const char* PeoplePin = "Kx7#pin-q";

const std::string& PeoplePinHash() { return testing::PinHashOnce(PeoplePin); }

// Qt's database drivers and serial ports want an application.
void PeopleApplication() {
    static int argc = 1;
    static char name[] = "cli_people_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// Whether `text` shows the PIN or its hash.
bool ShowsPin(const std::string& text) {
    return text.find(PeoplePin) != std::string::npos || text.find(PeoplePinHash()) != std::string::npos ||
           text.find("$argon2") != std::string::npos;
}

// tamrisk-cli in this process, over a records file of the test's own.
class CliPeople : public ::testing::Test {
protected:
    void SetUp() override {
        PeopleApplication();
        ASSERT_TRUE(dir.isValid());
        records = dir.filePath("records.sqlite").toStdString();
        pinFile = testing::FileWithMode(dir.filePath("pin"), std::string(PeoplePin) + "\n");
    }
    // Adds a person of each role, "op-<role>", to the records.
    void AddEveryRole() {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(QString::fromStdString(records))));
        for (const Role role : AllRoles) {
            const std::string name(RoleName(role));
            ASSERT_TRUE(
                StoreOk(store.Operators().Add({"op-" + name, "The " + name, role, PeoplePinHash(), false, 0, 0, 1})));
        }
    }
    CliRun Cli(std::vector<std::string> args) {
        args.insert(args.end(), {"--records", records});
        std::ostringstream out, err;
        CliRun run;
        run.exitCode = CliMain(args, out, err);
        run.out = out.str();
        run.err = err.str();
        EXPECT_FALSE(ShowsPin(run.out + run.err)) << run.out << run.err;
        return run;
    }
    // `args` run by the person `id` with the PIN file.
    CliRun As(const std::string& id, std::vector<std::string> args) {
        args.insert(args.end(), {"--operator", id, "--pin-file", pinFile});
        return Cli(std::move(args));
    }

    QTemporaryDir dir;
    std::string records, pinFile;
};

// A command for each privilege the CLI has one for, run by each role: done
// from its least role up, below it refused with the role that may.
TEST_F(CliPeople, EachCommandIsRefusedToTheRolesBelowItsPrivilege) {
    AddEveryRole();
    const std::string port = "/nonexistent/ttyTamrisk";
    const std::string script = testing::FileWithMode(dir.filePath("pass.inp"), "90\r\n");
    const std::string image = dir.filePath("fiscal.bin").toStdString();
    const struct {
        Privilege privilege;
        Role least;  // as the line's rules have it: the table must agree
        std::vector<std::string> args;
        int done;  // the exit status once let in: a port that is not there ends a printer command
    } commands[] = {
        // Where people log in a run without a SCRIPT runs the active release: there is none.
        {Privilege::RunReleasedScript, Role::Operator,
         {"run", "--port", port, "--unit", "U1", "--product", "FP-3", "--operation", "final"}, CliNoRelease},
        {Privilege::EngineeringRun, Role::Engineer, {"run", "--port", port, script}, CliUsage},
        {Privilege::ReleaseScript, Role::Engineer,
         {"script", "release", script, "--product", "FP-3", "--operation", "final"}, CliOk},
        // Release 1 is the engineer's: the supervisor may approve it.
        {Privilege::ApproveRelease, Role::Supervisor, {"script", "approve", "1"}, CliOk},
        {Privilege::ExecuteCommand, Role::Technician, {"exec", "--port", port, "48"}, CliUsage},
        {Privilege::ReadMemories, Role::Technician, {"read-fiscal", "--port", port, "-o", image}, CliUsage},
        {Privilege::Journal, Role::Technician, {"journal", "info", "--port", port}, CliUsage},
        {Privilege::HoldUnits, Role::Technician, {"unit", "hold", "U1", "--reason", "scratched"}, CliOk},
        {Privilege::ManageOperators, Role::Supervisor, {"operator", "list"}, CliOk},
        {Privilege::ManageRoutes, Role::Supervisor, {"route", "set", "--product", "FP-3", "board"}, CliOk},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.args[0] + " " + command.args[1]);
        EXPECT_EQ(LeastRole(command.privilege), command.least);
        for (const Role role : AllRoles) {
            SCOPED_TRACE(RoleName(role));
            const CliRun run = As("op-" + std::string(RoleName(role)), command.args);
            if (role >= command.least) {
                EXPECT_EQ(run.exitCode, command.done) << run.err;
                EXPECT_EQ(run.err.find("may not"), std::string::npos) << run.err;
            } else {
                EXPECT_EQ(run.exitCode, CliNotPermitted);
                EXPECT_EQ(run.err, "tamrisk-cli: " + RefusalText(role, command.privilege) + "\n");
                EXPECT_NE(run.err.find(" " + std::string(RoleName(command.least)) + " may"), std::string::npos);
            }
        }
    }
    // The holds are the records of the people who made them, their IDs and names.
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(QString::fromStdString(records))));
    RecordFilter holds;
    holds.kind = "hold";
    std::set<std::string> who;
    for (const RecordHeader& header : ValueOf(store.List(holds)))
        who.insert(header.operatorId + " " + header.operatorName + " " + header.computerLogin);
    EXPECT_EQ(who, (std::set<std::string>{"op-engineer The engineer " + LoginName(),
                                          "op-supervisor The supervisor " + LoginName(),
                                          "op-technician The technician " + LoginName()}));
}

// Where the records hold people, nothing that needs a privilege goes without
// --operator; what only reads the records does. A PIN is never an option.
TEST_F(CliPeople, CommandsNeedALogInReadingTheRecordsDoesNot) {
    AddEveryRole();
    const std::string port = "/nonexistent/ttyTamrisk";
    const std::string image = dir.filePath("image.bin").toStdString();
    // Those of the privileges' table above are left out here.
    const std::vector<std::vector<std::string>> privileged = {
        {"read-code", "--port", port, "-o", image},
        {"read-journal-bin", "--port", port, "-o", image},
        {"journal", "read", "--port", port, "A"},
        {"journal", "print", "--port", port, "A"},
        {"journal", "check", "--port", port, "R1"},
        {"unit", "release", "U1", "--reason", "reseated"},
        {"route", "delete", "--product", "FP-3"},
        {"operator", "add", "ivo", "--name", "Ivo", "--role", "operator"},
        {"operator", "role", "op-operator", "technician"},
        {"operator", "disable", "op-operator"},
        {"operator", "pin", "op-operator"},
    };
    for (const auto& args : privileged) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.exitCode, CliLogInRefused) << args[0] << " " << args[1];
        EXPECT_EQ(run.err, "tamrisk-cli: these records hold operators: log in with --operator ID\n") << args[0];
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"records", "list"}, {"route", "show"}, {"unit", "history", "U1"}}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.exitCode, CliOk) << args[0] << ": " << run.err;
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"exec", "--pin", PeoplePin, "--port", port, "48"},
                                               {"exec", std::string("--pin=") + PeoplePin, "--port", port, "48"},
                                               {"operator", "add", "ivo", "--name", "Ivo", "--role", "operator",
                                                "--new-pin", PeoplePin}}) {
        EXPECT_EQ(Cli(args).exitCode, CliUsage) << args[1];  // Cli checks that the PIN is not shown
    }
}

// A supervisor manages people; the first is added without a log-in and must
// be a supervisor; the last supervisor stays one.
TEST_F(CliPeople, ASupervisorAddsListsChangesAndDisablesPeople) {
    const std::string shortPin = testing::FileWithMode(dir.filePath("short"), "123\n");
    const auto boss = [&](std::vector<std::string> args) { return As("boss", std::move(args)); };
    const auto add = [&](const char* id, const char* role) {
        return std::vector<std::string>{
            "operator", "add", id, "--name", std::string("Name of ") + id, "--role", role, "--new-pin-file", pinFile};
    };
    const struct {
        const char* what;
        std::function<CliRun()> run;
        int status;
        std::string out, err;  // the whole of each
    } steps[] = {
        {"the first one an operator", [&] { return Cli(add("olga", "operator")); }, CliUsage, "",
         "tamrisk-cli: the first operator must be a supervisor\n"},
        {"the first supervisor", [&] { return Cli(add("boss", "supervisor")); }, CliOk,
         "boss added: Name of boss, supervisor\n", ""},
        {"the next without a log-in", [&] { return Cli(add("tom", "technician")); }, CliLogInRefused, "",
         "tamrisk-cli: these records hold operators: log in with --operator ID\n"},
        {"a technician", [&] { return boss(add("tom", "technician")); }, CliOk, "tom added: Name of tom, technician\n",
         ""},
        {"a PIN too short",
         [&] {
             return boss({"operator", "add", "ivo", "--name", "Ivo", "--role", "operator", "--new-pin-file", shortPin});
         },
         CliUsage, "", "tamrisk-cli: a PIN has 4 to 32 characters\n"},
        {"a role",
         [&] {
             return boss({"operator", "role", "tom", "engineer"});
         },
         CliOk, "tom: engineer\n", ""},
        {"the last supervisor demoted",
         [&] {
             return boss({"operator", "role", "boss", "engineer"});
         },
         CliNotPermitted, "", "tamrisk-cli: boss is the last supervisor who may log in: make another one first\n"},
        {"the last supervisor disabled",
         [&] {
             return boss({"operator", "disable", "boss"});
         },
         CliNotPermitted, "", "the last supervisor"},
        {"a new PIN",
         [&] {
             return boss({"operator", "pin", "tom", "--new-pin-file", pinFile});
         },
         CliOk, "tom has a new PIN\n", ""},
        {"nobody's PIN",
         [&] {
             return boss({"operator", "pin", "nobody", "--new-pin-file", pinFile});
         },
         CliRecordNotFound, "", "no operator nobody"},
        {"an ID twice", [&] { return boss(add("tom", "operator")); }, CliFailed, "", "already in the records"},
        {"an engineer manages nobody",
         [&] {
             return As("tom", {"operator", "list"});
         },
         CliNotPermitted, "", "tamrisk-cli: an engineer may not manage operators: a supervisor may\n"},
        {"disabled",
         [&] {
             return boss({"operator", "disable", "tom"});
         },
         CliOk, "tom is disabled\n", ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const CliRun run = step.run();
        EXPECT_EQ(run.exitCode, step.status) << run.err;
        if (!step.out.empty()) {
            EXPECT_EQ(run.out, step.out);
        }
        if (step.err.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find(step.err), std::string::npos) << run.err;
        }
    }
    const CliRun csv = boss({"operator", "list", "--format", "csv"});
    EXPECT_EQ(testing::Lines(csv.out).at(0), "id,name,role,disabled,failed_pins,locked_until,added\r");
    EXPECT_EQ(csv.out.find("boss,Name of boss,supervisor,false,0,,"), csv.out.find("\r\n") + 2) << csv.out;
    EXPECT_NE(csv.out.find("\r\ntom,Name of tom,engineer,true,0,,"), std::string::npos) << csv.out;
    EXPECT_EQ(As("tom", {"unit", "hold", "U1", "--reason", "r"}).err, "tamrisk-cli: tom is disabled\n");
    const QJsonArray json =
        QJsonDocument::fromJson(QByteArray::fromStdString(boss({"operator", "list", "--format", "json"}).out)).array();
    ASSERT_EQ(json.size(), 2);
    EXPECT_EQ(json[1].toObject().keys(),
              (QStringList{"added", "disabled", "failed_pins", "id", "locked_until", "name", "role"}));
    EXPECT_EQ(json[1].toObject()["role"].toString(), "engineer");
    const CliRun table = boss({"operator", "list"});
    EXPECT_EQ(table.out,
              "ID    NAME          ROLE        STATE\n"
              "boss  Name of boss  supervisor\n"
              "tom   Name of tom   engineer    disabled\n");
}

// The file descriptor of a new pseudo-terminal's master side; its slave's path in `slave`.
int OpenPseudoTerminal(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return -1;
    slave = ::ptsname(master);
    return master;
}

// Everything the pseudo-terminal's master side holds now.
std::string Drain(int master) {
    std::string text;
    char buffer[256];
    pollfd ready{master, POLLIN, 0};
    while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Waits until `process`'s stderr so far ends with `prompt`; all it said in `said`.
bool WaitForPrompt(QProcess& process, const std::string& prompt, std::string& said) {
    const QDeadlineTimer deadline(20000);
    while (said.size() < prompt.size() || said.compare(said.size() - prompt.size(), prompt.size(), prompt) != 0) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(100);
        said += process.readAllStandardError().toStdString();
    }
    return true;
}

// The first supervisor types their new PIN twice on a terminal: it is not
// echoed, the terminal's echo is back on afterwards, and the PIN logs them in.
TEST(CliPeopleTerminal, TheNewPinIsTypedTwiceWithoutEcho) {
    std::string slavePath;
    const int master = OpenPseudoTerminal(slavePath);
    ASSERT_GE(master, 0);
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    testing::SimProcess programs;
    QTemporaryDir dir;
    const QString records = dir.filePath("records.sqlite");

    QProcess add;
    add.setStandardInputFile(QString::fromStdString(slavePath));
    programs.startCli(add, {"operator", "add", "boss", "--name", "Boss", "--role", "supervisor", "--records", records});
    std::string said;
    ASSERT_TRUE(WaitForPrompt(add, "New PIN for boss: ", said)) << said;
    const std::string typed = std::string(PeoplePin) + "\n";
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ASSERT_TRUE(WaitForPrompt(add, "The new PIN again: ", said)) << said;
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ASSERT_TRUE(add.waitForFinished(20000));
    said += add.readAllStandardError().toStdString();
    EXPECT_EQ(add.exitCode(), CliOk) << said;
    EXPECT_EQ(add.readAllStandardOutput().toStdString(), "boss added: Boss, supervisor\n");
    EXPECT_EQ(said, "New PIN for boss: \nThe new PIN again: \n");
    // What the terminal showed: nothing of the PIN.
    EXPECT_EQ(Drain(master).find(PeoplePin), std::string::npos);
    termios settings{};
    ASSERT_EQ(::tcgetattr(slave, &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0u);

    // The PIN typed logs boss in; the records file holds its hash only.
    QProcess list;
    list.setStandardInputFile(QString::fromStdString(slavePath));
    programs.startCli(list, {"operator", "list", "--operator", "boss", "--records", records});
    said.clear();
    ASSERT_TRUE(WaitForPrompt(list, "PIN for boss: ", said)) << said;
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ASSERT_TRUE(list.waitForFinished(20000));
    EXPECT_EQ(list.exitCode(), CliOk) << list.readAllStandardError().toStdString();
    EXPECT_EQ(testing::Lines(list.readAllStandardOutput().toStdString()).size(), 2u);
    for (const QString& file : {records, records + "-wal"}) {
        QFile bytes(file);
        if (bytes.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(bytes.readAll().indexOf(PeoplePin), -1) << file.toStdString();
        }
    }
    ::close(slave);
    ::close(master);
}

// On a line's database a supervisor's login adds people, a station's login
// logs them in (and is refused adding any); the records the station forwards
// name the person, and its local file holds no PIN nor hash.
TEST(CliPeopleLine, TheSupervisorsLoginAddsPeopleAStationsLogsThemIn) {
    testing::TestDatabase line(Backend::Postgresql);
    if (!line.IsPostgresql())
        GTEST_SKIP() << line.SkipReason();
    RecordStore owner;
    ASSERT_TRUE(StoreOk(owner.Open(line.Location())));
    const QString station = line.MakeRole("station"), supervisor = line.MakeRole("supervisor");
    ASSERT_TRUE(StoreOk(owner.GrantLogins({station}, {}, {supervisor})));
    const QString asStation = testing::AsLogin(line.Location(), station);
    const QString asSupervisor = testing::AsLogin(line.Location(), supervisor);

    testing::SimProcess programs;
    QTemporaryDir dir;
    const QString local = dir.filePath("local.sqlite");
    programs.setEnv("TAMRISK_LOCAL_RECORDS", local);
    const std::string pinFile = testing::FileWithMode(dir.filePath("pin"), std::string(PeoplePin) + "\n");
    const QStringList logIn = {"--operator", "boss", "--pin-file", QString::fromStdString(pinFile)};
    const QStringList addTom = {"operator",
                                "add",
                                "tom",
                                "--name",
                                "Tom",
                                "--role",
                                "technician",
                                "--new-pin-file",
                                QString::fromStdString(pinFile)};
    const struct {
        const char* what;
        QStringList args;
        int status;
    } steps[] = {
        {"the first supervisor",
         {"operator", "add", "boss", "--name", "Boss", "--role", "supervisor", "--new-pin-file",
          QString::fromStdString(pinFile), "--records", asSupervisor},
         CliOk},
        // The database refuses the statement (permission denied): the store's failed statement.
        {"a station's login adds nobody", addTom + logIn + QStringList{"--records", asStation}, CliFailed},
        {"a technician", addTom + logIn + QStringList{"--records", asSupervisor}, CliOk},
        {"a hold at a station",
         {"unit", "hold", "U1", "--reason", "scratched", "--operator", "tom", "--pin-file",
          QString::fromStdString(pinFile), "--records", asStation},
         CliOk},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const CliRun run = programs.cli(step.args);
        EXPECT_EQ(run.exitCode, step.status) << run.err;
        EXPECT_FALSE(ShowsPin(run.out + run.err));
    }
    EXPECT_EQ(testing::RunSql(line.Location(), {"SELECT operator_id || ' ' || operator_name FROM records"
                                                " WHERE kind = 'hold'"}),
              "tom Tom\n");
    QFile bytes(local);
    ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
    const QByteArray kept = bytes.readAll();
    EXPECT_EQ(kept.indexOf(PeoplePin), -1);
    EXPECT_EQ(kept.indexOf("$argon2"), -1);
}

}  // namespace
}  // namespace tamrisk
