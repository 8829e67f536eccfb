#pragma once
// The electronic journal's window (JournalForm).

#include <QDialog>

#include <memory>

namespace Ui {
class TJournalForm;
}

namespace tamrisk {

class TJournalForm : public QDialog {
    Q_OBJECT
public:
    explicit TJournalForm(QWidget* parent = nullptr);
    ~TJournalForm() override;

private:
    std::unique_ptr<Ui::TJournalForm> ui;
};

}  // namespace tamrisk
