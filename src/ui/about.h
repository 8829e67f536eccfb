#pragma once
// The About box (AboutDlg, "About Tamrisk"): the program's name and version, the
// records file in use (the local file and, when records go on to one, the line's
// database; "off" when no records are kept) and the settings file in use. It
// talks to no printer and is not modal, so a run goes on while it is open.

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutDlg;
}

namespace tamrisk {

class StationRecords;

class TAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit TAboutDlg(QWidget* parent = nullptr);
    ~TAboutDlg() override;

    // Shows where `records` (null: none) keep the records, and the settings file.
    void ShowFiles(const StationRecords* records);

private:
    std::unique_ptr<Ui::TAboutDlg> ui;
};

// Opens the About box over `window` (the one already open, else a new one), showing `records`.
void ShowAbout(QWidget& window, const StationRecords* records);

}  // namespace tamrisk
