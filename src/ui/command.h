#pragma once
// The Execute Command dialog (CommandFrm, "Execute command"): one command
// number and data text sent by hand, its answer, status bytes and time shown
// and logged in the results view.

#include "closeguard.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TCommandFrm;
}

namespace tamrisk {

class OperationRecord;
class ResultSink;
enum class ExecResult;
class Station;
class StationRecords;
class TStatusDlg;

// What the dialog touches in the main window.
struct CommandFrmHooks {
    std::function<void(bool enabled)> connectEnabled;   // the main window's ConnectBt
    std::function<void(const QString& text)> timerText;  // the main window's TimerPn
};

class TCommandFrm : public QDialog {
    Q_OBJECT
public:
    TCommandFrm(Station& station, ResultSink& results, TStatusDlg* statusDlg, CommandFrmHooks hooks,
                QWidget* parent = nullptr);
    // The status dialog the Status button opens; it is created after this
    // dialog in the start-up order, so it may be handed over later (or be null).
    void SetStatusDlg(TStatusDlg* statusDlg) { m_statusDlg = statusDlg; }
    // Where every command sent is recorded (null: nowhere).
    void SetRecords(StationRecords* records) { m_records = records; }
    ~TCommandFrm() override;

    // Disables StatusBt; called each time the dialog is shown.
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void ExecuteBtClick();
    void StatusBtClick();

private:
    // Escape and the close box while a transaction runs: the dialog closes
    // when the transaction has ended.
    void reject() override;

    void ConnectEnabled(bool enabled);
    // Finishes the command's record: passed when the answer reports no error.
    void FinishRecord(OperationRecord& record, ExecResult result);

    std::unique_ptr<Ui::TCommandFrm> ui;
    Station& m_station;
    ResultSink& m_results;
    TStatusDlg* m_statusDlg;
    StationRecords* m_records = nullptr;
    CommandFrmHooks m_hooks;
    CloseGuard m_close;
};

}  // namespace tamrisk
