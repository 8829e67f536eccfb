// tamrisk-cli run with several ports: one run per simulated printer at once.

#include "recordtesting.h"
#include "runports.h"
#include "simprocess.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <csignal>
#include <map>
#include <memory>

namespace tamrisk::testing {
namespace {

long CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(prefix); });
}

// Three printers run "90 / wait / 90". Once the first line is out, one printer
// goes away (the others finish their lines; the exit status is the lost port's)
// or SIGINT reaches the parent (every run is cancelled).
TEST(CliRunPorts, EveryPortRunsTheScriptAndTheWorstStatusWins) {
    enum class Then { Nothing, LoseSecond, Cancel };
    struct Case {
        const char* what;
        const char* wait;
        Then then;
        int exitCode;
        long requests;  // of each port still there
    };
    const std::vector<Case> cases = {
        {"all pass", "#300", Then::Nothing, 0, 2},
        {"one lost", "#300", Then::LoseSecond, 2, 2},
        {"cancelled", "#10000", Then::Cancel, 130, 1},
    };
    QTemporaryDir dir;
    const QString script = dir.filePath("ports.inp");
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(script, "90\r\n" + std::string(c.wait) + "\r\n90\r\n"));
        std::array<std::unique_ptr<SimProcess>, 3> sims;
        QStringList args{"run", "--color", "never"};
        for (auto& sim : sims) {
            sim = std::make_unique<SimProcess>();
            ASSERT_TRUE(sim->started()) << c.what;
            args << "--port" << QString::fromStdString(sim->port());
        }
        args << script;
        QProcess cli;
        sims[0]->startCli(cli, args);
        std::string early;  // stdout read before the end
        if (c.then == Then::LoseSecond) {
            ASSERT_TRUE(cli.waitForReadyRead(5000)) << c.what;
        }
        if (c.then == Then::Cancel) {
            // Every run has started and waits, so that each has its cancel to show.
            const auto allWaiting = [&] {
                return std::all_of(sims.begin(), sims.end(), [&](const auto& sim) {
                    return early.find(sim->port() + ": ## Wait") != std::string::npos;
                });
            };
            QDeadlineTimer deadline(10000);
            while (!allWaiting() && cli.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                early += cli.readAllStandardOutput().toStdString();
            ASSERT_TRUE(allWaiting()) << c.what << early;
        }
        if (c.then == Then::LoseSecond)
            sims[1]->stop();
        if (c.then == Then::Cancel)
            ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
        ASSERT_TRUE(cli.waitForFinished(20000)) << c.what;
        EXPECT_EQ(cli.exitCode(), c.exitCode) << c.what;
        const auto lines = Lines(early + cli.readAllStandardOutput().toStdString());
        for (const auto& line : lines) {
            int owners = 0;
            for (const auto& sim : sims)
                owners += line.rfind(sim->port() + ": ", 0) == 0;
            EXPECT_EQ(owners, 1) << c.what << ": " << line;
        }
        for (std::size_t i = 0; i < sims.size(); ++i) {
            const long requests = CountStarting(lines, sims[i]->port() + ": -> 90");
            if (c.then == Then::LoseSecond && i == 1)
                EXPECT_LT(requests, 2) << c.what;
            else
                EXPECT_EQ(requests, c.requests) << c.what << " port " << i;
            EXPECT_EQ(CountStarting(lines, sims[i]->port() + ": Script cancelled !!!"), c.then == Then::Cancel ? 1 : 0)
                << c.what << " port " << i;
        }
    }
}

TEST(CliRunPorts, OptionsOfOneRunAreRefusedWithSeveralPorts) {
    struct Case {
        QStringList options;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--junit", "r.xml"}, "--junit writes the report of one run"},
        {{"--json", "r.json"}, "--json writes the report of one run"},
        {{"--write-back"}, "--write-back with several ports needs --unique-serials"},
        {{"--write-back", "--unique-serials", "--lines", "1-2"}, "--lines runs a copy of the lines"},
        {{"--unique-serials", "--records", "off"}, "--unique-serials claims every number in the records"},
        {{"--unit", "U1"}, "with several ports --unit takes PORT=TEXT"},
        {{"--unit", "C=U1"}, "with several ports --unit takes PORT=TEXT"},
        {{"--port", "A"}, "--port A is given twice"},
    };
    SimProcess sim;
    for (const Case& c : cases) {
        const CliRun run = sim.cli(QStringList{"run", "--port", "A", "--port", "B"} + c.options + QStringList{"x.inp"});
        EXPECT_EQ(run.exitCode, 2) << c.message;
        EXPECT_TRUE(run.out.empty()) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << "\n" << run.err;
    }
}

// Each incrementing line written past the highest number claimed in its number
// space, field by field; everything else as it was.
TEST(CliRunPorts, LinesPastClaimsStepEveryFieldPastItsHighestClaim) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::map<std::string, std::vector<std::string>> claims;  // by number space
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"no claim in its space",
         {"+1;91,DT000100", "91,DT000100"},
         {{"91,DT000###", {"DT000999"}}},
         {"+1;91,DT000100", "91,DT000100"}},
        {"past the highest, in any order",
         {"@ units", "+1;91,DT000100", "90"},
         {{"91,DT######", {"DT000101", "DT000159", "DT000100", "DT000158"}}},
         {"@ units", "+1;91,DT000160", "90"}},
        {"a field without a step stays, the other moves by its step",
         {"+0+5;72,A12B0099"},
         {{"72,A12B####", {"A12B0099", "A12B0104"}}},
         {"+0+5;72,A12B0109"}},
        {"each field its own highest",
         {"+1+1;72,A10B20"},
         {{"72,A##B##", {"A15B21", "A12B29"}}},
         {"+1+1;72,A16B30"}},
        {"a field already past every claim stays",
         {"+1+1;72,A50B20"},
         {{"72,A##B##", {"A15B21", "A12B29"}}},
         {"+1+1;72,A50B30"}},
        {"claimed as sent, its escapes translated",
         {"+1;91,A\\tB0100"},
         {{"91,A\\tB####", {"A\tB0105"}}},
         {"+1;91,A\\tB0106"}},
        {"the carry out of a field is lost",
         {"+1;91,N98"},
         {{"91,N##", {"N99"}}},
         {"+1;91,N00"}},
        {"two lines, two spaces",
         {"+1;91,DT000100", "+1;91,Q0100"},
         {{"91,DT######", {"DT000200"}}, {"91,Q####", {"Q0100", "Q0101"}}},
         {"+1;91,DT000201", "+1;91,Q0102"}},
    };
    for (const Case& c : cases) {
        const auto written = LinesPastClaims(c.lines, [&](const std::string& space) {
            const auto found = c.claims.find(space);
            return std::optional(found == c.claims.end() ? std::vector<std::string>{} : found->second);
        });
        ASSERT_TRUE(written.has_value()) << c.what;
        EXPECT_EQ(*written, c.expected) << c.what;
    }
    const auto unreadable = LinesPastClaims({"+1;91,DT000100"}, [](const std::string&) {
        return std::optional<std::vector<std::string>>();
    });
    EXPECT_FALSE(unreadable.has_value());
}

using CliRunPortsClaims = BackendTest;

// Three printers claim their numbers where the records make claims (the records
// file, or the line's database that the records go to); the script is written
// back once they have all ended, past the highest claim.
TEST_P(CliRunPortsClaims, WriteBackWithUniqueSerialsSavesTheScriptOncePastEveryClaim) {
    QTemporaryDir dir;
    const QString script = dir.filePath("loop.inp");
    ASSERT_TRUE(WriteFileBytes(script, "*20,L\r\n+1;91,DT000100\r\n+0+2;91,X01Y0050\r\n:L\r\n"));
    std::array<std::unique_ptr<SimProcess>, 3> sims;
    QStringList args{"run", "--unique-serials", "--write-back", "--color", "never"};
    for (auto& sim : sims) {
        sim = std::make_unique<SimProcess>();
        ASSERT_TRUE(sim->started());
        args << "--port" << QString::fromStdString(sim->port());
    }
    sims[0]->setEnv("TAMRISK_RECORDS", Location());
    const CliRun run = sims[0]->cli(args << script);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("-> 91,\"DT") != std::string::npos; }),
              60);
    // 3 x 20 units: DT000100..DT000159 and X01Y0050..X01Y0168, each once.
    EXPECT_EQ(ReadFileBytes(script).toStdString(), "*20,L\r\n+1;91,DT000160\r\n+0+2;91,X01Y0170\r\n:L\r\n");
    EXPECT_EQ(RunSql(Location(), {QStringLiteral("SELECT COUNT(*) FROM serial_claims")}), "120\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, CliRunPortsClaims, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk::testing
