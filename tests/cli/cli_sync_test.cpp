// tamrisk-cli records sync: its exit status and what it says, with the line's
// database out of reach (a socket folder that does not exist), and with a line
// that refuses a record.

#include "recordstore.h"
#include "recordtesting.h"
#include "simprocess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>

namespace tamrisk::testing {
namespace {

TEST(CliRecordsSync, ExitsZeroWhenNoneWaitsOneWithTheReasonWhenSomeWaitTwoForNoLineDatabase) {
    SimProcess programs;
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("local.sqlite"));
    programs.setEnv(QStringLiteral("TAMRISK_LOCAL_RECORDS"), local);
    const QString line = QStringLiteral("postgresql://tamrisk@/line?host=") + dir.filePath(QStringLiteral("no-socket"));
    const auto queueOne = [&] {
        RecordStore store;
        store.SetForwardTo(line);
        RecordHeader header = NewRecordHeader("run");
        header.id = "0a0b0c0d-0000-4000-8000-000000000001";
        ASSERT_TRUE(StoreOk(store.Open(local)));
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        header.outcome = RecordOutcome::Pass;
        ASSERT_TRUE(StoreOk(store.Finish(header)));
    };
    struct Case {
        const char* name;
        std::function<void()> before;
        QStringList args;
        int exitCode;
        std::string out, err;  // found in stdout / stderr
    };
    const std::vector<Case> cases = {
        {"nothing waits", [] {}, {"--records", line}, 0, "0 records sent to the line", ""},
        {"the line away", queueOne, {"--records", line}, 1, "0 records sent to the line",
         "1 record waits to be sent to the line: " + line.toStdString() + ": "},
        {"a file is no line's database", [] {}, {"--records", dir.filePath(QStringLiteral("records.sqlite"))}, 2, "",
         "records sync sends records to a line's database"},
        {"an argument", [] {}, {"--records", line, "extra"}, 2, "", "takes no argument"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        const CliRun run = programs.cli(QStringList{"records", "sync"} + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (c.err.empty()) {
            EXPECT_EQ(run.err, "");
        }
    }
}

// A record the line refuses (a trigger on unit DT2) is named with the line's
// reason and makes the exit status 1; the others go.
TEST(CliRecordsSync, NamesTheRecordsTheLineRefusesAndExitsOneWhileAnyIsSetAside) {
    TestDatabase line(Backend::Postgresql);
    if (!line.SkipReason().empty())
        GTEST_SKIP() << line.SkipReason();
    SimProcess programs;
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("local.sqlite"));
    programs.setEnv(QStringLiteral("TAMRISK_LOCAL_RECORDS"), local);
    RefuseUnit(line.Location(), "DT2");
    const std::string refused = "0a0b0c0d-0000-4000-8000-000000000002";
    for (const char* unit : {"DT1", "DT2"}) {
        RecordStore store;
        store.SetForwardTo(line.Location());
        RecordHeader header = NewRecordHeader("run");
        header.id = "0a0b0c0d-0000-4000-8000-00000000000" + std::string(1, unit[2]);
        header.unit = unit;
        header.outcome = RecordOutcome::Pass;
        ASSERT_TRUE(StoreOk(store.Open(local)));
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        ASSERT_TRUE(StoreOk(store.Finish(header)));
    }
    const CliRun run = programs.cli({"records", "sync", "--records", line.Location()});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find("1 record sent to the line"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("1 record set aside, refused by the line"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(refused + " unit DT2: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("unit DT2 is refused"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tamrisk::testing
