// Released scripts in the records, on SQLite files and on PostgreSQL: numbered
// per product and operation (also when two stations release at once),
// approved by a second person, active while the newest approved and not
// revoked, refused when their lines do not read, found tampered with, written
// to the audit trail; a station's login releases but does not approve; a
// station runs the copy it kept while the line is out of reach.

#include "activerelease.h"
#include "recordtesting.h"

#include <gtest/gtest.h>

#include <thread>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using testing::RunSql;
using K = StoreError::Kind;

constexpr qint64 ReleaseT0 = 1'796'637'600'000;

// A script every line of which reads.
constexpr const char* Good = "@burn-in\r\n56,1\r\n?* = 0\r\n";

NewRelease Made(const std::string& product, const std::string& operation, std::string script = Good,
                std::string by = "eva") {
    return {product, operation, "burn.txt", std::move(script), "", "", std::move(by), "line-1", ReleaseT0};
}

K KindOf(const StoreResult<void>& result) { return result ? K::None : result.error().kind; }

class ReleasesOn : public BackendStoreTest {
protected:
    ReleaseStore& Releases() { return store.Releases(); }
    // Releases `made`; its id.
    qint64 Release(const NewRelease& made) { return ValueOf(Releases().Release(made)).id; }
    // "id:number" of the active release of FP-3 burn-in, or "none".
    std::string ActiveOne() {
        const StoreResult<ScriptRelease> active = Releases().Active("FP-3", "burn-in");
        if (!active) {
            EXPECT_EQ(active.error().kind, K::NotFound);
            EXPECT_EQ(active.error().reason.toStdString(), "no active release of FP-3 burn-in");
            return "none";
        }
        return std::to_string(active->id) + ":" + std::to_string(active->number);
    }
};

TEST_P(ReleasesOn, IdsAreCountedOverAllAndNumbersPerProductAndOperation) {
    const struct {
        const char *product, *operation;
        qint64 id;
        int number;
    } releases[] = {
        {"FP-3", "burn-in", 1, 1}, {"FP-3", "burn-in", 2, 2}, {"FP-3", "fiscal", 3, 1},
        {"FP-7", "burn-in", 4, 1}, {"FP-3", "burn-in", 5, 3},
    };
    for (const auto& r : releases) {
        const ScriptRelease made = ValueOf(Releases().Release(Made(r.product, r.operation)));
        EXPECT_EQ(made.id, r.id);
        EXPECT_EQ(made.number, r.number) << r.product << ' ' << r.operation;
    }
    const ScriptRelease found = ValueOf(Releases().Find(3));
    EXPECT_EQ(found.script, Good);
    EXPECT_EQ(found.scriptSha256, Sha256Hex(Good));
    EXPECT_EQ(found.varsSha256, "");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(ValueOf(Releases().List({"FP-3", "burn-in"})).size(), 3u);
    EXPECT_EQ(ValueOf(Releases().List({"", "burn-in"})).size(), 4u);
    EXPECT_EQ(ValueOf(Releases().List({})).size(), 5u);
    EXPECT_EQ(Releases().Find(9).error().kind, K::NotFound);
}

// Approvals and revokes in turn, with what each leaves active.
TEST_P(ReleasesOn, TheNewestApprovedReleaseNotRevokedIsActive) {
    EXPECT_EQ(ActiveOne(), "none");
    ASSERT_EQ(Release(Made("FP-3", "burn-in")), 1);
    ASSERT_EQ(Release(Made("FP-3", "burn-in")), 2);
    ASSERT_EQ(Release(Made("FP-3", "fiscal")), 3);
    const struct {
        const char* what;
        std::function<StoreResult<void>()> change;
        K fails;
        const char* reason;  // of a refusal
        const char* active;
    } steps[] = {
        {"approved by the one who released it", [&] { return Releases().Approve(1, "eva", ReleaseT0 + 1); },
         K::StatementFailed, "release 1: approved by the one who released it: another person must approve it", "none"},
        {"approved by another", [&] { return Releases().Approve(1, "olga", ReleaseT0 + 2); }, K::None, "", "1:1"},
        {"approved again", [&] { return Releases().Approve(1, "petr", ReleaseT0 + 3); }, K::StatementFailed,
         "release 1: already approved by olga", "1:1"},
        {"another operation's approved", [&] { return Releases().Approve(3, "olga", ReleaseT0 + 4); }, K::None, "",
         "1:1"},
        {"the newer approved", [&] { return Releases().Approve(2, "olga", ReleaseT0 + 5); }, K::None, "", "2:2"},
        {"revoked without a reason", [&] { return Releases().Revoke(2, "olga", " ", ReleaseT0 + 6); },
         K::StatementFailed, "release 2: a revoke needs its reason", "2:2"},
        {"the newer revoked", [&] { return Releases().Revoke(2, "olga", "wrong limits", ReleaseT0 + 7); }, K::None, "",
         "1:1"},
        {"revoked again", [&] { return Releases().Revoke(2, "olga", "again", ReleaseT0 + 8); }, K::StatementFailed,
         "release 2: already revoked by olga", "1:1"},
        {"a revoked one approved", [&] { return Releases().Approve(2, "petr", ReleaseT0 + 9); }, K::StatementFailed,
         "release 2: revoked, it may not be approved", "1:1"},
        {"the older revoked", [&] { return Releases().Revoke(1, "olga", "obsolete", ReleaseT0 + 10); }, K::None, "",
         "none"},
        {"no such release", [&] { return Releases().Approve(7, "olga", ReleaseT0 + 11); }, K::NotFound, "no release 7",
         "none"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const StoreResult<void> result = step.change();
        EXPECT_EQ(KindOf(result), step.fails) << FailureText(result).toStdString();
        EXPECT_EQ(result ? "" : result.error().reason.toStdString(), step.reason);
        EXPECT_EQ(ActiveOne(), step.active);
    }
    const ScriptRelease two = ValueOf(Releases().Find(2));
    EXPECT_EQ(two.approvedBy, "olga");
    EXPECT_EQ(two.approvedMs, ReleaseT0 + 5);
    EXPECT_EQ(two.revokeReason, "wrong limits");
    EXPECT_FALSE(two.active);
    // Of each product and operation, the list marks its active release.
    std::string marks;
    for (const ScriptRelease& release : ValueOf(Releases().List({})))
        marks += std::to_string(release.id) + (release.active ? "* " : " ");
    EXPECT_EQ(marks, "1 2 3* ");
}

// What the audit trail holds after a release, its approval and its revoke.
TEST_P(ReleasesOn, EachChangeIsAppendedToTheAuditTrail) {
    store.SetActor("eva", "line-1");
    ASSERT_EQ(Release(Made("FP-3", "burn-in")), 1);
    store.SetActor("olga", "office");
    // A refused change leaves no entry.
    ASSERT_FALSE(Releases().Approve(1, "eva", ReleaseT0 + 1));
    ASSERT_TRUE(StoreOk(Releases().Approve(1, "olga", ReleaseT0 + 2)));
    ASSERT_TRUE(StoreOk(Releases().Revoke(1, "olga", "wrong limits", ReleaseT0 + 3)));
    const std::string value = "burn.txt " + Sha256Hex(Good);
    EXPECT_EQ(RunSql(Location(), {"SELECT who || '|' || station || '|' || action || '|' || subject || '|' ||"
                                  " COALESCE(new_value, '-') || '|' || COALESCE(reason, '-') || '|' ||"
                                  " CAST(at_ms AS TEXT) FROM audit_trail ORDER BY seq"}),
              "eva|line-1|script release|FP-3 burn-in release 1|" + value + "|-|" + std::to_string(ReleaseT0) + "\n" +
                  "olga|office|script approve|FP-3 burn-in release 1|" + value + "|-|" + std::to_string(ReleaseT0 + 2) +
                  "\n" + "olga|office|script revoke|FP-3 burn-in release 1|" + value + "|wrong limits|" +
                  std::to_string(ReleaseT0 + 3) + "\n");
}

// A release whose lines a run would not read is refused with the first such line.
TEST_P(ReleasesOn, AScriptOrVariablesFileThatDoesNotReadIsRefusedWithItsLine) {
    const struct {
        const char* what;
        NewRelease made;
        const char* refusal;  // empty: released
    } cases[] = {
        {"a repeat without its label line", Made("FP-3", "burn-in", "@x\n*5,loop\n56,1\n"),
         "burn.txt: line 2: no line :loop below the repeat"},
        {"a repeat count out of range", Made("FP-3", "burn-in", "*0,a\n:a\n"),
         "burn.txt: line 1: a repeat count of 0 (1 to 10000)"},
        {"a check with a bad operator", Made("FP-3", "burn-in", "56,1\n\n?* eq 5\n"),
         "burn.txt: line 3: bad operator \"eq\""},
        {"data too long", Made("FP-3", "burn-in", "56," + std::string(256, 'A') + "\n"),
         "burn.txt: line 1: data too long (256 characters, at most 255)"},
        {"a check naming a variable not given", Made("FP-3", "burn-in", "56,1\n?2 <= {limit}\n"),
         "burn.txt: line 2: unknown variable {limit}"},
        {"the variable given",
         {"FP-3", "burn-in", "burn.txt", "56,1\n?2 <= {limit}\n?1 = {unit}\n", "v.txt", "# limits\nlimit = 12\n", "eva",
          "line-1", ReleaseT0},
         ""},
        {"a bad variables file",
         {"FP-3", "burn-in", "burn.txt", Good, "v.txt", "limit=1\n9x=2\n", "eva", "line-1", ReleaseT0},
         "v.txt: line 2: "},
        {"an empty script", Made("FP-3", "burn-in", ""), "burn.txt: the script is empty"},
        {"a bad product name", Made("", "burn-in"), "the product name is empty"},
        {"a bad operation name", Made("FP-3", "burn\tin"), "the operation name holds a control character"},
    };
    int released = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StoreResult<ScriptRelease> result = Releases().Release(c.made);
        if (*c.refusal == '\0') {
            ASSERT_TRUE(StoreOk(result));
            EXPECT_EQ(result->number, ++released);
            EXPECT_EQ(result->varsSha256, Sha256Hex(c.made.vars));
            continue;
        }
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, K::StatementFailed);
        EXPECT_TRUE(result.error().reason.startsWith(QString::fromUtf8(c.refusal)))
            << result.error().reason.toStdString();
    }
    EXPECT_EQ(ValueOf(Releases().List({})).size(), static_cast<std::size_t>(released));
}

// Bytes changed in the database by its owner no longer match their SHA-256s.
TEST_P(ReleasesOn, AReleaseChangedInTheDatabaseIsNoLongerIntact) {
    NewRelease made = Made("FP-3", "burn-in");
    made.varsName = "v.txt";
    made.vars = "limit=1\n";
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Release(made), i + 1);
    RunSql(Location(), {"UPDATE script_releases SET script = vars WHERE id = 2",
                        "UPDATE script_releases SET vars = script WHERE id = 3"});
    const bool intact[] = {true, false, false};
    for (int i = 0; i < 3; ++i) {
        const ScriptRelease release = ValueOf(Releases().Find(i + 1));
        EXPECT_EQ(ReleaseStore::Intact(release), intact[i]) << "release " << i + 1;
    }
    EXPECT_EQ(TamperedReleaseText(ValueOf(Releases().Find(2))),
              "release 2 of FP-3 burn-in: its text no longer matches its SHA-256");
}

// Stations releasing for one product and operation at once each get a number of their own.
TEST_P(ReleasesOn, ReleasesMadeAtOnceGetNumbersOfTheirOwn) {
    constexpr int Stations = 3, Each = 8;
    std::vector<std::thread> stations;
    std::atomic<int> failed{0};
    for (int s = 0; s < Stations; ++s) {
        stations.emplace_back([&, s] {
            RecordStore station;
            if (!station.Open(Location())) {
                ++failed;
                return;
            }
            for (int i = 0; i < Each; ++i) {
                if (!station.Releases().Release(
                        Made("FP-3", i % 2 ? "burn-in" : "fiscal", Good, "st" + std::to_string(s))))
                    ++failed;
            }
        });
    }
    for (std::thread& station : stations)
        station.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(RunSql(Location(), {"SELECT operation || ' ' || CAST(COUNT(DISTINCT number) AS TEXT) || ' '"
                                  " || CAST(MAX(number) AS TEXT) FROM script_releases GROUP BY operation"
                                  " ORDER BY operation"}),
              "burn-in 12 12\nfiscal 12 12\n");
    EXPECT_EQ(RunSql(Location(), {"SELECT COUNT(*) FROM audit_trail"}), "24\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, ReleasesOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// A line's database with a station's and a supervisor's login.
class ReleaseLogins : public ::testing::Test {
protected:
    void SetUp() override {
        if (!database.IsPostgresql())
            GTEST_SKIP() << database.SkipReason();
        ASSERT_TRUE(StoreOk(owner.Open(database.Location())));
        station = database.MakeRole(QStringLiteral("station"));
        supervisor = database.MakeRole(QStringLiteral("supervisor"));
        reader = database.MakeRole(QStringLiteral("reader"));
        ASSERT_TRUE(StoreOk(owner.GrantLogins({station}, {reader}, {supervisor})));
    }
    QString As(const QString& role) const { return testing::AsLogin(database.Location(), role); }

    testing::TestDatabase database{Backend::Postgresql};
    RecordStore owner;
    QString station, supervisor, reader;
};

// A station's login releases; only a supervisor's approves or revokes; a reader's does neither.
TEST_F(ReleaseLogins, AStationReleasesButOnlyASupervisorApproves) {
    RecordStore atStation, atOffice, reading;
    ASSERT_TRUE(StoreOk(atStation.Open(As(station))));
    ASSERT_TRUE(StoreOk(atOffice.Open(As(supervisor))));
    ASSERT_TRUE(StoreOk(reading.Open(As(reader))));
    ASSERT_EQ(ValueOf(atStation.Releases().Release(Made("FP-3", "burn-in"))).number, 1);
    EXPECT_FALSE(reading.Releases().Release(Made("FP-3", "burn-in")));
    EXPECT_NE(KindOf(atStation.Releases().Approve(1, "olga", ReleaseT0 + 1)), K::None);
    EXPECT_NE(KindOf(atStation.Releases().Revoke(1, "olga", "no", ReleaseT0 + 1)), K::None);
    EXPECT_EQ(atStation.Releases().Active("FP-3", "burn-in").error().kind, K::NotFound);
    EXPECT_TRUE(StoreOk(atOffice.Releases().Approve(1, "olga", ReleaseT0 + 2)));
    EXPECT_EQ(ValueOf(atStation.Releases().Active("FP-3", "burn-in")).id, 1);
    EXPECT_EQ(RunSql(database.Location(), {"SELECT action FROM audit_trail ORDER BY seq"}),
              "script release\nscript approve\n");
}

// A station takes the active release from the line and keeps a copy; while
// the line is out of reach it runs the copy, and says so.
class KeptReleases : public testing::BackendTest {};

TEST_P(KeptReleases, AStationRunsTheCopyItKeptWhileTheLineIsOutOfReach) {
    if (!database->IsPostgresql())
        GTEST_SKIP() << "a line's database is a PostgreSQL database";
    const QString local = database->Folder() + QStringLiteral("/local.sqlite");
    const QString away = Unreachable();
    RecordStore line;
    ASSERT_TRUE(StoreOk(line.Open(Location())));
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(ValueOf(line.Releases().Release(Made("FP-3", "burn-in"))).number, i + 1);
    ASSERT_TRUE(StoreOk(line.Releases().Approve(1, "olga", ReleaseT0 + 1)));

    // Nothing kept yet: the line's failure.
    const StoreResult<TakenRelease> none = ActiveReleases({local, away}).Take("FP-3", "burn-in");
    ASSERT_FALSE(none);
    EXPECT_TRUE(none.error().OutOfReach()) << none.error().Text().toStdString();

    ActiveReleases reached({local, Location()});
    const TakenRelease first = ValueOf(reached.Take("FP-3", "burn-in"));
    EXPECT_EQ(first.source, TakenRelease::Source::Records);
    EXPECT_EQ(first.release.number, 1);
    EXPECT_EQ(first.notice, "");
    // The newer release approved since is taken and kept too.
    ASSERT_TRUE(StoreOk(line.Releases().Approve(2, "olga", ReleaseT0 + 2)));
    EXPECT_EQ(ValueOf(reached.Take("FP-3", "burn-in")).release.number, 2);
    // Another product has none: not found, whether or not the line is reached.
    EXPECT_EQ(reached.Take("FP-7", "burn-in").error().kind, K::NotFound);

    const TakenRelease kept = ValueOf(ActiveReleases({local, away}).Take("FP-3", "burn-in"));
    EXPECT_EQ(kept.source, TakenRelease::Source::KeptCopy);
    EXPECT_EQ(kept.release.number, 2);
    EXPECT_EQ(kept.release.script, Good);
    EXPECT_TRUE(ReleaseStore::Intact(kept.release));
    EXPECT_EQ(kept.notice, "the line cannot be reached: running release 2 kept at this station");
    EXPECT_EQ(ActiveReleases({local, away}).Take("FP-3", "fiscal").error().kind, K::ConnectionLost);
}

INSTANTIATE_TEST_SUITE_P(Backends, KeptReleases, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

}  // namespace
}  // namespace tamrisk
