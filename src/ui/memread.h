#pragma once
// The fiscal memory reader's window (MemForm).

#include <QDialog>

#include <memory>

namespace Ui {
class TMemForm;
}

namespace tamrisk {

class TMemForm : public QDialog {
    Q_OBJECT
public:
    explicit TMemForm(QWidget* parent = nullptr);
    ~TMemForm() override;

private:
    std::unique_ptr<Ui::TMemForm> ui;
};

}  // namespace tamrisk
