#pragma once
// The electronic journal's window (JournalForm, "Read, Print and Check
// Journal"): reads the printer's journal as text into its view, has parts of
// it printed, checks a Z-report's journal, shows the journal's information,
// takes the SHA-1 of the selected lines, and loads and saves text files. The
// view's lines, the query and "Small" stay from one showing to the next.
// Read, Print, Check and Info are recorded with the lines they show.

#include "closeguard.h"
#include "journalops.h"
#include "journaltext.h"
#include "notifier.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFileDialog;

namespace Ui {
class TJournalForm;
}

namespace tamrisk {

class JournalView;
class OperationRecord;
class Station;
class StationRecords;

class TJournalForm : public QDialog {
    Q_OBJECT
public:
    explicit TJournalForm(Station& station, QWidget* parent = nullptr);
    ~TJournalForm() override;

    // Where every Read, Print, Check and Info is recorded (null: nowhere).
    void SetRecords(StationRecords* records) { m_records = records; }

    // The buttons for an idle (true) or busy (false) window: the printer's
    // buttons also need Connected, Save and SHA-1 a line in the view. Cancel
    // is left alone.
    void EnableJournalControls(bool idle);
    // Every control as for an idle window, Cancel disabled; called each time
    // the window is shown.
    void FormShow();

    // The view's bytes and the view behind its batches.
    const JournalText& Text() const { return m_text; }
    JournalView& View() { return *m_view; }
    bool Busy() const { return m_busy; }

protected:
    void showEvent(QShowEvent* event) override;
    // Escape and the close box during an operation: a read or a digest is
    // cancelled, and the window closes when the operation has ended.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void ReadBtClick();
    void CheckBtClick();
    void PrintBtClick();
    void InfoBtClick();
    void ShaBtClick();
    void CancelBtClick();
    void LoadBtClick();
    void SaveBtClick();
    void ClearBtClick();

private:
    class Observer;

    // Runs `operation` with the window busy from before its readiness probe
    // to its end, then restores the controls and serves a close put off meanwhile.
    void RunBusy(const std::function<void()>& operation);
    // The query box's text in Windows-1251, trimmed; none when it is empty or
    // holds a character the code page lacks (the operator is told).
    std::optional<std::string> Query();
    using Operation = std::function<JournalResult(JournalObserver& observer)>;
    // Runs `operation` with the window's observer, busy, kept in a record of
    // `kind` when `recorded`; Cancel is offered when `cancellable`.
    void RunOperation(const char* kind, bool recorded, bool cancellable, const Operation& operation);
    // The same with the query, when the query box holds one. A query too long
    // for its request after `prefixLength` characters is refused by the
    // operation before anything is sent, and so is not recorded.
    void RunQueryOperation(const char* kind, std::size_t prefixLength, bool cancellable,
                           const std::function<JournalResult(const std::string& query, JournalObserver& observer)>&
                               operation);
    // Finishes the record of an operation that ended with `result`; `connected`:
    // the port was open when it began. `status`: the panel's text it left.
    void FinishRecord(OperationRecord& record, const JournalResult& result, bool connected,
                      const std::string& status);
    void JnlDataMouseUp();
    // The open and save dialogs, made on first use.
    QFileDialog& FileDlg(QFileDialog*& dialog, bool save);

    std::unique_ptr<Ui::TJournalForm> ui;
    Station& m_station;
    JournalSession m_session;
    JournalText m_text;
    JournalView* m_view = nullptr;
    QFileDialog* m_loadDlg = nullptr;
    QFileDialog* m_saveDlg = nullptr;
    Notifier::Subscription m_connectionLost;
    StationRecords* m_records = nullptr;
    bool m_busy = false;
    CloseGuard m_close;
    bool m_forwarding = false;
};

}  // namespace tamrisk
