#include "about.h"

#include "programversion.h"
#include "recordstore.h"
#include "settings.h"
#include "stationrecords.h"
#include "ui_about.h"

#include <QApplication>
#include <QDir>

namespace tamrisk {

TAboutDlg::TAboutDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TAboutDlg>()) {
    ui->setupUi(this);
    ui->VersionLb->setText(QString::fromLatin1(ProgramVersionText));
    // The application's icon, whatever it is set to; none in a program that sets none.
    const QIcon icon = QApplication::windowIcon();
    ui->IconLb->setPixmap(icon.pixmap(64, 64));
    ui->IconLb->setVisible(!icon.isNull());
}

TAboutDlg::~TAboutDlg() = default;

void TAboutDlg::ShowFiles(const StationRecords* records) {
    const bool kept = records != nullptr && !records->Location().isEmpty();
    const QString line = kept ? records->LineLocation() : QString();
    ui->RecordsLb->setText(kept ? QDir::toNativeSeparators(records->LocalLocation()) : QStringLiteral("off"));
    // A password given in the URL is not shown.
    ui->LineLb->setText(RecordStore::ShownLocation(line));
    ui->LineCaption->setVisible(!line.isEmpty());
    ui->LineLb->setVisible(!line.isEmpty());
    ui->SettingsLb->setText(QDir::toNativeSeparators(OpenSettingsStore()->fileName()));
}

void ShowAbout(QWidget& window, const StationRecords* records) {
    auto* about = window.findChild<TAboutDlg*>();
    if (about == nullptr)
        about = new TAboutDlg(&window);
    about->ShowFiles(records);
    about->show();
    about->raise();
    about->activateWindow();
}

}  // namespace tamrisk
