// Logging in to tamrisk-cli where the records hold people, on SQLite and
// PostgreSQL: who is let in, who is refused and how they are told, the PIN
// file that only its owner may read, and five wrong PINs that lock an ID.

#include "cli.h"
#include "clilogin.h"
#include "pin.h"
#include "record.h"

#include "peopletesting.h"
#include "recordtesting.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;

constexpr const char* LogInPin = "2468";

const std::string& LogInPinHash() { return testing::PinHashOnce(LogInPin); }

// A line's records holding a supervisor, a technician, an operator and a
// disabled operator, all with LogInPin.
class CliLogInOn : public testing::BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        const struct {
            const char* id;
            const char* name;
            Role role;
            bool disabled;
        } people[] = {
            {"sara", "Sara Supervisor", Role::Supervisor, false},
            {"tom", "Tom Technician", Role::Technician, false},
            {"olga", "Olga Operator", Role::Operator, false},
            {"dora", "Dora Gone", Role::Operator, true},
        };
        for (const auto& person : people)
            ASSERT_TRUE(StoreOk(store.Operators().Add(
                {person.id, person.name, person.role, LogInPinHash(), person.disabled, 0, 0, 1})));
        good = testing::FileWithMode(Folder() + "/good.pin", std::string(LogInPin) + "\n", 0600);
    }
    QString Folder() const { return database->Folder(); }

    // Logs `args` in for `privilege`; what was said goes to `said`.
    CliLogIn LogInWith(const std::vector<std::string>& args, Privilege privilege, std::string& said) {
        const ParsedArgs parsed = ParseArgs(args, WithLogInOptions({}), {});
        EXPECT_EQ(parsed.error, "");
        std::ostringstream err;
        CliLogIn login = LogInAt(store, parsed, privilege, err);
        said = err.str();
        return login;
    }

    std::string good;
};

TEST_P(CliLogInOn, EachRefusalHasItsStatusAndItsWords) {
    const std::string loose = testing::FileWithMode(Folder() + "/loose.pin", "2468\n", 0640);
    const std::string shared = testing::FileWithMode(Folder() + "/shared.pin", "2468\n", 0604);
    const std::string wrong = testing::FileWithMode(Folder() + "/wrong.pin", "1357\n", 0600);
    const std::string windows = testing::FileWithMode(Folder() + "/windows.pin", "2468\r\nignored\n", 0400);
    const std::string shortPin = testing::FileWithMode(Folder() + "/short.pin", "12\n", 0600);
    const auto chmod = [](const std::string& file) {
        return "tamrisk-cli: PIN file " + file +
               ": others than its owner may read or write it: make it the owner's"
               " only with chmod 600 " +
               file + "\n";
    };
    const struct {
        std::string id, pinFile;  // no --operator for an empty ID
        Privilege privilege;
        int status;
        std::string said;  // the whole of stderr
    } cases[] = {
        {"", good, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: these records hold operators: log in with --operator ID\n"},
        {"olga", good, Privilege::ExecuteCommand, CliNotPermitted,
         "tamrisk-cli: an operator may not execute single commands: a technician may\n"},
        {"to\x1bm", good, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: --operator: not an operator ID (1 to 64 characters, no control characters, no blank at either"
         " end)\n"},
        {"nobody", good, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: nobody is no operator of these records\n"},
        {"olga", wrong, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: wrong PIN for olga: 4 tries left\n"},
        {"dora", good, Privilege::RunReleasedScript, CliLogInRefused, "tamrisk-cli: dora is disabled\n"},
        {"sara", loose, Privilege::ExecuteCommand, CliLogInRefused, chmod(loose)},
        {"sara", shared, Privilege::ExecuteCommand, CliLogInRefused, chmod(shared)},
        {"sara", Folder().toStdString(), Privilege::ExecuteCommand, CliLogInRefused,
         "tamrisk-cli: PIN file " + Folder().toStdString() + ": not a regular file\n"},
        {"sara", shortPin, Privilege::ExecuteCommand, CliLogInRefused, "tamrisk-cli: a PIN has 4 to 32 characters\n"},
        {"tom", windows, Privilege::HoldUnits, CliOk, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id + " " + c.pinFile);
        std::string said;
        const CliLogIn login =
            LogInWith(c.id.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{"--operator", c.id, "--pin-file", c.pinFile},
                      c.privilege, said);
        EXPECT_EQ(login.status, c.status);
        EXPECT_EQ(said, c.said);
        EXPECT_EQ(login.person.has_value(), c.status == CliOk);
    }
    // A PIN file refused or a PIN too short is no try at sara's PIN; olga's wrong one counts.
    EXPECT_EQ(ValueOf(store.Operators().Find("sara")).failedPins, 0);
    EXPECT_EQ(ValueOf(store.Operators().Find("olga")).failedPins, 1);
}

// The fifth wrong PIN in a row locks the ID: the right PIN is then refused too.
TEST_P(CliLogInOn, FiveWrongPinsLockTheId) {
    const std::string wrong = testing::FileWithMode(Folder() + "/wrong.pin", "9999\n", 0600);
    std::string said;
    for (int tries = 4; tries >= 1; --tries) {
        EXPECT_EQ(LogInWith({"--operator", "tom", "--pin-file", wrong}, Privilege::Journal, said).status,
                  CliLogInRefused);
        EXPECT_EQ(said, "tamrisk-cli: wrong PIN for tom: " + std::to_string(tries) + " tries left\n");
    }
    const QRegularExpression locked(
        QStringLiteral("^tamrisk-cli: tom is locked until \\d\\d:\\d\\d:\\d\\d \\(five wrong PINs\\)\n$"));
    for (const std::string& file : {wrong, good}) {
        EXPECT_EQ(LogInWith({"--operator", "tom", "--pin-file", file}, Privilege::Journal, said).status,
                  CliLogInRefused);
        EXPECT_TRUE(locked.match(QString::fromStdString(said)).hasMatch()) << said;
    }
}

// Without a terminal the PIN is not asked for; a PIN file is the way for automation.
TEST_P(CliLogInOn, WithoutATerminalThePinIsNotAsked) {
    if (::isatty(STDIN_FILENO) != 0)
        GTEST_SKIP() << "stdin is a terminal here";
    std::string said;
    EXPECT_EQ(LogInWith({"--operator", "tom"}, Privilege::Journal, said).status, CliLogInRefused);
    EXPECT_EQ(said, "tamrisk-cli: the PIN is asked on a terminal: give --pin-file FILE for automation\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, CliLogInOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// Records without people, a line's database out of reach, a records file
// that cannot be made: nobody logs in and the command goes on as before (the
// record of a file that cannot be made tells of it), but a person who asks to
// log in where the records cannot be asked is refused with the store's status.
TEST(CliLogInNobody, RecordsWithoutPeopleOrThatCannotBeAskedLetCommandsGoOn) {
    QTemporaryDir dir;
    const std::string empty = dir.filePath("records.sqlite").toStdString();
    const std::string away = "postgresql://tamrisk@/line?host=" + dir.filePath("no-socket").toStdString();
    const QString plain = dir.filePath("plain");
    ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));
    const std::string underFile = plain.toStdString() + "/records.sqlite";
    const std::vector<std::string> tom = {"--operator", "tom", "--pin-file", "/nonexistent"};
    const struct {
        std::string records;
        bool logIn;
        int status;
        std::string said;  // the start of stderr; empty: nothing
    } cases[] = {
        {empty, false, CliOk, ""},
        {empty, true, CliOk, "tamrisk-cli: the records hold no operators: nobody logs in\n"},
        {away, false, CliOk,
         "tamrisk-cli: who logs in cannot be checked, the records are out of reach (going on without a log-in): " +
             away},
        {away, true, CliRecordsUnavailable, "tamrisk-cli: cannot log in: " + away},
        {underFile, false, CliOk, ""},
        {underFile, true, CliRecordsUnavailable, "tamrisk-cli: cannot log in: "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--records", c.records};
        if (c.logIn)
            args.insert(args.end(), tom.begin(), tom.end());
        std::ostringstream err;
        const CliLogIn login =
            LogIn(ParseArgs(args, WithLogInOptions({"records"}), {}), Privilege::ExecuteCommand, err);
        EXPECT_EQ(login.status, c.status) << err.str();
        EXPECT_FALSE(login.person);
        EXPECT_EQ(login.Who(), LoginName());
        EXPECT_EQ(err.str().substr(0, c.said.size()), c.said);
        EXPECT_EQ(err.str().empty(), c.said.empty()) << err.str();
    }
}

}  // namespace
}  // namespace tamrisk
