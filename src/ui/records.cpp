#include "records.h"

#include "exportrecords.h"
#include "filedialog.h"
#include "outputformats.h"
#include "recordsmodel.h"
#include "recordsreader.h"
#include "recordstore.h"
#include "reportfields.h"
#include "reports.h"
#include "resultsview.h"
#include "savefile.h"
#include "ui_records.h"

#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

namespace tamrisk {

namespace {

// The save dialog's filters and the suffixes they add, in the order of ExportFormats.
QStringList ExportTexts(std::string_view RecordFormatInfo::*text) {
    QStringList texts;
    for (const RecordFormat format : ExportFormats) {
        const std::string_view chosen = FormatInfo(format).*text;
        texts << QString::fromLatin1(chosen.data(), static_cast<qsizetype>(chosen.size()));
    }
    return texts;
}
const QStringList ExportFilters = ExportTexts(&RecordFormatInfo::filter);
const QStringList ExportSuffixes = ExportTexts(&RecordFormatInfo::suffix);

// A record's checks, those that did not hold first, each in the order made:
// name, what was expected, the value found, the result in its colour.
void ShowChecks(QTableWidget& table, const std::vector<RecordCheck>& checks) {
    std::vector<const CheckOutcome*> order;
    for (const RecordCheck& check : checks)
        order.push_back(&check.check);
    std::stable_partition(order.begin(), order.end(),
                          [](const CheckOutcome* check) { return check->result != CheckResult::Pass; });
    table.setRowCount(static_cast<int>(order.size()));
    for (int row = 0; row < static_cast<int>(order.size()); ++row) {
        const CheckOutcome& check = *order[static_cast<std::size_t>(row)];
        const std::string_view result = CheckResultText(check.result);
        const QString texts[] = {FromUtf8(check.name), FromUtf8(CheckExpectation(check)),
                                 check.value ? FromUtf8(CheckFoundValue(check)) : QStringLiteral("(none)"),
                                 QString::fromLatin1(result.data(), static_cast<qsizetype>(result.size()))};
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == 3)
                item->setForeground(check.result == CheckResult::Pass ? QColor(0, 128, 0) : QColor(Qt::red));
            if (column == 0 && !check.message.empty())
                item->setToolTip(FromUtf8(check.message));
            table.setItem(row, column, item);
        }
    }
    table.resizeColumnsToContents();
    // As many rows as there are, up to eight, above the log.
    const int rows = std::min(static_cast<int>(order.size()), 8);
    table.setFixedHeight(table.horizontalHeader()->height() + rows * table.verticalHeader()->defaultSectionSize() +
                         2 * table.frameWidth());
    table.setVisible(!order.empty());
}

// The header of a record above its log, one fact a line.
QString HeaderText(const Record& record) {
    const RecordHeader& h = record.header;
    QStringList lines;
    lines << QStringLiteral("%1 on %2 by %3, %4 at %5 Bd, version %6")
                 .arg(FromUtf8(KindShown(h.kind, h.engineering)), FromUtf8(h.station), FromUtf8(OperatorShown(h)),
                      FromUtf8(h.port))
                 .arg(h.speed)
                 .arg(FromUtf8(h.version));
    const QString outcome = h.outcome ? FromUtf8(std::string(OutcomeText(*h.outcome))).toUpper()
                                      : QStringLiteral("IN PROGRESS");
    lines << QStringLiteral("Started %1, %2: %3%4")
                 .arg(LocalStartText(h.startedMs), DurationText(h.durationMs), outcome,
                      h.reason.empty() ? QString() : QStringLiteral(" (%1)").arg(FromUtf8(h.reason)));
    if (h.engineering)
        lines << QStringLiteral("Engineering run: counted in no yield");
    if (h.releaseNumber)
        lines << QStringLiteral("Release: %1").arg(*h.releaseNumber);
    if (!h.unit.empty())
        lines << QStringLiteral("Unit: %1").arg(FromUtf8(h.unit));
    if (!h.product.empty() || !h.operation.empty())
        lines << QStringLiteral("Product: %1, operation: %2")
                     .arg(h.product.empty() ? QStringLiteral("-") : FromUtf8(h.product),
                          h.operation.empty() ? QStringLiteral("-") : FromUtf8(h.operation));
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

TRecordsFrm::TRecordsFrm(QString location, QString line, QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui(std::make_unique<Ui::TRecordsFrm>()),
      m_location(std::move(location)),
      m_line(std::move(line)),
      m_reader(std::make_unique<RecordsReader>()) {
    ui->setupUi(this);
    // Without a line database there is only this station's file to choose.
    ui->SourceLbl->setVisible(!m_line.isEmpty());
    ui->SourceBox->setVisible(!m_line.isEmpty());
    m_model = new RecordsModel(*m_reader, this);
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

    connect(ui->SourceBox, &QComboBox::activated, this, [this] { ApplyFilter(); });
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
    connect(ui->RecordsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        ui->ExportBt->setEnabled(ui->RecordsTable->selectionModel()->hasSelection());
        const int row = SelectedRow();
        ui->HistoryBt->setEnabled(row >= 0 && !m_model->Header(row).unit.empty());
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        ui->ExportBt->setEnabled(false);
        ui->HistoryBt->setEnabled(false);
    });
    connect(ui->HistoryBt, &QPushButton::clicked, this, [this] { OpenHistory(SelectedRow()); });
    connect(m_model, &RecordsModel::ReadStarted, this, [this] { ShowCount(); });
    connect(m_model, &RecordsModel::PageRead, this, [this] { ShowCount(); });
    connect(m_model, &RecordsModel::FetchFailed, this,
            [this](const QString& error) { ShowError(QStringLiteral("Cannot read the records: %1").arg(error)); });
    connect(ui->ExportBt, &QPushButton::clicked, this, &TRecordsFrm::ExportBtClick);
}

TRecordsFrm::~TRecordsFrm() {
    // An export under way stops at its next record rather than running its course
    // while the window waits for it.
    if (m_exportCancelled)
        *m_exportCancelled = true;
    // First, so that no read's reply comes to a window half taken apart.
    m_reader.reset();
}

bool TRecordsFrm::Reading() const { return m_reader->Pending() > 0; }

void TRecordsFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown again, the window lists the records made since.
    ApplyFilter();
}

QString TRecordsFrm::Source() const {
    return !m_line.isEmpty() && ui->SourceBox->currentIndex() == 1 ? m_line : m_location;
}

bool TRecordsFrm::ApplyFilter() {
    const QString location = Source();
    if (location.isEmpty()) {
        ShowError(QStringLiteral("Records are off"));
        return false;
    }
    RecordStore::Filter filter;
    filter.unit = ui->UnitBox->text().trimmed().toStdString();
    filter.serial = ui->SerialBox->text().trimmed().toStdString();
    if (ui->OutcomeBox->currentIndex() > 0)
        filter.outcome = OutcomeFromText(ui->OutcomeBox->currentText().toStdString());
    if (ui->SinceCheck->isChecked())
        filter.sinceMs = ui->SinceDate->date().startOfDay().toMSecsSinceEpoch();
    m_model->SetLocation(location);
    m_model->SetFilter(filter);
    return true;
}

void TRecordsFrm::ShowError(const QString& text) {
    // A database's reason can be long: it wraps, and the tooltip holds it whole.
    ui->StatusLbl->setStyleSheet(QStringLiteral("color: #8b0000"));
    ui->StatusLbl->setText(text);
    ui->StatusLbl->setToolTip(text);
}

void TRecordsFrm::ShowStatus(const QString& text) {
    ui->StatusLbl->setStyleSheet({});
    ui->StatusLbl->setText(text);
    ui->StatusLbl->setToolTip({});
}

void TRecordsFrm::ShowCount() {
    const int rows = m_model->rowCount();
    if (m_model->Reading())
        ShowStatus(rows == 0 ? QStringLiteral("Reading the records...")
                             : QStringLiteral("%1 records listed, reading more...").arg(rows));
    else
        ShowStatus(m_model->AtEnd() ? QStringLiteral("%1 records").arg(rows)
                                    : QStringLiteral("%1 records listed, more below").arg(rows));
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
        m_checksTable = new QTableWidget(0, 4, m_logDlg);
        m_checksTable->setObjectName(QStringLiteral("ChecksTable"));
        m_checksTable->setHorizontalHeaderLabels(
            {QStringLiteral("Check"), QStringLiteral("Expected"), QStringLiteral("Value"), QStringLiteral("Result")});
        m_checksTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_checksTable->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_checksTable->setWordWrap(false);
        m_checksTable->verticalHeader()->setVisible(false);
        m_checksTable->horizontalHeader()->setStretchLastSection(true);
        m_logText = new QPlainTextEdit(m_logDlg);
        m_logText->setObjectName(QStringLiteral("LogView"));
        m_logText->setLineWrapMode(QPlainTextEdit::NoWrap);
        layout->addWidget(m_logHeader);
        layout->addWidget(m_checksTable);
        layout->addWidget(m_logText, 1);
        m_logView = new ResultsView(m_logText, m_logDlg);
    }
    return *m_logDlg;
}

void TRecordsFrm::OpenRecord(int row) {
    if (row < 0 || row >= m_model->rowCount())
        return;
    ShowStatus(QStringLiteral("Reading the record..."));
    m_reader->Post(m_model->Location(), [this, id = m_model->Header(row).id](RecordStore& store, StoreError& failure) {
        StoreResult<Record> record = store.Queries().Load(id);
        failure = record.error();
        return RecordsReader::Reply([this, record = std::move(record)] {
            if (!record) {
                ShowError(QStringLiteral("Cannot read the record: %1").arg(record.error().Text()));
                return;
            }
            ShowCount();
            ShowRecord(*record);
        });
    });
}

void TRecordsFrm::ShowRecord(const Record& record) {
    QDialog& dialog = LogDlg();
    dialog.setWindowTitle(QStringLiteral("Record %1").arg(FromUtf8(record.header.id)));
    m_logHeader->setText(HeaderText(record));
    ShowChecks(*m_checksTable, record.checks);
    m_logView->Clear();
    for (const RecordLogLine& line : record.log)
        m_logView->AppendResultLine(line.text, line.colour);
    m_logView->Flush();
    m_logText->moveCursor(QTextCursor::Start);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

int TRecordsFrm::SelectedRow() const {
    const QModelIndexList selected = ui->RecordsTable->selectionModel()->selectedRows();
    return selected.size() == 1 ? selected.constFirst().row() : -1;
}

QDialog& TRecordsFrm::HistoryDlg() {
    if (m_historyDlg == nullptr) {
        m_historyDlg = new QDialog(this);
        m_historyDlg->setObjectName(QStringLiteral("HistoryDlg"));
        m_historyDlg->resize(900, 420);
        auto* layout = new QVBoxLayout(m_historyDlg);
        m_historyTable = new QTableWidget(0, 8, m_historyDlg);
        m_historyTable->setObjectName(QStringLiteral("HistoryTable"));
        m_historyTable->setHorizontalHeaderLabels({QStringLiteral("Started"), QStringLiteral("Kind"),
                                                   QStringLiteral("Product"), QStringLiteral("Operation"),
                                                   QStringLiteral("Station"), QStringLiteral("Operator"),
                                                   QStringLiteral("Outcome"), QStringLiteral("Cause")});
        m_historyTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_historyTable->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_historyTable->setWordWrap(false);
        m_historyTable->verticalHeader()->setVisible(false);
        m_historyTable->horizontalHeader()->setStretchLastSection(true);
        layout->addWidget(m_historyTable);
    }
    return *m_historyDlg;
}

void TRecordsFrm::OpenHistory(int row) {
    if (row < 0 || row >= m_model->rowCount() || m_model->Header(row).unit.empty())
        return;
    ShowStatus(QStringLiteral("Reading the unit's history..."));
    const std::string unit = m_model->Header(row).unit;
    m_reader->Post(m_model->Location(), [this, unit](RecordStore& store, StoreError& failure) {
        StoreResult<std::vector<UnitEvent>> history = store.Queries().History(unit);
        failure = history.error();
        return RecordsReader::Reply([this, unit, history = std::move(history)] {
            if (!history) {
                ShowError(QStringLiteral("Cannot read the unit's history: %1").arg(history.error().Text()));
                return;
            }
            ShowCount();
            ShowHistory(FromUtf8(unit), *history);
        });
    });
}

void TRecordsFrm::ShowHistory(const QString& unit, const std::vector<UnitEvent>& events) {
    QDialog& dialog = HistoryDlg();
    dialog.setWindowTitle(QStringLiteral("History of %1").arg(unit));
    m_historyTable->setRowCount(static_cast<int>(events.size()));
    for (int row = 0; row < static_cast<int>(events.size()); ++row) {
        const UnitEvent& e = events[static_cast<std::size_t>(row)];
        const QString texts[] = {LocalStartText(e.startedMs),
                                 FromUtf8(KindShown(e.kind, e.engineering)),
                                 FromUtf8(e.product),
                                 FromUtf8(e.operation),
                                 FromUtf8(e.station),
                                 FromUtf8(e.operatorName),
                                 e.outcome ? FromUtf8(std::string(OutcomeText(*e.outcome))) : QStringLiteral("running"),
                                 FromUtf8(e.cause)};
        for (int column = 0; column < 8; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == 6 && e.outcome)
                item->setForeground(OutcomeColour(*e.outcome));
            m_historyTable->setItem(row, column, item);
        }
    }
    m_historyTable->resizeColumnsToContents();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

QFileDialog& TRecordsFrm::ExportDlg() {
    if (m_exportDlg == nullptr) {
        m_exportDlg = NewFileDialog(this, {.caption = QStringLiteral("Export Records"),
                                           .objectName = QStringLiteral("ExportDlg"),
                                           .save = true,
                                           .nameFilters = ExportFilters,
                                           .defaultSuffix = ExportSuffixes.constFirst()});
        connect(m_exportDlg, &QFileDialog::filterSelected, m_exportDlg, [this](const QString& filter) {
            m_exportDlg->setDefaultSuffix(ExportSuffixes.value(ExportFilters.indexOf(filter)));
        });
    }
    return *m_exportDlg;
}

void TRecordsFrm::ExportBtClick() {
    QModelIndexList selected = ui->RecordsTable->selectionModel()->selectedRows();
    if (selected.isEmpty() || m_exporting)
        return;
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QFileDialog& dialog = ExportDlg();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const RecordFormat format = ExportFormats[std::max<qsizetype>(0, ExportFilters.indexOf(dialog.selectedNameFilter()))];

    std::vector<RecordHeader> headers;
    headers.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected)
        headers.push_back(m_model->Header(index.row()));
    // Every listed row selected means the whole list, also the rows the table
    // would fetch as it scrolls down to them.
    std::optional<RecordStore::Filter> rest;
    if (selected.size() == m_model->rowCount())
        rest = m_model->Unfetched();

    // Records are read (whole ones a batch at a time) and the file written on the
    // reader's thread; a long export shows its progress and may be cancelled. The
    // window stays free meanwhile: the export has the list as it was when asked.
    auto* progress = new QProgressDialog(QStringLiteral("Reading the records to export..."), QStringLiteral("Cancel"),
                                         0, 0, this);
    progress->setObjectName(QStringLiteral("ExportProgress"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setMinimumDuration(500);
    progress->setValue(0);  // starts the wait before the dialog shows
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_exportCancelled = cancelled;
    connect(progress, &QProgressDialog::canceled, this, [cancelled] { *cancelled = true; });
    m_exporting = true;
    ShowStatus(QStringLiteral("Exporting..."));
    const QPointer<QProgressDialog> shown(progress);
    // The job touches nothing of the window's: the reader (which outlives every job
    // it runs) carries its progress, and its last reply, run only while the window
    // is there, the outcome.
    RecordsReader* reader = m_reader.get();
    m_reader->Post(m_model->Location(), [this, reader, headers = std::move(headers), rest, format, path, cancelled,
                                         shown](RecordStore& store, StoreError& failure) mutable -> RecordsReader::Reply {
        const auto finish = [this, shown, path](const QString& problem, std::size_t exported) {
            return RecordsReader::Reply([this, shown, path, problem, exported] {
                if (shown)
                    shown->close();
                m_exporting = false;
                if (problem.isEmpty())
                    ShowStatus(QStringLiteral("%1 records exported to %2")
                                   .arg(exported)
                                   .arg(QDir::toNativeSeparators(path)));
                else
                    ShowError(problem);
            });
        };
        if (rest) {
            StoreResult<std::vector<RecordHeader>> more = store.Queries().List(*rest);
            if (!more) {
                failure = more.error();
                return finish(QStringLiteral("Cannot read the records: %1").arg(failure.Text()), 0);
            }
            headers.insert(headers.end(), std::make_move_iterator(more->begin()), std::make_move_iterator(more->end()));
        }
        const StoreResult<std::optional<QByteArray>> exported =
            ExportRecords(store.Queries(), headers, format, [&](std::size_t read, std::size_t all) {
                reader->Tell([shown, read = static_cast<int>(read), all = static_cast<int>(all)] {
                    if (shown) {
                        shown->setMaximum(all);
                        shown->setValue(read);
                    }
                });
                return !*cancelled;
            });
        if (!exported) {
            failure = exported.error();
            return finish(QStringLiteral("Cannot read the record: %1").arg(failure.Text()), 0);
        }
        if (!*exported || *cancelled)
            return finish(QStringLiteral("Export cancelled"), 0);
        const QByteArray& bytes = **exported;
        QString saveError;
        if (!SaveBytesToFile(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                             saveError))
            return finish(QStringLiteral("Cannot export: %1").arg(saveError), 0);
        return finish({}, headers.size());
    });
}

}  // namespace tamrisk
