#pragma once
// The main window (TestForm, "Fiscal Printer Tamrisk"): port and speed, the
// connection, the script editor and the results view on two pages, the
// status line, and the menu that opens every other window.

#include <QMainWindow>

#include <memory>

class QPlainTextEdit;

namespace Ui {
class TTestForm;
}

namespace tamrisk {

class ResultsView;
class ScriptRunner;
class Station;
class TCodeForm;
class TCommandFrm;
class TJournalForm;
class TMemForm;
class TReadKlenFrm;
class TStatusDlg;

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

    // The results log every window appends to.
    ResultsView& Results();
    // Whether a script run is in progress (the status dialog reads it).
    bool ScriptRunning() const;
    // Sets the enabled state of the controls from Connected, ScriptRunning
    // and ScriptPresent.
    void UpdateControls();
    // Loads a script file into the editor and shows its name and description;
    // false (after telling the operator why) when it cannot be read.
    bool LoadScriptFile(const QString& fileName);
    // Selects the port of the list whose name or path is `nameOrPath`.
    bool SelectPort(const QString& nameOrPath);

private:
    std::unique_ptr<Ui::TTestForm> ui;
    Station& m_station;
};

}  // namespace tamrisk
