#pragma once
// The station's records: one records file for the whole session, chosen by the
// "Records" setting (a path, or "off"; TAMRISK_RECORDS in the environment
// overrides it; the user's records file by default), opened once at start, when
// the records of programs that ended early are marked aborted. Every window that
// talks to a printer takes its operation's record from here, with the station's
// name (the "StationName" setting, else the host name), the unit the operator
// gave, and the port and speed. A records file that cannot be written is told to
// the operator once, with the file and the reason, and costs the operation nothing.
// With the "UniqueSerials" setting on, a script run claims every serial number
// before it is sent where the records' claims are made (the line's database when
// the records go to one, else the records file), so that no number is given
// twice; with records off it then sends none and ends with an error. A claim
// whose database is out of reach waits for it at most the "ClaimWait" setting's
// seconds (DefaultClaimWait when unset). Units enter operations where the
// claims are made, and wait for it as a claim does.

#include "operationrecord.h"
#include "operatorstore.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QWidget;

namespace tamrisk {

class ActiveReleases;
class RecordForwarder;
class RecordsReader;
class Station;
class UnitEntries;

class StationRecords {
public:
    // Setting names.
    static constexpr const char* RecordsSetting = "Records";
    static constexpr const char* StationNameSetting = "StationName";
    static constexpr const char* UniqueSerialsSetting = "UniqueSerials";
    static constexpr const char* ClaimWaitSetting = "ClaimWait";

    // `window` carries the message box about an unwritable records file.
    StationRecords(Station& station, QWidget* window);
    ~StationRecords();
    StationRecords(const StationRecords&) = delete;
    StationRecords& operator=(const StationRecords&) = delete;

    // Opens the chosen records file; nothing when records are off. Once.
    void Open();
    // The records file chosen; empty when records are off.
    QString Location() const { return m_location; }
    // Where the records are written: this computer's local file when they go on to
    // a line's database, else Location().
    QString LocalLocation() const;
    // The line's database (a postgresql:// URL) the records are sent on to; empty when none.
    QString LineLocation() const;
    // Sends the records on to the line's database in the background; null when
    // there is none (or before Open).
    RecordForwarder* Forwarder() const { return m_forwarder.get(); }

    // True when no serial number may be given twice (off by default).
    bool UniqueSerials() const { return m_uniqueSerials; }
    // Sets and saves it; the next record begun follows it.
    void SetUniqueSerials(bool on);
    // How long a claim waits for a database out of reach, in whole seconds.
    std::chrono::seconds ClaimWait() const { return m_claimWait; }
    // Sets and saves it (0 to 86400 s, others are clamped); the next run follows it.
    void SetClaimWait(std::chrono::seconds wait);

    // Where every station's questions go (the line's database, else the
    // records file: RecordsRoute::Claims()), the people who log in among
    // them; empty with records off or not kept, and before Open.
    QString LineQuestions() const;
    // The person logged in (none: nobody logs in, the computer's login is
    // named): the records begun from now on name them (operatorId and
    // operatorName), and the changes of the station's stores are theirs.
    void SetPerson(const std::optional<Operator>& person);

    // Where units enter operations (the line's database or the records file),
    // opened at the first question; null with records off and before Open.
    UnitEntries* Entries() const { return m_entries.get(); }
    // The active releases of products and operations, taken where units
    // enter and kept in the local file when taken from a line's database;
    // null with records off and before Open.
    ActiveReleases* Releases() const { return m_releases.get(); }
    // Keeps a record of `given.kind` whole and finished at once, beside the
    // runs (a hold a run made): its id, unit, operation, product, outcome and
    // reason as given, this station's name. Sent on with the others.
    void AddRecord(const RecordHeader& given);

    // A record of `kind` for an operation on the connected printer, not started;
    // a script run it watches claims its numbers when UniqueSerials is on.
    std::unique_ptr<OperationRecord> Begin(std::string kind);
    // The same for a run on another station's link (a socket of the socket
    // window, on its own thread): its transactions, port and speed, its own
    // `claims` (null: none; claims keep state of their own run) when
    // UniqueSerials is on. Safe to call from that thread once Open has run.
    // Such records share one writer thread and connection to the records file.
    std::unique_ptr<OperationRecord> Begin(std::string kind, Station& station, SerialClaims* claims);
    // Where the serial numbers are claimed (a socket makes its own SerialClaims
    // there); empty with records off or not kept, and before Open.
    QString ClaimsLocation() const { return LineQuestions(); }
    // Adds to the finished record `id` the image saved afterwards in `file`; with
    // a line's database it is sent on too, also when the record was sent before.
    // Written on a thread of its own: the window never waits for the records file;
    // a failure is told as every records failure is, once.
    void ImageSaved(const std::string& id, std::string kind, std::string_view bytes, const QString& file);
    // True while an image handed to ImageSaved is not written yet.
    bool Writing() const;
    // Finishes `record` and shows its outcome (outcomeShown), unless called
    // from another thread than the window's: a socket shows its own.
    void Finish(OperationRecord& record, RecordOutcome outcome, std::string reason);

    // The unit's identity as the operator gave it (UTF-8); empty when none.
    std::function<std::string()> unit;
    // Told each outcome, to show it (the main window's status line).
    std::function<void(RecordOutcome outcome, const QString& reason)> outcomeShown;
    // Told the one message about an unwritable records file (the status line).
    std::function<void(const QString& message)> problemShown;

private:
    std::unique_ptr<OperationRecord> Begin(std::string kind, Station& station, SerialClaims* claims,
                                           std::shared_ptr<RecordsWriterThread> writer);
    void TellOnce(const QString& problem);
    // The station's name and the person logged in, in a record's header.
    void NamePerson(RecordHeader& header) const;

    Station& m_station;
    QPointer<QWidget> m_window;
    QString m_location;
    std::optional<RecordsRoute> m_route;  // where records go: decided once from m_location
    QString m_routeProblem;               // why m_location cannot be taken
    std::string m_stationName;
    // The person logged in; none: the computer's login. Read by the sockets' runs on their threads.
    std::optional<Operator> m_person;
    mutable std::mutex m_personMutex;
    std::unique_ptr<RecordStore> m_store;
    // The writer the records of runs on other stations' links share; made by the first.
    std::shared_ptr<RecordsWriterThread> m_runsWriter;
    std::mutex m_runsWriterMutex;
    std::unique_ptr<RecordForwarder> m_forwarder;  // with a line's database, made by Open
    std::unique_ptr<SerialClaims> m_claims;  // made by Open
    std::unique_ptr<UnitEntries> m_entries;  // made by Open with records kept
    std::unique_ptr<ActiveReleases> m_releases;  // made by Open with records kept
    // Images saved after their record ended, written on its thread; made by Open.
    std::unique_ptr<RecordsReader> m_lateWrites;
    bool m_uniqueSerials = false;
    std::chrono::seconds m_claimWait = DefaultClaimWait;
    bool m_opened = false;
    bool m_told = false;  // read and set on the window's thread only
};

// "PASS", "FAIL", "ABORTED", "ERROR".
QString OutcomeCaption(RecordOutcome outcome);

}  // namespace tamrisk
