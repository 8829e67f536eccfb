#include "status.h"

#include "ui_status.h"

namespace tamrisk {

TStatusDlg::TStatusDlg(TransactionState& state, std::function<bool()> scriptRunning, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TStatusDlg>()), m_state(state), m_scriptRunning(std::move(scriptRunning)) {
    ui->setupUi(this);
}
TStatusDlg::~TStatusDlg() = default;
void TStatusDlg::FormShow() {}
void TStatusDlg::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
void TStatusDlg::CancelBtClick() {}
void TStatusDlg::RepeatBtClick() {}
void TStatusDlg::StopBtClick() {}

}  // namespace tamrisk
