// Who may reach a line's database and what each login may do there: a station's
// login adds records and claims and gives back only its own claims, a reader's
// only reads, as records setup grants them; a station reaches the server only
// over TLS verified against the authority it was given, and its records wait
// locally while it cannot.

#include "pin.h"
#include "recordforwarder.h"
#include "recordstore.h"

#include "recordtesting.h"
#include "testserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::AsLogin;
using testing::Backend;
using testing::RunSql;
using testing::SqlRefusal;
using testing::TestDatabase;
using testing::TestHeader;

using C = RecordStore::ClaimResult;

// A finished record as a station forwards it: its header, a log line and a serial number.
Record Forwarded(const std::string& id) {
    Record record;
    record.header = TestHeader(id);
    record.header.outcome = RecordOutcome::Pass;
    record.header.exitCode = 0;
    record.log = {{5, ResultColour::Black, "-> 91,\"DT000100\"", 2}};
    record.serials = {{"91,DT######", "DT000100", 2, SerialResult::Answered}};
    return record;
}

SerialClaimRow ClaimOf(const std::string& data, const std::string& recordId) {
    return {"91,DT######", data, recordId, "line-3", "unit", 1};
}

// A line's database set up by its owner with two stations' logins and a reader's.
class LineLogins : public ::testing::Test {
protected:
    void SetUp() override {
        if (!database.IsPostgresql())
            GTEST_SKIP() << database.SkipReason();
        ASSERT_TRUE(StoreOk(owner.Open(database.Location())));
        stationA = database.MakeRole(QStringLiteral("station_a"));
        stationB = database.MakeRole(QStringLiteral("station_b"));
        reader = database.MakeRole(QStringLiteral("reader"));
        supervisor = database.MakeRole(QStringLiteral("supervisor"));
        ASSERT_TRUE(StoreOk(owner.GrantLogins({stationA, stationB}, {reader}, {supervisor})));
    }
    QString As(const QString& role) const { return AsLogin(database.Location(), role); }
    long long Count(const QString& sql) const { return std::atoll(RunSql(database.Location(), {sql}).c_str()); }

    TestDatabase database{Backend::Postgresql};
    RecordStore owner;
    QString stationA, stationB, reader, supervisor;
};

// A station forwards records and claims and gives back its own claims; another
// station's give-back of that claim leaves it claimed.
TEST_F(LineLogins, StationsAddRecordsAndClaimsAndGiveBackOnlyTheirOwn) {
    RecordStore a, b;
    ASSERT_TRUE(StoreOk(a.Open(As(stationA))));
    ASSERT_TRUE(StoreOk(b.Open(As(stationB))));
    const std::vector<Record> records = {Forwarded("00000000-0000-4000-8000-00000000000a")};
    EXPECT_EQ(ValueOf(a.Import(records)), 1);

    EXPECT_EQ(ValueOf(a.Claim(ClaimOf("DT000100", "ra"))), C::Claimed);
    EXPECT_EQ(ValueOf(a.Claim(ClaimOf("DT000101", "ra"))), C::Claimed);
    EXPECT_EQ(ValueOf(b.Claim(ClaimOf("DT000100", "rb"))), C::Taken);
    EXPECT_TRUE(StoreOk(b.Release("91,DT######", "DT000100", "ra")));
    EXPECT_TRUE(StoreOk(a.Release("91,DT######", "DT000101", "ra")));
    EXPECT_EQ(ValueOf(b.Claim(ClaimOf("DT000101", "rb"))), C::Claimed);

    // A station that deletes every claim deletes only its own; the other's stays.
    EXPECT_EQ(SqlRefusal(As(stationB), "DELETE FROM serial_claims"), "");
    EXPECT_EQ(RunSql(database.Location(), {"SELECT claimed_by || ' ' || data FROM serial_claims"}),
              stationA.toStdString() + " DT000100\n");
}

// Every change a station or a reader may not make is refused by the server.
TEST_F(LineLogins, ChangesBeyondTheirRightsAreRefused) {
    QString error;
    ASSERT_TRUE(StoreOk(owner.Import(std::vector<Record>{Forwarded("00000000-0000-4000-8000-00000000000b")})));
    ASSERT_EQ(ValueOf(owner.Claim(ClaimOf("DT000200", "rb"))), C::Claimed);
    const char* const anyone[] = {
        "UPDATE records SET outcome = 'fail'",
        "DELETE FROM records",
        "UPDATE record_serials SET data = 'DT000999'",
        "DELETE FROM record_serials",
        "DELETE FROM record_log_chunks",
        "UPDATE record_images SET file = ''",
        "UPDATE serial_claims SET record_id = 'mine'",
        "TRUNCATE serial_claims",
        "UPDATE schema_version SET version = 1",
        "DROP TABLE forward_queue",
        "CREATE TABLE notes (text TEXT)",
    };
    for (const QString& role : {stationA, reader}) {
        for (const char* statement : anyone) {
            SCOPED_TRACE(role.toStdString() + ": " + statement);
            EXPECT_NE(SqlRefusal(As(role), QString::fromLatin1(statement)), "");
        }
    }
    // A station claims only in its own name; a reader claims nothing and adds no record.
    EXPECT_NE(SqlRefusal(As(stationA), "INSERT INTO serial_claims VALUES ('91,DT######', 'DT000300', 'r', 's', 'u', 1,"
                                       " '" + stationB + "')"),
              "");
    RecordStore readOnly;
    ASSERT_TRUE(StoreOk(readOnly.Open(As(reader))));
    const StoreResult<C> notClaimed = readOnly.Claim(ClaimOf("DT000301", "r"));
    EXPECT_FALSE(notClaimed);
    EXPECT_FALSE(notClaimed.error().OutOfReach());
    EXPECT_NE(SqlRefusal(As(reader), "DELETE FROM serial_claims"), "");
    error = FailureText(readOnly.Import(std::vector<Record>{Forwarded("00000000-0000-4000-8000-00000000000c")}));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ValueOf(readOnly.List({})).size(), 1u) << error.toStdString();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM serial_claims"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM records WHERE outcome = 'pass'"), 1);
}

// A supervisor sets routes, releases holds and frees any station's units; a
// station enters units, gives back its own and holds a unit automatically, but
// changes no route, releases nothing and frees no other station's unit.
TEST_F(LineLogins, ASupervisorSetsRoutesAndReleasesAStationOnlyEntersAndHolds) {
    RecordStore a, b, boss;
    ASSERT_TRUE(StoreOk(a.Open(As(stationA))));
    ASSERT_TRUE(StoreOk(b.Open(As(stationB))));
    ASSERT_TRUE(StoreOk(boss.Open(As(supervisor))));
    const RouteChange change{"someone", "line-1", 1};
    const StoreResult<void> byStation2 = a.Routes().Set("FP-3", {{"board", 1}}, change);
    EXPECT_FALSE(byStation2);
    EXPECT_FALSE(byStation2.error().OutOfReach());
    ASSERT_TRUE(StoreOk(boss.Routes().Set("FP-3", {{"board", 1}}, change)));
    EXPECT_FALSE(a.Routes().Delete("FP-3", change));
    EXPECT_EQ(ValueOf(a.Routes().Routes()).size(), 1u);

    const auto entry = [](const char* unit, const char* record) {
        return EntryRequest{unit, "board", "FP-3", record, "line-1", "/dev/ttyUSB0", 5};
    };
    ASSERT_EQ(ValueOf(a.Entries().Enter(entry("U1", "ra"))).verdict, EntryVerdict::Entered);
    ASSERT_EQ(ValueOf(b.Entries().Enter(entry("U2", "rb"))).verdict, EntryVerdict::Entered);
    // Another station's unit stays in test whatever it deletes.
    EXPECT_EQ(SqlRefusal(As(stationA), "DELETE FROM units_in_test"), "");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM units_in_test"), 1);
    const std::optional<UnitHold> held =
        ValueOf(a.Entries().Leave({entry("U1", "ra"), RecordOutcome::Fail, "hold-1", "ivana", 9}));
    ASSERT_TRUE(held.has_value());
    EXPECT_NE(SqlRefusal(As(stationB), "DELETE FROM ended_runs"), "");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ended_runs"), 1);

    const HoldChange release{"U1", "release-1", "someone", "line-1", "looked at", 10};
    const StoreResult<Released> byStation = a.Holds().Release(release);
    EXPECT_FALSE(byStation);
    EXPECT_FALSE(byStation.error().OutOfReach());
    EXPECT_NE(SqlRefusal(As(stationB), "UPDATE unit_holds SET released_ms = 1"), "");
    EXPECT_EQ(ValueOf(boss.Holds().Release(release)).holds, 1);
    EXPECT_TRUE(ValueOf(boss.Holds().Release({"U2", "release-2", "someone", "office", "stuck", 11})).freed);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM units_in_test"), 0);
    // A reader does none of it.
    RecordStore readOnly;
    ASSERT_TRUE(StoreOk(readOnly.Open(As(reader))));
    EXPECT_FALSE(readOnly.Entries().Enter(entry("U3", "rc")));
    EXPECT_NE(SqlRefusal(As(reader), "DELETE FROM routes"), "");
}

// A supervisor adds people and changes them; a station logs them in and
// counts their wrong PINs, but adds nobody and changes no one's role, name, PIN
// or state; a reader lists people but never reads a PIN's hash. No refusal
// shows a PIN or its hash.
TEST_F(LineLogins, ASupervisorManagesPeopleAStationOnlyLogsThemIn) {
    RecordStore a, boss, readOnly;
    ASSERT_TRUE(StoreOk(a.Open(As(stationA))));
    ASSERT_TRUE(StoreOk(boss.Open(As(supervisor))));
    ASSERT_TRUE(StoreOk(readOnly.Open(As(reader))));
    const std::string pin = "7391";
    const std::string hash = HashPin(pin);
    const Operator ivana{"ivana", "Ivana", Role::Operator, hash, false, 0, 0, 1};

    const std::vector<StoreResult<void>> byStation = {
        a.Operators().Add(ivana),
        a.Operators().Add({"me", "Me", Role::Supervisor, hash, false, 0, 0, 1}),
    };
    ASSERT_TRUE(StoreOk(boss.Operators().Add(ivana)));
    const std::vector<StoreResult<void>> changes = {a.Operators().SetRole("ivana", Role::Supervisor),
                                                    a.Operators().SetName("ivana", "Someone"),
                                                    a.Operators().SetPin("ivana", hash),
                                                    a.Operators().Disable("ivana")};
    std::vector<StoreResult<void>> refused = byStation;
    refused.insert(refused.end(), changes.begin(), changes.end());
    refused.push_back(readOnly.Operators().Add({"me", "Me", Role::Supervisor, hash, false, 0, 0, 1}));
    for (const StoreResult<void>& result : refused) {
        const QString text = FailureText(result);
        SCOPED_TRACE(text.toStdString());
        EXPECT_FALSE(result);
        EXPECT_FALSE(result.error().OutOfReach());
        EXPECT_FALSE(text.contains(QString::fromStdString(pin)) || text.contains(QString::fromStdString(hash)));
    }
    for (const char* statement : {"UPDATE operators SET role = 'supervisor'", "UPDATE operators SET pin_hash = ''",
                                  "UPDATE operators SET disabled = TRUE", "DELETE FROM operators"})
        EXPECT_NE(SqlRefusal(As(stationA), QString::fromLatin1(statement)), "") << statement;

    EXPECT_EQ(ValueOf(a.Operators().LogIn("ivana", "0000", 5)).verdict, LogInOutcome::Verdict::WrongPin);
    EXPECT_EQ(ValueOf(a.Operators().LogIn("ivana", pin, 6)).verdict, LogInOutcome::Verdict::Accepted);
    ASSERT_TRUE(StoreOk(boss.Operators().SetRole("ivana", Role::Technician)));
    ASSERT_TRUE(StoreOk(boss.Operators().Disable("ivana")));
    EXPECT_EQ(ValueOf(a.Operators().LogIn("ivana", pin, 7)).verdict, LogInOutcome::Verdict::Disabled);

    const std::vector<Operator> listed = ValueOf(readOnly.Operators().List());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].role, Role::Technician);
    EXPECT_NE(SqlRefusal(As(reader), "SELECT pin_hash FROM operators"), "");
}

// Every login appends to the audit trail but none changes or deletes an entry
// there. The setup that granted the logins is the trail's first entry.
TEST_F(LineLogins, EveryLoginAppendsToTheAuditTrailButChangesNoEntry) {
    RecordStore a, boss;
    ASSERT_TRUE(StoreOk(a.Open(As(stationA))));
    ASSERT_TRUE(StoreOk(boss.Open(As(supervisor))));
    ASSERT_TRUE(StoreOk(boss.Routes().Set("FP-3", {{"board", 1}}, {"boss", "office", 1})));
    ASSERT_TRUE(StoreOk(a.Holds().Hold({"U1", "hold-1", "ivana", "line-1", "scratched", 2})));
    const std::vector<AuditEntry> entries = ValueOf(owner.Audit().List(0, 0));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].change.action, "records setup");
    const QString granted = QStringLiteral("station ") + stationA + QStringLiteral(", ") + stationB +
                            QStringLiteral("; supervisor ") + supervisor + QStringLiteral("; reader ") + reader;
    EXPECT_EQ(entries[2].change.newValue, granted.toStdString());
    EXPECT_EQ(entries[0].login, stationA.toStdString());
    for (const QString& role : {stationA, supervisor, reader}) {
        for (const char* statement : {"UPDATE audit_trail SET reason = 'none' WHERE seq = 2", "DELETE FROM audit_trail",
                                      "DELETE FROM audit_head", "TRUNCATE audit_trail"}) {
            SCOPED_TRACE(role.toStdString() + ": " + statement);
            EXPECT_NE(SqlRefusal(As(role), QString::fromLatin1(statement)), "");
        }
    }
    // The owner's changes are found by Verify: AuditOn.VerifyFindsAnEntryChangedDeletedOrCutOff.
    EXPECT_FALSE(ValueOf(owner.Audit().Verify()).broken.has_value());
}

// A login made later is let in by setting the line up again; until then it is
// told to ask for it. A station never makes a missing schema.
TEST_F(LineLogins, SetupAgainAddsALoginAndAStationDoesNotMakeTheSchema) {
    const QString later = database.MakeRole(QStringLiteral("station_c"));
    RecordStore store;
    QString error;
    error = FailureText(store.Open(As(later)));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.contains(QLatin1String("permission denied")) &&
                error.contains(QLatin1String("`tamrisk-cli records setup`")))
        << error.toStdString();
    RecordStore again;
    ASSERT_TRUE(StoreOk(again.Open(database.Location())));
    ASSERT_TRUE(StoreOk(again.GrantLogins({later}, {})));
    ASSERT_TRUE(StoreOk(store.Open(As(later))));
    EXPECT_EQ(ValueOf(store.Claim(ClaimOf("DT000400", "rc"))), C::Claimed);
    RecordStore first;
    ASSERT_TRUE(StoreOk(first.Open(As(stationA))));  // granted before is kept
    // Only the owner grants: a station cannot let another login in.
    const QString intruder = database.MakeRole(QStringLiteral("intruder"));
    error = FailureText(first.GrantLogins({intruder}, {}));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.contains(QLatin1String("only the owner"))) << error.toStdString();
    // Nor does it upgrade a schema an older program made.
    RunSql(database.Location(), {QStringLiteral("UPDATE schema_version SET version = %1")
                                     .arg(RecordStore::CurrentSchemaVersion - 1)});
    error = FailureText(store.Open(As(later)));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.contains(QLatin1String("schema is of an older program")) &&
                error.endsWith(QLatin1String("run `tamrisk-cli records setup`")))
        << error.toStdString();

    TestDatabase empty(Backend::Postgresql);
    const QString newcomer = empty.MakeRole(QStringLiteral("station"));
    error = FailureText(store.Open(AsLogin(empty.Location(), newcomer)));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(error.endsWith(
        QLatin1String(": the line's database has no records schema: run `tamrisk-cli records setup`")))
        << error.toStdString();
    EXPECT_EQ(RunSql(empty.Location(), {"SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema()"}),
              "0\n");
}

// Makes an authority of the test's own with openssl; its certificate's path.
QString MakeAuthority(const QString& folder) {
    QProcess openssl;
    openssl.setStandardErrorFile(QProcess::nullDevice());  // its progress dots
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=Another authority",
                   "-keyout", folder + "/other.key", "-out", folder + "/other.crt"});
    EXPECT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0) << "openssl req";
    return folder + "/other.crt";
}

// The line's URL over TLS, verified against the authority `caFile`.
QString Verified(const QString& url, const QString& caFile) {
    return url + "?sslmode=verify-full&sslrootcert=" + QString::fromLatin1(QUrl::toPercentEncoding(caFile));
}

// One station's records kept in a local file of its own and forwarded to `line`.
struct Station {
    explicit Station(const QString& line) : local(folder.filePath("local.sqlite")), forwarder(local, line) {
        store.SetForwardTo(line);
        EXPECT_TRUE(StoreOk(store.Open(local)));
        RecordHeader header = TestHeader("00000000-0000-4000-8000-0000000000d1");
        EXPECT_TRUE(StoreOk(store.Begin(header)));
        header.outcome = RecordOutcome::Pass;
        EXPECT_TRUE(StoreOk(store.Finish(header)));
        forwarder.Start();
    }
    // The forwarder's first answer: empty when the record reached the line, else why it waits.
    QString Outcome() {
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QThread::msleep(10)) {
            if (const QString problem = forwarder.Problem(); !problem.isEmpty())
                return problem;
            if (forwarder.Waiting() == 0)
                return {};
        }
        return QStringLiteral("no answer from the forwarder");
    }

    QTemporaryDir folder;
    QString local;
    RecordStore store;
    RecordForwarder forwarder;
};

// A station reaches the server only when its authority vouches for the server's
// certificate; refused, it is told why in one line and its record waits locally.
TEST(LineTls, AStationConnectsOnlyToAServerItsAuthorityVerifies) {
    if (qEnvironmentVariableIsEmpty("TAMRISK_TEST_POSTGRESQL_DIR"))
        GTEST_SKIP() << "TAMRISK_TEST_POSTGRESQL_DIR is not set: the TLS server is one of the test's own,"
                        " which scripts/test-postgres.sh makes where test.sh makes the suite's";
    testing::PrivateServer server(testing::PrivateServer::Listen::SocketAndTls);
    ASSERT_FALSE(server.TlsUrl().isEmpty());
    {
        RecordStore first;
        ASSERT_TRUE(StoreOk(first.Open(server.Url())));
    }
    // A path libpq must be given quoted: a space and a quote in it.
    const QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath("line's authority"));
    const QString authority = folder.filePath("line's authority/ca.crt");
    ASSERT_TRUE(QFile::copy(server.Authority(), authority));
    const QString stranger = MakeAuthority(folder.path());

    {
        Station trusting(Verified(server.TlsUrl(), stranger));
        const QString problem = trusting.Outcome();
        EXPECT_TRUE(problem.contains(QLatin1String("certificate verify failed"))) << problem.toStdString();
        EXPECT_FALSE(problem.contains(u'\n')) << problem.toStdString();
        EXPECT_EQ(trusting.forwarder.Waiting(), 1);
    }
    {
        Station verifying(Verified(server.TlsUrl(), authority));
        EXPECT_EQ(verifying.Outcome().toStdString(), "");
        EXPECT_EQ(verifying.forwarder.Waiting(), 0);
        EXPECT_EQ(RunSql(server.Url(), {"SELECT COUNT(*) FROM records"}), "1\n");
    }

    // The same server with TLS turned off: a station that asks for it goes no further.
    const QString admin = AsLogin(server.Url(), QStringLiteral("postgres"));
    RunSql(admin, {"ALTER SYSTEM SET ssl = off", "SELECT pg_reload_conf()"});
    for (QDeadlineTimer reload(10000); RunSql(admin, {"SHOW ssl"}) != "off\n" && !reload.hasExpired();)
        QThread::msleep(20);
    Station plain(Verified(server.TlsUrl(), authority));
    const QString problem = plain.Outcome();
    EXPECT_TRUE(problem.contains(QLatin1String("server does not support SSL"))) << problem.toStdString();
    EXPECT_FALSE(problem.contains(u'\n')) << problem.toStdString();
    EXPECT_EQ(plain.forwarder.Waiting(), 1);
}

}  // namespace
}  // namespace tamrisk
