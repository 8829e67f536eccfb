#include "recordsactions.h"

#include "records.h"
#include "scriptrunner.h"
#include "stationrecords.h"

#include <QAction>
#include <QInputDialog>

namespace tamrisk {

RecordsActions::RecordsActions(QWidget& window, QAction& records, QAction& uniqueSerials, QAction& claimWait)
    : m_window(window), m_uniqueSerials(uniqueSerials), m_claimWait(claimWait) {
    QObject::connect(&records, &QAction::triggered, &m_window, [this] { ShowRecordsWindow(); });
    QObject::connect(&m_uniqueSerials, &QAction::toggled, &m_window, [this](bool on) {
        if (m_records != nullptr && m_records->UniqueSerials() != on)
            m_records->SetUniqueSerials(on);
    });
    QObject::connect(&m_claimWait, &QAction::triggered, &m_window, [this] { AskClaimWait(); });
}

void RecordsActions::SetRecords(StationRecords* records) {
    m_records = records;
    m_uniqueSerials.setEnabled(records != nullptr);
    m_claimWait.setEnabled(records != nullptr);
    if (records != nullptr)
        m_uniqueSerials.setChecked(records->UniqueSerials());
}

void RecordsActions::ShowRecordsWindow() {
    auto* frame = m_window.findChild<TRecordsFrm*>();
    if (frame == nullptr)
        frame = m_records != nullptr
                    ? new TRecordsFrm(m_records->LocalLocation(), m_records->LineLocation(), &m_window)
                    : new TRecordsFrm(QString(), QString(), &m_window);
    frame->show();
    frame->raise();
    frame->activateWindow();
}

void RecordsActions::AskClaimWait() {
    if (m_records == nullptr)
        return;
    bool given = false;
    const int seconds = QInputDialog::getInt(
        &m_window, QStringLiteral("Claim Wait"),
        QStringLiteral("Seconds a serial-number claim waits for a records database out of reach:"),
        static_cast<int>(m_records->ClaimWait().count()), 0, static_cast<int>(MaxClaimWait.count()), 1, &given);
    if (given)
        m_records->SetClaimWait(std::chrono::seconds(seconds));
}

}  // namespace tamrisk
