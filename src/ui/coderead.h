#pragma once
// The code memory reader's window (CodeForm): reads the firmware into a hex dump.

#include <QDialog>

#include <memory>

namespace Ui {
class TCodeForm;
}

namespace tamrisk {

class TCodeForm : public QDialog {
    Q_OBJECT
public:
    explicit TCodeForm(QWidget* parent = nullptr);
    ~TCodeForm() override;

private:
    std::unique_ptr<Ui::TCodeForm> ui;
};

}  // namespace tamrisk
