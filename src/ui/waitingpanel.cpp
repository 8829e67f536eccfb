#include "waitingpanel.h"

#include "recordforwarder.h"
#include "stationrecords.h"

#include <QLabel>
#include <QTimer>

namespace tamrisk {

WaitingShown ShowRecordsWaiting(int waiting, const QString& problem, const std::vector<SetAsideRecord>& setAside,
                                const QString& lineLocation) {
    WaitingShown shown;
    if (waiting < 0)
        shown.text = QStringLiteral("Records to send: counting");
    else if (waiting == 0)
        shown.text = QStringLiteral("All records sent");
    else if (waiting == 1)
        shown.text = QStringLiteral("1 record waits to be sent");
    else
        shown.text = QStringLiteral("%1 records wait to be sent").arg(waiting);
    shown.toolTip = problem.isEmpty() ? QStringLiteral("Records are sent on to %1").arg(lineLocation)
                                      : QStringLiteral("Cannot send the records: %1").arg(problem);
    if (!setAside.empty()) {
        shown.text += setAside.size() == 1 ? QStringLiteral(", 1 refused by the line")
                                           : QStringLiteral(", %1 refused by the line").arg(setAside.size());
        // Named with the line's reason; kept in the local file until `tamrisk-cli records sync` sends them.
        shown.toolTip += QStringLiteral("\nRefused by the line, kept in this station's file (records sync tries again):");
        for (const SetAsideRecord& record : setAside) {
            shown.toolTip +=
                QStringLiteral("\n%1%2: %3")
                    .arg(QString::fromStdString(record.id),
                         record.unit.empty() ? QString() : QStringLiteral(" unit ") + QString::fromStdString(record.unit),
                         record.reason);
        }
    }
    shown.alarm = !problem.isEmpty() || !setAside.empty();
    return shown;
}

void WaitingPanel::SetRecords(const StationRecords* records) {
    m_records = records;
    const bool line = records != nullptr && !records->LineLocation().isEmpty();
    m_label.setVisible(line);
    if (!line) {
        if (m_timer != nullptr)
            m_timer->stop();
        return;
    }
    if (m_timer == nullptr) {
        m_timer = new QTimer(&m_window);
        m_timer->setObjectName(QStringLiteral("WaitingTmr"));
        m_timer->setInterval(1000);
        QObject::connect(m_timer, &QTimer::timeout, &m_window, [this] { Refresh(); });
    }
    m_timer->start();
    Refresh();
}

void WaitingPanel::Refresh() {
    if (m_records == nullptr)
        return;
    // The forwarder is made when the records open; the count is read from its thread's last pass.
    const RecordForwarder* forwarder = m_records->Forwarder();
    const WaitingShown shown =
        forwarder != nullptr
            ? ShowRecordsWaiting(forwarder->Waiting(), forwarder->Problem(), forwarder->SetAside(),
                                 m_records->LineLocation())
            : ShowRecordsWaiting(-1, QString(), {}, m_records->LineLocation());
    m_label.setText(shown.text);
    m_label.setToolTip(shown.toolTip);
    m_label.setStyleSheet(shown.alarm ? QStringLiteral("color: #8b0000") : QString());
}

}  // namespace tamrisk
