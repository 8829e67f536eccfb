#pragma once
// The fiscal memory reader's window (MemForm, "Read Fiscal Memory"): reads the
// fiscal memory (64, 128 or 256 KiB, as its first block tells) into the shared
// memory image and a hex dump emptied each time the window is shown, and
// saves it.

#include "memorywindow.h"

#include <memory>

namespace Ui {
class TMemForm;
}

namespace tamrisk {

class TMemForm : public MemoryReadWindow {
    Q_OBJECT
public:
    // `memory` is shared with the code memory reader; `statusDlg` is shown
    // for a failed block (may be null).
    TMemForm(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg, QWidget* parent = nullptr);
    ~TMemForm() override;

private:
    std::unique_ptr<Ui::TMemForm> ui;
};

}  // namespace tamrisk
