// The final test of a unit, run by tamrisk-cli against tamrisk-sim: as shipped
// its checks pass; one expected value changed fails the run with that check
// named in its reason, its JUnit report and the listed checks; a check that
// cannot be read makes the run an error, unless a check failed before it: the
// first check that did not pass is the cause that every front end names.

#include "recordtesting.h"
#include "recordstore.h"
#include "simprocess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

namespace tamrisk::testing {
namespace {


int ChecksCount(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& line : lines)
        n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(CliChecks, TheFinalTestIsJudgedByItsAnswers) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    QTemporaryDir dir;
    const QString records = dir.filePath("records.sqlite"), junit = dir.filePath("run.xml");
    sim.setEnv("TAMRISK_RECORDS", records);
    const struct Case {
        QStringList options;
        int exitCode;
        RecordOutcome outcome;
        std::string reason;  // its beginning
        const char* failedCheck;  // named in JUnit and in records checks --result fail; none when empty
    } cases[] = {
        {{}, 0, RecordOutcome::Pass, "", ""},
        {{"--set", "firmware=ZORMIK FP-4"}, 1, RecordOutcome::Fail,
         "firmware: expected hex:* ~ ^ZORMIK FP-4, got ZORMIK FP-3", "firmware"},
        // The variable wins over the file; the check cannot be read.
        {{"--set", "journal_limit=lots"}, 2, RecordOutcome::Error, "journal used: bad number \"lots\"", ""},
        {{"--set", "firmware=ZORMIK FP-4", "--stop-on-fail"}, 1, RecordOutcome::Fail, "firmware: expected", "firmware"},
    };
    for (const Case& c : cases) {
        const CliRun run = sim.cli(QStringList{"run", "--port", "SIM0", "--color", "never", "--unit", "U-1", "--junit",
                                               junit, "--vars", Example("final-test.vars")} +
                                   c.options + QStringList{Example("final-test.inp")});
        ASSERT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        const auto lines = Lines(run.out);
        const bool stopped = c.options.contains("--stop-on-fail");
        EXPECT_EQ(ChecksCount(lines, "?? "), stopped ? 6 : 10) << run.out;
        EXPECT_EQ(ChecksCount(lines, "-> "), stopped ? 3 : 7) << run.out;

        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
        const auto headers = ValueOf(store.List({}));
        ASSERT_FALSE(headers.empty());
        const StoreResult<Record> record = store.Load(headers.front().id);
        ASSERT_TRUE(record && record->header.outcome);
        EXPECT_EQ(*record->header.outcome, c.outcome) << run.out;
        EXPECT_EQ(record->header.reason.substr(0, c.reason.size()), c.reason) << record->header.reason;
        EXPECT_EQ(record->checks.size(), stopped ? 6u : 10u);

        QFile report(junit);
        ASSERT_TRUE(report.open(QIODevice::ReadOnly));
        const std::string xml = report.readAll().toStdString();
        const auto failed = sim.cli({"records", "checks", "--result", "fail", "--format", "csv", "--limit", "1"});
        EXPECT_EQ(failed.exitCode, 0) << failed.err;
        // Runs failed by a check are found among the failed runs.
        const auto failedRuns = Lines(sim.cli({"records", "list", "--outcome", "fail", "--limit", "1"}).out);
        EXPECT_EQ(failedRuns.size() == 2 && failedRuns[1].substr(0, 8) == record->header.id.substr(0, 8),
                  c.outcome == RecordOutcome::Fail);
        if (*c.failedCheck != 0) {
            EXPECT_NE(xml.find(std::string("name=\"") + c.failedCheck + "\""), std::string::npos) << xml;
            EXPECT_NE(xml.find("<failure"), std::string::npos) << xml;
            EXPECT_NE(failed.out.find(std::string(c.failedCheck) + ","), std::string::npos) << failed.out;
        } else if (c.outcome == RecordOutcome::Pass) {
            EXPECT_EQ(xml.find("<failure"), std::string::npos) << xml;
        }
    }
}

TEST(CliChecks, AFailedCheckBeforeOneNotReadIsTheCauseEverywhere) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    QTemporaryDir dir;
    const QString records = dir.filePath("records.sqlite"), junit = dir.filePath("run.xml");
    sim.setEnv("TAMRISK_RECORDS", records);
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--color", "never", "--unit", "U-1", "--junit", junit,
                                "--vars", Example("final-test.vars"), "--set", "journal_size=1", "--set",
                                "journal_limit=lots", Example("final-test.inp")});
    ASSERT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string reason = "journal size: expected 2 = 1, got 2097152";
    EXPECT_NE(run.out.find("?? journal used: bad number \"lots\": error"), std::string::npos) << run.out;

    std::string id;
    {
        RecordStore store;
        ASSERT_TRUE(testing::StoreOk(store.Open(records)));
        const auto headers = testing::ValueOf(store.List({}));
        ASSERT_EQ(headers.size(), 1u);
        id = headers.front().id;
    }
    const CliRun shown = sim.cli({"records", "show", "--color", "never", QString::fromStdString(id)});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("fail"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(reason), std::string::npos) << shown.out;
    const CliRun stats = sim.cli({"records", "stats", "--format", "json"});
    ASSERT_EQ(stats.exitCode, 0) << stats.err;
    const QJsonArray pareto =
        QJsonDocument::fromJson(QByteArray::fromStdString(stats.out)).object().value("pareto").toArray();
    ASSERT_EQ(pareto.size(), 1) << stats.out;
    EXPECT_EQ(pareto[0].toObject().value("cause").toString(), "journal size");
    QFile report(junit);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const std::string xml = report.readAll().toStdString();
    EXPECT_NE(xml.find("<property name=\"cause\" value=\"journal size\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<property name=\"reason\" value=\"" + reason + "\"/>"), std::string::npos) << xml;
}

// A printer whose measured answers vary (tamrisk-sim --vary) gives the final
// test's numeric check values that differ from unit to unit, and records
// capability takes exactly the values the runs recorded, in time order.
TEST(CliChecks, AVaryingPrinterGivesTheFinalTestsCapability) {
    SimProcess sim({"--vary", "7", "--vary-spread", "150", "--vary-drift", "12"});
    ASSERT_TRUE(sim.started());
    QTemporaryDir dir;
    sim.setEnv("TAMRISK_RECORDS", dir.filePath("records.sqlite"));
    constexpr int Runs = 4;
    for (int i = 0; i < Runs; ++i) {
        const CliRun run = sim.cli({"run", "--port", "SIM0", "--unit", QStringLiteral("U-%1").arg(i), "--vars",
                                    Example("final-test.vars"), Example("final-test.inp")});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    }
    const CliRun checks = sim.cli({"records", "checks", "--name", "journal used", "--format", "json"});
    ASSERT_EQ(checks.exitCode, 0) << checks.err;
    std::vector<double> found;  // newest first, as records checks lists them
    for (const QJsonValue& check : QJsonDocument::fromJson(QByteArray::fromStdString(checks.out)).array())
        found.insert(found.begin(), check.toObject().value("value").toString().toDouble());
    const CliRun capability =
        sim.cli({"records", "capability", "--name", "journal used", "--values", "--format", "json"});
    ASSERT_EQ(capability.exitCode, 0) << capability.err;
    const QJsonArray groups =
        QJsonDocument::fromJson(QByteArray::fromStdString(capability.out)).object().value("checks").toArray();
    ASSERT_EQ(groups.size(), 1) << capability.out;
    const QJsonObject group = groups[0].toObject();
    EXPECT_EQ(group.value("usl").toDouble(), 20000);
    EXPECT_EQ(group.value("units").toString(), "bytes");
    EXPECT_EQ(group.value("all").toObject().value("n").toInt(), Runs);
    std::vector<double> values;
    for (const QJsonValue& value : group.value("values").toArray())
        values.push_back(value.toObject().value("value").toDouble());
    EXPECT_EQ(values, found);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(Runs));
    EXPECT_NE(*std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
}

}  // namespace
}  // namespace tamrisk::testing
