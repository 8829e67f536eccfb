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

class Station;

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

protected:
    void showEvent(QShowEvent* event) override;
    // Closing the window (FormClose: close box, Escape) sets StopRequested;
    // during a read the window closes once the read has ended.
    void reject() override;

private slots:
    void StartBtClick();
    void CancelBtClick();

private:
    // The save dialog, made on first use.
    QFileDialog& SaveDlg();

    std::unique_ptr<Ui::TReadKlenFrm> ui;
    Station& m_station;
    QFileDialog* m_saveDlg = nullptr;
    CloseGuard m_close;
};

}  // namespace tamrisk
