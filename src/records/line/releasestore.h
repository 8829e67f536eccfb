#pragma once
// Released scripts, in the records: a script (and its variables file, if any)
// released for a product and an operation, kept with the SHA-256 of each and a
// number counted per product and operation. A release is active once a person
// other than the one who released it approves it; the newest approved release
// that is not revoked is the one a unit of that product runs in that
// operation. Every change is appended to the audit trail in its own
// transaction. That the approver may approve (a supervisor) is the front
// end's to check; the database lets no station's login approve or revoke.

#include "answercheck.h"
#include "storeconnection.h"

#include <QtGlobal>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

struct ScriptRelease {
    qint64 id = 0;  // counted over every product and operation
    std::string product{}, operation{};
    int number = 0;  // counted per product and operation, from 1
    std::string scriptName{};
    std::string script{};        // the script's bytes (Windows-1251); empty where a list leaves them out
    std::string scriptSha256{};  // lower-case hex
    // The variables file: its name, bytes (UTF-8) and SHA-256; all empty for none.
    std::string varsName{}, vars{}, varsSha256{};
    std::string releasedBy{}, station{};  // the person's ID; the station it was released at
    qint64 releasedMs = 0;
    std::optional<std::string> approvedBy{};
    std::optional<qint64> approvedMs{};
    std::optional<std::string> revokedBy{};
    std::optional<qint64> revokedMs{};
    std::optional<std::string> revokeReason{};
    // The active release of its product and operation, when it was read.
    bool active = false;

    bool Approved() const { return approvedMs.has_value(); }
    bool Revoked() const { return revokedMs.has_value(); }
};

// A release to be made. Without a variables file, varsName and vars stay empty.
struct NewRelease {
    std::string product, operation;
    std::string scriptName, script;
    std::string varsName, vars;
    std::string releasedBy, station;
    qint64 releasedMs = 0;
};

// Which releases a list takes; an empty name takes every one.
struct ReleaseFilter {
    std::string product, operation;
};

// The SHA-256 of `bytes`, lower-case hex.
std::string Sha256Hex(const std::string& bytes);

// Why `release` may not be released, "NAME: line N: why" or a bad name or an
// empty script; empty when it may. The script's lines are read as a run reads
// them, its check lines with the variables file's variables.
std::string ReleaseProblem(const NewRelease& release);

// "release N of P O: its text no longer matches its SHA-256"
std::string TamperedReleaseText(const ScriptRelease& release);
// "no active release of P O"
std::string NoActiveReleaseText(const std::string& product, const std::string& operation);

class ReleaseStore {
public:
    explicit ReleaseStore(StoreConnection& connection);

    // Releases `release` (refused, StatementFailed, for ReleaseProblem) as the
    // next id and the next number of its product and operation; both SHA-256s
    // are computed here. Two stations releasing at once each get a number of
    // their own. The release as kept.
    StoreResult<ScriptRelease> Release(const NewRelease& release);
    // Approves release `id` by `approver` at `nowMs`. Refused when `approver`
    // released it, when it is revoked or already approved; NotFound for no such release.
    StoreResult<void> Approve(qint64 id, const std::string& approver, qint64 nowMs);
    // Revokes release `id` by `by` at `nowMs` for `reason` (required). Refused
    // when it is revoked already; NotFound for no such release.
    StoreResult<void> Revoke(qint64 id, const std::string& by, const std::string& reason, qint64 nowMs);

    // The releases `filter` takes, without their bytes, by product, operation and number.
    StoreResult<std::vector<ScriptRelease>> List(const ReleaseFilter& filter);
    // Release `id` with its bytes; NotFound for none.
    StoreResult<ScriptRelease> Find(qint64 id);
    // The active release of `product` and `operation`, with its bytes: the
    // highest number approved and not revoked. NotFound ("no active release of
    // P O") when there is none. One statement, on the key of product,
    // operation and number.
    StoreResult<ScriptRelease> Active(const std::string& product, const std::string& operation);

    // Keeps `release` as it is in other records (the line's) here, in place
    // of any release with its id or its number: a station's copy of what it runs.
    StoreResult<void> Keep(const ScriptRelease& release);

    // Whether the bytes of `release` still match their SHA-256s.
    static bool Intact(const ScriptRelease& release);

private:
    // Runs `sql` (selecting the columns of a release, with its bytes when
    // `withBytes`) with `values`; the releases read.
    StoreResult<std::vector<ScriptRelease>> Read(const QString& where, const QVariantList& values, bool withBytes,
                                                 int limit);
    // Approves or revokes `id` in one transaction: `refusal` decides on the
    // release as read (empty: go on), `set` (the SET and WHERE of the update,
    // which changes nothing where it refuses) with `values` changes it, and
    // the audit entry of `action` is appended.
    StoreResult<void> Change(qint64 id, const std::function<std::string(const ScriptRelease&)>& refusal,
                             const QString& set, const QVariantList& values, const std::string& action,
                             const std::optional<std::string>& reason, qint64 nowMs);
    StoreError Refused(const QString& why) const;

    StoreConnection& m_c;
};

}  // namespace tamrisk
