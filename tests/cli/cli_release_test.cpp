// Released scripts from tamrisk-cli, against tamrisk-sim: released by an
// engineer, approved by a supervisor, listed and shown, run by an operator
// as the active release, refused once revoked; each command refused to a role
// that may not use it.

#include "pin.h"
#include "recordstore.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tamrisk::testing {
namespace {

// Records for the simulator's runs holding an engineer (eva), a supervisor
// (olga) and an operator (ivan), each with PIN 2468, which the file `pin` holds.
class CliReleases : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started());
        sim.setEnv("TAMRISK_RECORDS", records);
        RecordStore store;
        ASSERT_TRUE(store.Open(records));
        const std::string hash = HashPinCheaply("2468");
        for (const auto& [id, role] :
             {std::pair{"eva", Role::Engineer}, {"olga", Role::Supervisor}, {"ivan", Role::Operator}})
            ASSERT_TRUE(store.Operators().Add({id, id, role, hash, false, 0, 0, 1}));
        ASSERT_TRUE(WriteFileBytes(pin, "2468\n"));
        // A PIN file is read only when no other user may read it.
        ASSERT_TRUE(QFile::setPermissions(pin, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    // tamrisk-cli with `args`, `person` logged in.
    CliRun As(const char* person, QStringList args) const {
        return sim.cli(args << "--operator" << person << "--pin-file" << pin);
    }

    SimProcess sim;
    QTemporaryDir dir;
    const QString records = dir.filePath("records.sqlite"), pin = dir.filePath("pin");
};

TEST_F(CliReleases, AnEngineerReleasesASupervisorApprovesAnOperatorRunsTheActiveRelease) {
    const QString script = dir.filePath("board.inp"), vars = dir.filePath("limits.txt"), bad = dir.filePath("bad.inp");
    const std::string text = "@board\r\n90\r\n?1 != {ok}\r\n";
    ASSERT_TRUE(WriteFileBytes(script, QByteArray::fromStdString(text)));
    ASSERT_TRUE(WriteFileBytes(vars, "ok=0\n"));
    ASSERT_TRUE(WriteFileBytes(bad, "90\r\n*3,loop\r\n"));
    const QStringList release = {"script",    "release", script,        "--vars", vars,
                                 "--product", "FP-3",    "--operation", "board"};
    const struct {
        const char* what;
        CliRun ran;
        int exitCode;
        std::string said;  // the start of stdout, or of stderr when it failed
    } steps[] = {
        {"an operator releases", As("ivan", release), 8,
         "tamrisk-cli: an operator may not release scripts: an engineer may"},
        {"a script that does not read",
         As("eva", {"script", "release", bad, "--product", "FP-3", "--operation", "board"}), 2,
         "tamrisk-cli: script release: bad.inp: line 2: no line :loop below the repeat"},
        {"an engineer releases", As("eva", release), 0, "release 1: FP-3 board number 1, board.inp SHA-256 "},
        {"a run before the approval",
         As("ivan", {"run", "--port", "SIM0", "--unit", "U1", "--product", "FP-3", "--operation", "board"}), 10,
         "tamrisk-cli: no active release of FP-3 board"},
        {"an engineer approves", As("eva", {"script", "approve", "1"}), 8,
         "tamrisk-cli: an engineer may not approve releases: a supervisor may"},
        {"a supervisor approves", As("olga", {"script", "approve", "1"}), 0,
         "release 1 approved by olga: FP-3 board number 1 is the active release"},
        {"listed", sim.cli({"script", "list"}), 0, "ID  PRODUCT  OPERATION  NO  SCRIPT     SHA-256"},
        {"shown", sim.cli({"script", "show", "1"}), 0, text},
        {"its variables shown", sim.cli({"script", "show", "1", "--vars"}), 0, "ok=0\n"},
        {"an operator runs the active release",
         As("ivan",
            {"run", "--port", "SIM0", "--color", "never", "--unit", "U1", "--product", "FP-3", "--operation", "board"}),
         0, ""},
        {"a supervisor revokes", As("olga", {"script", "revoke", "1", "--reason", "wrong limit"}), 0,
         "release 1 revoked by olga\n"},
        {"a run after the revoke",
         As("ivan", {"run", "--port", "SIM0", "--unit", "U1", "--product", "FP-3", "--operation", "board"}), 10,
         "tamrisk-cli: no active release of FP-3 board"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.ran.exitCode, step.exitCode) << step.ran.err << step.ran.out;
        const std::string& said = step.exitCode == 0 ? step.ran.out : step.ran.err;
        EXPECT_EQ(said.substr(0, step.said.size()), step.said);
    }
    const CliRun csv = sim.cli({"script", "list", "--format", "csv"});
    ASSERT_EQ(Lines(csv.out).size(), 2u) << csv.out;
    EXPECT_EQ(Lines(csv.out)[0],
              "id,product,operation,number,script_name,script_sha256,vars_name,vars_sha256,"
              "released_by,released,station,approved_by,approved,revoked_by,revoked,"
              "revoke_reason,active\r");
    EXPECT_NE(Lines(csv.out)[1].find(",wrong limit,false"), std::string::npos) << csv.out;
    // The operator's run kept the release it ran; an engineer's run of a file is an engineering run.
    const CliRun engineering = As("eva", {"run", "--port", "SIM0", "--color", "never", script, "--vars", vars});
    EXPECT_EQ(engineering.exitCode, 0) << engineering.err;
    EXPECT_EQ(As("ivan", {"run", "--port", "SIM0", script}).exitCode, 8);
    RecordStore store;
    ASSERT_TRUE(store.Open(records));
    RecordStore::Filter runs;
    runs.kind = "run";
    const StoreResult<std::vector<RecordHeader>> listed = store.List(runs);
    ASSERT_TRUE(listed);
    std::string kept;
    for (const RecordHeader& header : *listed)
        kept += header.operatorId + (header.releaseNumber ? " release " + std::to_string(*header.releaseNumber) : "") +
                (header.engineering ? " engineering" : "") + " " + header.script + "\n";
    EXPECT_EQ(kept, "eva engineering board.inp\nivan release 1 board.inp\n");
}

// A release's bytes never change, yet each run of it at a station sends the
// serial numbers that follow those its last run sent, never the first again.
TEST_F(CliReleases, ConsecutiveRunsOfAReleaseSendConsecutiveSerialNumbers) {
    const QString script = dir.filePath("serials.inp");
    ASSERT_TRUE(WriteFileBytes(script, "@serials\r\n+1;91,DT000100\r\n"));
    ASSERT_EQ(As("eva", {"script", "release", script, "--product", "FP-3", "--operation", "board"}).exitCode, 0);
    ASSERT_EQ(As("olga", {"script", "approve", "1"}).exitCode, 0);
    std::vector<std::string> sent;
    for (const char* unit : {"U1", "U2"}) {
        const CliRun run = As("ivan", {"run", "--port", "SIM0", "--color", "never", "--unit", unit, "--product", "FP-3",
                                       "--operation", "board"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const std::string& line : Lines(run.out))
            if (line.starts_with("-> "))
                sent.push_back(line);
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"-> 91,\"DT000100\"", "-> 91,\"DT000101\""}));
    // The release itself is as it was released.
    EXPECT_EQ(sim.cli({"script", "show", "1"}).out, "@serials\r\n+1;91,DT000100\r\n");
}

}  // namespace
}  // namespace tamrisk::testing
