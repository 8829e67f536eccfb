#include "records.h"

#include "recordsmodel.h"
#include "recordstore.h"
#include "reports.h"
#include "resultsview.h"
#include "savefile.h"
#include "ui_records.h"

#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QVBoxLayout>

#include <algorithm>

namespace tamrisk {

namespace {

// The export formats in the order of the save dialog's filters.
enum class ExportFormat { JUnit, Json, Csv };
const QStringList ExportFilters = {QStringLiteral("JUnit XML (*.xml)"), QStringLiteral("JSON (*.json)"),
                                   QStringLiteral("CSV (*.csv)")};
const QStringList ExportSuffixes = {QStringLiteral("xml"), QStringLiteral("json"), QStringLiteral("csv")};

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

// The header of a record above its log, one fact a line.
QString HeaderText(const Record& record) {
    const RecordHeader& h = record.header;
    QStringList lines;
    lines << QStringLiteral("%1 on %2 by %3, %4 at %5 Bd, version %6")
                 .arg(FromUtf8(h.kind), FromUtf8(h.station), FromUtf8(h.operatorName), FromUtf8(h.port))
                 .arg(h.speed)
                 .arg(FromUtf8(h.version));
    const QString outcome = h.outcome ? FromUtf8(std::string(OutcomeText(*h.outcome))).toUpper()
                                      : QStringLiteral("IN PROGRESS");
    lines << QStringLiteral("Started %1, %2: %3%4")
                 .arg(LocalStartText(h.startedMs), DurationText(h.durationMs), outcome,
                      h.reason.empty() ? QString() : QStringLiteral(" (%1)").arg(FromUtf8(h.reason)));
    if (!h.unit.empty())
        lines << QStringLiteral("Unit: %1").arg(FromUtf8(h.unit));
    if (!h.script.empty()) {
        QString script = QStringLiteral("Script: %1").arg(FromUtf8(h.script));
        if (!h.lineRange.empty())
            script += QStringLiteral(", lines %1").arg(FromUtf8(h.lineRange));
        if (!h.scriptSha256.empty())
            script += QStringLiteral(", SHA-256 %1").arg(FromUtf8(h.scriptSha256));
        lines << script;
    }
    if (!record.serials.empty())
        lines << QStringLiteral("Serial numbers sent: %1").arg(record.serials.size());
    for (const RecordImage& image : record.images)
        lines << QStringLiteral("Image: %1, %2 bytes, SHA-256 %3, saved to %4")
                     .arg(FromUtf8(image.kind))
                     .arg(image.length)
                     .arg(FromUtf8(image.sha256), FromUtf8(image.file));
    lines << QStringLiteral("Id: %1").arg(FromUtf8(h.id));
    return lines.join(u'\n');
}

}  // namespace

TRecordsFrm::TRecordsFrm(QString location, QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui(std::make_unique<Ui::TRecordsFrm>()),
      m_location(std::move(location)),
      m_store(std::make_unique<RecordStore>()) {
    ui->setupUi(this);
    m_model = new RecordsModel(*m_store, this);
    ui->RecordsTable->setModel(m_model);
    QHeaderView* columns = ui->RecordsTable->horizontalHeader();
    const int charWidth = fontMetrics().horizontalAdvance(u'0');
    columns->resizeSection(RecordsModel::StartedCol, 20 * charWidth);
    columns->resizeSection(RecordsModel::KindCol, 15 * charWidth);
    columns->resizeSection(RecordsModel::UnitCol, 14 * charWidth);
    columns->resizeSection(RecordsModel::ScriptCol, 20 * charWidth);
    columns->resizeSection(RecordsModel::OutcomeCol, 10 * charWidth);
    columns->resizeSection(RecordsModel::DurationCol, 12 * charWidth);
    // Rows of one height need no measuring of rows not yet seen, so a long list scrolls evenly.
    ui->RecordsTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->RecordsTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ui->SinceDate->setDate(QDate::currentDate());

    connect(ui->FilterBt, &QPushButton::clicked, this, [this] { ApplyFilter(); });
    connect(ui->UnitBox, &QLineEdit::returnPressed, this, [this] { ApplyFilter(); });
    connect(ui->SerialBox, &QLineEdit::returnPressed, this, [this] { ApplyFilter(); });
    connect(ui->OutcomeBox, &QComboBox::activated, this, [this] { ApplyFilter(); });
    connect(ui->SinceCheck, &QCheckBox::toggled, this, [this](bool on) {
        ui->SinceDate->setEnabled(on);
        ApplyFilter();
    });
    connect(ui->SinceDate, &QDateEdit::editingFinished, this, [this] { ApplyFilter(); });
    connect(ui->RecordsTable, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenRecord(index.row()); });
    connect(ui->RecordsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ui->ExportBt->setEnabled(ui->RecordsTable->selectionModel()->hasSelection()); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { ui->ExportBt->setEnabled(false); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { ShowCount(); });
    connect(m_model, &RecordsModel::FetchFailed, this, [this](const QString& error) { ShowError(error); });
    connect(ui->ExportBt, &QPushButton::clicked, this, &TRecordsFrm::ExportBtClick);
}

TRecordsFrm::~TRecordsFrm() = default;

void TRecordsFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown again, the window lists the records made since.
    ApplyFilter();
}

bool TRecordsFrm::OpenStore() {
    if (m_store->IsOpen())
        return true;
    if (m_location.isEmpty()) {
        ShowError(QStringLiteral("Records are off"));
        return false;
    }
    QString error;
    if (m_store->Open(m_location, error))
        return true;
    // Not listed: the table keeps what it showed, and the next Filter tries again.
    ShowError(QStringLiteral("Cannot read the records: %1").arg(error));
    return false;
}

bool TRecordsFrm::ApplyFilter() {
    if (!OpenStore())
        return false;
    RecordStore::Filter filter;
    filter.unit = ui->UnitBox->text().trimmed().toStdString();
    filter.serial = ui->SerialBox->text().trimmed().toStdString();
    if (ui->OutcomeBox->currentIndex() > 0)
        filter.outcome = OutcomeFromText(ui->OutcomeBox->currentText().toStdString());
    if (ui->SinceCheck->isChecked())
        filter.sinceMs = ui->SinceDate->date().startOfDay().toMSecsSinceEpoch();
    m_model->SetFilter(filter);
    if (!m_model->LastError().isEmpty())
        return false;
    ShowCount();
    return true;
}

void TRecordsFrm::ShowError(const QString& text) {
    ui->StatusLbl->setStyleSheet(QStringLiteral("color: #8b0000"));
    ui->StatusLbl->setText(text);
}

void TRecordsFrm::ShowCount() {
    ui->StatusLbl->setStyleSheet({});
    const int rows = m_model->rowCount();
    ui->StatusLbl->setText(m_model->canFetchMore({}) ? QStringLiteral("%1 records listed, more below").arg(rows)
                                                     : QStringLiteral("%1 records").arg(rows));
}

QDialog& TRecordsFrm::LogDlg() {
    if (m_logDlg == nullptr) {
        m_logDlg = new QDialog(this);
        m_logDlg->setObjectName(QStringLiteral("LogDlg"));
        m_logDlg->resize(760, 520);
        auto* layout = new QVBoxLayout(m_logDlg);
        m_logHeader = new QLabel(m_logDlg);
        m_logHeader->setObjectName(QStringLiteral("HeaderLbl"));
        m_logHeader->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_logHeader->setWordWrap(true);
        m_logText = new QPlainTextEdit(m_logDlg);
        m_logText->setObjectName(QStringLiteral("LogView"));
        m_logText->setLineWrapMode(QPlainTextEdit::NoWrap);
        layout->addWidget(m_logHeader);
        layout->addWidget(m_logText, 1);
        m_logView = new ResultsView(m_logText, m_logDlg);
    }
    return *m_logDlg;
}

void TRecordsFrm::OpenRecord(int row) {
    if (row < 0 || row >= m_model->rowCount())
        return;
    QString error;
    const std::optional<Record> record = m_store->Load(m_model->Header(row).id, error);
    if (!record) {
        ShowError(QStringLiteral("Cannot read the record: %1").arg(error));
        return;
    }
    QDialog& dialog = LogDlg();
    dialog.setWindowTitle(QStringLiteral("Record %1").arg(FromUtf8(record->header.id)));
    m_logHeader->setText(HeaderText(*record));
    m_logView->Clear();
    for (const RecordLogLine& line : record->log)
        m_logView->AppendResultLine(line.text, line.colour);
    m_logView->Flush();
    m_logText->moveCursor(QTextCursor::Start);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

QFileDialog& TRecordsFrm::ExportDlg() {
    if (m_exportDlg == nullptr) {
        m_exportDlg = new QFileDialog(this, QStringLiteral("Export Records"), QDir::currentPath());
        m_exportDlg->setObjectName(QStringLiteral("ExportDlg"));
        m_exportDlg->setOption(QFileDialog::DontUseNativeDialog);
        m_exportDlg->setAcceptMode(QFileDialog::AcceptSave);
        m_exportDlg->setFileMode(QFileDialog::AnyFile);
        m_exportDlg->setNameFilters(ExportFilters);
        m_exportDlg->setDefaultSuffix(ExportSuffixes.constFirst());
        connect(m_exportDlg, &QFileDialog::filterSelected, m_exportDlg, [this](const QString& filter) {
            m_exportDlg->setDefaultSuffix(ExportSuffixes.value(ExportFilters.indexOf(filter)));
        });
    }
    return *m_exportDlg;
}

void TRecordsFrm::ExportBtClick() {
    QModelIndexList selected = ui->RecordsTable->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QFileDialog& dialog = ExportDlg();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const auto format = static_cast<ExportFormat>(std::max<qsizetype>(0, ExportFilters.indexOf(dialog.selectedNameFilter())));

    std::vector<RecordHeader> headers;
    headers.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected)
        headers.push_back(m_model->Header(index.row()));
    // Every listed row selected means the whole list, also the rows the table
    // would fetch as it scrolls down to them.
    if (selected.size() == m_model->rowCount() && m_model->canFetchMore({})) {
        QString error;
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        std::vector<RecordHeader> rest = m_model->Unfetched(error);
        QGuiApplication::restoreOverrideCursor();
        if (!error.isEmpty()) {
            ShowError(QStringLiteral("Cannot read the records: %1").arg(error));
            return;
        }
        headers.insert(headers.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    }

    QByteArray bytes;
    if (format == ExportFormat::Csv) {
        bytes = HeadersCsv(headers);
    } else {
        // Whole records are read one by one; a long list shows its progress and may be cancelled.
        QProgressDialog progress(QStringLiteral("Reading the records to export..."), QStringLiteral("Cancel"), 0,
                                 static_cast<int>(headers.size()), this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(500);
        std::vector<Record> records;
        records.reserve(headers.size());
        for (const RecordHeader& header : headers) {
            progress.setValue(static_cast<int>(records.size()));
            if (progress.wasCanceled()) {
                ShowError(QStringLiteral("Export cancelled"));
                return;
            }
            QString error;
            std::optional<Record> record = m_store->Load(header.id, error);
            if (!record) {
                ShowError(QStringLiteral("Cannot read the record: %1").arg(error));
                return;
            }
            records.push_back(std::move(*record));
        }
        progress.setValue(progress.maximum());
        bytes = format == ExportFormat::JUnit ? RecordsJUnit(records) : RecordsJson(records);
    }
    QString error;
    if (!SaveBytesToFile(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error)) {
        ShowError(QStringLiteral("Cannot export: %1").arg(error));
        return;
    }
    ui->StatusLbl->setStyleSheet({});
    ui->StatusLbl->setText(
        QStringLiteral("%1 records exported to %2").arg(headers.size()).arg(QDir::toNativeSeparators(path)));
}

}  // namespace tamrisk
