#include "memorywindow.h"

#include "filedialog.h"
#include "hexview.h"
#include "host.h"
#include "memoryreader.h"
#include "savefile.h"
#include "station.h"
#include "stationrecords.h"
#include "status.h"
#include "windowplace.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

namespace tamrisk {

MemoryReadWindow::MemoryReadWindow(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg,
                                   const MemoryReadConfig& config, MemoryWindowTexts texts, QWidget* parent)
    : QDialog(parent), m_station(station), m_memory(memory), m_statusDlg(statusDlg), m_config(config),
      m_texts(std::move(texts)), m_close([this] { QDialog::reject(); }) {}

MemoryReadWindow::~MemoryReadWindow() = default;

void MemoryReadWindow::Bind(const Controls& controls) {
    m_controls = controls;
    m_controls.flashData->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view = new HexView(m_controls.flashData, this);
    m_controls.prgBar->setRange(0, 255);
    m_controls.prgBar->setValue(0);
    connect(m_controls.readBt, &QPushButton::clicked, this, &MemoryReadWindow::ReadBtClick);
    connect(m_controls.cancelBt, &QPushButton::clicked, this, &MemoryReadWindow::CancelBtClick);
    connect(m_controls.saveBt, &QPushButton::clicked, this, &MemoryReadWindow::SaveBtClick);
}

void MemoryReadWindow::FormShow() {
    m_controls.saveBt->setEnabled(false);
    m_controls.cancelBt->setEnabled(false);
    m_controls.readBt->setEnabled(true);
    if (m_texts.clearOnShow)
        m_view->Clear();
}

void MemoryReadWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        CentreOnDesktop(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void MemoryReadWindow::reject() {
    if (m_close.Request())
        QDialog::reject();
}

void MemoryReadWindow::ReadBtClick() {
    if (m_close.IsBusy())
        return;
    // A close asked for during the read waits until the controls are restored.
    const CloseGuard::Busy busy(m_close);
    const Controls& c = m_controls;
    c.prgBar->setValue(0);
    m_view->Clear();
    c.saveBt->setEnabled(false);
    c.readBt->setEnabled(false);
    // The code memory reader takes Cancel from the start; the fiscal one only
    // once both probes passed.
    c.cancelBt->setEnabled(!m_config.clearCancelAfterProbes);

    struct WindowObserver : MemoryReadObserver {
        MemoryReadWindow& window;
        explicit WindowObserver(MemoryReadWindow& w) : window(w) {}
        void ProbesPassed() override {
            if (!window.m_config.clearCancelAfterProbes)
                return;
            window.m_view->Clear();
            window.m_controls.cancelBt->setEnabled(true);
            window.m_controls.readBt->setEnabled(false);
        }
        void BlockFailed() override {
            // The lines so far are on screen while the operator looks at the status.
            window.m_view->Flush();
            if (window.m_statusDlg != nullptr) {
                window.m_statusDlg->FormShow();
                window.m_statusDlg->exec();
            }
        }
        void HexLine(const std::string& line) override { window.m_view->AppendLine(line); }
        void Progress(int value) override { window.m_controls.prgBar->setValue(value); }
    } observer(*this);

    std::unique_ptr<OperationRecord> record;
    if (m_records != nullptr) {
        record = m_records->Begin(m_texts.recordKind);
        record->Start();
    }
    const MemoryReadResult result =
        ReadMemory(m_station.transactor, m_station.host, m_config, m_memory, observer);
    m_view->Flush();
    if (record)
        FinishRecord(*record, result);
    c.saveBt->setEnabled(result.end != MemoryReadEnd::Refused);
    c.cancelBt->setEnabled(false);
    c.readBt->setEnabled(true);
}

void MemoryReadWindow::FinishRecord(OperationRecord& record, const MemoryReadResult& result) {
    // The image without a file; Save adds the file it went to.
    if (result.end != MemoryReadEnd::Refused)
        record.Image(m_memory.Image.View(), {});
    const std::string ending = DescribeMemoryRead(result, m_memory.Image.length);
    const bool complete = result.end == MemoryReadEnd::Complete;
    record.Keep().AppendResultLine(ending, complete ? ResultColour::Black : ResultColour::Red);
    m_recordId = result.end != MemoryReadEnd::Refused ? record.Id() : std::string();
    if (!m_station.Connected)
        m_records->Finish(record, RecordOutcome::Aborted, "Serial port lost");
    else if (complete)
        m_records->Finish(record, RecordOutcome::Pass, {});
    else if (result.end == MemoryReadEnd::Cancelled)
        m_records->Finish(record, RecordOutcome::Aborted,
                          m_close.Pending() ? std::string("the window was closed during it") : ending);
    else
        m_records->Finish(record, RecordOutcome::Fail, ending);
}

void MemoryReadWindow::CancelBtClick() { m_memory.ReadCancelled = true; }

QFileDialog& MemoryReadWindow::SaveDlg() {
    // Made when first needed: a file dialog watches folders and keeps a
    // thread, which would cost every turn of the event loop during a read.
    // The window asks its own question before replacing a file.
    if (m_saveDlg == nullptr)
        m_saveDlg = NewFileDialog(this, {.caption = m_texts.saveTitle,
                                         .objectName = QStringLiteral("SaveDlg"),
                                         .save = true,
                                         .nameFilters = {m_texts.saveFilter},
                                         .defaultSuffix = m_texts.defaultSuffix,
                                         .ownOverwriteQuestion = true,
                                         .anyCase = true});
    return *m_saveDlg;
}

void MemoryReadWindow::SaveBtClick() {
    Host& host = m_station.host;
    QFileDialog& dialog = SaveDlg();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(fileName) && !host.askYesNo(m_texts.existsQuestion, "Warning"))
        return;
    // The image replaces the file only once every byte is written; until then
    // (and after a failure) an existing file stays as it was.
    SaveFileWriter file(fileName);
    if (!file.Open()) {
        host.showMessageDetail("Can't open output file", "Error", file.Error().toStdString());
        return;
    }
    if (!file.Write(m_memory.Image.View()) || !file.Commit()) {
        host.showMessageDetail("Can't write output file", "Error", file.Error().toStdString());
        return;
    }
    if (m_records != nullptr)
        m_records->ImageSaved(m_recordId, m_texts.recordKind, m_memory.Image.View(), fileName);
}

}  // namespace tamrisk
