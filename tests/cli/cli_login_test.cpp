// Logging in to tamrisk-cli where the records hold people, on SQLite and
// PostgreSQL: who is let in, who is refused and how they are told, the PIN
// file that only its owner may read, and five wrong PINs that lock an ID.

#include "cli.h"
#include "clilogin.h"
#include "pin.h"
#include "record.h"

#include "recordtesting.h"

#include <QFile>
#include <QRegularExpression>

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

// One hash for every person of these tests: each hash costs a sixth of a second.
const std::string& LogInPinHash() {
    static const std::string hash = HashPin(LogInPin);
    return hash;
}

// Writes `text` into `path` with `mode`; the path.
std::string WritePinFile(const QString& path, const std::string& text, mode_t mode) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.close();
    EXPECT_EQ(::chmod(path.toLocal8Bit().constData(), mode), 0);
    return path.toStdString();
}

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
            ASSERT_TRUE(StoreOk(store.Operators().Add({person.id, person.name, person.role, LogInPinHash(),
                                                        person.disabled, 0, 0, 1})));
        good = WritePinFile(Folder() + "/good.pin", std::string(LogInPin) + "\n", 0600);
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
    const std::string loose = WritePinFile(Folder() + "/loose.pin", "2468\n", 0640);
    const std::string shared = WritePinFile(Folder() + "/shared.pin", "2468\n", 0602);
    const std::string wrong = WritePinFile(Folder() + "/wrong.pin", "1357\n", 0600);
    const std::string windows = WritePinFile(Folder() + "/windows.pin", "2468\r\nignored\n", 0400);
    const std::string shortPin = WritePinFile(Folder() + "/short.pin", "12\n", 0600);
    const std::string missing = (Folder() + "/missing.pin").toStdString();
    const std::string notAnId = "not an operator ID (1 to 64 characters, no control characters, no blank at either end)";
    const struct {
        const char* what;
        std::vector<std::string> args;
        Privilege privilege;
        int status;
        std::string said;        // the whole of stderr
        const char* person;      // who is logged in, or null
    } cases[] = {
        {"no --operator", {}, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: these records hold operators: log in with --operator ID\n", nullptr},
        {"a role that may not", {"--operator", "olga", "--pin-file", good}, Privilege::ExecuteCommand,
         CliNotPermitted, "tamrisk-cli: an operator may not execute single commands: a technician may\n", nullptr},
        {"an ID with a control character", {"--operator", "to\x1bm", "--pin-file", good},
         Privilege::RunReleasedScript, CliLogInRefused, "tamrisk-cli: --operator: " + notAnId + "\n", nullptr},
        {"an unknown ID", {"--operator", "nobody", "--pin-file", good}, Privilege::RunReleasedScript,
         CliLogInRefused, "tamrisk-cli: nobody is no operator of these records\n", nullptr},
        {"a wrong PIN", {"--operator", "olga", "--pin-file", wrong}, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: wrong PIN for olga: 4 tries left\n", nullptr},
        {"a disabled ID", {"--operator", "dora", "--pin-file", good}, Privilege::RunReleasedScript, CliLogInRefused,
         "tamrisk-cli: dora is disabled\n", nullptr},
        {"a PIN file its group may read", {"--operator", "sara", "--pin-file", loose}, Privilege::ExecuteCommand,
         CliLogInRefused,
         "tamrisk-cli: PIN file " + loose +
             ": others than its owner may read or write it: make it the owner's only with chmod 600 " + loose + "\n",
         nullptr},
        {"a PIN file others may write", {"--operator", "sara", "--pin-file", shared}, Privilege::ExecuteCommand,
         CliLogInRefused,
         "tamrisk-cli: PIN file " + shared +
             ": others than its owner may read or write it: make it the owner's only with chmod 600 " + shared + "\n",
         nullptr},
        {"no PIN file", {"--operator", "sara", "--pin-file", missing}, Privilege::ExecuteCommand, CliLogInRefused,
         "tamrisk-cli: PIN file " + missing + ": No such file or directory\n", nullptr},
        {"a folder as PIN file", {"--operator", "sara", "--pin-file", Folder().toStdString()},
         Privilege::ExecuteCommand, CliLogInRefused,
         "tamrisk-cli: PIN file " + Folder().toStdString() + ": not a regular file\n", nullptr},
        {"a PIN too short", {"--operator", "sara", "--pin-file", shortPin}, Privilege::ExecuteCommand,
         CliLogInRefused, "tamrisk-cli: a PIN has 4 to 32 characters\n", nullptr},
        {"a technician", {"--operator", "tom", "--pin-file", windows}, Privilege::HoldUnits, CliOk, "", "tom"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string said;
        const CliLogIn login = LogInWith(c.args, c.privilege, said);
        EXPECT_EQ(login.status, c.status);
        EXPECT_EQ(said, c.said);
        EXPECT_EQ(login.person ? login.person->id : "-", c.person ? c.person : "-");
        EXPECT_EQ(said.find(LogInPin), std::string::npos);
        EXPECT_EQ(said.find(LogInPinHash()), std::string::npos);
    }
    // A PIN file refused or a PIN too short is no try at sara's PIN; olga's wrong one counts.
    EXPECT_EQ(ValueOf(store.Operators().Find("sara")).failedPins, 0);
    EXPECT_EQ(ValueOf(store.Operators().Find("olga")).failedPins, 1);

    // The person names the records: their ID and name; the computer's login stays.
    std::string said;
    const CliLogIn tom = LogInWith({"--operator", "tom", "--pin-file", good}, Privilege::Journal, said);
    RecordHeader header = NewRecordHeader("command");
    tom.Sign(header);
    EXPECT_EQ(header.operatorId, "tom");
    EXPECT_EQ(header.operatorName, "Tom Technician");
    EXPECT_EQ(header.computerLogin, LoginName());
    EXPECT_EQ(tom.Who(), "tom");
}

// The fifth wrong PIN in a row locks the ID: the right PIN is then refused too.
TEST_P(CliLogInOn, FiveWrongPinsLockTheId) {
    const std::string wrong = WritePinFile(Folder() + "/wrong.pin", "9999\n", 0600);
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

// Records without people: nobody logs in, --operator changes nothing but a word.
TEST(CliLogInNobody, RecordsWithoutOperatorsLetEveryoneIn) {
    testing::TestDatabase database(Backend::Sqlite);
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(database.Location())));
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{}, ""},
        {{"--operator", "tom", "--pin-file", "/nonexistent"}, "tamrisk-cli: the records hold no operators: nobody logs in\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        const CliLogIn login = LogInAt(store, ParseArgs(c.args, WithLogInOptions({}), {}), Privilege::ManageRoutes, err);
        EXPECT_EQ(login.status, CliOk);
        EXPECT_FALSE(login.person);
        EXPECT_EQ(err.str(), c.said);
        EXPECT_EQ(login.Who(), LoginName());
    }
}

}  // namespace
}  // namespace tamrisk
