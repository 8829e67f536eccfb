#pragma once
// A unit's history on the whole line: every run, refusal at entry, hold and
// release of it, oldest first (RecordQueries::History reads it).

#include "record.h"

#include <QtGlobal>

#include <optional>
#include <string>

namespace tamrisk {

// The kinds of record a unit's history holds.
inline constexpr const char* UnitHistoryKinds[] = {"run", "entry", "hold", "release"};

struct UnitEvent {
    std::string recordId, kind;         // kind: run, entry, hold or release
    std::string operation, product;     // UTF-8; empty where the record named none
    std::string station, operatorName;  // UTF-8
    std::optional<RecordOutcome> outcome;  // none while a run is going on
    // Why: a failed or errored run's cause (FailureCause::Name), the reason of a
    // refusal, hold or release, or of a run aborted; empty for a passed run.
    std::string cause;
    qint64 startedMs = 0;  // UTC ms
    bool engineering = false;  // an engineering run: counted in no yield, and marked where shown
    friend bool operator==(const UnitEvent&, const UnitEvent&) = default;
};

}  // namespace tamrisk
