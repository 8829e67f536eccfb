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
    QString error;
    RecordStore never;
    EXPECT_FALSE(never.Begin(TestHeader("00000000-0000-4000-8000-000000000001", "run", 1), error));
    EXPECT_EQ(never.LastError().kind, Kind::NotOpen);

    RecordStore store;
    ASSERT_TRUE(store.Open(Location(), error)) << error.toStdString();
    EXPECT_EQ(store.LastError().kind, Kind::None);
    const std::string id = "c0ffee00-0000-4000-8000-000000000001";
    EXPECT_FALSE(store.Load(id, error));
    EXPECT_EQ(store.LastError().kind, Kind::NotFound);
    EXPECT_EQ(error, store.LastError().Text());
    EXPECT_TRUE(error.endsWith(QStringLiteral(": no record ") + QString::fromStdString(id))) << error.toStdString();
    std::string found;
    EXPECT_EQ(store.ResolveId("c0ffee", found, error), RecordStore::Resolve::NotFound);

    // A record the database refuses for what it holds.
    testing::RefuseUnit(Location(), "DT9");
    RecordHeader refused = TestHeader(id, "run", 1);
    refused.unit = "DT9";
    EXPECT_FALSE(store.Begin(refused, error));
    EXPECT_EQ(store.LastError().kind, Kind::StatementFailed);
    EXPECT_TRUE(store.Refused());

    // A question that cannot be asked is no "not found".
    RunSql(Location(), {QStringLiteral("ALTER TABLE records RENAME TO records_gone")});
    EXPECT_EQ(store.ResolveId("c0ffee", found, error), RecordStore::Resolve::Failed);
    EXPECT_EQ(store.LastError().kind, Kind::StatementFailed);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(store.OutOfReach());

    // Records of a newer program: refused by their schema.
    RunSql(Location(), {QStringLiteral("UPDATE schema_version SET version = 99")});
    RecordStore again;
    EXPECT_FALSE(again.Open(Location(), error));
    EXPECT_EQ(again.LastError().kind, Kind::SchemaRefused);
    EXPECT_TRUE(error.contains(QLatin1String("records of a newer program"))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreErrors, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// A database out of reach is a lost connection, the one failure worth trying again.
TEST(StoreErrorsReach, AServerOutOfReachIsALostConnection) {
    RecordStore store;
    QString error;
    EXPECT_FALSE(store.Open(QStringLiteral("postgresql://ivana@/records?host=/nonexistent"), error));
    EXPECT_EQ(store.LastError().kind, Kind::ConnectionLost);
    EXPECT_TRUE(store.OutOfReach());
    // Every later operation fails with the open's own failure and kind.
    EXPECT_FALSE(store.Finish(RecordHeader{}, error));
    EXPECT_EQ(store.LastError().kind, Kind::ConnectionLost);
    EXPECT_TRUE(error.startsWith(QLatin1String("postgresql://ivana@/records?host=/nonexistent: "))) << error.toStdString();
}

}  // namespace
}  // namespace tamrisk
