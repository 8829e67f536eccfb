#pragma once
// The records window (RecordsFrm, "Records"): the records of the station's
// database, newest first, filtered by unit, serial number, outcome and start
// date; a double click shows a record's log in its colours, and the selected
// records are exported as JUnit XML, JSON or CSV. It talks to no printer, so it
// is not modal and stays open beside the other windows.

#include <QString>
#include <QWidget>

#include <memory>

class QDialog;
class QFileDialog;
class QLabel;
class QModelIndex;
class QPlainTextEdit;

namespace Ui {
class TRecordsFrm;
}

namespace tamrisk {

class RecordStore;
class RecordsModel;
class ResultsView;

class TRecordsFrm : public QWidget {
    Q_OBJECT
public:
    // Reads the records file at `location` (the one the station records into),
    // opened when the window is first shown; empty: records are off.
    explicit TRecordsFrm(QString location, QWidget* parent = nullptr);
    ~TRecordsFrm() override;

    // Lists the records anew under the filter in the boxes; false when the
    // database cannot be read (the status line says why).
    bool ApplyFilter();
    // Shows the log of the record in `row` of the table in the log window.
    void OpenRecord(int row);
    RecordsModel& Model() { return *m_model; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void ExportBtClick();

private:
    bool OpenStore();
    void ShowError(const QString& text);
    void ShowCount();
    QFileDialog& ExportDlg();
    QDialog& LogDlg();

    std::unique_ptr<Ui::TRecordsFrm> ui;
    QString m_location;
    std::unique_ptr<RecordStore> m_store;
    RecordsModel* m_model = nullptr;
    QFileDialog* m_exportDlg = nullptr;
    QDialog* m_logDlg = nullptr;
    QLabel* m_logHeader = nullptr;
    QPlainTextEdit* m_logText = nullptr;
    ResultsView* m_logView = nullptr;
};

}  // namespace tamrisk
