// A line of stations: eight tamrisk-cli runs at once over eight simulated
// printers, all from one script and one records database, each giving a serial
// number to 300 units while every number is claimed first. No number may reach
// two printers, also when the line's PostgreSQL server stops mid-run, which the
// runs wait out; a number sent without an answer is never given again.

#include "recordtesting.h"
#include "simprocess.h"
#include "testfiles.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tamrisk::testing {
namespace {

constexpr int Printers = 8;
constexpr int Units = 300;  // each run's, one serial number a unit
constexpr int FirstNumber = 100;

std::string Number(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "DT%06d", n);
    return text;
}

// One number of the line's database, from a query of one row and column.
long long Count(const QString& location, const QString& sql) {
    const std::string rows = RunSql(location, {sql});
    return rows.empty() ? -1 : std::atoll(rows.c_str());
}

// The printers of a line, one tamrisk-cli run --unique-serials on each, all
// started at once over one script and one records database. The records they
// keep before sending them on go to one local file of the computer.
class Line {
public:
    Line(const QString& records, const QString& folder) : m_records(records), m_folder(folder) {
        std::string script = "*" + std::to_string(Units) + ",L\r\n+1;91," + Number(FirstNumber) + "\r\n:L\r\n";
        EXPECT_TRUE(WriteFileBytes(Script(), script));
        for (int i = 0; i < Printers; ++i) {
            m_sims.push_back(std::make_unique<SimProcess>());
            m_sims.back()->setEnv("TAMRISK_LOCAL_RECORDS", folder + "/local.sqlite");
            m_runs.push_back(std::make_unique<QProcess>());
        }
    }
    bool Ready() const {
        return std::all_of(m_sims.begin(), m_sims.end(), [](const auto& sim) { return sim->started(); });
    }
    void Start() {
        for (int i = 0; i < Printers; ++i) {
            m_runs[i]->setStandardOutputFile(Output(i));
            m_runs[i]->setStandardErrorFile(Output(i) + ".err");
            m_sims[i]->startCli(*m_runs[i], {"run", "--unique-serials", "--records", m_records, "--port", "SIM0",
                                             "--color", "never", Script()});
        }
    }
    // Waits for every run to end; their exit statuses (-1: still running or crashed).
    std::vector<int> Finish(int milliseconds) {
        const QDeadlineTimer deadline(milliseconds);
        std::vector<int> statuses;
        for (const auto& run : m_runs) {
            run->waitForFinished(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
            statuses.push_back(run->state() == QProcess::NotRunning && run->exitStatus() == QProcess::NormalExit
                                   ? run->exitCode()
                                   : -1);
        }
        return statuses;
    }
    // The serial numbers the printers were sent, by their request lines, each as often as sent.
    std::map<std::string, int> Sent() const {
        static const QRegularExpression request(QStringLiteral("^-> 91,\"([^\"]*)\"$"),
                                                QRegularExpression::MultilineOption);
        std::map<std::string, int> sent;
        for (int i = 0; i < Printers; ++i) {
            const QString out = QString::fromUtf8(ReadFileBytes(Output(i)));
            for (auto match = request.globalMatch(out); match.hasNext();)
                ++sent[match.next().captured(1).toStdString()];
        }
        return sent;
    }
    // tamrisk-cli records sync: sends what the runs left waiting in the local file to `records`.
    CliRun Sync(const QString& records) const { return m_sims[0]->cli({"records", "sync", "--records", records}); }
    // True when run `i` logged a line holding `text`.
    bool Said(int i, const char* text) const { return ReadFileBytes(Output(i)).contains(text); }
    // What run `i` wrote to stderr and its notes on claims, for a failure's message.
    std::string Errors(int i) const {
        std::string notes;
        for (const std::string& text : Lines(ReadFileBytes(Output(i)).toStdString()))
            notes += text.starts_with("** DT") && !text.ends_with(" skipped") ? text + "\n" : "";
        return ReadFileBytes(Output(i) + ".err").left(2000).toStdString() + notes.substr(0, 2000);
    }

private:
    QString Script() const { return m_folder + "/loop.inp"; }
    QString Output(int i) const { return m_folder + "/run" + QString::number(i) + ".out"; }

    QString m_records, m_folder;
    std::vector<std::unique_ptr<SimProcess>> m_sims;
    std::vector<std::unique_ptr<QProcess>> m_runs;
};

// Numbers sent more than once, for a failure's message.
std::string Twice(const std::map<std::string, int>& sent) {
    std::string twice;
    for (const auto& [number, times] : sent)
        if (times > 1)
            twice += number + " x" + std::to_string(times) + " ";
    return twice;
}

// Each number claimed once, by the record that sent it, with that record's unit.
constexpr const char* ClaimedBySender =
    "SELECT COUNT(*) FROM serial_claims c JOIN records r ON r.id = c.record_id"
    " JOIN record_serials s ON s.record_id = c.record_id AND s.space = c.space AND s.data = c.data"
    " WHERE s.result = 'answered' AND c.unit = r.unit";

// Sets the line's database up as its owner does, `records setup --records OWNER
// --station-role ROLE`, and returns the URL its stations log in with, as `role`.
QString SetUpStationLogin(const QString& owner, const QString& role) {
    QProcess setup;
    setup.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    setup.start(QStringLiteral(TAMRISK_CLI_PATH), {"records", "setup", "--records", owner, "--station-role", role});
    EXPECT_TRUE(setup.waitForFinished(60000) && setup.exitStatus() == QProcess::NormalExit && setup.exitCode() == 0)
        << "records setup for " << role.toStdString();
    return AsLogin(owner, role);
}

class CliLine : public BackendTest {
protected:
    // Where the runs record: the SQLite file, or the line's database as a station's
    // login of the test's own, with only the rights that records setup grants.
    QString StationLocation() {
        if (!database->IsPostgresql())
            return Location();
        return SetUpStationLogin(Location(), database->MakeRole(QStringLiteral("station")));
    }
};

TEST_P(CliLine, EightRunsAtOnceGiveEveryNumberOnce) {
    const QString station = StationLocation();
    Line line(station, database->Folder());
    ASSERT_TRUE(line.Ready());
    line.Start();
    const std::vector<int> statuses = line.Finish(240000);
    for (int i = 0; i < Printers; ++i)
        EXPECT_EQ(statuses[i], 0) << "run " << i << ": " << line.Errors(i);

    const std::map<std::string, int> sent = line.Sent();
    EXPECT_EQ(sent.size(), std::size_t{Printers * Units});
    EXPECT_EQ(Twice(sent), "");
    ASSERT_FALSE(sent.empty());
    // Numbers are skipped only when taken: together the runs gave one unbroken range.
    EXPECT_EQ(sent.begin()->first, Number(FirstNumber));
    EXPECT_EQ(sent.rbegin()->first, Number(FirstNumber + Printers * Units - 1));

    const QString db = Location();
    if (database->IsPostgresql()) {  // what the runs could not send before they ended
        const CliRun sync = line.Sync(station);
        EXPECT_EQ(sync.exitCode, 0) << sync.out << sync.err;
    }
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM serial_claims"), Printers * Units);
    EXPECT_EQ(Count(db, ClaimedBySender), Printers * Units);
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM record_serials"), Printers * Units);
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM records WHERE outcome = 'pass'"), Printers);
}

INSTANTIATE_TEST_SUITE_P(Backends, CliLine, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// The line's server stops while eight runs claim their numbers, until a run
// waits for its claim: each run waits for its claim and goes on once the server is back, so
// every run ends well, every unit's number goes out once, and every record
// reaches the line once.
TEST(CliLineOutage, RunsWaitForTheServerAndEveryNumberGoesOutOnce) {
    if (qEnvironmentVariableIsEmpty("TAMRISK_TEST_POSTGRESQL_DIR"))
        GTEST_SKIP() << "TAMRISK_TEST_POSTGRESQL_DIR is not set: the outage is made on a server of the test's own,"
                        " which scripts/test-postgres.sh makes where test.sh makes the suite's";
    PrivateServer server;
    ASSERT_FALSE(server.Url().isEmpty());
    const QString station = SetUpStationLogin(server.Url(), MakeLoginRole(server.Url(), QStringLiteral("station")));
    const QTemporaryDir folder;
    Line line(station, folder.path());
    ASSERT_TRUE(line.Ready());
    line.Start();
    // Halted once the runs are well under way: a run alone makes at most `Units` claims.
    const QDeadlineTimer deadline(120000);
    while (Count(server.Url(), "SELECT COUNT(*) FROM serial_claims") < Units && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_FALSE(deadline.hasExpired());
    server.Halt();
    // A real server's outage, over once a run waits for its claim.
    const auto waiting = [&line] {
        for (int i = 0; i < Printers; ++i)
            if (line.Said(i, "waits for its claim"))
                return true;
        return false;
    };
    for (const QDeadlineTimer outage(60000); !waiting() && !outage.hasExpired();)
        QThread::msleep(20);
    server.Resume();
    const std::vector<int> statuses = line.Finish(240000);

    int waited = 0;
    for (int i = 0; i < Printers; ++i) {
        EXPECT_EQ(statuses[i], 0) << "run " << i << ": " << line.Errors(i);
        waited += line.Said(i, "waits for its claim") && line.Said(i, "Claims can be made again");
    }
    EXPECT_GE(waited, 1);
    const std::map<std::string, int> sent = line.Sent();
    EXPECT_EQ(sent.size(), std::size_t{Printers * Units});
    EXPECT_EQ(Twice(sent), "");
    // Once the line is back, every record reaches it once: each run's, with each number it sent.
    const CliRun sync = line.Sync(station);
    EXPECT_EQ(sync.exitCode, 0) << sync.out << sync.err;
    const QString db = server.Url();
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM records WHERE outcome = 'pass'"), Printers);
    std::map<std::string, int> recorded;
    for (const std::string& number : Lines(RunSql(db, {"SELECT data FROM record_serials"})))
        ++recorded[number];
    EXPECT_EQ(recorded, sent);
    // Every number sent was claimed by its sender, also one whose claim was tried again.
    EXPECT_EQ(Count(db, ClaimedBySender), static_cast<long long>(sent.size()));
}

// A number whose transaction got no valid answer may have been carried out by
// the printer: it stays claimed, and the next run skips it.
TEST(CliLineClaims, ANumberSentWithoutAnAnswerIsNotGivenAgain) {
    const QTemporaryDir folder;
    const QString records = folder.filePath("records.sqlite");
    const QString script = folder.filePath("unit.inp");
    ASSERT_TRUE(WriteFileBytes(script, "+1;91," + Number(FirstNumber) + "\r\n"));
    const QString request = QStringLiteral("-> 91,\"%1\"");
    {
        SimProcess silent({"--faults", "noanswer", "--fault-rate", "1"});
        ASSERT_TRUE(silent.started());
        const CliRun run = silent.cli({"run", "--unique-serials", "--records", records, "--port", "SIM0", "--color",
                                       "never", script});
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_TRUE(QString::fromStdString(run.out).contains(request.arg(QString::fromStdString(Number(FirstNumber)))))
            << run.out;
    }
    SimProcess printer;
    ASSERT_TRUE(printer.started());
    const CliRun run = printer.cli({"run", "--unique-serials", "--records", records, "--port", "SIM0", "--color",
                                    "never", script});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const QString out = QString::fromStdString(run.out);
    EXPECT_TRUE(out.contains(QString::fromStdString("** " + Number(FirstNumber) + " already given, skipped"))) << run.out;
    EXPECT_FALSE(out.contains(request.arg(QString::fromStdString(Number(FirstNumber))))) << run.out;
    EXPECT_TRUE(out.contains(request.arg(QString::fromStdString(Number(FirstNumber + 1))))) << run.out;
}

}  // namespace
}  // namespace tamrisk::testing
