#pragma once
// The record that every printer command of tamrisk-cli keeps of its operation:
// the records file chosen by --records, else TAMRISK_RECORDS, else the user's
// records file ("off" keeps nothing); its header from the command's options and
// port; its lines teed from the command's sink; its outcome and exit status.
// A records file that cannot be written costs the command nothing but one line
// on stderr: its output and exit status stay as they are.

#include "cliargs.h"
#include "operationrecord.h"
#include "recordforwarder.h"

#include <QString>

#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>
#include <string_view>

namespace tamrisk {

struct CliLogIn;
struct CliSession;

// `withValue` of a printer command plus the record's own options, --records and --unit.
std::set<std::string> WithRecordOptions(std::set<std::string> withValue);

// The records file that `args` choose: --records, else TAMRISK_RECORDS, else
// RecordStore::DefaultLocation(); empty for "off".
QString RecordsLocation(const ParsedArgs& args);

// Writes "tamrisk-cli: records not kept: <file>: <reason>" on `err`.
void TellRecordsNotKept(std::ostream& err, const QString& problem);
// Writes "tamrisk-cli: N records wait to be sent to the line: <reason>" on `err`.
void TellRecordsWaiting(std::ostream& err, int waiting, const QString& problem);
// Writes "tamrisk-cli: N records set aside ..." on `err`, then a line for each
// record: its id, unit and the line's reason. Nothing when none is.
void TellRecordsSetAside(std::ostream& err, const std::vector<SetAsideRecord>& setAside);

class CliRecord {
public:
    // Opens the records file of `args` for a record of `kind`, with the unit of
    // --unit; messages about the file go to `err`. `host` gives the clock. With a
    // line's database the record is written to the local file, and what waits
    // there is sent on in the background.
    CliRecord(const ParsedArgs& args, std::string kind, Host& host, std::ostream& err);
    // With a line's database, sends what waits for at most ForwardLimit; what could
    // not be sent waits in the local file, told in one line on `err`; records the
    // line refused are named there too.
    ~CliRecord();
    CliRecord(const CliRecord&) = delete;
    CliRecord& operator=(const CliRecord&) = delete;

    // Filled before Start: the kind, station, operator, version and unit are set.
    RecordHeader& Header() { return m_record.Header(); }
    // The person logged in names the record (its operator ID and name) and
    // makes the changes written through its records file. Before Start.
    void SignedBy(const CliLogIn& login);
    // The port by its path (as given with --port when no path was found for it), and
    // the speed; the transactions of the session's station become the record's steps.
    void SetPort(const ParsedArgs& args, CliSession& session);
    // Writes the header; the record's time starts now.
    void Start() { m_record.Start(); }
    // The command's result sink teed into the record. Either Tee or Keep, once.
    ResultSink& Tee(ResultSink& inner) { return m_record.Tee(inner); }
    // A sink whose lines are kept in the record only, for a command that shows
    // them another way (on stderr, or as the journal view's lines).
    ResultSink& Keep() { return m_record.Keep(); }
    // Takes the serial numbers a script run sends.
    RunObserver& Observer() { return m_record; }
    // Claims every serial number before it is sent, where the records' claims are
    // made (ClaimsLocation); with records not kept, no number is sent.
    void SetUniqueSerials(bool on);
    // The image saved in `file`: its length and SHA-256.
    void Image(std::string_view bytes, const std::string& file) { m_record.Image(bytes, file); }
    // The image in `file` as saved (the binary journal copy writes it as it goes).
    void ImageOfFile(const std::string& file) { m_record.ImageOfFile(file); }
    // The operation's record, for its verdict.
    const OperationRecord& Operation() const { return m_record; }
    // Keeps the whole record in memory too, for the run's reports. Before Start.
    void KeepWhole() { m_record.KeepWhole(); }
    // The record as it will be when finished with `outcome`, `reason` and `exitCode`,
    // for a report written before it is finished. Starts the record first.
    Record Ending(RecordOutcome outcome, const std::string& reason, int exitCode);
    // Finishes the record (starting it first when the command could not start);
    // returns `exitCode`.
    int Finish(RecordOutcome outcome, std::string reason, int exitCode);
    // Where units enter operations and numbers are claimed: the line's database
    // when records go to one, else the records file; empty with records off.
    QString LineLocation() const { return m_store ? m_route->Claims() : QString(); }
    // Keeps a record of its own beside this one, whole and finished at once (a
    // hold, a release): `header`'s id as given, or a new one; its station,
    // operator, version and start from this record's when not given. Sent on
    // with the others. False after a line on `err` when it cannot be kept.
    bool AddRecord(RecordHeader header);

    // Longest a command waits, as it ends, for the records waiting to reach the line.
    static constexpr std::chrono::milliseconds ForwardLimit{3000};

private:
    // Opens the local file of the route chosen by `args`; null for records off or not kept.
    std::unique_ptr<RecordStore> OpenChosen(const ParsedArgs& args, std::ostream& err);

    std::optional<RecordsRoute> m_route;  // where records go, decided once

    std::unique_ptr<RecordStore> m_store;
    std::unique_ptr<SerialClaims> m_claims;
    OperationRecord m_record;
    std::unique_ptr<RecordForwarder> m_forwarder;  // with a line's database
    std::ostream& m_err;
};

}  // namespace tamrisk
