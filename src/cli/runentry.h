#pragma once
// The entry of a run's unit into its operation (tamrisk-cli run --operation
// NAME --product NAME): checked in the records before the port is opened, the
// unit given back when the run ends, an automatic hold told and recorded.

#include "cliargs.h"
#include "unitentries.h"

#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace tamrisk {

class CliRecord;
struct CliSession;

// The problem with --operation, --product and their --unit in `args`, or empty:
// a bad name, or (`oneUnit`: a run of one port) both given without a unit.
std::string RunEntryProblem(const ParsedArgs& args, bool oneUnit);

class RunEntry {
public:
    // The entry of `record`'s unit as `args` name it; the record's header gets
    // the operation and product. Waits for a line out of reach at most `wait`.
    RunEntry(const ParsedArgs& args, CliRecord& record, CliSession& session, std::ostream& err,
             std::chrono::seconds wait);
    ~RunEntry();
    RunEntry(const RunEntry&) = delete;
    RunEntry& operator=(const RunEntry&) = delete;

    // Asks whether the unit may enter. None: the run goes on (entered, or
    // nothing to check). Else the record is finished and told on `err`: a
    // refusal as a record of kind "entry" (CliRefused), a line out of reach or
    // a check that could not be made as an error, a cancel as aborted; the exit status.
    std::optional<int> Enter();
    // Gives the unit back as the run ended with `outcome`; a hold this run made
    // is told on `err` and kept as a record of kind "hold". Once; nothing when
    // the unit did not enter.
    void Leave(RecordOutcome outcome);

private:
    CliRecord& m_record;
    CliSession& m_session;
    std::ostream& m_err;
    std::chrono::seconds m_wait;
    EntryRequest m_request;
    std::unique_ptr<UnitEntries> m_entries;
    bool m_entered = false;
};

}  // namespace tamrisk
