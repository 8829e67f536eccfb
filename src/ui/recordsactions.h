#pragma once
// The main window's actions over the records in use: Records (RecordsM) opens
// the records window, "Never give a serial number twice" (UniqueSerialsM) and
// Claim Wait (ClaimWaitM) set how serial numbers are claimed, kept in the
// records' settings.

class QAction;
class QWidget;

namespace tamrisk {

class StationRecords;

class RecordsActions {
public:
    // Acts on the three actions of `window`, which owns them.
    RecordsActions(QWidget& window, QAction& records, QAction& uniqueSerials, QAction& claimWait);

    // The records in use (null: none); the two claim settings are usable only with them.
    void SetRecords(StationRecords* records);

private:
    // The records window talks to no printer: made on first use, it stays open beside the others.
    void ShowRecordsWindow();
    void AskClaimWait();

    QWidget& m_window;
    QAction& m_uniqueSerials;
    QAction& m_claimWait;
    StationRecords* m_records = nullptr;
};

}  // namespace tamrisk
