#include "readklenbin.h"

#include "ui_readklenbin.h"

namespace tamrisk {

TReadKlenFrm::TReadKlenFrm(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TReadKlenFrm>()) {
    ui->setupUi(this);
    setObjectName("ReadKlenFrm");
}

TReadKlenFrm::~TReadKlenFrm() = default;

}  // namespace tamrisk
