// The audit trail on SQLite files and on PostgreSQL: each change of people,
// routes, holds and engineering runs appends its entry in the same transaction,
// the entries chain by SHA-256, and Verify finds an entry changed, deleted or
// cut off the end; two writers appending at once leave one chain without gaps.

#include "audittrail.h"
#include "pin.h"

#include "recordtesting.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using testing::RunSql;
using testing::TestHeader;
using Break = AuditBreak::Kind;

constexpr qint64 AuditT0 = 1'796'637'600'000;

// An entry as "action subject old>new (reason) by who@station", "-" for none.
std::string EntryLine(const AuditEntry& e) {
    const auto text = [](const std::optional<std::string>& value) { return value.value_or("-"); };
    return e.change.action + ' ' + e.change.subject + ' ' + text(e.change.oldValue) + '>' + text(e.change.newValue) +
           " (" + text(e.change.reason) + ") by " + e.who + '@' + e.station;
}

class AuditOn : public BackendStoreTest {
protected:
    // The trail oldest first, a Line each.
    std::vector<std::string> Trail() {
        std::vector<std::string> lines;
        const std::vector<AuditEntry> entries = ValueOf(store.Audit().List(0, 0));
        for (auto e = entries.rbegin(); e != entries.rend(); ++e)
            lines.push_back(EntryLine(*e));
        return lines;
    }
    AuditCheck Check() { return ValueOf(store.Audit().Verify()); }
    void Sql(const QString& statement) { RunSql(Location(), {statement}); }
};

// Every change that exists today appends its entry, by the connection's actor
// (an engineering run by its record's person and station); nothing that was
// not done appends one, and no entry holds a PIN or its hash.
TEST_P(AuditOn, EachChangeAppendsItsEntryAndTheChainVerifies) {
    store.SetActor("boss", "office");
    const std::string pin = "7391", hash = HashPinCheaply(pin);
    ASSERT_TRUE(StoreOk(store.Operators().Add({"ivana", "Ivana", Role::Operator, hash, false, 0, 0, AuditT0})));
    EXPECT_FALSE(store.Operators().Add({"ivana", "Again", Role::Operator, hash, false, 0, 0, AuditT0}));
    ASSERT_TRUE(StoreOk(store.Operators().SetRole("ivana", Role::Technician)));
    ASSERT_TRUE(StoreOk(store.Operators().SetRole("ivana", Role::Technician)));  // no change
    ASSERT_TRUE(StoreOk(store.Operators().SetName("ivana", "Ivana K.")));
    ASSERT_TRUE(StoreOk(store.Operators().SetPin("ivana", HashPin("1234"))));
    EXPECT_FALSE(store.Operators().SetRole("nobody", Role::Engineer));
    store.SetActor("line-3", "line-3");
    for (int wrong = 0; wrong < PinTries; ++wrong)
        ASSERT_TRUE(StoreOk(store.Operators().LogIn("ivana", "0000", AuditT0 + wrong)));
    store.SetActor("boss", "office");
    ASSERT_TRUE(StoreOk(store.Operators().Disable("ivana")));
    const RouteChange by{"boss", "office", AuditT0};
    ASSERT_TRUE(StoreOk(store.Routes().Set("FP-3", {{"board", 1}}, by)));
    ASSERT_TRUE(StoreOk(store.Routes().Set("FP-3", {{"board", 2}, {"final", 3}}, by)));
    ASSERT_TRUE(StoreOk(store.Routes().Delete("FP-3", by)));
    EXPECT_FALSE(store.Routes().Delete("FP-3", by));
    ASSERT_TRUE(StoreOk(store.Holds().Hold({"U1", "h1", "boss", "office", "scratched case", AuditT0})));
    ASSERT_TRUE(StoreOk(store.Holds().Release({"U1", "r1", "boss", "office", "case replaced", AuditT0})));
    EXPECT_FALSE(store.Holds().Release({"U1", "r2", "boss", "office", "again", AuditT0}));
    RecordHeader engineering = TestHeader("00000000-0000-4000-8000-0000000000e1");
    engineering.engineering = true;
    engineering.operatorId = "eng-7";
    engineering.script = "trial.inp";
    engineering.product = "FP-3";
    ASSERT_TRUE(StoreOk(store.Begin(engineering)));
    RecordHeader queued = TestHeader("00000000-0000-4000-8000-0000000000e2");
    queued.engineering = true;
    store.SetForwardTo(QStringLiteral("postgresql://line@db/line"));
    ASSERT_TRUE(StoreOk(store.Begin(queued)));  // its entry is made where it arrives
    store.SetForwardTo({});
    ASSERT_TRUE(StoreOk(store.Begin(TestHeader("00000000-0000-4000-8000-0000000000e3"))));
    Record arrived;
    arrived.header = TestHeader("00000000-0000-4000-8000-0000000000e4");
    arrived.header.engineering = true;
    arrived.header.outcome = RecordOutcome::Pass;
    ASSERT_EQ(ValueOf(store.Import(std::vector<Record>{arrived})), 1);
    ASSERT_EQ(ValueOf(store.Import(std::vector<Record>{arrived})), 0);

    const std::vector<std::string> expected = {
        "operator add ivana ->operator (-) by boss@office",
        "operator role ivana operator>technician (-) by boss@office",
        "operator name ivana Ivana>Ivana K. (-) by boss@office",
        "operator pin ivana ->- (-) by boss@office",
        "operator lock ivana ->locked for 5 minutes (5 wrong PINs in a row) by line-3@line-3",
        "operator disable ivana ->- (-) by boss@office",
        "route set FP-3 ->board:1 (-) by boss@office",
        "route set FP-3 board:1>board:2 final (-) by boss@office",
        "route delete FP-3 board:2 final>- (-) by boss@office",
        "unit hold U1 ->on hold (scratched case) by boss@office",
        "unit release U1 on hold>released (case replaced) by boss@office",
        "engineering run 00000000-0000-4000-8000-0000000000e1 ->trial.inp, product FP-3 (-) by eng-7@line-3",
        "engineering run 00000000-0000-4000-8000-0000000000e4 ->- (-) by ivana@line-3",
    };
    EXPECT_EQ(Trail(), expected);
    const AuditCheck check = Check();
    EXPECT_EQ(check.entries, static_cast<qint64>(expected.size()));
    EXPECT_FALSE(check.broken.has_value());
    const std::string everything = RunSql(Location(), {"SELECT " + QStringLiteral(
        "who || station || login || action || subject || COALESCE(old_value, '') || COALESCE(new_value, '')"
        " || COALESCE(reason, '') FROM audit_trail")});
    EXPECT_EQ(everything.find(pin), std::string::npos);
    EXPECT_EQ(everything.find(hash), std::string::npos);
    // Newest first, from a time on (the engineering runs started before it), as many as asked.
    const std::vector<AuditEntry> newest = ValueOf(store.Audit().List(AuditT0, 2));
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(EntryLine(newest[0]), expected[10]);
    EXPECT_EQ(EntryLine(newest[1]), expected[9]);
}

// Whoever may write the records (anyone, for a file; the owner, on a line)
// changes or deletes an entry: Verify names the first that does not match.
TEST_P(AuditOn, VerifyFindsAnEntryChangedDeletedOrCutOff) {
    const RouteChange by{"boss", "office", AuditT0};
    const auto fresh = [&] {
        Sql(QStringLiteral("DELETE FROM audit_trail"));
        Sql(QStringLiteral("UPDATE audit_head SET seq = 0, sha256 = ''"));
        for (int limit = 1; limit <= 4; ++limit)
            ASSERT_TRUE(StoreOk(store.Routes().Set("FP-3", {{"board", limit}}, by)));
        ASSERT_FALSE(Check().broken.has_value());
    };
    // Entry 2 rewritten with a SHA-256 of its own that matches its new text.
    const auto rewrite = [&] {
        AuditEntry second = ValueOf(store.Audit().List(0, 0))[2];
        second.change.newValue = "board:9";
        second.previousSha256 = std::string(64, '0');
        Sql(QStringLiteral("UPDATE audit_trail SET new_value = 'board:9', previous_sha256 = '%1', sha256 = '%2'"
                           " WHERE seq = 2")
                .arg(QString::fromStdString(second.previousSha256), QString::fromStdString(AuditEntrySha256(second))));
    };
    const struct {
        const char* what;
        std::function<void()> tamper;
        Break kind;
        qint64 seq;  // of the entry named; 0: none
    } cases[] = {
        {"text changed", [&] { Sql("UPDATE audit_trail SET new_value = 'board:9' WHERE seq = 2"); }, Break::ContentChanged, 2},
        {"who changed", [&] { Sql("UPDATE audit_trail SET who = 'someone' WHERE seq = 3"); }, Break::ContentChanged, 3},
        {"rewritten whole", rewrite, Break::ChainBroken, 2},
        {"an entry deleted", [&] { Sql("DELETE FROM audit_trail WHERE seq = 2"); }, Break::EntryMissing, 3},
        {"the first deleted", [&] { Sql("DELETE FROM audit_trail WHERE seq = 1"); }, Break::EntryMissing, 2},
        {"the last deleted", [&] { Sql("DELETE FROM audit_trail WHERE seq = 4"); }, Break::LaterMissing, 3},
        {"every entry deleted", [&] { Sql("DELETE FROM audit_trail"); }, Break::LaterMissing, 0},
        {"the head moved", [&] { Sql("UPDATE audit_head SET sha256 = 'x'"); }, Break::HeadMismatch, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        c.tamper();
        const AuditCheck check = Check();
        ASSERT_TRUE(check.broken.has_value());
        EXPECT_EQ(check.broken->kind, c.kind);
        EXPECT_EQ(check.broken->entry ? check.broken->entry->seq : 0, c.seq);
        EXPECT_EQ(check.broken->headSeq, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, AuditOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// Two stations holding units at once on a line: their entries wait for each
// other on the head, so the trail is one chain numbered without a gap.
class AuditConcurrently : public testing::BackendTest {};

TEST_P(AuditConcurrently, TwoWritersLeaveOneChainWithoutGapsOrForks) {
    constexpr int EachWrites = 40;
    {
        RecordStore first;
        ASSERT_TRUE(StoreOk(first.Open(Location())));
    }
    const QString location = Location();
    std::vector<std::unique_ptr<QThread>> writers;
    std::atomic<int> failures{0};
    for (const char* station : {"line-1", "line-2"}) {
        writers.emplace_back(QThread::create([location, station, &failures] {
            RecordStore mine;
            if (!mine.Open(location)) {
                ++failures;
                return;
            }
            mine.SetActor(station, station);
            for (int i = 0; i < EachWrites; ++i) {
                const std::string unit = std::string(station) + "-U" + std::to_string(i);
                if (!mine.Holds().Hold({unit, unit, station, station, "check", AuditT0 + i}))
                    ++failures;
            }
        }));
    }
    for (auto& writer : writers)
        writer->start();
    for (auto& writer : writers)
        writer->wait();
    EXPECT_EQ(failures.load(), 0);
    RecordStore reader;
    ASSERT_TRUE(StoreOk(reader.Open(Location())));
    const AuditCheck check = ValueOf(reader.Audit().Verify());
    EXPECT_EQ(check.entries, 2 * EachWrites);
    EXPECT_FALSE(check.broken.has_value());
}

INSTANTIATE_TEST_SUITE_P(Backends, AuditConcurrently, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk
