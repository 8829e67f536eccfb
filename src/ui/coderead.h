#pragma once
// The code memory reader's window (CodeForm, "Read code memory (Firmware)"):
// reads the firmware, 3072 blocks of 64 bytes, into the shared memory image
// and a hex dump that stays from one showing to the next, and saves it.

#include "memorywindow.h"

#include <memory>

namespace Ui {
class TCodeForm;
}

namespace tamrisk {

class TCodeForm : public MemoryReadWindow {
    Q_OBJECT
public:
    // `memory` is shared with the fiscal memory reader; `statusDlg` is shown
    // for a failed block (may be null).
    TCodeForm(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg, QWidget* parent = nullptr);
    ~TCodeForm() override;

private:
    std::unique_ptr<Ui::TCodeForm> ui;
};

}  // namespace tamrisk
