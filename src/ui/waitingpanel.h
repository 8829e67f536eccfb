#pragma once
// The main window's count of records waiting to be sent to the line's database
// (WaitingPn), shown only with a line database and refreshed once a second from
// the forwarder's last pass: how many wait, how many the line refused, and in
// the tooltip where they go, why they cannot, and each refused record's reason.

#include <QString>

#include <vector>

class QLabel;
class QTimer;
class QWidget;

namespace tamrisk {

class StationRecords;
struct SetAsideRecord;

// What the panel shows for `waiting` records waiting (-1: not counted yet),
// the forwarder's `problem` (empty: none) and the records the line refused.
struct WaitingShown {
    QString text;
    QString toolTip;
    bool alarm = false;  // shown in red: the records cannot be sent, or some were refused
};
WaitingShown ShowRecordsWaiting(int waiting, const QString& problem, const std::vector<SetAsideRecord>& setAside,
                                const QString& lineLocation);

class WaitingPanel {
public:
    // Draws on `label`; the refresh timer (WaitingTmr) is made as a child of
    // `window` when a line database first comes.
    WaitingPanel(QLabel& label, QWidget& window) : m_label(label), m_window(window) {}

    // Shows the panel and refreshes it each second while `records` (null:
    // none) send on to a line database; hides it otherwise.
    void SetRecords(const StationRecords* records);
    // Draws the count as the forwarder last saw it.
    void Refresh();

private:
    QLabel& m_label;
    QWidget& m_window;
    const StationRecords* m_records = nullptr;
    QTimer* m_timer = nullptr;
};

}  // namespace tamrisk
