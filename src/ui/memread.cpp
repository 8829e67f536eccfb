#include "memread.h"

#include "ui_memread.h"

namespace tamrisk {

TMemForm::TMemForm(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TMemForm>()) {
    ui->setupUi(this);
    setObjectName("MemForm");
}

TMemForm::~TMemForm() = default;

}  // namespace tamrisk
