#include "unitprocess.h"

#include "host.h"
#include "operationrecord.h"
#include "process.h"
#include "recordsreader.h"
#include "recordstore.h"
#include "settings.h"
#include "stationrecords.h"
#include "statusline.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QInputDialog>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace tamrisk {

UnitProcess::~UnitProcess() = default;

UnitProcess::UnitProcess(QWidget& window, QAction& operation, QComboBox& product, StatusLine& status,
                         QAbstractButton& cancel, Host& host)
    : m_window(window), m_operation(operation), m_product(product), m_status(status), m_cancel(cancel),
      m_host(host) {
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    m_operationName = settings->value(QLatin1String(OperationSetting)).toString();
    ShowOperation();
    m_product.setEditable(true);
    m_product.setEditText(settings->value(QLatin1String(ProductSetting)).toString());
    QObject::connect(&m_operation, &QAction::triggered, &m_window, [this] { AskOperation(); });
    QObject::connect(&m_product, &QComboBox::currentTextChanged, &m_window, [this](const QString& text) {
        if (!m_filling)
            OpenSettingsStore()->setValue(QLatin1String(ProductSetting), text.trimmed());
    });
}

void UnitProcess::SetRecords(StationRecords* records) {
    m_records = records;
    // The records are opened after the window is given them, before its events run.
    if (records != nullptr)
        QTimer::singleShot(0, &m_window, [this] { FillProducts(); });
}

void UnitProcess::FillProducts() {
    UnitEntries* entries = m_records != nullptr ? m_records->Entries() : nullptr;
    if (entries == nullptr)
        return;
    // Read in the background: a line out of reach holds up no window. The box
    // waits for the answer, which may make it a list to choose from.
    if (!m_reader)
        m_reader = std::make_unique<RecordsReader>();
    m_product.setEnabled(false);
    m_reader->Post(entries->Location(), [this](RecordStore& store, StoreError& failure) {
        // First the units this computer's ended programs left in test.
        (void)store.Entries().FreeAbandoned();
        StoreResult<std::vector<Route>> routes = store.Routes().Routes();
        failure = routes.error();
        std::vector<Route> found = routes ? std::move(*routes) : std::vector<Route>();
        return RecordsReader::Reply([this, found = std::move(found)] { ShowProducts(found); });
    });
}

void UnitProcess::ShowProducts(const std::vector<Route>& routes) {
    const QString chosen = Product();
    m_filling = true;
    m_product.clear();
    m_product.setEditable(routes.empty());
    if (!routes.empty()) {
        for (const Route& route : routes)
            m_product.addItem(QString::fromStdString(route.product));
        m_product.setCurrentIndex(m_product.findText(chosen));
    } else {
        m_product.setEditText(chosen);
    }
    m_filling = false;
    m_product.setEnabled(true);
}

void UnitProcess::SetOperation(const QString& operation) {
    m_operationName = operation.trimmed();
    OpenSettingsStore()->setValue(QLatin1String(OperationSetting), m_operationName);
    ShowOperation();
}

void UnitProcess::ShowOperation() {
    m_operation.setText(m_operationName.isEmpty() ? QStringLiteral("Operation…")
                                                  : QStringLiteral("Operation: %1…").arg(m_operationName));
}

QString UnitProcess::Product() const { return m_product.currentText().trimmed(); }

void UnitProcess::AskOperation() {
    bool given = false;
    const QString operation = QInputDialog::getText(
        &m_window, QStringLiteral("Operation"),
        QStringLiteral("The operation this station does (board, burn-in, fiscal, final…); empty: none:"),
        QLineEdit::Normal, m_operationName, &given);
    if (!given)
        return;
    const std::string name = operation.trimmed().toStdString();
    if (const std::string problem = name.empty() ? std::string() : NameProblem("operation", name); !problem.empty()) {
        m_host.showMessage("The operation was not changed: " + problem, "Error");
        return;
    }
    SetOperation(operation);
}

EntryShown UnitProcess::Shown() {
    return {
        .waiting =
            [this](const std::string& text) {
                m_status.ShowClaimWait(text);
                m_cancel.setEnabled(!text.empty());
            },
        .alarm = [this](const QString& text) { m_status.ShowAlarm(text); },
    };
}

std::string EntryProblem(const std::string& operation, const std::string& product, const std::string& unit,
                         bool recordsKept) {
    for (const auto& [what, name] : {std::pair{"operation", &operation}, {"product", &product}}) {
        if (!name->empty()) {
            if (std::string problem = NameProblem(what, *name); !problem.empty())
                return problem;
        }
    }
    if (operation.empty() || product.empty())
        return {};
    if (unit.empty())
        return "the unit's entry into " + operation + " is checked before the run: give the unit in the Unit box";
    if (std::string problem = NameProblem("unit", unit); !problem.empty())
        return problem;
    if (!recordsKept)
        return "the unit's entry into " + operation + " is checked in the records, which are off";
    return {};
}

StationEntry::StationEntry(StationRecords& records, OperationRecord& record, Host& host, std::string operation,
                           std::string product)
    : m_records(records), m_record(record), m_host(host) {
    RecordHeader& header = record.Header();
    header.operation = std::move(operation);
    header.product = std::move(product);
    m_request = {header.unit, header.operation, header.product, header.id, header.station, header.port, 0};
}

bool StationEntry::Enter(ResultSink& results, const EntryShown& shown, const std::function<bool()>& cancelled) {
    if (m_request.operation.empty() || m_request.product.empty())
        return true;
    UnitEntries* entries = m_records.Entries();
    if (entries == nullptr)
        return Refuse(results, shown, RecordOutcome::Error, "the unit's entry cannot be checked: records are not kept");
    m_request.enteredMs = QDateTime::currentMSecsSinceEpoch();
    const std::string& unit = m_request.unit;
    OutOfReachWait wait;
    wait.limit = m_records.ClaimWait();
    wait.cancelled = cancelled;
    wait.began = [&](const std::string& reason) {
        results.AppendResultLine("** " + unit + "'s entry waits for the records (at most " +
                                     std::to_string(m_records.ClaimWait().count()) + " s): " + reason,
                                 ResultColour::Black);
        if (shown.waiting)
            shown.waiting("Waiting for the records to check " + unit + "'s entry: " + reason);
    };
    wait.ended = [&](bool answered, double waited) {
        if (answered) {
            char text[64];
            std::snprintf(text, sizeof text, "** The records answered (waited %.2f s)", waited);
            results.AppendResultLine(text, ResultColour::Black);
        }
        if (shown.waiting)
            shown.waiting({});
    };
    const UnitEntry entry = entries->Enter(m_host, m_request, wait);
    RecordOutcome outcome = RecordOutcome::Error;
    std::string reason;
    switch (entry.kind) {
    case UnitEntry::Kind::Entered: m_entered = true; return true;
    case UnitEntry::Kind::NotChecked: return true;
    case UnitEntry::Kind::Refused:
        m_record.Header().kind = "entry";
        outcome = RecordOutcome::Fail;
        reason = entry.reason;
        break;
    case UnitEntry::Kind::Unreachable:
    case UnitEntry::Kind::Failed: reason = "the unit's entry could not be checked: " + entry.reason; break;
    case UnitEntry::Kind::Cancelled:
        outcome = RecordOutcome::Aborted;
        reason = "cancelled while the unit's entry waited for the records";
        break;
    }
    return Refuse(results, shown, outcome, reason);
}

std::optional<TakenRelease> StationEntry::TakeRelease(ResultSink& results, const EntryShown& shown) {
    const std::string &product = m_request.product, &operation = m_request.operation;
    ActiveReleases* releases = m_records.Releases();
    if (releases == nullptr) {
        Refuse(results, shown, RecordOutcome::Error, "the active release cannot be taken: records are not kept");
        return std::nullopt;
    }
    StoreResult<TakenRelease> taken = releases->Take(product, operation);
    if (!taken && taken.error().kind != StoreError::Kind::NotFound) {
        Refuse(results, shown, RecordOutcome::Error,
               "the active release of " + product + " " + operation +
                   " could not be taken: " + taken.error().Text().toStdString());
        return std::nullopt;
    }
    // No release, or one changed since it was released: the unit does not enter.
    const std::string refusal = !taken                                  ? NoActiveReleaseText(product, operation)
                                : !ReleaseStore::Intact(taken->release) ? TamperedReleaseText(taken->release)
                                                                        : std::string();
    if (!refusal.empty()) {
        m_record.Header().kind = "entry";
        Refuse(results, shown, RecordOutcome::Fail, refusal);
        return std::nullopt;
    }
    m_record.Header().releaseNumber = taken->release.number;
    return *std::move(taken);
}

bool StationEntry::Refuse(ResultSink& results, const EntryShown& shown, RecordOutcome outcome,
                          const std::string& reason) {
    const std::string told = outcome == RecordOutcome::Fail ? "REFUSED: " + reason : reason;
    results.AppendResultLine("** " + told, ResultColour::Red);
    m_records.Finish(m_record, outcome, reason);
    if (outcome == RecordOutcome::Fail) {
        if (shown.alarm)
            shown.alarm(QString::fromStdString(told));
        m_host.showMessage(m_request.unit + " may not enter " + m_request.operation + ": " + reason, "Refused");
    }
    return false;
}

void StationEntry::Leave(RecordOutcome outcome, const EntryShown& shown) {
    if (!m_entered)
        return;
    m_entered = false;
    // An engineering run gives the unit back without counting as its pass or failure.
    m_request.engineering = m_record.Header().engineering;
    const StoreResult<std::optional<UnitHold>> left =
        m_records.Entries()->Leave(m_request, outcome, m_record.Header().operatorName);
    if (!left) {
        m_host.showMessageDetail("Cannot give " + m_request.unit + " back: it stays in test until released.",
                                 "Error", left.error().Text().toStdString());
        return;
    }
    if (!*left)
        return;
    const UnitHold& hold = **left;
    m_records.AddRecord(HoldRecord(m_request, hold));
    const std::string told = m_request.unit + " is put on hold: " + hold.reason;
    if (shown.alarm)
        shown.alarm(QString::fromStdString(told));
    m_host.showMessage(told, "Hold");
}

}  // namespace tamrisk
