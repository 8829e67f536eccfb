#include "journal.h"

#include "accessibletext.h"
#include "filedialog.h"
#include "host.h"
#include "inputfile.h"
#include "journalformat.h"
#include "journalview.h"
#include "savefile.h"
#include "station.h"
#include "stationrecords.h"
#include "textcodec.h"
#include "ui_journal.h"
#include "windowplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QShowEvent>

namespace tamrisk {

namespace {

// Courier New where it exists, the system's fixed-pitch face otherwise;
// bold, 16 pixels.
QFont JournalFont() {
    QFont font = QFontDatabase::families().contains(QStringLiteral("Courier New"))
                     ? QFont(QStringLiteral("Courier New"))
                     : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

}  // namespace

// What the operations show goes into the text and its view and the status
// panel; the lines added into `kept` too when given, and at the end the
// panel's last text.
class TJournalForm::Observer : public JournalObserver {
public:
    Observer(TJournalForm& window, bool cancellable, ResultSink* kept)
        : m_window(window), m_cancellable(cancellable), m_kept(kept) {}
    void Started() override {
        if (m_cancellable)
            m_window.ui->CancelBt->setEnabled(true);
    }
    void ClearView() override {
        m_window.m_text.Clear();
        m_window.m_view->Clear();
    }
    void AddLine(const std::string& line) override {
        m_window.m_text.AppendLine(line);
        m_window.m_view->LineAdded();
        if (m_kept != nullptr)
            m_kept->AppendResultLine(line, ResultColour::Black);
    }
    void SetStatus(const std::string& text) override {
        m_status = text;
        m_window.ui->StatusPn->setText(DecodeCp1251(text));
    }
    // The panel's last text set by the operation; empty when it set none.
    const std::string& Status() const { return m_status; }
    // The operation has ended: its last panel text is kept after its lines.
    void Ended() {
        if (m_kept != nullptr && !m_status.empty())
            m_kept->AppendResultLine(m_status, ResultColour::Black);
    }

private:
    TJournalForm& m_window;
    bool m_cancellable;
    ResultSink* m_kept;
    std::string m_status;
};

TJournalForm::TJournalForm(Station& station, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TJournalForm>()), m_station(station),
      m_session(station.transactor, station.host), m_close([this] { QDialog::reject(); }) {
    ui->setupUi(this);
    setObjectName("JournalForm");
    setFixedSize(719, 459);

    QPlainTextEdit* view = ui->JnlData;
    view->setFont(JournalFont());
    // The selected lines stay marked while the operator presses a button.
    QPalette palette = view->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    view->setPalette(palette);
    m_view = new JournalView(m_text, view, this);
    // Read-only, yet the operator selects with the keys as with the mouse.
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->viewport()->installEventFilter(this);

    HearTextOf({ui->StatusPn});

    connect(ui->ReadBt, &QPushButton::clicked, this, &TJournalForm::ReadBtClick);
    connect(ui->CheckBt, &QPushButton::clicked, this, &TJournalForm::CheckBtClick);
    connect(ui->PrintBt, &QPushButton::clicked, this, &TJournalForm::PrintBtClick);
    connect(ui->InfoBt, &QPushButton::clicked, this, &TJournalForm::InfoBtClick);
    connect(ui->ShaBt, &QPushButton::clicked, this, &TJournalForm::ShaBtClick);
    connect(ui->CancelBt, &QPushButton::clicked, this, &TJournalForm::CancelBtClick);
    connect(ui->LoadBt, &QPushButton::clicked, this, &TJournalForm::LoadBtClick);
    connect(ui->SaveBt, &QPushButton::clicked, this, &TJournalForm::SaveBtClick);
    connect(ui->ClearBt, &QPushButton::clicked, this, &TJournalForm::ClearBtClick);

    // A port lost while the window is open and idle turns its printer buttons
    // off.
    m_connectionLost = m_station.OnConnectionLost([this] {
        if (isVisible() && !m_busy)
            EnableJournalControls(true);
    });
    EnableJournalControls(true);
}

TJournalForm::~TJournalForm() = default;

void TJournalForm::EnableJournalControls(bool idle) {
    const bool printer = idle && m_station.Connected;
    for (QPushButton* button : {ui->ReadBt, ui->CheckBt, ui->PrintBt, ui->InfoBt})
        button->setEnabled(printer);
    const bool lines = idle && !m_text.Empty();
    ui->SaveBt->setEnabled(lines);
    ui->ShaBt->setEnabled(lines);
    ui->LoadBt->setEnabled(idle);
    ui->ClearBt->setEnabled(idle);
}

void TJournalForm::FormShow() {
    EnableJournalControls(true);
    ui->CancelBt->setEnabled(false);
}

void TJournalForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        CentreOnDesktop(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TJournalForm::reject() {
    if (m_close.Request())
        QDialog::reject();
    else
        m_session.JournalCancelled = true;
}

void TJournalForm::RunBusy(const std::function<void()>& operation) {
    if (m_busy)
        return;
    // A close asked for meanwhile waits until the controls are restored.
    const CloseGuard::Busy busy(m_close);
    m_busy = true;
    // From before the readiness probe, so that nothing else starts while it waits.
    EnableJournalControls(false);
    operation();
    m_view->Flush();
    ui->CancelBt->setEnabled(false);
    m_busy = false;
    EnableJournalControls(true);
}

std::optional<std::string> TJournalForm::Query() {
    const std::optional<std::string> bytes = EncodeCp1251(ui->InputBox->text());
    if (!bytes) {
        // Windows-1251 has no code for it; nothing is sent.
        m_station.host.showMessage("The query holds a character the printer cannot take", "Error");
        return std::nullopt;
    }
    std::string query = TrimQuery(*bytes);
    if (query.empty())
        return std::nullopt;
    return query;
}

void TJournalForm::RunOperation(const char* kind, bool recorded, bool cancellable, const Operation& operation) {
    RunBusy([&] {
        std::unique_ptr<OperationRecord> record;
        if (recorded && m_records != nullptr) {
            record = m_records->Begin(kind);
            record->Start();
        }
        const bool connected = m_station.Connected;
        Observer observer(*this, cancellable, record ? &record->Keep() : nullptr);
        const JournalResult result = operation(observer);
        observer.Ended();
        if (record)
            FinishRecord(*record, result, connected, observer.Status());
    });
}

void TJournalForm::RunQueryOperation(
    const char* kind, std::size_t prefixLength, bool cancellable,
    const std::function<JournalResult(const std::string& query, JournalObserver& observer)>& operation) {
    const auto query = Query();
    if (!query)
        return;
    RunOperation(kind, QueryTooLong(*query, prefixLength).empty(), cancellable,
                 [&](JournalObserver& observer) { return operation(*query, observer); });
}

void TJournalForm::FinishRecord(OperationRecord& record, const JournalResult& result, bool connected,
                                const std::string& status) {
    if (!connected) {
        m_records->Finish(record, RecordOutcome::Error, "Serial port not open");
    } else if (!m_station.Connected) {
        m_records->Finish(record, RecordOutcome::Aborted, "Serial port lost");
    } else if (result.outcome == JournalOutcome::Done && !result.digestsDiffer) {
        m_records->Finish(record, RecordOutcome::Pass, {});
    } else if (result.outcome == JournalOutcome::Done) {
        m_records->Finish(record, RecordOutcome::Fail, JournalDigestMismatch);
    } else if (result.outcome == JournalOutcome::Cancelled) {
        m_records->Finish(record, RecordOutcome::Aborted,
                          m_close.Pending() ? std::string("the window was closed during it") : Cp1251ToUtf8(status));
    } else {
        // A refused probe leaves its status flags in the printer's state; a
        // refused request carries its own. Either is told as a refused request is.
        const std::uint32_t flags =
            result.statusFlags != 0 ? result.statusFlags : m_station.transactor.State().StatusFlags;
        m_records->Finish(record, RecordOutcome::Fail, JournalFailureMessage(flags));
    }
}

void TJournalForm::ReadBtClick() {
    RunQueryOperation("journal-read", 2, true, [this](const std::string& query, JournalObserver& observer) {
        return m_session.Read(query, observer);
    });
}

void TJournalForm::PrintBtClick() {
    RunQueryOperation("journal-print", 3, false, [this](const std::string& query, JournalObserver& observer) {
        return m_session.Print(query, ui->SmallFont->isChecked(), observer);
    });
}

void TJournalForm::CheckBtClick() {
    RunQueryOperation("journal-check", 2, false, [this](const std::string& query, JournalObserver& observer) {
        return m_session.Check(query, observer);
    });
}

void TJournalForm::InfoBtClick() {
    RunOperation("journal-info", true, false, [this](JournalObserver& observer) { return m_session.Info(observer); });
}

void TJournalForm::ShaBtClick() {
    const auto [start, end] = m_view->SelectedBytes();
    if (start == end)
        return;
    ui->StatusPn->clear();
    RunBusy([&, start = start, end = end] {
        m_session.JournalCancelled = false;
        ui->CancelBt->setEnabled(true);
        m_station.host.processEvents();  // the panel and the buttons are seen before the work
        const std::string_view selected = std::string_view(m_text.Bytes()).substr(start, end - start);
        if (const auto digest = Sha1Text(selected, m_session.JournalCancelled, m_station.host))
            ui->StatusPn->setText(QString::fromStdString(*digest));
    });
}

void TJournalForm::CancelBtClick() { m_session.JournalCancelled = true; }

bool TJournalForm::eventFilter(QObject* watched, QEvent* event) {
    if (m_forwarding || watched != ui->JnlData->viewport() || event->type() != QEvent::MouseButtonRelease)
        return QDialog::eventFilter(watched, event);
    // The view ends its own selection first; the widening works on what it made.
    m_forwarding = true;
    QCoreApplication::sendEvent(watched, event);
    m_forwarding = false;
    JnlDataMouseUp();
    return true;
}

void TJournalForm::JnlDataMouseUp() {
    const auto [start, end] = m_view->SelectedBytes();
    if (start == end)
        return;
    const auto [wideStart, wideEnd] = m_text.WidenSelection(start, end);
    m_view->SelectBytes(wideStart, wideEnd);
}

QFileDialog& TJournalForm::FileDlg(QFileDialog*& dialog, bool save) {
    // Made when first needed: a file dialog watches folders and keeps a
    // thread, which would cost every turn of the event loop during a read.
    // The window asks its own question before replacing a file.
    if (dialog == nullptr)
        dialog = NewFileDialog(this, {.objectName = save ? QStringLiteral("SaveJnlDlg") : QStringLiteral("LoadJnlDlg"),
                                      .save = save,
                                      .folder = QStringLiteral("."),
                                      .nameFilters = {QStringLiteral("Текстови файлове (*.txt)"),
                                                      QStringLiteral("Всички файлове (*.*)")},
                                      .defaultSuffix = QStringLiteral("txt"),
                                      .ownOverwriteQuestion = true,
                                      .anyCase = true});
    return *dialog;
}

void TJournalForm::LoadBtClick() {
    QFileDialog& dialog = FileDlg(m_loadDlg, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    std::string error;
    const auto bytes = ReadInputFile(QFile::encodeName(fileName).toStdString(), error);
    if (!bytes) {
        m_station.host.showMessageDetail("Can't read journal file", "Error", fileName.toStdString() + ": " + error);
        return;
    }
    m_text = JournalText::FromFile(*bytes);
    m_view->Reload();
    m_view->Flush();
    EnableJournalControls(true);
}

void TJournalForm::SaveBtClick() {
    Host& host = m_station.host;
    QFileDialog& dialog = FileDlg(m_saveDlg, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(fileName) && !host.askYesNo("File exists. Overwrite?", "Warning"))
        return;
    // The text replaces the file only once every byte is written.
    QString error;
    if (!SaveBytesToFile(fileName, m_text.SaveBytes(), error))
        host.showMessageDetail("Can't write journal file", "Error", error.toStdString());
}

void TJournalForm::ClearBtClick() {
    m_text.Clear();
    m_view->Clear();
    EnableJournalControls(true);
}

}  // namespace tamrisk
