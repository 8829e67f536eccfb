#include "runentry.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"

#include <QDateTime>

#include <cstdio>
#include <ostream>

namespace tamrisk {

std::string RunEntryProblem(const ParsedArgs& args, bool oneUnit) {
    const auto operation = args.value("operation"), product = args.value("product");
    for (const auto& [what, value] : {std::pair{"operation", operation}, {"product", product}}) {
        if (value) {
            if (std::string problem = NameProblem(what, *value); !problem.empty())
                return "--" + std::string(what) + ": " + problem;
        }
    }
    if (!operation || !product || !oneUnit)
        return {};
    const auto unit = args.value("unit");
    if (!unit || unit->empty())
        return "--operation and --product check the unit's entry: name it with --unit";
    if (std::string problem = NameProblem("unit", *unit); !problem.empty())
        return "--unit: " + problem;
    if (RecordsLocation(args).isEmpty())
        return "--operation and --product check the unit's entry in the records, which are off";
    return {};
}

RunEntry::RunEntry(const ParsedArgs& args, CliRecord& record, CliSession& session, std::ostream& err,
                   std::chrono::seconds wait)
    : m_record(record), m_session(session), m_err(err), m_wait(wait) {
    RecordHeader& header = record.Header();
    header.operation = args.value("operation").value_or("");
    header.product = args.value("product").value_or("");
    m_request = {header.unit, header.operation, header.product, header.id, header.station,
                 args.value("port").value_or(""), 0};
}

RunEntry::~RunEntry() = default;

std::optional<int> RunEntry::Enter() {
    if (m_request.operation.empty() || m_request.product.empty())
        return std::nullopt;
    const QString location = m_record.LineLocation();
    if (location.isEmpty()) {
        CliError(m_err, "the unit's entry cannot be checked: records are not kept");
        return m_record.Finish(RecordOutcome::Error, "the unit's entry cannot be checked: records are not kept",
                               CliRecordsUnavailable);
    }
    m_entries = std::make_unique<UnitEntries>(location);
    if (const RecordHeader& header = m_record.Header(); !header.operatorId.empty())
        m_entries->SetActor(header.operatorId, header.station);
    m_request.enteredMs = QDateTime::currentMSecsSinceEpoch();
    OutOfReachWait wait;
    wait.limit = m_wait;
    wait.cancelled = [] { return g_cancelSignal != 0; };
    wait.began = [&](const std::string& reason) {
        CliError(m_err, m_request.unit + "'s entry waits for the records (at most " + std::to_string(m_wait.count()) +
                            " s): " + reason);
    };
    wait.ended = [&](bool answered, double waited) {
        if (!answered)
            return;
        char text[64];
        std::snprintf(text, sizeof text, "the records answered (waited %.2f s)", waited);
        CliError(m_err, text);
    };
    const UnitEntry entry = m_entries->Enter(m_session.host, m_request, wait);
    switch (entry.kind) {
    case UnitEntry::Kind::Entered:
        m_entered = true;
        return std::nullopt;
    case UnitEntry::Kind::NotChecked: return std::nullopt;
    case UnitEntry::Kind::Refused:
        CliError(m_err, "REFUSED: " + entry.reason);
        m_record.Header().kind = "entry";
        return m_record.Finish(RecordOutcome::Fail, entry.reason, CliRefused);
    case UnitEntry::Kind::Unreachable:
    case UnitEntry::Kind::Failed: {
        const std::string reason = "the unit's entry could not be checked: " + entry.reason;
        CliError(m_err, reason);
        return m_record.Finish(RecordOutcome::Error, reason,
                               entry.kind == UnitEntry::Kind::Unreachable ? CliRecordsUnavailable : CliRecordsRefused);
    }
    case UnitEntry::Kind::Cancelled:
        CliError(m_err, "cancelled while the unit's entry waited for the records");
        return m_record.Finish(RecordOutcome::Aborted, "cancelled while the unit's entry waited for the records",
                               CliCancelled);
    }
    return std::nullopt;
}

void RunEntry::Leave(RecordOutcome outcome) {
    if (!m_entered)
        return;
    m_entered = false;
    const RecordHeader& header = m_record.Header();
    // An engineering run gives the unit back without counting as its pass or failure.
    m_request.engineering = header.engineering;
    // Held by the logged-in person's ID, else by the computer's login.
    const std::string& heldBy = header.operatorId.empty() ? header.operatorName : header.operatorId;
    const StoreResult<std::optional<UnitHold>> left = m_entries->Leave(m_request, outcome, heldBy);
    if (!left) {
        CliError(m_err, "cannot give " + m_request.unit + " back (it stays in test until released): " +
                            left.error().Text().toStdString());
        return;
    }
    if (!*left)
        return;
    const UnitHold& hold = **left;
    CliError(m_err, m_request.unit + " is put on hold: " + hold.reason);
    (void)m_record.AddRecord(HoldRecord(m_request, hold));
}

}  // namespace tamrisk
