// The people who use the stations, in the records, on SQLite files and on
// PostgreSQL: added, listed, changed and disabled; logged in, locked after
// too many wrong PINs in a row at any station and let in again after the lock.

#include "operatorstore.h"
#include "pin.h"

#include "recordtesting.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using LogIn = LogInOutcome::Verdict;

constexpr qint64 PeopleT0 = 1'796'637'600'000;

// Each person on a line: "id name role", " disabled" after a disabled one's.
std::string PeopleText(const std::vector<Operator>& people) {
    std::string text;
    for (const Operator& person : people)
        text += person.id + ' ' + person.name + ' ' + std::string(RoleName(person.role)) +
                (person.disabled ? " disabled" : "") + '\n';
    return text;
}

class OperatorsOn : public BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_FALSE(ValueOf(People().AnyOperators()));
        hash = HashPin(pin);
        ASSERT_TRUE(StoreOk(People().Add({"ivana", "Ivana", Role::Operator, hash, false, 0, 0, PeopleT0})));
    }
    OperatorStore& People() { return store.Operators(); }

    const std::string pin = "7391";
    std::string hash;
};

TEST_P(OperatorsOn, PeopleAreAddedChangedAndDisabledEachChangeSeenInTheList) {
    EXPECT_TRUE(ValueOf(People().AnyOperators()));
    const auto failure = [](const StoreResult<void>& result) {
        return result ? StoreError::Kind::None : result.error().kind;
    };
    const struct {
        const char* what;
        std::function<StoreResult<void>()> change;
        StoreError::Kind fails;
        const char* people;
    } steps[] = {
        {"add a supervisor",
         [&] {
             return People().Add({"olga", "Olga", Role::Supervisor, hash, false, 0, 0, 1});
         },
         StoreError::Kind::None, "ivana Ivana operator\nolga Olga supervisor\n"},
        {"add an ID twice",
         [&] {
             return People().Add({"olga", "Other", Role::Operator, hash, false, 0, 0, 2});
         },
         StoreError::Kind::StatementFailed, "ivana Ivana operator\nolga Olga supervisor\n"},
        {"add a blank ID",
         [&] {
             return People().Add({" bo", "Bo", Role::Operator, hash, false, 0, 0, 2});
         },
         StoreError::Kind::StatementFailed, "ivana Ivana operator\nolga Olga supervisor\n"},
        {"add without a PIN",
         [&] {
             return People().Add({"bo", "Bo", Role::Operator, "", false, 0, 0, 2});
         },
         StoreError::Kind::StatementFailed, "ivana Ivana operator\nolga Olga supervisor\n"},
        {"make a technician", [&] { return People().SetRole("ivana", Role::Technician); }, StoreError::Kind::None,
         "ivana Ivana technician\nolga Olga supervisor\n"},
        {"rename", [&] { return People().SetName("ivana", "Ivana P."); }, StoreError::Kind::None,
         "ivana Ivana P. technician\nolga Olga supervisor\n"},
        {"disable", [&] { return People().Disable("olga"); }, StoreError::Kind::None,
         "ivana Ivana P. technician\nolga Olga supervisor disabled\n"},
        {"change someone unknown", [&] { return People().SetRole("nobody", Role::Engineer); },
         StoreError::Kind::NotFound, "ivana Ivana P. technician\nolga Olga supervisor disabled\n"},
        {"disable someone unknown", [&] { return People().Disable("nobody"); }, StoreError::Kind::NotFound,
         "ivana Ivana P. technician\nolga Olga supervisor disabled\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const StoreResult<void> result = step.change();
        EXPECT_EQ(failure(result), step.fails) << FailureText(result).toStdString();
        // Nothing said of a failure shows a PIN or its hash.
        EXPECT_FALSE(FailureText(result).contains(QString::fromStdString(hash)));
        const std::vector<Operator> people = ValueOf(People().List());
        EXPECT_EQ(PeopleText(people), step.people);
        for (const Operator& person : people)
            EXPECT_EQ(person.pinHash, "");
    }
    const Operator ivana = ValueOf(People().Find("ivana"));
    EXPECT_EQ(ivana.role, Role::Technician);
    EXPECT_EQ(ivana.addedMs, PeopleT0);
    EXPECT_EQ(ValueOf(People().Find("olga")).addedMs, 1);
    EXPECT_EQ(People().Find("nobody").error().kind, StoreError::Kind::NotFound);
}

// Wrong PINs in a row at two stations lock the ID for five minutes; a right
// PIN ends the count; a locked or disabled ID's PIN is not even checked.
TEST_P(OperatorsOn, FiveWrongPinsInARowAtAnyStationLockTheIdForFiveMinutes) {
    RecordStore other;
    ASSERT_TRUE(StoreOk(other.Open(Location())));
    constexpr qint64 LockEnd = PeopleT0 + 20 + PinLockMs;
    const struct {
        int station;
        const char* pin;
        qint64 atMs;
        LogIn verdict;
        int triesLeft;
        qint64 lockedUntilMs;
    } attempts[] = {
        {0, "7391", PeopleT0, LogIn::Accepted, 0, 0},          {0, "0000", PeopleT0 + 1, LogIn::WrongPin, 4, 0},
        {1, "1111", PeopleT0 + 2, LogIn::WrongPin, 3, 0},      {0, "7390", PeopleT0 + 3, LogIn::WrongPin, 2, 0},
        {1, "7391", PeopleT0 + 4, LogIn::Accepted, 0, 0},      {1, "0000", PeopleT0 + 10, LogIn::WrongPin, 4, 0},
        {0, "0000", PeopleT0 + 11, LogIn::WrongPin, 3, 0},     {1, "0000", PeopleT0 + 12, LogIn::WrongPin, 2, 0},
        {0, "0000", PeopleT0 + 13, LogIn::WrongPin, 1, 0},     {1, "0000", PeopleT0 + 20, LogIn::Locked, 0, LockEnd},
        {0, "7391", PeopleT0 + 21, LogIn::Locked, 0, LockEnd}, {1, "7391", LockEnd - 1, LogIn::Locked, 0, LockEnd},
        {0, "0000", LockEnd, LogIn::WrongPin, 4, 0},           {1, "7391", LockEnd + 1, LogIn::Accepted, 0, 0},
    };
    for (std::size_t i = 0; i < std::size(attempts); ++i) {
        const auto& a = attempts[i];
        SCOPED_TRACE(i);
        OperatorStore& station = a.station == 0 ? People() : other.Operators();
        const LogInOutcome outcome = ValueOf(station.LogIn("ivana", a.pin, a.atMs));
        EXPECT_EQ(outcome.verdict, a.verdict);
        EXPECT_EQ(outcome.triesLeft, a.triesLeft);
        EXPECT_EQ(outcome.lockedUntilMs, a.lockedUntilMs);
        EXPECT_EQ(outcome.person.has_value(), a.verdict == LogIn::Accepted);
        if (outcome.person) {
            EXPECT_EQ(outcome.person->id, "ivana");
            EXPECT_EQ(outcome.person->role, Role::Operator);
            EXPECT_EQ(outcome.person->failedPins, 0);
            EXPECT_EQ(outcome.person->pinHash, "");
        }
    }
}

TEST_P(OperatorsOn, ANewPinEndsALockAndADisabledOrUnknownIdIsRefused) {
    for (qint64 t = 0; t < PinTries; ++t)
        ASSERT_NE(ValueOf(People().LogIn("ivana", "0000", PeopleT0 + t)).verdict, LogIn::Accepted);
    ASSERT_EQ(ValueOf(People().LogIn("ivana", pin, PeopleT0 + 10)).verdict, LogIn::Locked);
    ASSERT_TRUE(StoreOk(People().SetPin("ivana", HashPin("8642"))));
    EXPECT_EQ(ValueOf(People().LogIn("ivana", pin, PeopleT0 + 11)).verdict, LogIn::WrongPin);
    EXPECT_EQ(ValueOf(People().LogIn("ivana", "8642", PeopleT0 + 12)).verdict, LogIn::Accepted);
    EXPECT_EQ(People().SetPin("nobody", hash).error().kind, StoreError::Kind::NotFound);

    ASSERT_TRUE(StoreOk(People().Disable("ivana")));
    EXPECT_EQ(ValueOf(People().LogIn("ivana", "8642", PeopleT0 + 13)).verdict, LogIn::Disabled);
    EXPECT_EQ(ValueOf(People().LogIn("ivana", "0000", PeopleT0 + 14)).verdict, LogIn::Disabled);
    EXPECT_EQ(ValueOf(People().Find("ivana")).failedPins, 0);
    EXPECT_EQ(ValueOf(People().LogIn("nobody", "8642", PeopleT0 + 15)).verdict, LogIn::Unknown);
}

INSTANTIATE_TEST_SUITE_P(Backends, OperatorsOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

}  // namespace
}  // namespace tamrisk
