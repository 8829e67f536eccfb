// tamrisk-cli audit verify: reads the audit trail through and tells whether
// every entry still matches its SHA-256 and the chain, or names the first that
// does not (exit 1).

#include "auditactions.h"
#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

namespace {

// "entry 17 (2026-12-10 08:01:02, operator role, alice)".
std::string EntryNamed(const AuditEntry& entry) {
    return "entry " + std::to_string(entry.seq) + " (" + AuditTime(entry.atMs) + ", " +
           EscapeControls(entry.change.action) + ", " + EscapeControls(entry.change.subject) + ")";
}

std::string BreakText(const AuditBreak& broken) {
    using K = AuditBreak::Kind;
    const std::string head = "entry " + std::to_string(broken.headSeq);
    if (!broken.entry)
        return "the audit trail holds no entry, but its head names " + head + ": the entries are missing";
    const std::string named = EntryNamed(*broken.entry);
    switch (broken.kind) {
    case K::ContentChanged: return named + ": its content does not match its SHA-256";
    case K::EntryMissing: return named + ": the entry before it is missing";
    case K::ChainBroken: return named + ": it does not hold the SHA-256 of the entry before it";
    case K::LaterMissing: return named + ": the entries after it are missing (the trail's head names " + head + ")";
    case K::HeadMismatch: return named + ": it is not the last entry that the trail's head names";
    }
    return named;
}

}  // namespace

int AuditVerifyAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "audit verify takes no argument besides its options");
    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const StoreResult<AuditCheck> check = store->Audit().Verify();
    if (!check)
        return StoreFailed(err, "cannot read the audit trail", check.error());
    if (check->broken) {
        out << BreakText(*check->broken) << '\n';
        return CliFailed;
    }
    out << "the audit trail holds " << check->entries << (check->entries == 1 ? " entry" : " entries")
        << " and is intact\n";
    return CliOk;
}

}  // namespace tamrisk
