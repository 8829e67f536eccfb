#include "journal.h"

#include "ui_journal.h"

namespace tamrisk {

TJournalForm::TJournalForm(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TJournalForm>()) {
    ui->setupUi(this);
    setObjectName("JournalForm");
}

TJournalForm::~TJournalForm() = default;

}  // namespace tamrisk
