#include "coderead.h"

#include "memoryreader.h"
#include "ui_coderead.h"

namespace tamrisk {

TCodeForm::TCodeForm(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg, QWidget* parent)
    : MemoryReadWindow(station, memory, statusDlg, CodeMemoryRead,
                       {QStringLiteral("Save Code Memory Data"), QStringLiteral("Code memory data (*.bin)"),
                        QStringLiteral("BIN"), "File exists. Rewrite?", false, "code-memory"},
                       parent),
      ui(std::make_unique<Ui::TCodeForm>()) {
    ui->setupUi(this);
    setObjectName("CodeForm");
    Bind({ui->FlashData, ui->ReadBt, ui->CancelBt, ui->SaveBt, ui->PrgBar});
}

TCodeForm::~TCodeForm() = default;

}  // namespace tamrisk
