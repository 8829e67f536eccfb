#pragma once
// The binary journal reader's window (ReadKlenFrm, "Read Journal Binary"):
// copies the raw electronic journal from a typed start address into a file,
// 64 bytes a transaction, with a one-line progress text, then closes.

#include "closeguard.h"

#include <QDialog>

#include <memory>

class QFileDialog;

namespace Ui {
class TReadKlenFrm;
}

namespace tamrisk {

class OperationRecord;
class Station;
class StationRecords;
struct JournalCopyResult;

class TReadKlenFrm : public QDialog {
    Q_OBJECT
public:
    explicit TReadKlenFrm(Station& station, QWidget* parent = nullptr);
    ~TReadKlenFrm() override;

    // Clears StopRequested; called each time the window is shown.
    void FormShow();
    bool Reading() const { return m_close.IsBusy(); }

    // Set by Stop and by closing the window; tested before each block.
    bool StopRequested = false;

    // Where every copy is recorded with the file it wrote (null: nowhere).
    void SetRecords(StationRecords* records) { m_records = records; }

protected:
    void showEvent(QShowEvent* event) override;
    // Closing the window (FormClose: close box, Escape) sets StopRequested;
    // during a read the window closes once the read has ended.
    void reject() override;

private slots:
    void StartBtClick();
    void CancelBtClick();

private:
    // Finishes the copy's record with the file written and the outcome of `result`.
    void FinishRecord(OperationRecord& record, const JournalCopyResult& result, const QString& fileName);
    // The save dialog, made on first use.
    QFileDialog& SaveDlg();

    std::unique_ptr<Ui::TReadKlenFrm> ui;
    Station& m_station;
    QFileDialog* m_saveDlg = nullptr;
    CloseGuard m_close;
    StationRecords* m_records = nullptr;
};

}  // namespace tamrisk
