#include "unitentries.h"

#include "outofreachwait.h"
#include "storethread.h"

#include <QDateTime>
#include <QUuid>

namespace tamrisk {

RecordHeader HoldRecord(const EntryRequest& request, const UnitHold& hold) {
    RecordHeader held;
    held.id = hold.recordId;
    held.kind = "hold";
    held.unit = request.unit;
    held.operation = request.operation;
    held.product = request.product;
    held.startedMs = hold.heldMs;
    held.outcome = RecordOutcome::Pass;
    held.reason = hold.reason;
    return held;
}

UnitEntries::UnitEntries(QString location)
    : m_line(std::make_unique<StoreThread>(std::move(location), QStringLiteral("unit entries"), [](RecordStore& store) {
          // Units left in test by ended programs of this computer are freed once
          // the records are reached; one that cannot be freed now is tried at the next start.
          (void)store.Entries().FreeAbandoned();
      })) {}

UnitEntries::~UnitEntries() = default;

QString UnitEntries::Location() const { return m_line->Location(); }

UnitEntry UnitEntries::Enter(Host& host, const EntryRequest& request, const OutOfReachWait& wait) {
    if (request.product.empty() || request.operation.empty())
        return {};
    UnitEntry entry;
    const WaitEnd end = WaitWhileOutOfReach(host, wait, [&](std::string& reason) {
        const StoreResult<EntryDecision> decided =
            m_line->Ask<EntryDecision>([&](RecordStore& store) { return store.Entries().Enter(request); });
        if (decided) {
            entry.kind = decided->verdict == EntryVerdict::Entered   ? UnitEntry::Kind::Entered
                         : decided->verdict == EntryVerdict::Refused ? UnitEntry::Kind::Refused
                                                                     : UnitEntry::Kind::NotChecked;
            entry.reason = decided->reason;
            return true;
        }
        reason = entry.reason = decided.error().Text().toStdString();
        entry.kind = decided.error().OutOfReach() ? UnitEntry::Kind::Unreachable : UnitEntry::Kind::Failed;
        return entry.kind == UnitEntry::Kind::Failed;
    });
    if (end == WaitEnd::Cancelled)
        entry.kind = UnitEntry::Kind::Cancelled;
    return entry;
}

StoreResult<std::optional<UnitHold>> UnitEntries::Leave(const EntryRequest& request, RecordOutcome outcome,
                                                        const std::string& heldBy) {
    Leaving leaving{request, outcome, QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(), heldBy,
                    QDateTime::currentMSecsSinceEpoch()};
    return m_line->Ask<std::optional<UnitHold>>([&](RecordStore& store) {
        return store.Entries().Leave(leaving);
    });
}

void UnitEntries::SetActor(std::string who, std::string station) {
    m_line->SetActor(std::move(who), std::move(station));
}

StoreResult<int> UnitEntries::FreeAbandoned() {
    return m_line->Ask<int>([](RecordStore& store) { return store.Entries().FreeAbandoned(); });
}

}  // namespace tamrisk
