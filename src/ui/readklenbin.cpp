#include "readklenbin.h"

#include "accessibletext.h"
#include "filedialog.h"
#include "host.h"
#include "journalbinary.h"
#include "station.h"
#include "stationrecords.h"
#include "textcodec.h"
#include "windowplace.h"
#include "ui_readklenbin.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QShowEvent>

namespace tamrisk {

TReadKlenFrm::TReadKlenFrm(Station& station, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TReadKlenFrm>()), m_station(station),
      m_close([this] { QDialog::reject(); }) {
    ui->setupUi(this);
    setObjectName("ReadKlenFrm");
    // Only a close box in the title bar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont progress = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    progress.setBold(true);
    ui->PrgLabel->setFont(progress);

    HearTextOf({ui->PrgLabel});

    connect(ui->StartBt, &QPushButton::clicked, this, &TReadKlenFrm::StartBtClick);
    connect(ui->CancelBt, &QPushButton::clicked, this, &TReadKlenFrm::CancelBtClick);
}

TReadKlenFrm::~TReadKlenFrm() = default;

void TReadKlenFrm::FormShow() { StopRequested = false; }

void TReadKlenFrm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        CentreOnDesktop(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TReadKlenFrm::reject() {
    StopRequested = true;
    // The read stops at its next block and then closes the window; until then
    // the controls and the file stay alive.
    if (m_close.Request())
        QDialog::reject();
}

void TReadKlenFrm::FinishRecord(OperationRecord& record, const JournalCopyResult& result, const QString& fileName) {
    if (result.end != JournalCopyEnd::OpenFailed && result.end != JournalCopyEnd::WriteFailed)
        record.ImageOfFile(fileName.toStdString());
    const std::string ending = DescribeJournalCopy(result);
    record.Keep().AppendResultLine(Utf8ToCp1251(ending).value_or(ending), result.end == JournalCopyEnd::EndOfData
                                                                             ? ResultColour::Black
                                                                             : ResultColour::Red);
    RecordOutcome outcome = RecordOutcome::Fail;
    std::string reason = ending;
    if (!m_station.Connected) {
        outcome = RecordOutcome::Aborted;
        reason = "Serial port lost";
    } else if (result.end == JournalCopyEnd::EndOfData) {
        outcome = RecordOutcome::Pass;
        reason.clear();
    } else if (result.end == JournalCopyEnd::Stopped) {
        outcome = RecordOutcome::Aborted;
        if (m_close.Pending())
            reason = "the window was closed during it";
    } else if (result.end == JournalCopyEnd::OpenFailed) {
        outcome = RecordOutcome::Error;
    }
    m_records->Finish(record, outcome, std::move(reason));
}

void TReadKlenFrm::CancelBtClick() { StopRequested = true; }

QFileDialog& TReadKlenFrm::SaveDlg() {
    // The window asks its own question before overwriting a file.
    if (m_saveDlg == nullptr)
        m_saveDlg = NewFileDialog(this, {.caption = QStringLiteral("Запомни КЛЕН във файл"),
                                         .objectName = QStringLiteral("SaveDlg"),
                                         .save = true,
                                         .nameFilters = {QStringLiteral("Бинарни файлове (*.bin)"),
                                                         QStringLiteral("Всички файлове (*.*)")},
                                         .defaultSuffix = QStringLiteral("BIN"),
                                         .ownOverwriteQuestion = true,
                                         .anyCase = true});
    return *m_saveDlg;
}

void TReadKlenFrm::StartBtClick() {
    // A second read cannot start inside the first (Start is disabled then; a
    // queued click still ends here).
    if (m_close.IsBusy())
        return;
    Host& host = m_station.host;
    const std::optional<std::uint64_t> start = ParseStartAddress(ui->AddrEdit->text().toStdString());
    if (!start) {
        host.showMessage("Invalid start address", "Error");
        return;
    }
    QFileDialog& dialog = SaveDlg();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        QDialog::reject();
        return;
    }
    const QString fileName = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(fileName) && !host.askYesNo("File exists. Overwrite?", "Warning"))
        return;

    JournalCopyResult result;
    {
        // A close asked for during the read is carried out once it has ended.
        const CloseGuard::Busy busy(m_close);
        ui->StartBt->setEnabled(false);
        ui->AddrEdit->setEnabled(false);
        JournalCopyOptions options;
        options.start = *start;
        options.keepExistingWhenEmpty = true;
        options.stopRequested = &StopRequested;
        options.progress = [this](const std::string& text) { ui->PrgLabel->setText(QString::fromStdString(text)); };
        std::unique_ptr<OperationRecord> record;
        if (m_records != nullptr) {
            record = m_records->Begin("journal-binary");
            record->Start();
        }
        result = CopyJournalToFile(m_station.transactor, host, fileName, options);
        if (record)
            FinishRecord(*record, result, fileName);
        ui->StartBt->setEnabled(true);
        ui->AddrEdit->setEnabled(true);
    }

    switch (result.end) {
    case JournalCopyEnd::OpenFailed:
        host.showMessageDetail("Can't open output file", "Error", result.fileError.toStdString());
        return;  // the window stays open
    case JournalCopyEnd::WriteFailed:
        host.showMessageDetail("Can't write output file", "Error", result.fileError.toStdString());
        break;
    default:
        break;
    }
    if (isVisible())  // unless a close put off during the read has closed it
        QDialog::reject();
}

}  // namespace tamrisk
