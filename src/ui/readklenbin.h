#pragma once
// The binary journal reader's window (ReadKlenFrm).

#include <QDialog>

#include <memory>

namespace Ui {
class TReadKlenFrm;
}

namespace tamrisk {

class TReadKlenFrm : public QDialog {
    Q_OBJECT
public:
    explicit TReadKlenFrm(QWidget* parent = nullptr);
    ~TReadKlenFrm() override;

private:
    std::unique_ptr<Ui::TReadKlenFrm> ui;
};

}  // namespace tamrisk
