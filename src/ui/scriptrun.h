#pragma once
// A script run started from the main window: the runner over the station's
// link, writing to the results view; the run's record while records are kept
// (the view's lines teed into it, its claims waiting as long as the records
// say); and the verdict the record is finished with. The window says what to
// run and shows the run; this says how a run is carried out and kept.

#include "answercheck.h"
#include "closeguard.h"
#include "linesink.h"
#include "scriptlist.h"
#include "unitprocess.h"

#include <QString>

class QPlainTextEdit;
class QTextDocument;

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

class Host;
class OperationRecord;
class ResultsView;
class ScriptRunner;
class Station;
class StationRecords;
enum class RunOutcome;

// What a run is asked to run, and with what.
struct ScriptRunRequest {
    // The selected lines as the station's bytes; none: the whole editor, run in
    // place so that advanced serial numbers show in it at once.
    std::optional<StringScriptList> selection;
    std::string scriptFile;  // the name of the script file loaded or saved last; empty: none
    // The unit under test (UTF-8); none: the records' unit (the Unit box).
    std::optional<std::string> unit;
    // The whole script as the station's bytes, for the record's digest (also
    // for a selection); asked only while records are kept. Nothing: no digest.
    std::function<std::optional<std::vector<std::string>>()> wholeScript;
    std::string lineRange;  // "first-last" of a selection run; empty for the whole script
    int firstLine = 1;      // the number of the first line run, in the log's messages
    CheckVariables variables;
    bool stopOnFail = false;
    // The operation this station does and the unit's product (UTF-8); with
    // both, the unit's entry is checked before anything is sent. Empty: none.
    std::string operation, product;
    // Where people log in: the active release of the operation and product
    // runs instead of the lines given (both needed), taken before the unit
    // enters; its variables file's variables are read under `variables`
    // (which {unit} overrides), and `released` sees the release and the text
    // that runs (its own, or as this station's last run of it left it) before
    // it runs; `advanced` sees the text a run that advanced a serial number
    // left, which is kept as the station's progress through the release.
    bool takeRelease = false;
    std::function<void(const TakenRelease& taken, const std::string& text)> released;
    std::function<void(const std::string& text)> advanced;
    // Where people log in, a run of a script that is not the active release: its record says so.
    bool engineering = false;
};

// What Execute runs of `editor`: its selection widened to whole lines, or
// else every line, checked to be Windows-1251 text. Nothing, after telling
// the operator through `host` which line holds a character it cannot carry.
std::optional<ScriptRunRequest> EditorRunRequest(Host& host, QPlainTextEdit& editor);

// The variables of a run's checks: those of `variablesFile` (empty: none),
// read now, and `unit` (trimmed; none when empty) as {unit}. Nothing, after
// telling the operator through `host` why, when the file cannot be read.
std::optional<CheckVariables> ReadRunVariables(Host& host, const QString& variablesFile, const QString& unit);

// How a run ended, for a window that shows its verdict: nothing when it was
// not run (the reason told through the host), else the outcome its record
// was finished with and why, `refused` when its unit may not enter (or no
// active release may run).
struct RunEnded {
    RecordOutcome outcome = RecordOutcome::Error;
    std::string reason;
    bool refused = false;
};

class ScriptRunControl {
public:
    // A close of the window asked for during a run is put off by `close`
    // until the run has unwound and its record is finished.
    ScriptRunControl(Station& station, ResultSink& results, CloseGuard& close);
    // A run on a socket's own thread: no close is put off; `closing` tells
    // whether a cancel comes from the window being closed.
    ScriptRunControl(Station& station, ResultSink& results, std::function<bool()> closing);
    ~ScriptRunControl();

    // The runner, for its hooks and its elapsed-time timer.
    ScriptRunner& Runner() { return *m_runner; }
    // Whether a run is in progress (ScriptRunning).
    bool Running() const;

    // How the window shows a unit's entry.
    void SetEntryShown(EntryShown shown) { m_entryShown = std::move(shown); }

    // Runs `request`'s selection, or else the whole of `editor` (null: a
    // request with a selection or a release), recorded in `records` (null:
    // not recorded, only judged); how it ended, none when it was not run. A request naming an operation and a
    // product first has its unit's entry checked (StationEntry), nothing sent
    // before it is answered; one whose entry cannot be checked is not run,
    // after a message. `shown(true)` is called once the run is marked running,
    // before the entry and the run, and `shown(false)` once it has ended,
    // before its record is finished. A request that takes the release takes
    // it after `shown(true)`, before the entry; without one it runs nothing.
    std::optional<RunEnded> Run(ScriptRunRequest& request, QTextDocument* editor, StationRecords* records,
                                const std::function<void(bool running)>& shown);
    // The record of a run of a socket on its own thread: Begin's with the
    // station's link and its own claims. Unset: StationRecords::Begin(kind).
    void SetRecordBegun(std::function<std::unique_ptr<OperationRecord>(StationRecords&)> begin) {
        m_begin = std::move(begin);
    }

private:
    // Makes `taken` what the run runs: its lines as this station last left
    // them (ActiveReleases::TextToRun of `releases`) into `lines`, its
    // variables under `request`'s, its name and digest in `record`. False when
    // its variables file does not read, the run ended by `entry`.
    bool UseRelease(ScriptRunRequest& request, const TakenRelease& taken, ActiveReleases& releases,
                    OperationRecord& record, StationEntry& entry, std::optional<StringScriptList>& lines);
    // Keeps `lines`, which a run of release `releaseId` advanced, as this
    // station's progress through it, and shows them (request.advanced); a
    // progress that cannot be kept is told in red on the results.
    void KeepProgress(const ScriptRunRequest& request, ActiveReleases& releases, qint64 releaseId,
                      const std::string& station, const StringScriptList& lines);
    // Finishes the run's record with the outcome the run ended with, through
    // `records` (null: a record that keeps nothing); the verdict's outcome.
    RecordOutcome Finish(StationRecords* records, OperationRecord& record, RunOutcome outcome);
    // Whether the window is being closed: a cancel is told as the close.
    bool Closing() const;

    // The runner's sink: the results view, teed into the run's record while one is kept.
    class RunSink : public ResultSink {
    public:
        void AppendResultLine(std::string_view text, ResultColour colour) override {
            target->AppendResultLine(text, colour);
        }
        void Flush() override { target->Flush(); }
        ResultSink* target = nullptr;
    };

    Station& m_station;
    ResultSink& m_results;
    CloseGuard* m_close = nullptr;
    std::function<bool()> m_closing;
    std::function<std::unique_ptr<OperationRecord>(StationRecords&)> m_begin;
    RunSink m_sink;
    std::unique_ptr<ScriptRunner> m_runner;
    EntryShown m_entryShown;
};

}  // namespace tamrisk
