// The line's process from tamrisk-cli, against tamrisk-sim: routes set and
// shown, a run refused before anything is sent, held at its limit, released.

#include "recordtesting.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tamrisk::testing {
namespace {

TEST(CliProcess, AUnitFollowsItsRouteIsRefusedHeldAndReleased) {
    SimProcess sim({"--status", "91=20,00,00,00,00,00"});
    ASSERT_TRUE(sim.started());
    QTemporaryDir dir;
    sim.setEnv("TAMRISK_RECORDS", dir.filePath("records.sqlite"));
    const QString passing = dir.filePath("pass.inp"), failing = dir.filePath("fail.inp");
    ASSERT_TRUE(WriteFileBytes(passing, "90\r\n"));
    ASSERT_TRUE(WriteFileBytes(failing, "91,X\r\n"));

    CliRun set = sim.cli({"route", "set", "--product", "FP-3", "board:1", "final"});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, "FP-3: board, final\n");
    EXPECT_EQ(sim.cli({"route", "set", "--product", "FP-3", "board", "board"}).exitCode, 2);
    EXPECT_EQ(sim.cli({"route", "show", "--format", "csv"}).out,
              "product,step,operation,retest_limit\r\nFP-3,1,board,1\r\nFP-3,2,final,3\r\n");
    EXPECT_EQ(sim.cli({"route", "show"}).out, "PRODUCT  ROUTE\nFP-3     board:1 final\n");

    const auto run = [&](const char* operation, const QString& script) {
        return sim.cli({"run", "--port", "SIM0", "--color", "never", "--unit", "U1", "--product", "FP-3",
                        "--operation", operation, script});
    };
    const struct {
        const char* operation;
        QString script;
        int exitCode;
        std::string said;  // on stderr
    } steps[] = {
        {"final", passing, 7, "tamrisk-cli: REFUSED: U1 has no board run\n"},
        {"board", failing, 1, "tamrisk-cli: U1 is put on hold: failed board 1 time in a row (limit 1)\n"},
        {"board", passing, 7, "tamrisk-cli: REFUSED: U1 is on hold since "},
        {nullptr, {}, 0, ""},  // released
        {"board", passing, 0, ""},
        {"final", passing, 0, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.operation ? step.operation : "release");
        if (step.operation == nullptr) {
            const CliRun released = sim.cli({"unit", "release", "U1", "--reason", "connector reseated"});
            EXPECT_EQ(released.exitCode, 0) << released.err;
            EXPECT_EQ(released.out, "U1 released from 1 hold\n");
            continue;
        }
        const CliRun ran = run(step.operation, step.script);
        EXPECT_EQ(ran.exitCode, step.exitCode) << ran.err;
        EXPECT_EQ(ran.err.substr(0, step.said.size()), step.said);
        // A refused unit gets nothing sent.
        EXPECT_EQ(ran.out.find("-> ") == std::string::npos, step.exitCode == 7) << ran.out;
    }
    const auto kinds = [&](const char* kind) {
        return Lines(sim.cli({"records", "list", "--kind", kind, "--format", "csv"}).out).size();
    };
    // A header line and a line a record: two refusals, a hold, a release, three runs.
    EXPECT_EQ(kinds("entry"), 3u);
    EXPECT_EQ(kinds("hold"), 2u);
    EXPECT_EQ(kinds("release"), 2u);
    EXPECT_EQ(kinds("run"), 4u);

    const CliRun noUnit = sim.cli({"run", "--port", "SIM0", "--product", "FP-3", "--operation", "board", passing});
    EXPECT_EQ(noUnit.exitCode, 2);
    EXPECT_EQ(Lines(noUnit.err).at(0), "tamrisk-cli: --operation and --product check the unit's entry: name it with --unit");

}

// On a line's database only the owner may change an entry of the audit trail;
// audit verify names the entry it changed and exits 1.
TEST(CliAudit, VerifyNamesTheEntryTheOwnerChanged) {
    TestDatabase database(Backend::Postgresql);
    if (!database.IsPostgresql())
        GTEST_SKIP() << database.SkipReason();
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(database.Location())));
        store.SetActor("boss", "office");
        // 2026-12-10 08:01:02 UTC.
        ASSERT_TRUE(StoreOk(store.Operators().Add({"alice", "Alice", Role::Operator, "$argon2id$x", false, 0, 0,
                                                   1'796'889'662'000})));
        ASSERT_TRUE(StoreOk(store.Operators().SetRole("alice", Role::Technician)));
    }
    SimProcess cli;
    const QStringList verify = {"audit", "verify", "--records", database.Location()};
    EXPECT_EQ(cli.cli(verify).out, "the audit trail holds 2 entries and is intact\n");
    RunSql(database.Location(), {"UPDATE audit_trail SET new_value = 'supervisor' WHERE seq = 1"});
    const CliRun broken = cli.cli(verify);
    EXPECT_EQ(broken.exitCode, 1) << broken.err;
    EXPECT_EQ(broken.out, "entry 1 (2026-12-10 08:01:02, operator add, alice): its content does not match its SHA-256\n");
}

}  // namespace
}  // namespace tamrisk::testing
