#pragma once
// The status dialog (StatusDlg, "Fiscal printer status bits"): the six status
// bytes of the last answer as named check boxes, the two link conditions, and
// during a run the Repeat and Cancel buttons that act through RepeatRequest
// and CancelRequest.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;

namespace Ui {
class TStatusDlg;
}

namespace tamrisk {

struct TransactionState;

class TStatusDlg : public QDialog {
    Q_OBJECT
public:
    // `scriptRunning` tells whether a script run is in progress.
    TStatusDlg(TransactionState& state, std::function<bool()> scriptRunning, QWidget* parent = nullptr);
    ~TStatusDlg() override;

    // Fills the boxes from StatusBytes and StatusFlags and sets the buttons
    // for the run state; called each time the dialog is shown.
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void CancelBtClick();
    void RepeatBtClick();
    void StopBtClick();

private:
    // A check box and the status bit it shows.
    struct BitBox {
        QCheckBox* box;
        int byte;
        int bit;
    };
    // A check box and the StatusFlags link bit it shows.
    struct LinkBox {
        QCheckBox* box;
        std::uint32_t flag;
    };

    std::unique_ptr<Ui::TStatusDlg> ui;
    TransactionState& m_state;
    std::function<bool()> m_scriptRunning;
    std::vector<BitBox> m_bitBoxes;
    std::vector<LinkBox> m_linkBoxes;
};

}  // namespace tamrisk
