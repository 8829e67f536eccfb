#pragma once
// The records window (RecordsFrm, "Records"): the records of the station's
// database, newest first, filtered by unit, serial number, outcome and start
// date; a double click shows a record's log in its colours, and the selected
// records are exported as JUnit XML, JSON or CSV. It talks to no printer, so it
// is not modal and stays open beside the other windows. With a line database the
// operator chooses this station's records or the whole line's. Every read runs
// on the records reader's thread: the window says that it is reading and, when
// a read fails, why, and stays free to use meanwhile. Unit History lists every
// run, refusal, hold and release of the selected record's unit on the records
// chosen.

#include <QString>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QDialog;
class QFileDialog;
class QLabel;
class QModelIndex;
class QPlainTextEdit;
class QTableWidget;

namespace Ui {
class TRecordsFrm;
}

namespace tamrisk {

struct Record;
struct UnitEvent;
class RecordsModel;
class RecordsReader;
class ResultsView;

class TRecordsFrm : public QWidget {
    Q_OBJECT
public:
    // Reads the records file at `location` (the one the station records into),
    // opened when the window is first shown; empty: records are off. `line`, when
    // not empty, is the line's database, offered beside this station's file.
    explicit TRecordsFrm(QString location, QString line = {}, QWidget* parent = nullptr);
    ~TRecordsFrm() override;

    // Lists the records anew under the filter in the boxes, read in the
    // background: the status line says so, then the count or why the records
    // cannot be read. False when records are off.
    bool ApplyFilter();
    // Shows the log of the record in `row` of the table in the log window, once read.
    void OpenRecord(int row);
    RecordsModel& Model() { return *m_model; }
    // Shows the history of the unit of the record in `row` (History), once read.
    void OpenHistory(int row);
    // True while a read of the window's is under way.
    bool Reading() const;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void ExportBtClick();

private:
    // The records chosen: this station's file or the line's database.
    QString Source() const;
    void ShowRecord(const Record& record);
    void ShowError(const QString& text);
    void ShowStatus(const QString& text);
    void ShowCount();
    QFileDialog& ExportDlg();
    QDialog& LogDlg();
    QDialog& HistoryDlg();
    void ShowHistory(const QString& unit, const std::vector<UnitEvent>& events);
    // The row of the record selected alone; -1 for none or several.
    int SelectedRow() const;

    std::unique_ptr<Ui::TRecordsFrm> ui;
    QString m_location;
    QString m_line;
    std::unique_ptr<RecordsReader> m_reader;
    RecordsModel* m_model = nullptr;
    bool m_exporting = false;
    // Set to stop the export under way: by its progress dialog's Cancel, or by the
    // window's end, which must not wait for a long export to run its course.
    std::shared_ptr<std::atomic<bool>> m_exportCancelled;
    QFileDialog* m_exportDlg = nullptr;
    QDialog* m_logDlg = nullptr;
    QLabel* m_logHeader = nullptr;
    QTableWidget* m_checksTable = nullptr;  // the record's checks, failed ones first; hidden when none
    QPlainTextEdit* m_logText = nullptr;
    ResultsView* m_logView = nullptr;
    QDialog* m_historyDlg = nullptr;
    QTableWidget* m_historyTable = nullptr;
};

}  // namespace tamrisk
