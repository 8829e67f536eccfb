// A station's progress through a release: which text a run takes (the
// progress when it differs from the release only in the digits of stepping
// serial-number fields), and the progress kept and moved on per release and
// station, on SQLite files and on PostgreSQL, also by a station's login.

#include "activerelease.h"
#include "recordtesting.h"

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using testing::RunSql;
using K = StoreError::Kind;

constexpr const char* Released = "@serials\r\n+1+0+2;91,DT000100,K07,N998\tfirst\r\n90,5\r\n";

TEST(ReleaseTextToRun, TheProgressRunsOnlyWhenItDiffersInSteppedDigits) {
    const struct {
        const char* what;
        std::optional<std::string> progress;
        bool continues;  // the progress runs; else the release's own text
    } cases[] = {
        {"never run here", std::nullopt, false},
        {"the same text", Released, true},
        {"advanced digits", "@serials\r\n+1+0+2;91,DT000103,K07,N004\tfirst\r\n90,5\r\n", true},
        {"advanced, with other line ends", "@serials\n+1+0+2;91,DT000101,K07,N000\tfirst\n90,5", true},
        {"a changed command", "@serials\r\n+1+0+2;92,DT000103,K07,N004\tfirst\r\n90,5\r\n", false},
        {"a changed step", "@serials\r\n+1+0+3;91,DT000103,K07,N004\tfirst\r\n90,5\r\n", false},
        {"a field with no step changed", "@serials\r\n+1+0+2;91,DT000103,K08,N004\tfirst\r\n90,5\r\n", false},
        {"digits of a plain command changed", "@serials\r\n+1+0+2;91,DT000103,K07,N004\tfirst\r\n90,6\r\n", false},
        {"a tampered letter", "@serials\r\n+1+0+2;91,DX000103,K07,N004\tfirst\r\n90,5\r\n", false},
        {"a changed note after the data", "@serials\r\n+1+0+2;91,DT000103,K07,N004\tfirsT\r\n90,5\r\n", false},
        {"a field grown by a digit", "@serials\r\n+1+0+2;91,DT0001000,K07,N004\tfirst\r\n90,5\r\n", false},
        {"a line added", "@serials\r\n+1+0+2;91,DT000103,K07,N004\tfirst\r\n90,5\r\n90,5\r\n", false},
        {"a line removed", "@serials\r\n+1+0+2;91,DT000103,K07,N004\tfirst\r\n", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReleaseTextToRun(Released, c.progress), c.continues ? *c.progress : std::string(Released));
    }
}

class ProgressOn : public BackendStoreTest {
protected:
    ReleaseProgressStore& Progresses() { return store.Progresses(); }
    // The progress of `station` through `release`, or "none".
    std::string Kept(qint64 release, const std::string& station) {
        const StoreResult<std::string> kept = Progresses().Progress(release, station);
        if (!kept) {
            EXPECT_EQ(kept.error().kind, K::NotFound);
            return "none";
        }
        return *kept;
    }
};

TEST_P(ProgressOn, EachStationKeepsAndMovesOnItsOwnProgressThroughEachRelease) {
    EXPECT_EQ(Kept(1, "line-1"), "none");
    const std::string first = "+1;91,DT000101\r\n", second = std::string("+1;91,\xC4\0T000102\r\n", 16);
    ASSERT_TRUE(StoreOk(Progresses().KeepProgress(1, "line-1", first, 10)));
    ASSERT_TRUE(StoreOk(Progresses().KeepProgress(1, "line-2", "+1;91,DT000500\r\n", 11)));
    ASSERT_TRUE(StoreOk(Progresses().KeepProgress(2, "line-1", "+1;91,DT000900\r\n", 12)));
    // Kept again: the newer text in place of the older, bytes as they were (a NUL too).
    ASSERT_TRUE(StoreOk(Progresses().KeepProgress(1, "line-1", second, 13)));
    EXPECT_EQ(Kept(1, "line-1"), second);
    EXPECT_EQ(Kept(1, "line-2"), "+1;91,DT000500\r\n");
    EXPECT_EQ(Kept(2, "line-1"), "+1;91,DT000900\r\n");
    EXPECT_EQ(Kept(2, "line-2"), "none");
    EXPECT_EQ(RunSql(Location(), {"SELECT release_id || '|' || station || '|' || updated_ms FROM release_progress"
                                  " ORDER BY release_id, station"}),
              "1|line-1|13\n1|line-2|11\n2|line-1|12\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, ProgressOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// A station's login keeps its progress in a line's database (a station whose
// records are the line's, without a file of its own); a reader's only reads it.
TEST(ProgressLogins, AStationKeepsItsProgressAReaderOnlyReadsIt) {
    testing::TestDatabase database{Backend::Postgresql};
    if (!database.IsPostgresql())
        GTEST_SKIP() << database.SkipReason();
    RecordStore owner, atStation, reading;
    ASSERT_TRUE(StoreOk(owner.Open(database.Location())));
    const QString station = database.MakeRole(QStringLiteral("station")),
                  reader = database.MakeRole(QStringLiteral("reader"));
    ASSERT_TRUE(StoreOk(owner.GrantLogins({station}, {reader})));
    ASSERT_TRUE(StoreOk(atStation.Open(testing::AsLogin(database.Location(), station))));
    ASSERT_TRUE(StoreOk(reading.Open(testing::AsLogin(database.Location(), reader))));
    ASSERT_TRUE(StoreOk(atStation.Progresses().KeepProgress(1, "line-1", "+1;91,DT000101\r\n", 10)));
    ASSERT_TRUE(StoreOk(atStation.Progresses().KeepProgress(1, "line-1", "+1;91,DT000102\r\n", 11)));
    EXPECT_EQ(ValueOf(reading.Progresses().Progress(1, "line-1")), "+1;91,DT000102\r\n");
    EXPECT_FALSE(reading.Progresses().KeepProgress(1, "line-1", "+1;91,DT000100\r\n", 12));
}

// The text a station's run takes through ActiveReleases: the release's own at
// first, then what its last run left, kept in the station's own file beside a
// line's database; another station starts from the release's own numbers.
class ReleaseProgressAtStations : public testing::BackendTest {};

TEST_P(ReleaseProgressAtStations, ARunContinuesFromWhereTheStationsLastRunLeftTheRelease) {
    RecordStore line;
    ASSERT_TRUE(StoreOk(line.Open(Location())));
    const ScriptRelease release = ValueOf(
        line.Releases().Release({"FP-3", "board", "board.inp", "+1;91,DT000100\r\n", "", "", "eva", "line-1", 1}));
    const QString local = database->Folder() + QStringLiteral("/local.sqlite");
    const std::string advanced = "+1;91,DT000101\r\n";
    std::string notice;
    {
        // Records kept in the line's database itself, or in a file of the station's own beside it.
        ActiveReleases releases(database->IsPostgresql() ? RecordsRoute{local, Location()}
                                                         : RecordsRoute{Location(), {}});
        EXPECT_EQ(releases.TextToRun(release, "line-1", notice), release.script);
        ASSERT_TRUE(StoreOk(releases.KeepProgress(release.id, "line-1", advanced)));
        EXPECT_EQ(releases.TextToRun(release, "line-1", notice), advanced);
        EXPECT_EQ(releases.TextToRun(release, "line-2", notice), release.script);
        EXPECT_EQ(notice, "");
    }
    // A station's progress is its own: the line's database keeps none of it.
    if (database->IsPostgresql()) {
        EXPECT_EQ(RunSql(Location(), {"SELECT COUNT(*) FROM release_progress"}), "0\n");
        RecordStore own;
        ASSERT_TRUE(StoreOk(own.Open(local)));
        EXPECT_EQ(ValueOf(own.Progresses().Progress(release.id, "line-1")), advanced);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReleaseProgressAtStations, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk
