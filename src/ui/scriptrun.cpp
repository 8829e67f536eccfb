#include "scriptrun.h"

#include "editorlines.h"
#include "inputfile.h"
#include "operationrecord.h"
#include "resultsview.h"
#include "scriptdigest.h"
#include "scriptfile.h"
#include "scriptrunner.h"
#include "station.h"
#include "stationrecords.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include <utility>

namespace tamrisk {

std::optional<ScriptRunRequest> EditorRunRequest(Host& host, QPlainTextEdit& editor) {
    QTextDocument& document = *editor.document();
    ScriptRunRequest request;
    if (editor.textCursor().hasSelection()) {
        ExtendEditorSelection(editor);
        const LineRange range = SelectedLines(editor);
        auto asRun = EncodeScriptLines(host, EditorLines(document, range.first, range.end), range.first + 1,
                                       "the script was not run.");
        if (!asRun)
            return std::nullopt;
        request.firstLine = range.first + 1;
        request.lineRange = std::to_string(request.firstLine) + "-" + std::to_string(range.end);
        request.wholeScript = [whole = &document] { return ScriptBytes(*whole); };
        request.selection.emplace(*std::move(asRun));
    } else {
        auto asRun = EncodeScriptLines(host, EditorLines(document, 0, EditorLineCount(document)), 1,
                                       "the script was not run.");
        if (!asRun)
            return std::nullopt;
        request.wholeScript = [whole = *std::move(asRun)] { return std::optional(whole); };
    }
    return request;
}

std::optional<CheckVariables> ReadRunVariables(Host& host, const QString& variablesFile, const QString& unit) {
    CheckVariables variables;
    if (!variablesFile.isEmpty()) {
        std::string error;
        const auto bytes = ReadInputFile(variablesFile.toStdString(), error);
        if (!bytes || !ReadCheckVariables(*bytes, variables, error)) {
            host.showMessageDetail("Cannot read the variables file; the script was not run.", "Error",
                                   variablesFile.toStdString() + ": " + error);
            return std::nullopt;
        }
    }
    if (const QString trimmed = unit.trimmed(); !trimmed.isEmpty())
        variables["unit"] = trimmed.toStdString();
    return variables;
}

ScriptRunControl::ScriptRunControl(Station& station, ResultSink& results, CloseGuard& close)
    : ScriptRunControl(station, results, std::function<bool()>()) {
    m_close = &close;
}

ScriptRunControl::ScriptRunControl(Station& station, ResultSink& results, std::function<bool()> closing)
    : m_station(station), m_results(results), m_closing(std::move(closing)) {
    m_sink.target = &m_results;
    m_runner = std::make_unique<ScriptRunner>(m_station.transactor, m_station.host, m_sink,
                                              [this] { return m_station.Connected; });
}

bool ScriptRunControl::Closing() const { return m_close != nullptr ? m_close->Pending() : m_closing && m_closing(); }

ScriptRunControl::~ScriptRunControl() = default;

bool ScriptRunControl::Running() const { return m_runner->ScriptRunning; }

std::optional<RunEnded> ScriptRunControl::Run(ScriptRunRequest& request, QTextDocument* editor,
                                              StationRecords* records,
                                              const std::function<void(bool running)>& shown) {
    const std::string unit = request.unit                           ? *request.unit
                             : records != nullptr && records->unit ? records->unit()
                                                                   : std::string();
    std::string problem = EntryProblem(request.operation, request.product, unit, records != nullptr);
    if (problem.empty() && request.takeRelease && (request.operation.empty() || request.product.empty()))
        problem = "the active release of the station's product and operation runs here: choose both";
    if (!problem.empty()) {
        m_station.host.showMessage("The script was not run: " + problem + ".", "Error");
        return std::nullopt;
    }
    m_runner->SetFirstLineNumber(request.firstLine);
    m_runner->SetCheckVariables(request.variables);
    m_runner->SetStopOnFail(request.stopOnFail);

    std::unique_ptr<OperationRecord> record;
    std::optional<StationEntry> entry;
    if (records != nullptr) {
        record = m_begin ? m_begin(*records) : records->Begin("run");
        RecordHeader& header = record->Header();
        header.script = request.scriptFile;
        // Of the whole script, also for a selection, as the CLI gives it for the file.
        if (const auto whole = request.wholeScript ? request.wholeScript() : std::nullopt)
            header.scriptSha256 = ScriptSha256(*whole);
        header.lineRange = request.lineRange;
        header.engineering = request.engineering;
        entry.emplace(*records, *record, m_station.host, request.operation, request.product);
    } else {
        // Not recorded: a record that keeps nothing still judges how the run ended.
        record = std::make_unique<OperationRecord>(std::nullopt, m_station.host, [](const QString&) {}, "run");
        record->WatchTransactions(m_station.transactor);
    }

    m_runner->ScriptRunning = true;
    shown(true);
    // A close asked for during the run is carried out once it has unwound.
    std::optional<CloseGuard::Busy> busy;
    if (m_close != nullptr)
        busy.emplace(*m_close);
    // Nothing goes to the printer before the unit may enter; Cancel ends the wait.
    m_station.state.CancelRequest = false;
    std::optional<StringScriptList> released;
    qint64 releaseId = 0;
    // A release is taken before the unit enters, so that a unit is never in test without one.
    const auto ready = [&] {
        if (!request.takeRelease)
            return true;
        const std::optional<TakenRelease> taken = entry->TakeRelease(m_results, m_entryShown);
        if (!taken)
            return false;
        releaseId = taken->release.id;
        return UseRelease(request, *taken, *records->Releases(), *record, *entry, released);
    };
    const auto cancelled = [this] { return m_station.state.CancelRequest; };
    const auto ended = [&record]() -> std::optional<RunEnded> {
        if (!record || !record->Outcome())
            return std::nullopt;
        return RunEnded{*record->Outcome(), record->Reason(), record->Header().kind == "entry"};
    };
    if (entry && (!ready() || !entry->Enter(m_results, m_entryShown, cancelled))) {
        m_runner->ScriptRunning = false;
        shown(false);
        return ended();
    }
    std::optional<EditorScriptList> whole;
    if (!released && !request.selection)
        whole.emplace(*editor);
    ScriptList& lines = released            ? static_cast<ScriptList&>(*released)
                        : request.selection ? static_cast<ScriptList&>(*request.selection)
                                            : *whole;
    if (record) {
        record->Start();
        m_sink.target = &record->Tee(m_results);
        m_runner->SetRunObserver(record.get());
        if (records != nullptr)
            m_runner->SetClaimWait(records->ClaimWait());
    }
    const RunOutcome outcome = m_runner->RunScript(lines);
    m_runner->ScriptRunning = false;
    // The numbers go on from here at this station's next run of the release.
    if (released && released->Changed())
        KeepProgress(request, *records->Releases(), releaseId, record->Header().station, *released);
    shown(false);
    if (record) {
        m_sink.target = &m_results;
        m_runner->SetRunObserver(nullptr);
        // Given back with any outcome, once the run's record is kept.
        const RecordOutcome kept = Finish(records, *record, outcome);
        if (entry)
            entry->Leave(kept, m_entryShown);
    }
    return ended();
}

bool ScriptRunControl::UseRelease(ScriptRunRequest& request, const TakenRelease& taken, ActiveReleases& releases,
                                  OperationRecord& record, StationEntry& entry,
                                  std::optional<StringScriptList>& lines) {
    const ScriptRelease& release = taken.release;
    CheckVariables variables;
    std::string error;
    if (!ReadCheckVariables(release.vars, variables, error)) {
        return entry.Refuse(m_results, m_entryShown, RecordOutcome::Error,
                            "the variables file of release " + std::to_string(release.number) +
                                " does not read: " + error);
    }
    for (const auto& [name, value] : request.variables)
        variables.insert_or_assign(name, value);
    m_runner->SetCheckVariables(variables);
    m_runner->SetFirstLineNumber(1);
    std::string notice;
    const std::string text = releases.TextToRun(release, record.Header().station, notice);
    lines.emplace(SplitScriptLines(text));
    RecordHeader& header = record.Header();
    header.script = release.scriptName;
    header.scriptSha256 = ScriptSha256(lines->Lines());
    header.lineRange.clear();
    if (!taken.notice.empty())
        m_results.AppendResultLine("** " + taken.notice, ResultColour::Black);
    if (!notice.empty())
        m_results.AppendResultLine("** " + notice, ResultColour::Black);
    if (request.released)
        request.released(taken, text);
    return true;
}

void ScriptRunControl::KeepProgress(const ScriptRunRequest& request, ActiveReleases& releases, qint64 releaseId,
                                    const std::string& station, const StringScriptList& lines) {
    const std::string text = JoinScriptLines(lines.Lines());
    if (const StoreResult<void> kept = releases.KeepProgress(releaseId, station, text); !kept)
        m_sink.AppendResultLine("** The serial numbers of this run are not kept for the next one: " +
                                    kept.error().Text().toStdString(),
                                ResultColour::Red);
    if (request.advanced)
        request.advanced(text);
}

RecordOutcome ScriptRunControl::Finish(StationRecords* records, OperationRecord& record, RunOutcome outcome) {
    const std::string portReason =
        outcome == RunOutcome::NotStarted ? std::string("Serial port not open") : record.LastRedLine();
    Verdict verdict = RunVerdict(outcome, record, portReason,
                                 Closing() ? std::string("the window was closed during it") : std::string());
    if (records != nullptr)
        records->Finish(record, verdict.outcome, std::move(verdict.reason));
    else
        record.Finish(verdict.outcome, std::move(verdict.reason));
    return verdict.outcome;
}

}  // namespace tamrisk
