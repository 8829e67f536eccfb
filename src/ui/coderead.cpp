#include "coderead.h"

#include "ui_coderead.h"

namespace tamrisk {

TCodeForm::TCodeForm(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TCodeForm>()) {
    ui->setupUi(this);
    setObjectName("CodeForm");
}

TCodeForm::~TCodeForm() = default;

}  // namespace tamrisk
