#pragma once
// The main window (TestForm, "Fiscal Printer Tamrisk"): port and speed, the
// connection, the script editor and the results view on two pages, the
// status line, and the menu that opens every other window. The window wires
// its controls and handlers to the jobs it uses, each in a file of its own: a
// script run (scriptrun.h), the status line (statusline.h), the count of
// records waiting for the line (waitingpanel.h), script files (scriptfile.h),
// the results saved to a file (resultsexport.h), the double click on the
// results (doubleclick.h), the variables file (variablesfile.h), the
// records' actions (recordsactions.h) and the operation and product of the
// line's process (unitprocess.h).

#include "closeguard.h"
#include "connectionwidgets.h"
#include "doubleclick.h"
#include "notifier.h"
#include "operatorstore.h"
#include "privileges.h"
#include "record.h"
#include "variablesfile.h"

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>

class QAction;
class QTimer;

namespace Ui {
class TTestForm;
}

namespace tamrisk {

class RecordsActions;
struct TakenRelease;
class ResultsView;
class ScriptFiles;
class ScriptRunControl;
class SocketWindow;
struct ScriptRunRequest;
class Station;
class StationRecords;
class StatusLine;
class TCodeForm;
class TCommandFrm;
class TJournalForm;
class TMemForm;
class TReadKlenFrm;
class TStatusDlg;
class UnitProcess;
class WaitingPanel;
struct CommandFrmHooks;

// The windows the main window opens, created after it in the start-up order.
struct StationWindows {
    TCommandFrm* CommandFrm = nullptr;
    TStatusDlg* StatusDlg = nullptr;
    TCodeForm* CodeForm = nullptr;
    TMemForm* MemForm = nullptr;
    TJournalForm* JournalForm = nullptr;
    TReadKlenFrm* ReadKlenFrm = nullptr;
};

class TTestForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TTestForm(Station& station, QWidget* parent = nullptr);
    ~TTestForm() override;

    void SetWindows(const StationWindows& windows);
    // Where the runs are recorded (null: nowhere); the records take the unit
    // from the Unit box and show every outcome in the status line. With a line
    // database the status line shows, once a second, how many records wait to
    // be sent to it, and why when they cannot be.
    void SetRecords(StationRecords* records);
    // Shows an operation's outcome in the status line, in its colour.
    void ShowOutcome(RecordOutcome outcome, const QString& reason);
    // Writes the results view to `fileName` in one step: HTML with the lines'
    // colours when `html`, else plain UTF-8 text. False with `error` on failure.
    bool SaveResults(const QString& fileName, bool html, QString& error);
    // What the Execute Command dialog touches here: ConnectBt and TimerPn.
    CommandFrmHooks CommandHooks();

    // The results log every window appends to.
    ResultsView& Results();
    // Whether a script run is in progress (the status dialog reads it).
    bool ScriptRunning() const;
    // Sets the enabled state of the controls from Connected, ScriptRunning
    // and ScriptPresent.
    void UpdateControls();
    // Loads a script file into the editor and shows its name and description;
    // false (after telling the operator why) when it cannot be read, and the
    // editor keeps what it held.
    bool LoadScriptFile(const QString& fileName);
    // Selects the port of the list whose name or path is `nameOrPath`; before
    // the window is first shown, the choice is applied once the list is filled.
    bool SelectPort(const QString& nameOrPath);
    static constexpr const char* StopOnFailSetting = "StopOnFail";
    static constexpr const char* VariablesFileSetting = VariablesFileChoice::Setting;
    // The variables file the checks of every run read at its start (empty:
    // none), named in VarsPn and, with `remember`, kept in the settings (a
    // file given on the command line is for this session only).
    void SetVariablesFile(const QString& fileName, bool remember = true);
    QString VariablesFile() const { return m_variablesFile->File(); }

    // The person logged in (none: nobody logs in, and nothing is greyed out):
    // named with their role in the status line; what their role may not use is
    // disabled, its tooltip naming the role that may. Log Out shows with a person.
    // Each person starts running the active release (Engineering Run unchecked).
    void SetPerson(const std::optional<Operator>& person);
    // Whether the person logged in may use `privilege` (anyone may where nobody logs in).
    bool Allowed(Privilege privilege) const;
    // Log Out, and the setting of the idle log-out (whoever logs people in acts on them).
    QAction& LogOutAction();
    QAction& IdleLogOutAction();
    // The socket window (Sockets in the Test menu), made at the first call:
    // each socket runs what Execute would run, for the socket's unit, and the
    // serial numbers a socket's run advanced go back into the script page.
    SocketWindow& Sockets();
    // Ends the sockets' runs (cancelled, recorded aborted) and closes their
    // window, before the records they write to go.
    void EndSockets();
    // Busy with something that must end before the window may close: a
    // run, a transaction, or a box or dialog over the window.
    bool Busy() const;

    // Whether the window may take this size: wider than the Clear
    // button's right edge plus 16 pixels and at least 320 pixels high. The
    // window's minimum size keeps to it.
    bool FormCanResize(int width, int height) const;
    // The main window's first size on a screen of `screen` pixels: 7/8 of each side.
    static QSize InitialSize(QSize screen);

    bool ScriptPresent = false;
    // The text after the '@' of the first description line of the script
    // loaded or saved last (8-bit Windows-1251, at most 255 characters).
    std::string ScriptDescription;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void ConnectBtClick();
    void ExecuteBtClick();
    void CancelBtClick();
    void ClearBtClick();
    void CommandMClick();
    void ReadFirmwareMClick();
    void ReadFMemMClick();
    void JournalMClick();
    void ReadKlenBinMClick();
    void LoadScriptMClick();
    void SaveMClick();
    void HelpMClick();
    void ScrMemoChange();
    void ScriptTmrTimer();
    void SaveResultsMClick();
    void UnitBoxReturn();

private:
    // The smallest size FormCanResize allows, from where the layout put the Clear button.
    QSize SmallestFormSize() const;
    void FormShow();
    void FormClose();
    void PortNumDropDown();
    void ScrMemoMouseUp(bool shift);
    void FPDataMouseDown(Qt::MouseButtons buttons);
    void ShowConnected(bool connected);
    // Whether Execute runs the active release: a person is logged in and
    // Engineering Run is not checked.
    bool RunsRelease() const;
    // Puts the release a run took on the script page as `text` (its own, or
    // as this station's last run of it left it), read-only under its title
    // ("Release 3 of FP-3 final"), the page's own script set aside; the
    // status line names it, or says that a copy kept here runs.
    void ShowRelease(const TakenRelease& taken, const std::string& text);
    // Shows `text` of the release on the page: before a run, or as the run
    // left it with its serial numbers advanced.
    void ShowReleaseText(const std::string& text);
    // Engineering Run chosen by the person (`on`) or not: checked, a page
    // showing a release gets its own script back, when it had one.
    void EngineeringMClick(bool on);
    // Enables `action` when `enabled` and the person may use `privilege`; when
    // they may not, its tooltip names the role that may.
    void Guard(QAction& action, Privilege privilege, bool enabled);
    // Fills what every run takes from the window (the page's script unless the
    // release runs, the variables read now with `unit`, stop on failure, the
    // operation and product); false after a message when the script or the
    // variables file cannot be read.
    bool FillRunRequest(ScriptRunRequest& request, bool release, const QString& unit);
    // A socket's request for `unit`: the whole page's script, or the release.
    std::optional<ScriptRunRequest> SocketRequest(const std::string& unit, std::string& problem);
    // A socket's run left `advanced`: the page takes it while it still holds `started`.
    void SocketAdvanced(const std::vector<std::string>& started, const std::vector<std::string>& advanced);

    std::unique_ptr<Ui::TTestForm> ui;
    Station& m_station;
    Notifier::Subscription m_connectionLost;
    std::unique_ptr<ResultsView> m_results;
    CloseGuard m_close;
    std::unique_ptr<ScriptRunControl> m_run;
    std::unique_ptr<ScriptFiles> m_scriptFiles;
    std::unique_ptr<StatusLine> m_statusLine;
    std::unique_ptr<WaitingPanel> m_waiting;
    std::unique_ptr<RecordsActions> m_recordsActions;
    std::unique_ptr<UnitProcess> m_process;  // the operation and the product
    DoubleClickTimer m_clicks;
    StationRecords* m_records = nullptr;
    QString m_scriptFile;  // the name of the script file loaded or saved last
    StationWindows m_windows;
    QTimer* ScriptTmr;
    bool m_shown = false;
    bool m_forwarding = false;  // an event filter is handing the event on first
    std::optional<QString> m_pendingPort;
    std::optional<Role> m_role;  // the role of the person logged in; none: nobody logs in
    std::optional<QString> m_pageRelease;  // the title of the release the script page shows; none: its own script
    QString m_ownScript;                   // the page's own script, set aside while it shows a release
    bool m_showingRelease = false;         // the page is being given a release: no edit of the person's
    std::unique_ptr<VariablesFileChoice> m_variablesFile;
    std::unique_ptr<SocketWindow> m_sockets;
};

}  // namespace tamrisk
