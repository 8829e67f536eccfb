// Claims made through SerialClaims, on its own thread, against SQLite and
// PostgreSQL; the claims listed by RecordStore::Claims.

#include "recordtesting.h"
#include "serialclaims.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using testing::BackendTest;
using C = RecordStore::ClaimResult;

const auto ClaimBackends = ::testing::Values(Backend::Sqlite, Backend::Postgresql);

// A claim waits with the caller's events processed, as the station's window does.
void NeedApplication() {
    static int argc = 1;
    static char name[] = "serialclaims_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        static QCoreApplication application(argc, argv);
}

class SerialClaimsTest : public BackendTest {
protected:
    void SetUp() override {
        NeedApplication();
        BackendTest::SetUp();
    }
};


SerialClaimRow Row(std::string data, std::string record) {
    return {"91,DT######", std::move(data), std::move(record), "line-3", "U1", 1'700'000'000'000};
}

// A database that cannot be reached gives no claim and says it is out of reach;
// once it can, the same object claims there, shared with every other
// connection, and a claim given up is free again.
TEST_P(SerialClaimsTest, ClaimsWaitForNothingOnceTheDatabaseIsBack) {
    const QString location = Unreachable();
    SerialClaims claims(location);
    SerialClaims other(location);
    const struct {
        SerialClaims* by;
        bool reach, release;  // first makes the database reachable; a release, else a claim
        const char* data;
        const char* record;
        std::optional<C> expected;  // none: out of reach
    } steps[] = {
        {&claims, false, false, "DT000100", "a", std::nullopt},
        {&claims, false, false, "DT000100", "a", std::nullopt},
        {&claims, true, false, "DT000100", "a", C::Claimed},
        {&other, false, false, "DT000100", "b", C::Taken},
        {&other, false, false, "DT000101", "b", C::Claimed},
        {&claims, false, true, "DT000100", "a", {}},
        {&other, false, false, "DT000100", "b", C::Claimed},
        {&claims, false, false, "DT000101", "a", C::Taken},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const auto& step = steps[i];
        if (step.reach)
            Reach();
        if (step.release) {
            EXPECT_TRUE(StoreOk(step.by->Release("91,DT######", step.data, step.record)));
            continue;
        }
        const StoreResult<C> claimed = step.by->Claim(Row(step.data, step.record));
        const QString error = FailureText(claimed);
        EXPECT_EQ(claimed ? std::optional(*claimed) : std::nullopt, step.expected) << error.toStdString();
        EXPECT_EQ(error.isEmpty(), step.expected.has_value()) << error.toStdString();
        if (!step.expected) {
            EXPECT_TRUE(claimed.error().OutOfReach()) << error.toStdString();
            EXPECT_TRUE(error.startsWith(location.left(12))) << error.toStdString();
        }
    }
}

// While the claims table is held by another connection, the claim waits and the
// caller's events go on: the timer that lets the table go is one of them.
TEST_P(SerialClaimsTest, EventsRunWhileAClaimWaits) {
    SerialClaims claims(Location());
    ASSERT_EQ(ValueOf(claims.Claim(Row("DT000100", "a"))), C::Claimed);
    const QString name = QStringLiteral("holder");
    {
        QSqlDatabase holder;
        ASSERT_TRUE(StoreOk(RecordStore::AddConnection(Location(), name, holder)));
        ASSERT_TRUE(holder.open());
        QSqlQuery hold(holder);
        ASSERT_TRUE(hold.exec(database->IsPostgresql() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")));
        if (database->IsPostgresql()) {
            ASSERT_TRUE(hold.exec(QStringLiteral("LOCK TABLE serial_claims IN EXCLUSIVE MODE")));
        }
        bool let = false;
        QTimer::singleShot(300, [&] {
            let = true;
            QSqlQuery(holder).exec(QStringLiteral("COMMIT"));
        });
        QElapsedTimer waited;
        waited.start();
        EXPECT_EQ(ValueOf(claims.Claim(Row("DT000101", "a"))), C::Claimed);
        EXPECT_TRUE(let);
        EXPECT_GE(waited.elapsed(), 250);
        holder.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// A number claimed ahead is claimed on the claims thread at once; the claim of
// that number by the same record then takes its answer. A number held ahead is
// given back when another number of its space is claimed or claimed ahead, and
// by GiveBackAhead; a number taken before stays Taken when claimed ahead.
TEST_P(SerialClaimsTest, ANumberClaimedAheadIsHeldUntilUsedOrGivenBack) {
    SerialClaims claims(Location());
    SerialClaims other(Location());
    enum Step { Ahead, Claim, GiveBack };
    const struct {
        Step step;
        SerialClaims* by;
        const char* data;
        const char* record;
        C expected;  // of a claim
    } steps[] = {
        {Ahead, &claims, "DT000101", "a", {}},
        {Claim, &other, "DT000101", "b", C::Taken},  // held ahead: no one else may send it
        {Claim, &claims, "DT000101", "a", C::Claimed},
        {Claim, &other, "DT000102", "b", C::Claimed},
        {Ahead, &claims, "DT000102", "a", {}},
        {Claim, &claims, "DT000102", "a", C::Taken},
        {Ahead, &claims, "DT000103", "a", {}},
        {Ahead, &claims, "DT000104", "a", {}},  // 103 given back
        {Claim, &claims, "DT000105", "a", C::Claimed},  // 104 given back
        {Claim, &other, "DT000103", "b", C::Claimed},
        {Claim, &other, "DT000104", "b", C::Claimed},
        {Ahead, &claims, "DT000106", "a", {}},
        {GiveBack, &claims, nullptr, nullptr, {}},
        {Claim, &other, "DT000106", "b", C::Claimed},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const auto& step = steps[i];
        switch (step.step) {
        case Ahead: step.by->ClaimAhead(Row(step.data, step.record)); break;
        case GiveBack: step.by->GiveBackAhead(); break;
        case Claim: {
            // The work posted before on the asking object is done before its own claim; for the
            // other object, a release of nothing waits for what was posted before it.
            ASSERT_TRUE(StoreOk(claims.Release("91,DT######", "none", "a")));
            EXPECT_EQ(ValueOf(step.by->Claim(Row(step.data, step.record))), step.expected);
            break;
        }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SerialClaimsTest, ClaimBackends, BackendName);

using RecordStoreClaimList = BackendStoreTest;

// Every filter matched exactly, newest first, the limit counted after them.
TEST_P(RecordStoreClaimList, ClaimsListedNewestFirstByDataUnitAndStation) {
    const std::string cyrillic = "\xC4\xD2" "000100";  // Windows-1251
    const std::vector<SerialClaimRow> made = {
        {"91,DT######", "DT000100", "r1", "line-1", "U1", 1000},
        {"91,DT######", "DT000101", "r2", "line-2", "U2", 3000},
        {"92,DT######", "DT000100", "r3", "line-2", "U3", 2000},
        {"93,\xC4\xD2######", cyrillic, "r4", "line-1", "\xD0\x94" "1", 4000},  // unit in UTF-8
    };
    for (const SerialClaimRow& claim : made)
        ASSERT_EQ(ValueOf(store.Claim(claim)), C::Claimed);
    const struct {
        ClaimFilter filter;
        std::vector<std::string> records;
    } cases[] = {
        {{}, {"r4", "r2", "r3", "r1"}},
        {{.limit = 2}, {"r4", "r2"}},
        {{.limit = 0}, {"r4", "r2", "r3", "r1"}},
        {{.data = "DT000100"}, {"r3", "r1"}},
        {{.data = cyrillic}, {"r4"}},
        {{.data = "DT00010"}, {}},
        {{.unit = "U2"}, {"r2"}},
        {{.unit = "\xD0\x94" "1"}, {"r4"}},
        {{.station = "line-2"}, {"r2", "r3"}},
        {{.data = "DT000100", .station = "line-2"}, {"r3"}},
        {{.space = "91,DT######"}, {"r2", "r1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.records));
        const std::vector<SerialClaimRow> rows = ValueOf(store.Claims(c.filter));
        std::vector<std::string> records;
        for (const SerialClaimRow& row : rows)
            records.push_back(row.recordId);
        EXPECT_EQ(records, c.records);
    }
    // Every column read back as written.
    const std::vector<SerialClaimRow> one = ValueOf(store.Claims({.data = cyrillic}));
    ASSERT_EQ(one.size(), 1u);
    const SerialClaimRow& row = one[0];
    EXPECT_EQ(std::tie(row.space, row.data, row.recordId, row.station, row.unit, row.claimedMs),
              std::tie(made[3].space, made[3].data, made[3].recordId, made[3].station, made[3].unit,
                       made[3].claimedMs));

    RecordStore closed;
    const StoreResult<std::vector<SerialClaimRow>> none = closed.Claims({});
    EXPECT_FALSE(none);
    EXPECT_FALSE(FailureText(none).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordStoreClaimList, ClaimBackends, BackendName);

}  // namespace
}  // namespace tamrisk
