#pragma once
// The record that every printer command of tamrisk-cli keeps of its operation:
// the records file chosen by --records, else TAMRISK_RECORDS, else the user's
// records file ("off" keeps nothing); its header from the command's options and
// port; its lines teed from the command's sink; its outcome and exit status.
// A records file that cannot be written costs the command nothing but one line
// on stderr: its output and exit status stay as they are.

#include "cliargs.h"
#include "recorder.h"

#include <QString>
#include <QTimer>

#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tamrisk {

struct CliSession;

// `withValue` of a printer command plus the record's own options, --records and --unit.
std::set<std::string> WithRecordOptions(std::set<std::string> withValue);

// The records file that `args` choose: --records, else TAMRISK_RECORDS, else
// RecordStore::DefaultLocation(); empty for "off".
QString RecordsLocation(const ParsedArgs& args);

// Opens the records file at `location` and marks the records left unfinished by
// ended programs aborted. Null, after `tell` received "<file>: <reason>", when
// it cannot be opened or written.
std::unique_ptr<RecordStore> OpenRecords(const QString& location, const std::function<void(const QString&)>& tell);

// Writes "tamrisk-cli: records not kept: <file>: <reason>" on `err`.
void TellRecordsNotKept(std::ostream& err, const QString& problem);

class CliRecord {
public:
    // Opens the records file of `args` for a record of `kind`, with the unit of
    // --unit; messages about the file go to `err`. `host` gives the clock.
    CliRecord(const ParsedArgs& args, std::string kind, Host& host, std::ostream& err);
    ~CliRecord();
    CliRecord(const CliRecord&) = delete;
    CliRecord& operator=(const CliRecord&) = delete;

    // Filled before Start: the kind, station, operator, version and unit are set.
    RecordHeader& Header() { return m_header; }
    // The port as given (--port, or the saved one) and as opened, and the speed.
    void SetPort(const ParsedArgs& args, const CliSession& session);
    // Writes the header; the record's time starts now.
    void Start();
    // The command's result sink teed into the record. Either Tee or Keep, once.
    ResultSink& Tee(ResultSink& inner);
    // A sink whose lines are kept in the record only, for a command that shows
    // them another way (on stderr, or as the journal view's lines).
    ResultSink& Keep();
    void Serial(RecordSerial serial) { m_recorder.Serial(std::move(serial)); }
    // The image saved in `file`: its length and SHA-256.
    void Image(std::string_view bytes, const std::string& file);
    // The image in `file` as saved (the binary journal copy writes it as it goes).
    void ImageOfFile(const std::string& file);
    // Keeps the whole record in memory too, for the run's reports. Before Start.
    void KeepWhole() { m_recorder.KeepWhole(); }
    // The record as it will be when finished with `outcome`, `reason` and `exitCode`,
    // for a report written before it is finished. Starts the record first.
    Record Ending(RecordOutcome outcome, const std::string& reason, int exitCode);
    // The first and the last red line teed or kept (UTF-8); empty when none.
    const std::string& FirstRedLine() const { return m_firstRed; }
    const std::string& LastRedLine() const { return m_lastRed; }
    // Finishes the record (starting it first when the command could not start);
    // returns `exitCode`.
    int Finish(RecordOutcome outcome, std::string reason, int exitCode);

private:
    class Watch : public ResultSink {
    public:
        explicit Watch(CliRecord& record) : m_record(record) {}
        void AppendResultLine(std::string_view text, ResultColour colour) override;
        void Flush() override;
        ResultSink* next = nullptr;

    private:
        CliRecord& m_record;
    };
    class Nothing : public ResultSink {
    public:
        void AppendResultLine(std::string_view, ResultColour) override {}
    };

    static std::unique_ptr<RecordStore> OpenChosen(const ParsedArgs& args, std::ostream& err);

    std::unique_ptr<RecordStore> m_store;
    Recorder m_recorder;
    RecordHeader m_header;
    Watch m_watch{*this};
    Nothing m_nothing;
    std::optional<QTimer> m_timer;
    std::string m_firstRed, m_lastRed;
    bool m_started = false;
};

}  // namespace tamrisk
