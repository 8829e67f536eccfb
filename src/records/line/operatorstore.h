#pragma once
// The people who use the line's stations, in the records: added, listed,
// changed and disabled by a supervisor (the database lets no other login), and
// logged in at any station. A PIN is checked against its Argon2id hash in this
// program, never in SQL; wrong PINs in a row are counted in the database, so a
// lock holds at every station. No PIN nor hash is ever part of a failure's text.

#include "audittrail.h"
#include "privileges.h"
#include "storeconnection.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

// Wrong PINs in a row that lock an ID, and for how long.
inline constexpr int PinTries = 5;
inline constexpr qint64 PinLockMs = 5 * 60 * 1000;

struct Operator {
    std::string id{}, name{};
    Role role = Role::Operator;
    // Given to Add; never read back (List and Find leave it empty).
    std::string pinHash{};
    bool disabled = false;
    int failedPins = 0;        // wrong PINs in a row since the last right one or lock
    qint64 lockedUntilMs = 0;  // locked before this time (ms since the epoch)
    qint64 addedMs = 0;
};

// How a log-in went.
struct LogInOutcome {
    enum class Verdict { Accepted, WrongPin, Locked, Disabled, Unknown };
    Verdict verdict = Verdict::Unknown;
    std::optional<Operator> person{};  // Accepted: who logged in
    int triesLeft = 0;                 // WrongPin: wrong PINs before the ID locks
    qint64 lockedUntilMs = 0;          // Locked: when the lock ends
};

class OperatorStore {
public:
    explicit OperatorStore(StoreConnection& connection);

    // Adds `person` with its pinHash (from HashPin); refused (StatementFailed)
    // when the ID is ill-formed, the hash empty or the ID already in the records.
    StoreResult<void> Add(const Operator& person);
    // Every person, by ID.
    StoreResult<std::vector<Operator>> List();
    // The person of `id`; NotFound when there is none.
    StoreResult<Operator> Find(const std::string& id);
    // Changes a person's role, name, or PIN (which also ends a lock and its
    // count), or disables them; NotFound when there is none.
    StoreResult<void> SetRole(const std::string& id, Role role);
    StoreResult<void> SetName(const std::string& id, const std::string& name);
    StoreResult<void> SetPin(const std::string& id, const std::string& pinHash);
    StoreResult<void> Disable(const std::string& id);
    // Whether the records hold any person at all.
    StoreResult<bool> AnyOperators();

    // Logs `id` in with `pin` at `nowMs`: Accepted (a right PIN ends the count
    // of wrong ones), WrongPin (counted; the PinTries-th in a row locks the ID
    // for PinLockMs and answers Locked), Locked, Disabled or Unknown. A locked
    // or disabled ID's PIN is not checked.
    StoreResult<LogInOutcome> LogIn(const std::string& id, std::string_view pin, qint64 nowMs);

private:
    // Reads the person of `id` with their hash into `person`; `found` false when there is none.
    StoreResult<void> Read(const std::string& id, Operator& person, bool& found, bool withHash);
    // Runs "UPDATE operators SET <set> WHERE id = ?" with `values` and then the
    // ID bound, and appends `audit` to the trail in the same transaction, its
    // old value read from `oldColumn` when given (a value set to what it was
    // appends nothing); NotFound when no row is.
    StoreResult<void> Change(const std::string& id, const QString& set, const QVariantList& values,
                             const AuditChange& audit, const char* oldColumn = nullptr);
    // A failure that names `id` and what was wrong (never a value written).
    StoreError Refused(const std::string& id, const QString& why) const;
    // NotFound for `id`.
    StoreError NoSuch(const std::string& id) const;

    StoreConnection& m_c;
};

}  // namespace tamrisk
