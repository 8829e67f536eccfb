#include "command.h"

#include "ui_command.h"

namespace tamrisk {

TCommandFrm::TCommandFrm(Station& station, ResultSink& results, TStatusDlg& statusDlg, CommandFrmHooks hooks,
                         QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TCommandFrm>()), m_station(station), m_results(results),
      m_statusDlg(statusDlg), m_hooks(std::move(hooks)) {
    ui->setupUi(this);
}
TCommandFrm::~TCommandFrm() = default;
void TCommandFrm::FormShow() {}
void TCommandFrm::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
void TCommandFrm::ExecuteBtClick() {}
void TCommandFrm::StatusBtClick() {}

}  // namespace tamrisk
