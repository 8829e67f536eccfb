#include "memread.h"

#include "memoryreader.h"
#include "ui_memread.h"

namespace tamrisk {

TMemForm::TMemForm(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg, QWidget* parent)
    : MemoryReadWindow(station, memory, statusDlg, FiscalMemoryRead,
                       {QStringLiteral("Save Fiscal Printer Data"), QStringLiteral("Fiscal memory data (*.rom)"),
                        QStringLiteral("ROM"), "File exists. Overwrite?", true, "fiscal-memory"},
                       parent),
      ui(std::make_unique<Ui::TMemForm>()) {
    ui->setupUi(this);
    setObjectName("MemForm");
    Bind({ui->FlashData, ui->ReadBt, ui->CancelBt, ui->SaveBt, ui->PrgBar});
}

TMemForm::~TMemForm() = default;

}  // namespace tamrisk
