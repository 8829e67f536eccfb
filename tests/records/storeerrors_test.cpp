#include "recordstore.h"

#include "recordtesting.h"

#include <QFile>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendTest;
using testing::RunSql;
using testing::TestHeader;
using Kind = StoreError::Kind;

using StoreErrors = BackendTest;

// Each failure says what it is, so that a caller connects again only when the
// connection was lost; the texts stay "<location>: <reason>".
TEST_P(StoreErrors, EachFailureCarriesItsKind) {
    RecordStore never;
    const StoreResult<void> notOpen = never.Begin(TestHeader("00000000-0000-4000-8000-000000000001", "run", 1));
    EXPECT_FALSE(notOpen);
    EXPECT_EQ(notOpen.error().kind, Kind::NotOpen);

    RecordStore store;
    const StoreResult<void> opened = store.Open(Location());
    ASSERT_TRUE(StoreOk(opened));
    EXPECT_EQ(opened.error().kind, Kind::None);
    const std::string id = "c0ffee00-0000-4000-8000-000000000001";
    const StoreResult<Record> missing = store.Load(id);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, Kind::NotFound);
    const QString error = missing.error().Text();
    EXPECT_TRUE(error.endsWith(QStringLiteral(": no record ") + QString::fromStdString(id))) << error.toStdString();
    EXPECT_EQ(ValueOf(store.ResolveId("c0ffee")).resolve, Resolve::NotFound);

    // A record the database refuses for what it holds.
    testing::RefuseUnit(Location(), "DT9");
    RecordHeader refused = TestHeader(id, "run", 1);
    refused.unit = "DT9";
    const StoreResult<void> begun = store.Begin(refused);
    EXPECT_FALSE(begun);
    EXPECT_EQ(begun.error().kind, Kind::StatementFailed);
    EXPECT_TRUE(begun.error().refused);

    // A question that cannot be asked is no "not found".
    RunSql(Location(), {QStringLiteral("ALTER TABLE records RENAME TO records_gone")});
    const StoreResult<ResolvedId> unasked = store.ResolveId("c0ffee");
    EXPECT_FALSE(unasked);
    EXPECT_EQ(unasked.error().kind, Kind::StatementFailed);
    EXPECT_FALSE(unasked.error().Text().isEmpty());
    EXPECT_FALSE(unasked.error().OutOfReach());

    // Records of a newer program: refused by their schema.
    RunSql(Location(), {QStringLiteral("UPDATE schema_version SET version = 99")});
    RecordStore again;
    const StoreResult<void> newer = again.Open(Location());
    EXPECT_FALSE(newer);
    EXPECT_EQ(newer.error().kind, Kind::SchemaRefused);
    EXPECT_TRUE(newer.error().Text().contains(QLatin1String("records of a newer program")))
        << newer.error().Text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreErrors, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// A database out of reach is a lost connection, the one failure worth trying again.
TEST(StoreErrorsReach, AServerOutOfReachIsALostConnection) {
    RecordStore store;
    const StoreResult<void> opened = store.Open(QStringLiteral("postgresql://ivana@/records?host=/nonexistent"));
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, Kind::ConnectionLost);
    EXPECT_TRUE(opened.error().OutOfReach());
    // Every later operation fails with the open's own failure and kind.
    const StoreResult<void> finished = store.Finish(RecordHeader{});
    EXPECT_FALSE(finished);
    EXPECT_EQ(finished.error().kind, Kind::ConnectionLost);
    const QString error = finished.error().Text();
    EXPECT_TRUE(error.startsWith(QLatin1String("postgresql://ivana@/records?host=/nonexistent: "))) << error.toStdString();
}

}  // namespace
}  // namespace tamrisk
