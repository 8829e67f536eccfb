#include "clioperationrecord.h"

#include "clilogin.h"
#include "clisession.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

std::set<std::string> WithRecordOptions(std::set<std::string> withValue) {
    withValue.insert({"records", "unit"});
    return withValue;
}

QString RecordsLocation(const ParsedArgs& args) { return ChooseRecordsLocation(args.value("records")); }

void TellRecordsNotKept(std::ostream& err, const QString& problem) {
    CliError(err, "records not kept: " + problem.toStdString());
}

void TellRecordsWaiting(std::ostream& err, int waiting, const QString& problem) {
    CliError(err, std::to_string(waiting) + (waiting == 1 ? " record waits" : " records wait") +
                      " to be sent to the line: " + problem.toStdString());
}

void TellRecordsSetAside(std::ostream& err, const std::vector<SetAsideRecord>& setAside) {
    if (setAside.empty())
        return;
    CliError(err, std::to_string(setAside.size()) + (setAside.size() == 1 ? " record" : " records") +
                      " set aside, refused by the line (kept in the local file; records sync tries again):");
    for (const SetAsideRecord& record : setAside) {
        CliError(err, "  " + record.id + (record.unit.empty() ? "" : " unit " + record.unit) + ": " +
                          record.reason.toStdString());
    }
}

CliRecord::CliRecord(const ParsedArgs& args, std::string kind, Host& host, std::ostream& err)
    : m_store(OpenChosen(args, err)),
      // A file that fails later is told here; one that failed to open was told above.
      m_record(m_store ? m_route : std::nullopt, host, [&err](const QString& problem) { TellRecordsNotKept(err, problem); },
               std::move(kind)),
      m_err(err) {
    Header().unit = args.value("unit").value_or("");
    if (m_store && !m_route->line.isEmpty()) {
        m_forwarder = std::make_unique<RecordForwarder>(m_route->local, m_route->line);
        m_forwarder->Start();
    }
}

std::unique_ptr<RecordStore> CliRecord::OpenChosen(const ParsedArgs& args, std::ostream& err) {
    StoreResult<std::optional<RecordsRoute>> route = RouteRecords(RecordsLocation(args));
    if (!route)
        TellRecordsNotKept(err, route.error().Text());
    m_route = route ? std::move(*route) : std::nullopt;
    if (!m_route)
        return nullptr;
    return OpenRecords(*m_route, [&err](const QString& problem) { TellRecordsNotKept(err, problem); });
}

CliRecord::~CliRecord() {
    if (!m_forwarder)
        return;
    if (m_forwarder->Drain(ForwardLimit)) {
        TellRecordsSetAside(m_err, m_forwarder->SetAside());
        return;
    }
    const QString problem = m_forwarder->Problem();
    TellRecordsWaiting(m_err, m_forwarder->Waiting(),
                       problem.isEmpty() ? QStringLiteral("the time to send them ran out") : problem);
}

void CliRecord::SetUniqueSerials(bool on) {
    if (on && !m_claims)
        m_claims = std::make_unique<SerialClaims>(m_store ? m_route->Claims() : QString());
    m_record.SetUniqueSerials(on ? m_claims.get() : nullptr);
}

void CliRecord::SignedBy(const CliLogIn& login) {
    login.Sign(Header());
    if (m_store)
        login.Sign(*m_store);
}

void CliRecord::SetPort(const ParsedArgs& args, CliSession& session) {
    // The path, as the station names the port too; as given when none was reached.
    const std::string& opened = session.openedPort;
    Header().port = opened.empty() ? args.value("port").value_or("") : opened;
    Header().speed = session.openedSpeed;
    m_record.WatchTransactions(session.station.transactor);
}

Record CliRecord::Ending(RecordOutcome outcome, const std::string& reason, int exitCode) {
    // A command that could not start has its header only once started, as Finish does.
    m_record.Start();
    Record record = m_record.Snapshot();
    record.header.outcome = outcome;
    record.header.reason = reason;
    record.header.exitCode = exitCode;
    return record;
}

int CliRecord::Finish(RecordOutcome outcome, std::string reason, int exitCode) {
    m_record.Finish(outcome, std::move(reason), exitCode);
    if (m_forwarder)
        m_forwarder->Nudge();
    return exitCode;
}

}  // namespace tamrisk

namespace tamrisk {

bool CliRecord::AddRecord(RecordHeader header) {
    if (!m_store) {
        TellRecordsNotKept(m_err, QStringLiteral("records are off"));
        return false;
    }
    const RecordHeader fresh = NewRecordHeader(header.kind);
    const RecordHeader& own = m_record.Header();
    if (header.id.empty())
        header.id = fresh.id;
    const auto fill = [](std::string& field, const std::string& own, const std::string& made) {
        if (field.empty())
            field = own.empty() ? made : own;
    };
    fill(header.station, own.station, fresh.station);
    fill(header.operatorName, own.operatorName, fresh.operatorName);
    fill(header.operatorId, own.operatorId, fresh.operatorId);
    fill(header.computerLogin, own.computerLogin, fresh.computerLogin);
    fill(header.version, own.version, fresh.version);
    if (header.startedMs == 0)
        header.startedMs = QDateTime::currentMSecsSinceEpoch();
    StoreResult<void> kept = m_store->Begin(header);
    if (kept)
        kept = m_store->Finish(header);
    if (!kept) {
        TellRecordsNotKept(m_err, kept.error().Text());
        return false;
    }
    if (m_forwarder)
        m_forwarder->Nudge();
    return true;
}

}  // namespace tamrisk
