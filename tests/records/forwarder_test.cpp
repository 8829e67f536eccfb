// Store and forward: records written to a local file, queued for the line's
// database and sent on, each once and in order, also after the line was away.

#include "recordforwarder.h"
#include "recordstore.h"

#include "recordtesting.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <tuple>

#include <sys/wait.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using namespace std::chrono_literals;
using testing::Backend;
using testing::BackendName;
using testing::BackendTest;
using testing::RefuseUnit;
using testing::RunSql;
using testing::StopRefusing;
using testing::TestHeader;

const auto ForwarderBackends = ::testing::Values(Backend::Sqlite, Backend::Postgresql);

std::string Id(int n) { return "00000000-0000-4000-8000-" + QStringLiteral("%1").arg(n, 12, 10, QChar(u'0')).toStdString(); }

// A finished record with a log line, a serial number, an image, a step and a check.
Record Finished(int n) {
    Record record;
    record.header = TestHeader(Id(n), "run", 1'700'000'000'000 + n);
    record.header.outcome = RecordOutcome::Pass;
    record.header.durationMs = 40 + n;
    record.header.exitCode = 0;
    record.header.unit = "DT" + std::to_string(n);
    record.log = {{5, ResultColour::Black, "line of " + std::to_string(n), 3}};
    record.serials = {{"40,##", "40," + std::to_string(n), 3, SerialResult::Answered}};
    record.images = {{"code-memory", 196608, std::string(64, 'a'), "/tmp/code.bin"}};
    record.steps = {{3, 40, std::to_string(n), StatusBytesArray{}, "ok", StepResult::Answered, 1, 5, 20}};
    CheckOutcome check;
    check.name = "answer";
    check.line = 4;
    check.field = "*";
    check.op = CheckOperator::Equal;
    check.expected = "ok";
    check.value = "ok";
    check.result = CheckResult::Pass;
    check.message = "answer: expected = ok, got ok";
    record.checks = {{check, 0}};
    return record;
}

// Writes a record into `store` as a program would: begun, then finished unless `inProgress`.
void WriteRecord(RecordStore& store, const Record& record, bool inProgress = false) {
    ASSERT_TRUE(StoreOk(store.Begin(record.header)));
    RecordBatch batch;
    for (const RecordLogLine& logLine : record.log)
        AddLogLine(batch.log, logLine);
    batch.serials = record.serials;
    batch.images = record.images;
    for (const RecordStep& step : record.steps)
        AddStep(batch.steps, step);
    batch.checks = record.checks;
    ASSERT_TRUE(StoreOk(store.AppendBatch(record.header.id, batch)));
    if (!inProgress) {
        ASSERT_TRUE(StoreOk(store.Finish(record.header)));
    }
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    for (QDeadlineTimer deadline(limit); !deadline.hasExpired(); QThread::msleep(10)) {
        if (done())
            return true;
    }
    return done();
}

// A local records file that queues for a line's database of the test's own,
// which can be taken away and brought back at the same location: for SQLite a
// file whose folder is blocked by a plain file; for PostgreSQL a database
// dropped and made again.
class Forwarding : public BackendTest {
public:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        line = database->IsPostgresql() ? Location() : database->Folder() + QStringLiteral("/line/records.sqlite");
        localPath = database->Folder() + QStringLiteral("/local.sqlite");
        local.SetForwardTo(line);
        ASSERT_TRUE(StoreOk(local.Open(localPath)));
    }

    void TakeLineAway() {
        if (database->IsPostgresql()) {
            RunSql(Admin(), {QStringLiteral("DROP DATABASE ") + Name() + QStringLiteral(" WITH (FORCE)")});
        } else {
            QFile blocker(database->Folder() + QStringLiteral("/line"));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
    }
    void BringLineBack() {
        if (database->IsPostgresql())
            RunSql(Admin(), {QStringLiteral("CREATE DATABASE ") + Name()});
        else
            ASSERT_TRUE(QFile::remove(database->Folder() + QStringLiteral("/line")));
    }

    void Write(const Record& record, bool inProgress = false) { WriteRecord(local, record, inProgress); }

    // The ids in the line's database in the order they arrived.
    std::string Arrived() {
        return RunSql(line, {database->IsPostgresql() ? QStringLiteral("SELECT id FROM records ORDER BY ctid")
                                                      : QStringLiteral("SELECT id FROM records ORDER BY rowid")});
    }

    QString line, localPath;
    RecordStore local;
    std::optional<QLockFile> lock;  // a lock file held as another program would

private:
    static QString Admin() { return QString::fromUtf8(std::getenv("TAMRISK_TEST_POSTGRESQL")); }
    QString Name() const { return line.section(u'/', 3).section(u'?', 0, 0); }
};

TEST_P(Forwarding, ImportTakesEachRecordWholeAndOnceByItsId) {
    RecordStore lineStore;
    ASSERT_TRUE(StoreOk(lineStore.Open(line)));
    const std::vector<Record> first = {Finished(1), Finished(2)};
    EXPECT_EQ(ValueOf(lineStore.Import(first)), 2);
    // Sent again after the sender died before taking them out of its queue, with one new.
    const std::vector<Record> again = {Finished(1), Finished(2), Finished(3)};
    EXPECT_EQ(ValueOf(lineStore.Import(again)), 1);
    EXPECT_EQ(RunSql(line, {QStringLiteral("SELECT COUNT(*) FROM record_log_chunks")}), "3\n");
    EXPECT_EQ(RunSql(line, {QStringLiteral("SELECT COUNT(*) FROM record_serials")}), "3\n");
    for (const Record& sent : again) {
        const StoreResult<Record> kept = lineStore.Load(sent.header.id);
        ASSERT_TRUE(StoreOk(kept));
        EXPECT_EQ(kept->header.outcome, RecordOutcome::Pass);
        EXPECT_EQ(kept->header.durationMs, sent.header.durationMs);
        EXPECT_EQ(kept->header.exitCode, 0);
        EXPECT_EQ(kept->header.unit, sent.header.unit);
        ASSERT_EQ(kept->log.size(), 1u);
        EXPECT_EQ(kept->log[0].text, sent.log[0].text);
        EXPECT_EQ(kept->log[0].scriptLine, 3);
        ASSERT_EQ(kept->serials.size(), 1u);
        EXPECT_EQ(kept->serials[0].data, sent.serials[0].data);
        ASSERT_EQ(kept->images.size(), 1u);
        EXPECT_EQ(kept->images[0].sha256, sent.images[0].sha256);
        EXPECT_TRUE(kept->steps == sent.steps);
        EXPECT_TRUE(kept->checks == sent.checks);
    }
}

// Who ran a record and what it ran arrive with it: an engineering run of a
// release, and a record that names neither, each as it was written.
TEST_P(Forwarding, WhoRanARecordAndItsReleaseArriveWithIt) {
    Record engineering = Finished(1);
    engineering.header.operatorName = "Anna Petrova";
    engineering.header.operatorId = "A17";
    engineering.header.computerLogin = "anna";
    engineering.header.releaseNumber = 3;
    engineering.header.engineering = true;
    const Record plain = Finished(2);
    Write(engineering);
    Write(plain);
    EXPECT_EQ(RecordForwarder::SendWaiting(local.Location(), line, QDeadlineTimer(60s)).sent, 2);
    RecordStore lineStore;
    ASSERT_TRUE(StoreOk(lineStore.Open(line)));
    for (const Record& sent : {engineering, plain}) {
        const RecordHeader& h = sent.header;
        const RecordHeader kept = ValueOf(lineStore.Load(h.id)).header;
        EXPECT_EQ(std::tie(kept.operatorName, kept.operatorId, kept.computerLogin, kept.releaseNumber, kept.engineering),
                  std::tie(h.operatorName, h.operatorId, h.computerLogin, h.releaseNumber, h.engineering));
    }
}

// Records written while the line is away wait; once it is back they arrive each
// once in the order begun, also one the line holds already; one in progress
// waits for its end while those behind it go.
TEST_P(Forwarding, RecordsWrittenWhileTheLineIsAwayArriveOnceInOrderWhenItIsBack) {
    TakeLineAway();
    Write(Finished(1));
    Write(Finished(2), true);
    Write(Finished(3));
    Write(Finished(4));
    EXPECT_EQ(ValueOf(local.Waiting(line)), 4);
    EXPECT_EQ(ValueOf(local.Waiting(QStringLiteral("postgresql://elsewhere/db"))), 0);

    RecordForwarder forwarder(localPath, line);
    EXPECT_EQ(forwarder.Waiting(), -1);
    forwarder.Start();
    ASSERT_TRUE(WaitFor([&] { return !forwarder.Problem().isEmpty(); })) << "the line away is told";
    EXPECT_TRUE(forwarder.Problem().startsWith(RecordStore::ShownLocation(line))) << forwarder.Problem().toStdString();
    EXPECT_EQ(forwarder.Waiting(), 4);
    EXPECT_FALSE(forwarder.Drain(300ms));

    BringLineBack();
    {
        // Sent before, but still queued: the sender ended between the line's commit and the local one.
        RecordStore lineStore;
        const std::vector<Record> sent = {Finished(1)};
        ASSERT_TRUE(StoreOk(lineStore.Open(line)));
        ASSERT_TRUE(StoreOk(lineStore.Import(sent)));
    }
    ASSERT_TRUE(forwarder.Drain(10s)) << forwarder.Problem().toStdString();
    EXPECT_EQ(forwarder.Problem(), QString());
    EXPECT_EQ(forwarder.Waiting(), 1);
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(3) + "\n" + Id(4) + "\n");

    RecordHeader ended = Finished(2).header;
    ASSERT_TRUE(StoreOk(local.Finish(ended)));
    forwarder.Nudge();
    ASSERT_TRUE(forwarder.Drain(10s)) << forwarder.Problem().toStdString();
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(3) + "\n" + Id(4) + "\n" + Id(2) + "\n");
    EXPECT_EQ(ValueOf(local.Waiting(line)), 0);
    EXPECT_EQ(forwarder.Waiting(), 0);
}

TEST_P(Forwarding, SendWaitingSaysWhatWasSentAndWhyTheRestWaits) {
    struct Case {
        const char* name;
        std::function<void(Forwarding&, RecordStore&)> before;
        int sent, waiting;
        const char* problem;  // found in the problem; "@line": starts with the line's location; empty: none
        // How long SendWaiting may take: only a fault reaches the generous one; the
        // short one is waited out for the lock another program holds.
        std::chrono::milliseconds limit = 60s;
    };
    const std::vector<Case> cases = {
        {"nothing waits", [](Forwarding&, RecordStore&) {}, 0, 0, ""},
        {"the line away",
         [](Forwarding& t, RecordStore& store) {
             t.TakeLineAway();
             WriteRecord(store, Finished(1));
         },
         0, 1, "@line"},
        {"one sent, one in progress",
         [](Forwarding&, RecordStore& store) {
             WriteRecord(store, Finished(2));
             WriteRecord(store, Finished(3), true);
         },
         1, 1, "1 record is still being written"},
        {"another program sends",
         [](Forwarding& t, RecordStore& store) {
             WriteRecord(store, Finished(4));
             t.lock.emplace(store.Location() + QStringLiteral(".forwarding"));
             ASSERT_TRUE(t.lock->tryLock());
         },
         0, 1, "another program is sending", 300ms},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordStore store;
        store.SetForwardTo(line);
        ASSERT_TRUE(StoreOk(store.Open(database->Folder() + QStringLiteral("/case%1.sqlite").arg(++n))));
        c.before(*this, store);
        const RecordForwarder::SyncResult result = RecordForwarder::SendWaiting(store.Location(), line, QDeadlineTimer(c.limit));
        if (std::string(c.name) == "the line away")
            BringLineBack();
        lock.reset();
        EXPECT_EQ(result.sent, c.sent);
        EXPECT_EQ(result.waiting, c.waiting);
        if (*c.problem == '\0')
            EXPECT_EQ(result.problem, QString());
        else if (std::string(c.problem) == "@line")
            EXPECT_TRUE(result.problem.startsWith(RecordStore::ShownLocation(line) + u':')) << result.problem.toStdString();
        else
            EXPECT_TRUE(result.problem.contains(QString::fromUtf8(c.problem))) << result.problem.toStdString();
    }
}

// A record left in progress by a program that ended is finished as aborted, and sent.
TEST_P(Forwarding, ARecordLeftByAnEndedProgramIsSentAsAborted) {
    Write(Finished(5), true);
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    RunSql(localPath, {QStringLiteral("UPDATE records SET writer_pid = %1").arg(child)});
    EXPECT_TRUE(ValueOf(local.Sendable(line, 10)).records.empty()) << "in progress";
    const RecordForwarder::SyncResult result = RecordForwarder::SendWaiting(localPath, line, QDeadlineTimer(10s));
    EXPECT_EQ(result.sent, 1) << result.problem.toStdString();
    EXPECT_EQ(result.waiting, 0);
    RecordStore lineStore;
    ASSERT_TRUE(StoreOk(lineStore.Open(line)));
    const StoreResult<Record> kept = lineStore.Load(Id(5));
    ASSERT_TRUE(StoreOk(kept));
    EXPECT_EQ(kept->header.outcome, RecordOutcome::Aborted);
}

// The line's database refuses the record of unit DT2 (a trigger): it is set
// aside with the line's reason, those behind it arrive, and once the line takes
// it again a sync sends it.
TEST_P(Forwarding, ARecordTheLineRefusesIsSetAsideAndTheRestGoOn) {
    RefuseUnit(line, "DT2");
    for (int n = 1; n <= 4; ++n)
        Write(Finished(n));

    RecordForwarder forwarder(localPath, line);
    forwarder.Start();
    ASSERT_TRUE(forwarder.Drain(10s)) << forwarder.Problem().toStdString();
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(3) + "\n" + Id(4) + "\n");
    EXPECT_EQ(forwarder.Problem(), QString());
    EXPECT_EQ(forwarder.Waiting(), 0);
    const std::vector<SetAsideRecord> setAside = forwarder.SetAside();
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_EQ(setAside[0].id, Id(2));
    EXPECT_EQ(setAside[0].unit, "DT2");
    EXPECT_TRUE(setAside[0].reason.startsWith(RecordStore::ShownLocation(line) + u':')) << setAside[0].reason.toStdString();
    EXPECT_TRUE(setAside[0].reason.contains(QStringLiteral("unit DT2 is refused"))) << setAside[0].reason.toStdString();

    // Kept whole in the local file, and not sent again by the forwarder's next passes.
    Write(Finished(5));
    forwarder.Nudge();
    ASSERT_TRUE(forwarder.Drain(10s)) << forwarder.Problem().toStdString();
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(3) + "\n" + Id(4) + "\n" + Id(5) + "\n");
    ASSERT_TRUE(StoreOk(local.Load(Id(2))));

    // A sync tries it again: refused while the trigger is there, sent once it is gone.
    RecordForwarder::SyncResult result = RecordForwarder::SendWaiting(localPath, line, QDeadlineTimer(10s));
    EXPECT_EQ(result.sent, 0);
    EXPECT_EQ(result.waiting, 0);
    ASSERT_EQ(result.setAside.size(), 1u);
    EXPECT_EQ(result.setAside[0].id, Id(2));
    StopRefusing(line);
    result = RecordForwarder::SendWaiting(localPath, line, QDeadlineTimer(10s));
    EXPECT_EQ(result.sent, 1) << result.problem.toStdString();
    EXPECT_TRUE(result.setAside.empty());
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(3) + "\n" + Id(4) + "\n" + Id(5) + "\n" + Id(2) + "\n");
    EXPECT_EQ(RunSql(line, {QStringLiteral("SELECT COUNT(*) FROM record_serials")}), "5\n");
}

// The station saves a memory read after its record went to the line: the image
// follows it, also when it was saved while the record was on its way.
TEST_P(Forwarding, AnImageSavedAfterItsRecordWasSentFollowsIt) {
    Write(Finished(1));
    RecordForwarder::SyncResult result = RecordForwarder::SendWaiting(localPath, line, QDeadlineTimer(10s));
    ASSERT_EQ(result.sent, 1) << result.problem.toStdString();
    const auto imagesAtLine = [&] {
        return RunSql(line, {QStringLiteral("SELECT sha256 FROM record_images ORDER BY seq")});
    };
    ASSERT_EQ(imagesAtLine(), std::string(64, 'a') + "\n");

    // One saved after it was sent queues it again; read for sending, then one more
    // saved, then taken out of the queue: the last one still goes.
    const QueuedBatch batch = [&] {
        RecordStore sender;
        EXPECT_TRUE(StoreOk(sender.Open(localPath)));
        EXPECT_TRUE(StoreOk(local.AddImage(Id(1), {"journal", 100, std::string(64, 'c'), "/tmp/j.bin"})));
        return ValueOf(sender.Sendable(line, 10));
    }();
    ASSERT_EQ(batch.records.size(), 1u);
    ASSERT_TRUE(StoreOk(local.AddImage(Id(1), {"journal", 200, std::string(64, 'd'), "/tmp/j2.bin"})));
    {
        RecordStore lineStore;
        ASSERT_TRUE(StoreOk(lineStore.Open(line)));
        EXPECT_EQ(ValueOf(lineStore.Import(batch.records)), 0);
    }
    ASSERT_TRUE(StoreOk(local.Unqueue(line, batch)));
    EXPECT_EQ(ValueOf(local.Waiting(line)), 1);
    result = RecordForwarder::SendWaiting(localPath, line, QDeadlineTimer(10s));
    EXPECT_EQ(result.sent, 1) << result.problem.toStdString();
    EXPECT_EQ(imagesAtLine(), std::string(64, 'a') + "\n" + std::string(64, 'c') + "\n" + std::string(64, 'd') + "\n");
    EXPECT_EQ(Arrived(), Id(1) + "\n");
    EXPECT_EQ(ValueOf(local.Waiting(line)), 0);
}

INSTANTIATE_TEST_SUITE_P(Line, Forwarding, ForwarderBackends, BackendName);

// Failures of the line's PostgreSQL server after the connection is open.
using ForwardingToPostgresql = Forwarding;

// The line fails at COMMIT for a while (a deferred trigger, with a code that
// may pass): the records stay queued, not set aside, and arrive once afterwards.
TEST_P(ForwardingToPostgresql, ARecordLeavesTheQueueOnlyAfterTheLinesCommit) {
    {
        RecordStore lineStore;
        ASSERT_TRUE(StoreOk(lineStore.Open(line)));
    }
    RunSql(line, {QStringLiteral("CREATE TABLE commit_fails (failing BOOLEAN NOT NULL)"),
                  QStringLiteral("INSERT INTO commit_fails VALUES (TRUE)"),
                  QStringLiteral("CREATE FUNCTION fail_commit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                                 " IF (SELECT failing FROM commit_fails) THEN"
                                 " RAISE EXCEPTION 'the line is out of space for now' USING ERRCODE = '53100';"
                                 " END IF; RETURN NULL; END $$"),
                  QStringLiteral("CREATE CONSTRAINT TRIGGER fail_commit AFTER INSERT ON records"
                                 " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION fail_commit()")});
    Write(Finished(1));
    RecordForwarder forwarder(localPath, line);
    forwarder.Start();
    ASSERT_TRUE(WaitFor([&] { return forwarder.Problem().contains(QStringLiteral("out of space")); }))
        << forwarder.Problem().toStdString();
    Write(Finished(2));
    forwarder.Nudge();
    EXPECT_FALSE(forwarder.Drain(300ms));
    QString error;
    EXPECT_EQ(ValueOf(local.Waiting(line)), 2) << error.toStdString();
    EXPECT_TRUE(forwarder.SetAside().empty());
    EXPECT_EQ(Arrived(), "");

    RunSql(line, {QStringLiteral("UPDATE commit_fails SET failing = FALSE")});
    ASSERT_TRUE(forwarder.Drain(10s)) << forwarder.Problem().toStdString();
    EXPECT_EQ(Arrived(), Id(1) + "\n" + Id(2) + "\n");
    EXPECT_EQ(ValueOf(local.Waiting(line)), 0);
    EXPECT_TRUE(forwarder.SetAside().empty());
}

// The line refuses a record for a constraint of its own (SQLSTATE class 23: a
// unique key or a foreign key it breaks): it is set aside with the line's
// reason like any other refusal, and those beside it arrive.
TEST_P(ForwardingToPostgresql, ARecordBreakingAConstraintIsSetAsideNotTriedForEver) {
    {
        // DT12 reached the line before, in a record of another id.
        Record earlier = Finished(10);
        earlier.header.unit = "DT12";
        RecordStore lineStore;
        ASSERT_TRUE(StoreOk(lineStore.Open(line)));
        ASSERT_TRUE(StoreOk(lineStore.Import(std::span(&earlier, 1))));
    }
    const struct {
        const char* constraint;
        std::vector<QString> sql;
        int first;  // records first, first + 1 (refused) and first + 2
    } cases[] = {
        {"records_one_run_a_unit", {"CREATE UNIQUE INDEX records_one_run_a_unit ON records (unit)"}, 11},
        {"records_known_unit",
         {"DROP INDEX records_one_run_a_unit", "CREATE TABLE known_units (unit TEXT PRIMARY KEY)",
          "INSERT INTO known_units VALUES ('DT21'), ('DT23')",
          "ALTER TABLE records ADD CONSTRAINT records_known_unit FOREIGN KEY (unit) REFERENCES known_units (unit) NOT VALID"},
         21},
    };
    std::string arrived = Id(10) + "\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.constraint);
        RunSql(line, c.sql);
        RecordStore store;
        store.SetForwardTo(line);
        ASSERT_TRUE(StoreOk(store.Open(database->Folder() + QStringLiteral("/%1.sqlite").arg(c.first))));
        for (int n = c.first; n < c.first + 3; ++n)
            WriteRecord(store, Finished(n));
        RecordForwarder forwarder(store.Location(), line);
        forwarder.Start();
        ASSERT_TRUE(forwarder.Drain(30s)) << forwarder.Problem().toStdString();
        arrived += Id(c.first) + "\n" + Id(c.first + 2) + "\n";
        EXPECT_EQ(Arrived(), arrived);
        EXPECT_EQ(forwarder.Waiting(), 0);
        const std::vector<SetAsideRecord> setAside = forwarder.SetAside();
        ASSERT_EQ(setAside.size(), 1u);
        EXPECT_EQ(setAside[0].id, Id(c.first + 1));
        EXPECT_TRUE(setAside[0].reason.contains(QString::fromUtf8(c.constraint))) << setAside[0].reason.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Line, ForwardingToPostgresql, ::testing::Values(Backend::Postgresql), BackendName);

}  // namespace
}  // namespace tamrisk
