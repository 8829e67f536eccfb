// tamrisk-cli dashboard as a person at the line meets it: a page in a real
// browser (headless Chromium over the DevTools protocol) over a small
// hand-made line in PostgreSQL, read with the line's reader login; the API's
// answers; a database that stops and comes back; and the command's refusals.

#include "cdpbrowser.h"
#include "handmadeline.h"
#include "recordtesting.h"
#include "reports.h"
#include "simprocess.h"
#include "statsperiod.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>
#include <QTimeZone>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <string>
#include <vector>

namespace tamrisk::testing {
namespace {

constexpr qint64 MinuteMs = 60'000;

// tamrisk-cli dashboard running over `location`, on a free port of 127.0.0.1.
class DashboardProcess {
public:
    explicit DashboardProcess(const QString& location, const QStringList& more = {}) {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(TAMRISK_CLI_PATH),
                        QStringList{"dashboard", "--records", location, "--listen", "127.0.0.1:0"} + more);
        // It says where it serves once it listens.
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QString line = QString::fromUtf8(m_process.readLine());
        const qsizetype at = line.indexOf(QStringLiteral("http://"));
        if (at >= 0)
            m_base = line.mid(at).trimmed();
        if (m_base.endsWith(u'/'))
            m_base.chop(1);
    }
    ~DashboardProcess() { Stop(SIGTERM); }

    bool Serving() const { return !m_base.isEmpty(); }
    QString Url(const QString& path) const { return m_base + path; }
    QString Errors() { return QString::fromUtf8(m_process.readAllStandardError()); }
    // Sends `signal` and waits for the end; the exit status, or -1 for none.
    int Stop(int signal) {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(15000) && m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // How it ended, for a failure's message: its exit, its state and what it wrote on stderr.
    std::string Ending() {
        return "exit status " + std::to_string(m_process.exitCode()) +
               (m_process.exitStatus() == QProcess::CrashExit ? " (crashed)" : "") + ", state " +
               std::to_string(static_cast<int>(m_process.state())) + ", error " + m_process.errorString().toStdString() +
               ", stderr: " + Errors().toStdString();
    }

private:
    QProcess m_process;
    QString m_base;
};

struct HttpAnswer {
    int status = 0;
    QByteArray body;
    QByteArray contentType, policy, noSniff;
};

HttpAnswer Http(const QString& url, const QByteArray& method = "GET") {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    QNetworkReply* reply = network.sendCustomRequest(request, method);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.contentType = reply->rawHeader("Content-Type");
    answer.policy = reply->rawHeader("Content-Security-Policy");
    answer.noSniff = reply->rawHeader("X-Content-Type-Options");
    delete reply;
    return answer;
}

// A JavaScript string literal of `text`.
QString Js(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// A run of `unit` on `station` started at `startedMs`; a failed one
// fails its check "journal size", its log ending in a red line.
Record MadeRun(const std::string& station, const std::string& unit, qint64 startedMs, std::optional<RecordOutcome> outcome) {
    Record record;
    record.header = TestHeader(QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(), "run", startedMs);
    record.header.station = station;
    record.header.unit = unit;
    record.header.outcome = outcome;
    record.header.durationMs = 4200;
    record.header.script = "final-test.inp";
    const bool failed = outcome == RecordOutcome::Fail;
    record.header.reason = failed ? "journal size: expected 2 = 2097152, got 1048576" : "";
    record.steps.push_back(RecordStep{5, 119, "I", StatusBytesArray{0, 0, 0, 0, 0, 0x3A}, "P,1048576,19157",
                                      StepResult::Answered, 1, 10, 25, 1, 0});
    record.checks.push_back(
        RecordCheck{CheckOutcome{"journal size", 6, "2", CheckOperator::Equal, std::string("2097152"), std::nullopt,
                                 std::nullopt, "", std::string(failed ? "1048576" : "2097152"),
                                 failed ? CheckResult::Fail : CheckResult::Pass,
                                 failed ? "journal size: expected 2 = 2097152, got 1048576" : ""},
                    0});
    record.log.push_back(RecordLogLine{0, ResultColour::Blue, "-> 119,\"I\"", 5});
    record.log.push_back(RecordLogLine{30, failed ? ResultColour::Red : ResultColour::Green,
                                       failed ? "?? journal size: expected 2 = 2097152, got 1048576: FAILED"
                                              : "?? journal size: passed",
                                       6});
    return record;
}

// What tamrisk-cli prints on stdout for `args`; a failure when it exits otherwise than 0.
QByteArray CliPrints(const QStringList& args) {
    QProcess cli;
    cli.start(QStringLiteral(TAMRISK_CLI_PATH), args);
    EXPECT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << args.join(u' ').toStdString() << ": " << cli.readAllStandardError().toStdString();
    return cli.readAllStandardOutput();
}

// A unit's name as the last part of a path, encoded as the page encodes it (encodeURIComponent).
QString PathOf(const std::string& unit) {
    return QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(unit), "!'()*"));
}

// Where the pages' pictures for the manuals are written (TAMRISK_SCREENSHOTS);
// empty: none is.
QString ScreenshotFolder() { return qEnvironmentVariable("TAMRISK_SCREENSHOTS"); }

// Writes `png` into the screenshots' folder as `name`, when there is one.
void KeepScreenshot(const QByteArray& png, const QString& name) {
    if (ScreenshotFolder().isEmpty())
        return;
    QFile file(QDir(ScreenshotFolder()).filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png);
}

// The percent as the page writes a yield.
QString Percent(const QJsonValue& value) {
    return value.isNull() ? QStringLiteral("–") : QString::number(value.toDouble() * 100, 'f', 1) + QStringLiteral(" %");
}

// A line of two stations over the last three hours: "line-1" busy, "Сборка-2"
// silent for two hours after three runs five minutes apart; one unit's name
// is markup, one unit failed first and passed on its retest. Its process:
// FP-3's route is board, fiscal, final and FP-3-KZ's board alone; every run
// here is a board run, Сборка-2's of FP-3-KZ. U-103 is in test at fiscal now;
// Блок-2 is held by hand; the unit named in markup was held, refused at
// fiscal for it and released. Its tests only read it. Served by the
// dashboard with the line's reader login, which may only read.
struct ServedLine {
    std::unique_ptr<TestDatabase> database;
    std::vector<Record> records;
    QString since, reader;
    std::unique_ptr<DashboardProcess> dashboard;
};

inline const std::string Markup = "<script>alert(1)</script>";

// Makes the line into `line`, with a person in its records unless `withPeople`
// is false (where nobody logs in, a run needs no log-in); a skip or a failure
// leaves it empty.
void ServeLine(std::unique_ptr<ServedLine>& line, bool withPeople = true) {
    auto made = std::make_unique<ServedLine>();
    made->database = std::make_unique<TestDatabase>(Backend::Postgresql);
    if (!made->database->SkipReason().empty())
        GTEST_SKIP() << made->database->SkipReason();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    made->since = QDateTime::fromMSecsSinceEpoch(now - 180 * MinuteMs, QTimeZone::utc()).toString(Qt::ISODate);
    made->records = {MadeRun("Сборка-2", "Блок-1", now - 150 * MinuteMs, RecordOutcome::Pass),
                     MadeRun("Сборка-2", "Блок-2", now - 145 * MinuteMs, RecordOutcome::Fail),
                     MadeRun("Сборка-2", "Блок-3", now - 140 * MinuteMs, RecordOutcome::Pass),
                     MadeRun("line-1", "U-101", now - 50 * MinuteMs, RecordOutcome::Pass),
                     MadeRun("line-1", "U-102", now - 40 * MinuteMs, RecordOutcome::Fail),
                     MadeRun("line-1", "U-102", now - 30 * MinuteMs, RecordOutcome::Pass),
                     MadeRun("line-1", "U-103", now - 20 * MinuteMs, RecordOutcome::Pass),
                     MadeRun("line-1", Markup, now - 10 * MinuteMs, RecordOutcome::Pass)};
    for (Record& run : made->records) {
        run.header.product = run.header.station == "line-1" ? "FP-3" : "FP-3-KZ";
        run.header.operation = "board";
    }
    // Holds, releases and refusals are records too, made on line-1 (Сборка-2 stays silent).
    const auto event = [&](const char* kind, const std::string& unit, qint64 atMs, RecordOutcome outcome,
                           const char* operation, const char* reason) {
        Record record;
        record.header = TestHeader(QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(), kind, atMs);
        record.header.station = "line-1";
        record.header.unit = unit;
        record.header.outcome = outcome;
        record.header.product = *operation ? "FP-3" : "";
        record.header.operation = operation;
        record.header.reason = reason;
        made->records.push_back(record);
        return HoldChange{unit, record.header.id, "ivana", "line-1", reason, atMs};
    };
    const HoldChange heldBlock = event("hold", "Блок-2", now - 9 * MinuteMs, RecordOutcome::Pass, "", "bent <b>pins</b>");
    const HoldChange heldMarkup = event("hold", Markup, now - 8 * MinuteMs, RecordOutcome::Pass, "", "scratched <i>case</i>");
    event("entry", Markup, now - 7 * MinuteMs, RecordOutcome::Fail, "fiscal", "<script>alert(1)</script> is on hold");
    const HoldChange released = event("release", Markup, now - 6 * MinuteMs, RecordOutcome::Pass, "", "polished");
    // An engineer's run of U-104, the newest record: listed and marked, counted in no number.
    Record engineering = MadeRun("line-1", "U-104", now - 5 * MinuteMs, RecordOutcome::Fail);
    engineering.header.product = "FP-3";
    engineering.header.operation = "board";
    engineering.header.engineering = true;
    made->records.push_back(engineering);
    RecordStore owner;
    ASSERT_TRUE(StoreOk(owner.Open(made->database->Location())));
    owner.SetActor("ivana", "line-1");
    ASSERT_TRUE(StoreOk(owner.Import(made->records)));
    const RouteChange change{"ivana", "line-1", now - 200 * MinuteMs};
    ASSERT_TRUE(StoreOk(owner.Routes().Set("FP-3", {{"board"}, {"fiscal"}, {"final"}}, change)));
    ASSERT_TRUE(StoreOk(owner.Routes().Set("FP-3-KZ", {{"board"}}, change)));
    ASSERT_TRUE(StoreOk(owner.Holds().Hold(heldBlock)));
    ASSERT_TRUE(StoreOk(owner.Holds().Hold(heldMarkup)));
    ASSERT_TRUE(StoreOk(owner.Holds().Release(released)));
    const StoreResult<EntryDecision> entered =
        owner.Entries().Enter({"U-103", "fiscal", "FP-3", "in-test-U-103", "line-1", "p1", now});
    ASSERT_TRUE(entered && entered->verdict == EntryVerdict::Entered) << (entered ? entered->reason : "");
    // A person added and given another role, for the audit trail.
    if (withPeople) {
        ASSERT_TRUE(StoreOk(owner.Operators().Add({"petr", "Petr", Role::Operator, "$argon2id$made", false, 0, 0, now})));
        ASSERT_TRUE(StoreOk(owner.Operators().SetRole("petr", Role::Technician)));
    }
    // The page reads with the line's reader login, which may only read.
    made->reader = made->database->MakeRole(QStringLiteral("reader"));
    ASSERT_TRUE(StoreOk(owner.GrantLogins({}, {made->reader})));
    made->dashboard = std::make_unique<DashboardProcess>(AsLogin(made->database->Location(), made->reader));
    ASSERT_TRUE(made->dashboard->Serving()) << made->dashboard->Errors().toStdString();
    line = std::move(made);
}

// The tests of the line's page. They only read the line, so one line, one
// server and one browser serve them all: made by the first test that needs
// them and kept to the end of the suite (the suite runs in one process).
class DashboardLineTest : public ::testing::Test {
protected:
    static void TearDownTestSuite() {
        s_browser.reset();
        s_line.reset();
    }

    void SetUp() override {
        if (CdpBrowser::Executable().isEmpty())
            GTEST_SKIP() << "chromium is not installed";
        if (!s_line)
            ServeLine(s_line);
        if (!s_line)
            return;
        Use(*s_line);
    }

    void Use(ServedLine& line) {
        database = line.database.get();
        records = line.records;
        since = line.since;
        reader = line.reader;
        dashboard = line.dashboard.get();
    }

    // The browser the suite's tests share.
    static CdpBrowser& Browser() {
        if (!s_browser)
            s_browser = std::make_unique<CdpBrowser>();
        return *s_browser;
    }

    QJsonObject Stats() {
        const HttpAnswer answer = Http(dashboard->Url(QStringLiteral("/api/stats?since=") + since));
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        return QJsonDocument::fromJson(answer.body).object();
    }

    // Opens the line's page for the period and waits until it has drawn both charts.
    void OpenPage(CdpBrowser& browser) {
        ASSERT_TRUE(browser.Problem().isEmpty()) << browser.Problem().toStdString();
        ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/?since=")) + since));
        ASSERT_TRUE(browser.WaitFor(QStringLiteral("document.getElementById('per-hour-chart').hasAttribute('data-drawn')"
                                                   " && document.getElementById('pareto-chart').hasAttribute('data-drawn')"),
                                    10000))
            << browser.Evaluate(QStringLiteral("document.getElementById('problem').textContent")).toString().toStdString();
    }

    TestDatabase* database = nullptr;
    std::vector<Record> records;
    QString since, reader;
    DashboardProcess* dashboard = nullptr;

private:
    static inline std::unique_ptr<ServedLine> s_line;
    static inline std::unique_ptr<CdpBrowser> s_browser;
};

// A test that adds to the line has a line of its own.
class DashboardNewRunTest : public DashboardLineTest {
protected:
    void SetUp() override {
        if (CdpBrowser::Executable().isEmpty())
            GTEST_SKIP() << "chromium is not installed";
        ServeLine(m_line, false);
        if (m_line)
            Use(*m_line);
    }

private:
    std::unique_ptr<ServedLine> m_line;
};

TEST_F(DashboardLineTest, PageShowsTheLinesNumbersChartsAndNewestRecords) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    const QJsonObject stats = Stats();
    EXPECT_EQ(stats.value("units").toInt(), 7);

    const auto text = [&browser](const char* id) {
        return browser.Evaluate(QStringLiteral("document.getElementById('%1').textContent").arg(QLatin1String(id))).toString();
    };
    EXPECT_EQ(text("units"), QString::number(stats.value("units").toInt()));
    EXPECT_EQ(text("runs"), QString::number(stats.value("runs").toInt()));
    EXPECT_EQ(text("first-pass"), Percent(stats.value("first_pass_yield")));
    EXPECT_EQ(text("final"), Percent(stats.value("final_yield")));
    // The first runs that ended in an error or were aborted, told apart from the failed ones.
    const QJsonObject first = stats.value("first_runs").toObject();
    EXPECT_EQ(text("first-sub"), QStringLiteral("first runs: %1 pass · %2 fail · %3 error · %4 aborted")
                                     .arg(first.value("pass").toInt())
                                     .arg(first.value("fail").toInt())
                                     .arg(first.value("error").toInt())
                                     .arg(first.value("aborted").toInt()));
    EXPECT_TRUE(browser.Evaluate(QStringLiteral("document.getElementById('problem').hidden")).toBool());

    // Each station as the API counts it, a silent one marked so.
    const QJsonArray shown = browser
                                 .Evaluate(QStringLiteral(
                                     "[...document.querySelectorAll('#stations tbody tr')].map(r => ({"
                                     "name: r.cells[0].firstChild.textContent, units: r.cells[1].textContent,"
                                     " silent: r.querySelector('.silent-mark') !== null}))"))
                                 .toArray();
    const QJsonArray stations = stats.value("stations").toArray();
    ASSERT_EQ(shown.size(), stations.size());
    for (qsizetype i = 0; i < stations.size(); ++i) {
        const QJsonObject station = stations[i].toObject(), row = shown[i].toObject();
        EXPECT_EQ(row.value("name").toString(), station.value("station").toString());
        EXPECT_EQ(row.value("units").toString(), QString::number(station.value("units").toInt()));
        EXPECT_EQ(row.value("silent").toBool(), station.value("silent").toBool()) << row.value("name").toString().toStdString();
        EXPECT_EQ(station.value("silent").toBool(), station.value("station").toString() == QStringLiteral("Сборка-2"));
    }

    // Both charts drew a bar for every number.
    int hourBars = 0;
    for (const QJsonValue hour : stats.value("per_hour").toArray())
        hourBars += hour.toObject().value("units").toInt() > 0 ? 1 : 0;
    EXPECT_GT(hourBars, 0);
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.getElementById('per-hour-chart').dataset.drawn")).toString(),
              QString::number(hourBars));
    const QJsonArray pareto = stats.value("pareto").toArray();
    EXPECT_FALSE(pareto.isEmpty());
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.getElementById('pareto-chart').dataset.drawn")).toString(),
              QString::number(pareto.size()));

    // The newest records, newest first, each linking to its page.
    const QJsonArray rows = browser
                                .Evaluate(QStringLiteral("[...document.querySelectorAll('#records tbody tr')].map(r =>"
                                                         " [r.cells[2].textContent, r.cells[3].firstChild.textContent,"
                                                         " r.querySelector('a').getAttribute('href'),"
                                                         " r.querySelector('.engineering-mark') !== null])"))
                                .toArray();
    // The page lists the twelve newest: the line's oldest run is left out.
    ASSERT_EQ(rows.size(), std::min<qsizetype>(static_cast<qsizetype>(records.size()), 12));
    for (std::size_t i = 0; i < static_cast<std::size_t>(rows.size()); ++i) {
        const Record& record = records[records.size() - 1 - i];
        const QJsonArray row = rows[static_cast<qsizetype>(i)].toArray();
        EXPECT_EQ(row[0].toString().toStdString(), record.header.unit);
        EXPECT_EQ(row[1].toString().toStdString(), OutcomeText(*record.header.outcome));
        EXPECT_EQ(row[2].toString().toStdString(), "/records/" + record.header.id);
        EXPECT_EQ(row[3].toBool(), record.header.engineering) << record.header.unit;
    }
}

TEST_F(DashboardLineTest, MarkupInTheRecordsIsShownAsText) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    EXPECT_TRUE(browser.Evaluate(QStringLiteral("[...document.querySelectorAll('#records td')].some(c => c.textContent === %1)")
                                     .arg(Js(QString::fromStdString(Markup))))
                    .toBool());
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.scripts.length")).toInt(), 4);
    const Record& marked = records[11];  // the release of the unit named in markup
    ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/records/")) + QString::fromStdString(marked.header.id)));
    EXPECT_TRUE(browser.Evaluate(QStringLiteral("document.querySelector('h1').textContent.startsWith(%1)")
                                     .arg(Js(QString::fromStdString(Markup))))
                    .toBool());
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.scripts.length")).toInt(), 0);
    EXPECT_TRUE(browser.Dialogs().isEmpty()) << browser.Dialogs().join(u'\n').toStdString();
}

TEST_F(DashboardLineTest, RecordPageShowsHeaderVerdictChecksAndColouredLog) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    // The failed run of U-102, reached by its link on the line's page.
    const Record& failed = records[4];
    ASSERT_TRUE(browser.Evaluate(QStringLiteral("document.querySelector('a[href=\"/records/%1\"]').click(), true")
                                     .arg(QString::fromStdString(failed.header.id)))
                    .toBool());
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("location.pathname.startsWith('/records/') && document.readyState === 'complete'"), 10000));
    const auto text = [&browser](const QString& selector) {
        return browser.Evaluate(QStringLiteral("[...document.querySelectorAll(%1)].map(e => e.textContent).join('|')")
                                    .arg(Js(selector)))
            .toString();
    };
    EXPECT_TRUE(text(QStringLiteral("h1")).startsWith(QStringLiteral("U-102")));
    EXPECT_EQ(text(QStringLiteral(".verdict")), QStringLiteral("FAIL ") + QString::fromStdString(failed.header.reason));
    EXPECT_TRUE(text(QStringLiteral("dl.header dd")).contains(QStringLiteral("line-1|ivana|run|")));
    EXPECT_EQ(text(QStringLiteral("table.checks tr.check-fail td:first-child")), QStringLiteral("journal size"));
    EXPECT_EQ(text(QStringLiteral("table.steps tbody tr td:nth-child(5)")), QStringLiteral("P,1048576,19157"));
    EXPECT_EQ(text(QStringLiteral("pre.log .c-red")), QString::fromStdString(failed.log[1].text));
    EXPECT_EQ(text(QStringLiteral("pre.log .c-blue")), QString::fromStdString(failed.log[0].text));
    // In its colour, as the station showed it.
    EXPECT_EQ(browser.Evaluate(QStringLiteral("getComputedStyle(document.querySelector('pre.log .c-red')).color")).toString(),
              QStringLiteral("rgb(192, 0, 0)"));
    EXPECT_EQ(text(QStringLiteral(".verdict .engineering")), QString());
    // An engineering run's page says so.
    ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/records/")) +
                                 QString::fromStdString(records.back().header.id)));
    EXPECT_EQ(text(QStringLiteral(".verdict .engineering")), QStringLiteral("engineering run: counted in no yield"));
    EXPECT_TRUE(text(QStringLiteral("dl.header dd")).contains(QStringLiteral("|run (engineering)|")));
}

// A run that ends while the page is open shows in its newest records without a
// reload: the page, marked before the run, is still the one that shows it. The
// bound is one only a page that never refreshes reaches.
TEST_F(DashboardNewRunTest, NewRunAppearsOnTheOpenPage) {
    CdpBrowser browser;
    OpenPage(browser);
    ASSERT_TRUE(browser.Evaluate(QStringLiteral("window.openedBefore = true")).toBool());
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.setEnv(QStringLiteral("TAMRISK_RECORDS"), database->Location());
    sim.setEnv(QStringLiteral("TAMRISK_LOCAL_RECORDS"), database->Folder() + QStringLiteral("/local.sqlite"));
    const CliRun run = sim.cli({"run", "--port", QString::fromStdString(sim.port()), "--unit", "U-NEW", "--vars",
                                TAMRISK_EXAMPLES_DIR "/final-test.vars", TAMRISK_EXAMPLES_DIR "/final-test.inp"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(browser.WaitFor(
        QStringLiteral("document.querySelector('#records tbody tr td:nth-child(3)').textContent === 'U-NEW'"), 60000))
        << browser.Evaluate(QStringLiteral("document.getElementById('problem').textContent")).toString().toStdString();
    EXPECT_TRUE(browser.Evaluate(QStringLiteral("window.openedBefore === true")).toBool()) << "the page was reloaded";
}

TEST_F(DashboardLineTest, ApiAnswersAsTheCommandLineAndRefusesWhatItCannotDo) {
    // The same period as records stats prints it, byte for byte.
    const QString from = QDateTime::fromMSecsSinceEpoch(records.front().header.startedMs - MinuteMs, QTimeZone::utc())
                             .toString(Qt::ISODate);
    const QString to = QDateTime::currentDateTimeUtc().addSecs(60).toString(Qt::ISODate);
    // And a unit's history and the work in progress as the commands print them.
    const struct {
        QString path;
        QStringList args;
    } printed[] = {
        {QStringLiteral("/api/stats?since=%1&until=%2").arg(from, to), {"records", "stats", "--since", from, "--until", to}},
        {"/api/units/" + PathOf(Markup), {"unit", "history", QString::fromStdString(Markup)}},
        {"/api/units/U-102", {"unit", "history", "U-102"}},
        {"/api/units/U-NONE", {"unit", "history", "U-NONE"}},
        {"/api/wip", {"records", "wip"}},
        {"/api/wip?product=FP-3-KZ", {"records", "wip", "--product", "FP-3-KZ"}},
        {"/api/audit", {"audit", "list"}},
    };
    for (const auto& p : printed) {
        SCOPED_TRACE(p.path.toStdString());
        const HttpAnswer served = Http(dashboard->Url(p.path));
        EXPECT_EQ(served.status, 200);
        EXPECT_EQ(served.body.toStdString(),
                  CliPrints(p.args + QStringList{"--records", AsLogin(database->Location(), reader), "--format", "json"})
                      .toStdString());
        // Something to compare: only the unit the line never saw has no rows.
        const QJsonDocument json = QJsonDocument::fromJson(served.body);
        EXPECT_EQ(json.isArray() && json.array().isEmpty(), p.path.endsWith(QStringLiteral("U-NONE")));
    }

    const HttpAnswer list = Http(dashboard->Url(QStringLiteral("/api/records?limit=3&unit=U-102")));
    EXPECT_EQ(list.status, 200);
    const QJsonArray listed = QJsonDocument::fromJson(list.body).array();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0].toObject().value("id").toString().toStdString(), records[5].header.id);

    const struct {
        QByteArray method;
        QString path;
        int status;
        QByteArray type;
    } cases[] = {
        {"GET", "/", 200, "text/html; charset=utf-8"},
        {"HEAD", "/api/records", 200, "application/json"},
        {"GET", "/api/records/" + QString::fromStdString(records[0].header.id).left(8), 200, "application/json"},
        {"GET", "/api/stats?since=yesterday", 400, "application/json"},
        {"GET", "/api/records?limit=none", 400, "application/json"},
        {"GET", "/api/records/0000", 404, "application/json"},
        {"HEAD", "/api/wip?product=FP-3", 200, "application/json"},
        {"GET", "/units/U-102", 200, "text/html; charset=utf-8"},
        {"GET", "/audit", 200, "text/html; charset=utf-8"},
        {"GET", "/api/audit?limit=0", 400, "application/json"},
        {"GET", "/api/audit?since=soon", 400, "application/json"},
        {"GET", "/units/", 404, "text/html; charset=utf-8"},
        {"POST", "/api/units/U-102", 405, "application/json"},
        {"GET", "/records/0000", 404, "text/html; charset=utf-8"},
        {"GET", "/no-such-page", 404, "text/html; charset=utf-8"},
        {"POST", "/api/stats", 405, "application/json"},
        {"PUT", "/records/" + QString::fromStdString(records[0].header.id), 405, "application/json"},
        {"DELETE", "/api/records", 405, "application/json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method.toStdString() + " " + c.path.toStdString());
        const HttpAnswer answer = Http(dashboard->Url(c.path), c.method);
        EXPECT_EQ(answer.status, c.status) << answer.body.toStdString();
        EXPECT_EQ(answer.contentType, c.type);
        EXPECT_EQ(answer.policy, "default-src 'self'");
        EXPECT_EQ(answer.noSniff, "nosniff");
        if (c.type == "application/json" && c.status >= 400) {
            EXPECT_FALSE(QJsonDocument::fromJson(answer.body).object().value("error").toString().isEmpty());
        }
    }
}

// The audit trail's page, opened from the line's: the newest entry first, each
// with who, where, what, of what, from what to what and why, every text from
// the records shown as text.
TEST_F(DashboardLineTest, AuditPageShowsTheNewestEntriesFirst) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    ASSERT_TRUE(browser.Evaluate(QStringLiteral("document.getElementById('audit-link').click(), true")).toBool());
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("location.pathname === '/audit' && document.body.dataset.shown !== undefined"), 10000));
    const QStringList rows =
        browser
            .Evaluate(QStringLiteral("[...document.querySelectorAll('#audit tbody tr')].map(r =>"
                                     " [...r.cells].slice(1).map(c => c.textContent).join('|')).join('\\n')"))
            .toString()
            .split(u'\n');
    const QString markup = QString::fromStdString(Markup);
    const QStringList expected = {
        "ivana|line-1|records setup|logins|– → reader " + reader + "|",
        "ivana|line-1|operator role|petr|operator → technician|",
        "ivana|line-1|operator add|petr|– → operator|",
        "ivana|line-1|unit release|" + markup + "|on hold → released|polished",
        "ivana|line-1|unit hold|" + markup + "|– → on hold|scratched <i>case</i>",
        "ivana|line-1|unit hold|Блок-2|– → on hold|bent <b>pins</b>",
        "ivana|line-1|route set|FP-3-KZ|– → board|",
        "ivana|line-1|route set|FP-3|– → board fiscal final|",
        // The engineer's run, kept in the trail as the line's records were brought in.
        "ivana|line-1|engineering run|" + QString::fromStdString(records.back().header.id) +
            "|– → final-test.inp, product FP-3, operation board, unit U-104|",
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.querySelectorAll('#audit b, #audit i, #audit script').length"))
                  .toInt(),
              0);
    EXPECT_TRUE(browser.Dialogs().isEmpty()) << browser.Dialogs().join(u'\n').toStdString();
}

// Each product's route as a row of its operations: the first-pass yields of
// the period, the units waiting before each and those in test and on hold now,
// as worked out by hand from the line.
TEST_F(DashboardLineTest, LineShowsEachProductsRouteWithItsYieldsAndUnits) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("document.querySelectorAll('#routes .route').length === 2"), 10000));
    const QString shown =
        browser
            .Evaluate(QStringLiteral(
                "[...document.querySelectorAll('#routes .route')].map(r => r.dataset.product + ' ('"
                " + r.querySelector('.rolled').textContent + '): ' + [...r.querySelectorAll('.operation')].map(o =>"
                " [...o.children].map(c => c.textContent).join(' | ')).join(' -> ')).join('\\n')"))
            .toString();
    // FP-3 board: first runs of U-101, U-102 (failed), U-103 and the markup unit;
    // waiting for fiscal: U-101, U-102 and the markup unit, released; U-103 in
    // test. FP-3-KZ board: Блок-2 failed its first run and is held.
    EXPECT_EQ(shown.toStdString(),
              "FP-3 (rolled –): 0 | board | 75.0 % | 0 in test · 0 on hold -> 3 | fiscal | – | 1 in test · 0 on hold"
              " -> 0 | final | – | 0 in test · 0 on hold\n"
              "FP-3-KZ (rolled 66.7 %): 0 | board | 66.7 % | 0 in test · 1 on hold");
}

// A unit's history, opened from the line's search box: every run, refusal,
// hold and release, oldest first, each linking to its record, every text from
// the records (the unit's name, the reasons) as text.
TEST_F(DashboardLineTest, SearchOpensAUnitsHistoryOldestFirst) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    ASSERT_TRUE(browser.Evaluate(QStringLiteral("document.getElementById('unit-name').value = %1,"
                                                " document.querySelector('#unit-search button').click(), true")
                                     .arg(Js(QString::fromStdString(" " + Markup + " "))))
                    .toBool());
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("document.body.dataset.shown !== undefined"), 10000));
    EXPECT_EQ(browser.Evaluate(QStringLiteral("location.pathname")).toString(), "/units/" + PathOf(Markup));
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.querySelector('h1').textContent")).toString().toStdString(),
              "Unit " + Markup);
    const QJsonArray rows = browser
                                .Evaluate(QStringLiteral("[...document.querySelectorAll('#history tbody tr')].map(r =>"
                                                         " [...r.cells].slice(1).map(c => c.textContent).join(' | ')"
                                                         " + ' | ' + r.querySelector('a').getAttribute('href')"
                                                         " + ' | ' + r.querySelector('time').dateTime)"))
                                .toArray();
    const auto id = [this](std::size_t i) { return "/records/" + records[i].header.id; };
    const auto at = [this](std::size_t i) { return IsoUtcMs(records[i].header.startedMs); };
    const std::vector<std::string> expected = {
        "run | FP-3 | board | line-1 | ivana | pass |  | " + id(7) + " | " + at(7),
        "held | – | – | line-1 | ivana | – | scratched <i>case</i> | " + id(9) + " | " + at(9),
        "refused | FP-3 | fiscal | line-1 | ivana | – | <script>alert(1)</script> is on hold | " + id(10) + " | " + at(10),
        "released | – | – | line-1 | ivana | – | polished | " + id(11) + " | " + at(11),
    };
    ASSERT_EQ(rows.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rows[static_cast<qsizetype>(i)].toString().toStdString(), expected[i]);
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.scripts.length")).toInt(), 2);
    EXPECT_TRUE(browser.Dialogs().isEmpty()) << browser.Dialogs().join(u'\n').toStdString();

}

// Without Chart.js (the browser refused it) the numbers, the hours and the
// causes still show, as text.
TEST_F(DashboardLineTest, PageShowsItsNumbersWithoutChartJs) {
    CdpBrowser browser;
    ASSERT_TRUE(browser.Problem().isEmpty()) << browser.Problem().toStdString();
    ASSERT_TRUE(browser.Send(QStringLiteral("Network.enable")));
    ASSERT_TRUE(browser.Send(QStringLiteral("Network.setBlockedURLs"), {{"urls", QJsonArray{"*/chart.js"}}}));
    ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/?since=")) + since));
    const QJsonObject stats = Stats();
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("document.getElementById('units').textContent === '%1'")
                                    .arg(stats.value("units").toInt()),
                                10000));
    EXPECT_FALSE(browser.Evaluate(QStringLiteral("typeof Chart === 'function'")).toBool());
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.querySelectorAll('#per-hour-list li').length")).toInt(),
              stats.value("per_hour").toArray().size());
    const QJsonArray pareto = stats.value("pareto").toArray();
    ASSERT_FALSE(pareto.isEmpty());
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.querySelector('#pareto-list li').textContent")).toString(),
              QStringLiteral("%1 %2").arg(pareto[0].toObject().value("count").toInt()).arg(pareto[0].toObject().value("cause").toString()));
    EXPECT_FALSE(browser.Evaluate(QStringLiteral("document.getElementById('pareto-list').hidden")).toBool());
}

// The wall's screen (1920 x 1080) and a record's page at a desk (1280 wide)
// show everything without scrolling sideways; with TAMRISK_SCREENSHOTS set,
// their pictures are written there for the README.
TEST_F(DashboardLineTest, PagesFitTheirScreens) {
    CdpBrowser& browser = Browser();
    OpenPage(browser);
    const auto shoot = [&](const QString& name, int width, int height) {
        const QByteArray png = browser.Screenshot(width, height);
        ASSERT_TRUE(png.startsWith("\x89PNG")) << browser.Problem().toStdString();
        EXPECT_TRUE(browser.Evaluate(QStringLiteral("document.documentElement.scrollWidth <= window.innerWidth")).toBool())
            << name.toStdString();
        KeepScreenshot(png, name);
    };
    shoot(QStringLiteral("dashboard.png"), 1920, 1080);
    // The wall shows the whole page at once.
    EXPECT_TRUE(browser.Evaluate(QStringLiteral("document.documentElement.scrollHeight <= window.innerHeight")).toBool());
    ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/records/")) + QString::fromStdString(records[1].header.id)));
    const int height = browser.Evaluate(QStringLiteral("document.documentElement.scrollHeight")).toInt();
    shoot(QStringLiteral("dashboard-record.png"), 1280, std::max(height, 600));
    ASSERT_TRUE(browser.Navigate(dashboard->Url(QStringLiteral("/units/")) + PathOf(Markup)));
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("document.body.dataset.shown === '4'"), 10000));
    shoot(QStringLiteral("dashboard-unit.png"), 1280, 600);
}

// A morning's measurements: forty runs a minute apart on line-1 and line-2 in
// turn, each measuring a supply voltage (4.75..5.25 V, steady but for a spike
// and then ten values in a row above the mean), the journal used (<= 4096
// bytes; six runs over it fail) and a print speed (100..200 mm/s, 8 either side
// of 150); the first ten runs also a check named in markup, whose limits
// changed after five runs.
inline const std::string MarkupCheck = "<b>x</b>";

// A check `in low..high`, or `<= high` without `low`, that found `value`.
RecordCheck NumericCheck(const std::string& name, std::optional<double> low, double high, const char* units, double value) {
    const bool pass = value <= high && (!low || value >= *low);
    const std::string found = QString::number(value, 'f', 3).toStdString(), limit = QString::number(high).toStdString();
    return {CheckOutcome{name, 7, "2", low ? CheckOperator::In : CheckOperator::AtMost,
                         low ? QString::number(*low).toStdString() + ".." + limit : limit, low, high, units, found,
                         pass ? CheckResult::Pass : CheckResult::Fail, pass ? "" : name + ": expected <= " + limit + ", got " + found},
            0};
}

void MeasureLine(std::unique_ptr<ServedLine>& line) {
    auto made = std::make_unique<ServedLine>();
    made->database = std::make_unique<TestDatabase>(Backend::Postgresql);
    if (!made->database->SkipReason().empty())
        GTEST_SKIP() << made->database->SkipReason();
    const qint64 start = *ParseRecordsTime("2026-12-07T08:30Z", false);
    for (int i = 0; i < 40; ++i) {
        const double voltage = i == 12 ? 5.12 : i >= 25 && i < 35 ? 5.03 + 0.002 * (i % 3) : 5.0 + 0.01 * ((i * 7) % 5 - 2);
        Record run = MadeRun(i % 2 ? "line-2" : "line-1", "M-" + std::to_string(100 + i), start + i * MinuteMs, RecordOutcome::Pass);
        run.header.product = "FP-3";
        run.checks.push_back(NumericCheck("supply voltage", 4.75, 5.25, "V", voltage));
        run.checks.push_back(NumericCheck("journal used", std::nullopt, 4096, "bytes", 3950 + 60 * ((i * 3) % 7 - 3)));
        run.checks.push_back(NumericCheck("print speed", 100, 200, "mm/s", i % 2 ? 158 : 142));
        if (i < 10)
            run.checks.push_back(NumericCheck(MarkupCheck, 0, i < 5 ? 10 : 12, "V", 5 + 0.1 * i));
        if (run.checks[2].check.result == CheckResult::Fail) {
            run.header.outcome = RecordOutcome::Fail;
            run.header.reason = run.checks[2].check.message;
        }
        made->records.push_back(std::move(run));
    }
    RecordStore owner;
    ASSERT_TRUE(StoreOk(owner.Open(made->database->Location())));
    ASSERT_TRUE(StoreOk(owner.Import(made->records)));
    made->dashboard = std::make_unique<DashboardProcess>(made->database->Location());
    ASSERT_TRUE(made->dashboard->Serving()) << made->dashboard->Errors().toStdString();
    line = std::move(made);
}

// The measurements' tests only read their line: one line and one server serve
// them all, with the line page tests' browser.
class DashboardMeasureTest : public DashboardLineTest {
protected:
    static void TearDownTestSuite() {
        s_measured.reset();
        DashboardLineTest::TearDownTestSuite();
    }
    void SetUp() override {
        if (CdpBrowser::Executable().isEmpty())
            GTEST_SKIP() << "chromium is not installed";
        if (!s_measured)
            MeasureLine(s_measured);
        if (s_measured)
            Use(*s_measured);
    }

    // The morning's checks (check `name`'s alone, with its values, when given)
    // as the records layer writes their capability JSON.
    QByteArray Expected(const std::string& name, const std::string& station = {}) {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.OpenToRead(database->Location(), RecordStore::Reading::ChangeNothing)));
        const StoreResult<CapabilityReport> report = store.Capability(
            {*ParseRecordsTime(Since, false), *ParseRecordsTime(Until, true), name, {}, {}, station, !name.empty()});
        return report ? CapabilityJson(*report) : QByteArray();
    }
    QJsonArray Checks(const std::string& name = {}) {
        return QJsonDocument::fromJson(Expected(name)).object().value("checks").toArray();
    }
    // Opens `path` for the morning and waits until `shown` is true.
    void Open(CdpBrowser& browser, const QString& path, const QString& shown) {
        ASSERT_TRUE(browser.Navigate(dashboard->Url(path + u'?' + Period)));
        ASSERT_TRUE(browser.WaitFor(shown, 10000)) << browser.Problem().toStdString();
    }

    static constexpr char Since[] = "2026-12-07T08:00Z", Until[] = "2026-12-07T12:00Z";
    const QString Period = QStringLiteral("since=%1&until=%2").arg(QLatin1String(Since), QLatin1String(Until));

private:
    static inline std::unique_ptr<ServedLine> s_measured;
};

// The numbers in a text in order: "1.52 [1.18, 1.86]" is 1.52, 1.18, 1.86.
std::vector<double> NumbersIn(const QString& text) {
    std::vector<double> numbers;
    static const QRegularExpression number(QStringLiteral("-?\\d+(\\.\\d+)?"));
    for (auto match = number.globalMatch(text); match.hasNext();)
        numbers.push_back(match.next().captured().toDouble());
    return numbers;
}

TEST_F(DashboardMeasureTest, ApiAnswersTheCapabilityJsonOfTheSamePeriod) {
    const struct {
        QString path;
        std::string name, station;
        int checks;
    } cases[] = {
        {"/api/capability?" + Period, "", "", 5},
        {"/api/capability?" + Period + "&station=line-2", "", "line-2", 5},
        {"/api/checks/" + PathOf(MarkupCheck) + "?" + Period, MarkupCheck, "", 2},
        {"/api/checks/no%20such%20check?" + Period, "no such check", "", 0},
    };
    for (const auto& c : cases) {
        const HttpAnswer served = Http(dashboard->Url(c.path));
        EXPECT_EQ(served.status, 200) << c.path.toStdString();
        EXPECT_EQ(served.body.toStdString(), Expected(c.name, c.station).toStdString());
        EXPECT_EQ(QJsonDocument::fromJson(served.body).object().value("checks").toArray().size(), c.checks);
    }
    for (const char* refused : {"/api/capability?since=yesterday", "/api/checks/x?since=2026-12-07&until=2026-12-06"})
        EXPECT_EQ(Http(dashboard->Url(QLatin1String(refused))).status, 400) << refused;
}

// A row a check, worst first, with the API's figures; its Cpk in the colour
// its value earns, grey with the warning while it has too few values; its
// last values drawn; its name as text, linking to its page.
TEST_F(DashboardMeasureTest, PanelShowsEachChecksCapabilityWorstFirst) {
    CdpBrowser& browser = Browser();
    const QJsonArray checks = Checks();
    Open(browser, QStringLiteral("/"),
         QStringLiteral("document.querySelectorAll('#measurements svg.sparkline').length === %1").arg(checks.size()));
    const QJsonArray rows =
        browser
            .Evaluate(QStringLiteral(
                "[...document.querySelectorAll('#measurements tbody tr')].map(r => ({"
                " text: [...r.cells].slice(0, 4).map(c => c.textContent).join(' | '), cpk: r.cells[4].firstChild.textContent,"
                " colour: getComputedStyle(r.cells[4]).color, warning: r.querySelector('.warning')?.textContent,"
                " link: new URL(r.querySelector('a').href).pathname, points: +r.querySelector('svg').dataset.points}))"))
            .toArray();
    ASSERT_EQ(rows.size(), checks.size());
    const struct {
        const char* colour;
        bool (*earns)(const QJsonObject& figures);
    } colours[] = {
        {"rgb(154, 160, 166)", [](const QJsonObject& f) { return !f.value("warning").isNull(); }},
        {"rgb(242, 107, 91)", [](const QJsonObject& f) { return f.value("cpk").toDouble() < 1.0; }},
        {"rgb(245, 166, 35)", [](const QJsonObject& f) { return f.value("cpk").toDouble() < 1.33; }},
        {"rgb(95, 208, 104)", [](const QJsonObject&) { return true; }},
    };
    std::set<std::string> seen;
    for (qsizetype i = 0; i < checks.size(); ++i) {
        const QJsonObject check = checks[i].toObject(), all = check.value("all").toObject(), row = rows[i].toObject();
        const std::string name = check.value("name").toString().toStdString();
        const QStringList limits = row.value("text").toString().split(QStringLiteral(" | "));
        EXPECT_EQ(limits[0].toStdString(), name);
        EXPECT_EQ(row.value("link").toString(), "/checks/" + PathOf(name));
        EXPECT_EQ(NumbersIn(limits[1]).back(), check.value("usl").toDouble()) << name;
        EXPECT_EQ(limits[2].toInt(), all.value("n").toInt()) << name;
        EXPECT_NEAR(limits[3].toDouble(), all.value("mean").toDouble(), 0.001) << name;
        const std::vector<double> cpk = NumbersIn(row.value("cpk").toString());
        ASSERT_EQ(cpk.size(), 3u) << name;
        for (const auto& [shown, in] : {std::pair(cpk[0], "cpk"), std::pair(cpk[1], "cpk_low"), std::pair(cpk[2], "cpk_high")})
            EXPECT_NEAR(shown, all.value(QLatin1String(in)).toDouble(), 0.005) << name << " " << in;
        const auto earned = std::find_if(std::begin(colours), std::end(colours), [&](const auto& c) { return c.earns(all); });
        EXPECT_EQ(row.value("colour").toString().toStdString(), earned->colour) << name;
        seen.insert(earned->colour);
        EXPECT_EQ(row.value("warning").toString(), all.value("warning").toString()) << name;
        EXPECT_EQ(row.value("points").toInt(), std::min(all.value("n").toInt(), 40)) << name;
    }
    EXPECT_EQ(seen.size(), std::size(colours)) << "the morning earns every colour";
    EXPECT_EQ(browser.Evaluate(QStringLiteral("document.querySelectorAll('#measurements b').length")).toInt(), 0);
    if (!ScreenshotFolder().isEmpty())
        KeepScreenshot(browser.Screenshot(1920, 1080), QStringLiteral("dashboard-measurements.png"));
}

// A check's page: its limits on the histogram and its mean and control limits
// on the individuals chart where their scales put them, the values that break
// a rule, and only those, marked and told, its newest values linking to their
// records; a name in markup shown as text with a section per set of limits;
// without Chart.js the figures and tables still there.
TEST_F(DashboardMeasureTest, CheckPageDrawsItsLimitsRuleBreaksAndNewestValues) {
    CdpBrowser& browser = Browser();
    const QJsonObject check = Checks("supply voltage")[0].toObject(), all = check.value("all").toObject();
    const auto evaluate = [&browser](const QString& expression) { return browser.Evaluate(expression); };
    const auto figure = [&evaluate](const char* title, int column) {
        return evaluate(QStringLiteral("[...document.querySelectorAll('table.figures tr')].find(r => r.cells[0].textContent"
                                       " === '%1').cells[%2].textContent")
                            .arg(QLatin1String(title))
                            .arg(column))
            .toString();
    };
    Open(browser, QStringLiteral("/checks/supply%20voltage"), QStringLiteral("document.body.dataset.shown === '1'"));
    EXPECT_EQ(figure("n", 2), QString::number(check.value("without_failed").toObject().value("n").toInt()));
    const struct {
        const char *canvas, *label, *axis;
        double value;
    } lines[] = {
        {"histogram-0", "LSL", "x", check.value("lsl").toDouble()},
        {"histogram-0", "USL", "x", check.value("usl").toDouble()},
        {"individuals-0", "mean", "y", all.value("mean").toDouble()},
        {"individuals-0", "UCL", "y", all.value("upper_control_limit").toDouble()},
    };
    for (const auto& l : lines) {
        // Both ends of the line, less the pixel of its value on the chart's scale.
        EXPECT_EQ(evaluate(QStringLiteral("(() => { const c = Chart.getChart('%1'), at = c.scales.%3.getPixelForValue(%4);"
                                          " return c.getDatasetMeta(c.data.datasets.findIndex(d => d.label === '%2'))"
                                          ".data.map(p => Math.round(p.%3 - at)); })()")
                               .arg(QLatin1String(l.canvas), QLatin1String(l.label), QLatin1String(l.axis))
                               .arg(l.value, 0, 'g', 17)),
                  (QJsonArray{0, 0}))
            << l.label;
    }
    EXPECT_EQ(evaluate(QStringLiteral("Chart.getChart('histogram-0').data.datasets[0].data.reduce((s, p) => s + p.y, 0)")).toInt(),
              all.value("n").toInt());

    QJsonArray styles;
    for (int i = 0; i < all.value("n").toInt(); ++i)
        styles.append(QStringLiteral("circle"));
    QStringList told;
    for (const QJsonValue b : all.value("rule_breaks").toArray()) {
        const int index = b.toObject().value("index").toInt(), rule = b.toObject().value("rule").toInt();
        styles[index] = QStringLiteral("triangle");
        told << QStringLiteral("value %1 breaks rule %2 (%3)").arg(index + 1).arg(rule).arg(
                    rule == 1 ? "beyond a control limit" : "nine in a row on one side of the mean");
    }
    EXPECT_TRUE(told.join(u' ').contains(QStringLiteral("rule 1")) && told.join(u' ').contains(QStringLiteral("rule 2")));
    EXPECT_EQ(evaluate(QStringLiteral("Chart.getChart('individuals-0').getDatasetMeta(0).data.map(p => p.options.pointStyle)")),
              styles);
    EXPECT_EQ(evaluate(QStringLiteral("[...document.querySelectorAll('ul.breaks li')].map(l => l.textContent.split(':')[0])"
                                      ".join('\\n')"))
                  .toString()
                  .toStdString(),
              told.join(u'\n').toStdString());
    const QJsonArray newest = evaluate(QStringLiteral("[...document.querySelectorAll('table.newest tbody tr')].map(r =>"
                                                      " r.querySelector('a').getAttribute('href') + ' ' + r.cells[1].textContent)"))
                                  .toArray();
    ASSERT_EQ(newest.size(), 40);
    EXPECT_EQ(newest[0].toString().toStdString(), "/records/" + records.back().header.id + " 5.01 V");
    if (!ScreenshotFolder().isEmpty())
        KeepScreenshot(browser.Screenshot(1280, evaluate(QStringLiteral("document.documentElement.scrollHeight")).toInt()),
                       QStringLiteral("dashboard-check.png"));

    const QJsonArray groups = Checks(MarkupCheck);
    Open(browser, "/checks/" + PathOf(MarkupCheck), QStringLiteral("document.body.dataset.shown === '2'"));
    EXPECT_EQ(evaluate(QStringLiteral("document.querySelector('h1').textContent")).toString().toStdString(), MarkupCheck);
    EXPECT_EQ(evaluate(QStringLiteral("[...document.querySelectorAll('section.group')].map(s => +s.dataset.usl)")).toArray(),
              (QJsonArray{groups[0].toObject().value("usl"), groups[1].toObject().value("usl")}));
    EXPECT_EQ(evaluate(QStringLiteral("document.querySelectorAll('main b').length")).toInt(), 0);
    EXPECT_EQ(figure("Warning", 1), QString::fromLatin1(TooFewValuesWarning));

    ASSERT_TRUE(browser.Send(QStringLiteral("Network.enable")));
    ASSERT_TRUE(browser.Send(QStringLiteral("Network.setBlockedURLs"), {{"urls", QJsonArray{"*/chart.js"}}}));
    Open(browser, QStringLiteral("/checks/supply%20voltage"), QStringLiteral("document.body.dataset.shown === '1'"));
    ASSERT_TRUE(browser.Send(QStringLiteral("Network.setBlockedURLs"), {{"urls", QJsonArray{}}}));
    EXPECT_EQ(figure("n", 1), QString::number(all.value("n").toInt()));
    EXPECT_EQ(evaluate(QStringLiteral("document.querySelectorAll('canvas').length + ' '"
                                      " + document.querySelectorAll('ul.breaks li, table.newest tbody tr').length"))
                  .toString(),
              QStringLiteral("0 %1").arg(told.size() + 40));
    EXPECT_TRUE(browser.Dialogs().isEmpty()) << browser.Dialogs().join(u'\n').toStdString();
}

// A server of the test's own, which it stops and starts again.
TEST(DashboardOutageTest, PageSaysTheDatabaseCannotBeReachedAndRecovers) {
    if (CdpBrowser::Executable().isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    if (qEnvironmentVariableIsEmpty("TAMRISK_TEST_POSTGRESQL_DIR"))
        GTEST_SKIP() << "TAMRISK_TEST_POSTGRESQL_DIR is not set (scripts/test-postgres.sh start)";
    PrivateServer server;
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(server.Url())));
        const Record record = MadeRun("line-1", "U-1", QDateTime::currentMSecsSinceEpoch() - MinuteMs, RecordOutcome::Pass);
        ASSERT_TRUE(StoreOk(store.Import(std::span(&record, 1))));
    }
    DashboardProcess dashboard(server.Url());
    ASSERT_TRUE(dashboard.Serving()) << dashboard.Errors().toStdString();
    CdpBrowser browser;
    ASSERT_TRUE(browser.Problem().isEmpty()) << browser.Problem().toStdString();
    ASSERT_TRUE(browser.Navigate(dashboard.Url(QStringLiteral("/"))));
    const QString reached = QStringLiteral("document.getElementById('problem').hidden && "
                                           "document.querySelectorAll('#records tbody tr').length === 1");
    ASSERT_TRUE(browser.WaitFor(reached, 10000));

    server.Halt();
    EXPECT_TRUE(browser.WaitFor(QStringLiteral("!document.getElementById('problem').hidden && "
                                               "document.getElementById('problem').textContent.includes('cannot be reached')"),
                                30000));
    server.Resume();
    EXPECT_TRUE(browser.WaitFor(reached, 30000))
        << browser.Evaluate(QStringLiteral("document.getElementById('problem').textContent")).toString().toStdString();
}

// What the command refuses before it serves, and how it ends, over a records
// file (RecordsTest's, empty).
using DashboardCommandTest = RecordsTest;

TEST_F(DashboardCommandTest, RefusesWhatItCannotServe) {
    const QString records = Path();
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const QString missing = Folder() + QStringLiteral("/none/records.sqlite");
    // Records that are not there cannot be read: not a usage error (5).
    const struct {
        QStringList args;
        std::string message;
        int exitCode = 2;
    } cases[] = {
        {{"--records", missing}, "no records at " + missing.toStdString(), 5},
        {{"--records", records, "--listen", "127.0.0.1"}, "--listen takes ADDRESS:PORT"},
        {{"--records", records, "--listen", "127.0.0.1:70000"}, "--listen takes ADDRESS:PORT"},
        {{"--records", records, "--listen", QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())},
         "cannot listen on 127.0.0.1:" + std::to_string(taken.serverPort())},
        {{"--records", records, "extra"}, "dashboard takes no argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(TAMRISK_CLI_PATH), QStringList{"dashboard"} + c.args);
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_NE(process.readAllStandardError().toStdString().find(c.message), std::string::npos);
    }
    // Nothing made where there were no records.
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QDir(Folder() + QStringLiteral("/none")).exists());
}

TEST_F(DashboardCommandTest, StopSignalsEndItWithStatusZero) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        DashboardProcess dashboard(Path());
        ASSERT_TRUE(dashboard.Serving()) << dashboard.Errors().toStdString();
        EXPECT_EQ(Http(dashboard.Url(QStringLiteral("/api/records"))).status, 200);
        EXPECT_EQ(dashboard.Stop(signal), 0) << dashboard.Ending();
    }
}

// The hand-made line's known numbers, from /api/stats and from records stats
// alike, on both databases.
using DashboardHandMadeLine = BackendTest;

TEST_P(DashboardHandMadeLine, ApiAndCommandLineGiveTheKnownNumbers) {
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(Location())));
        const std::vector<Record> line = HandMadeLine();
        ASSERT_TRUE(StoreOk(store.Import(line)));
    }
    const QString period = QStringLiteral("since=2026-12-07T10:00Z&until=2026-12-07T14:00Z");
    QProcess cli;
    cli.start(QStringLiteral(TAMRISK_CLI_PATH), {"records", "stats", "--records", Location(), "--since",
                                                 "2026-12-07T10:00Z", "--until", "2026-12-07T14:00Z", "--format", "json"});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QByteArray printed = cli.readAllStandardOutput();
    DashboardProcess dashboard(Location());
    ASSERT_TRUE(dashboard.Serving()) << dashboard.Errors().toStdString();
    const HttpAnswer served = Http(dashboard.Url(QStringLiteral("/api/stats?") + period));
    ASSERT_EQ(served.status, 200) << served.body.toStdString();
    EXPECT_EQ(served.body.toStdString(), printed.toStdString());
    const QJsonObject stats = QJsonDocument::fromJson(served.body).object();
    EXPECT_EQ(stats.value("units").toInt(), 7);
    EXPECT_EQ(stats.value("runs").toInt(), 10);
    EXPECT_DOUBLE_EQ(stats.value("first_pass_yield").toDouble(), 0.2);
    EXPECT_DOUBLE_EQ(stats.value("final_yield").toDouble(), 0.5);
    EXPECT_EQ(stats.value("pareto").toArray()[0].toObject().value("cause").toString(), "voltage");
}

INSTANTIATE_TEST_SUITE_P(Backends, DashboardHandMadeLine, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
