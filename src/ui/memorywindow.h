#pragma once
// What the code and the fiscal memory readers' windows share: a read into the
// shared memory image with its hex dump and progress bar, Cancel, and Save of
// the image into a file. Each window gives its form's controls, the read's
// configuration and its texts.

#include "closeguard.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <string>

class QFileDialog;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tamrisk {

class HexView;
class Station;
class StationRecords;
class TStatusDlg;
class OperationRecord;
struct MemoryReadConfig;
struct MemoryReadResult;
struct MemoryReaderState;

// The texts and ways in which the two windows differ.
struct MemoryWindowTexts {
    QString saveTitle;         // the save dialog's title
    QString saveFilter;        // its one name filter
    QString defaultSuffix;     // added to a name typed without an extension
    std::string existsQuestion;  // asked before an existing file is replaced
    bool clearOnShow;          // the dump is emptied each time the window is shown
    std::string recordKind;    // the kind of record a read keeps
};

class MemoryReadWindow : public QDialog {
    Q_OBJECT
public:
    ~MemoryReadWindow() override;

    // Save and Cancel disabled, Read enabled (and the dump cleared where the
    // window does so); called each time the window is shown.
    void FormShow();
    // The status dialog shown for a failed block (may be null).
    void SetStatusDlg(TStatusDlg* statusDlg) { m_statusDlg = statusDlg; }
    // Where every read is recorded, and a later save of its image (null: nowhere).
    void SetRecords(StationRecords* records) { m_records = records; }
    // The dump (FlashData) behind its batches.
    HexView& View() { return *m_view; }
    bool Reading() const { return m_close.IsBusy(); }

protected:
    struct Controls {
        QPlainTextEdit* flashData;
        QPushButton* readBt;
        QPushButton* cancelBt;
        QPushButton* saveBt;
        QProgressBar* prgBar;
    };

    MemoryReadWindow(Station& station, MemoryReaderState& memory, TStatusDlg* statusDlg,
                     const MemoryReadConfig& config, MemoryWindowTexts texts, QWidget* parent);
    // Called once the form is set up.
    void Bind(const Controls& controls);

    void showEvent(QShowEvent* event) override;
    // Escape and the close box during a read: the window closes when the read
    // has ended.
    void reject() override;

private slots:
    void ReadBtClick();
    void CancelBtClick();
    void SaveBtClick();

private:
    // Finishes the read's record with its image and the outcome of `result`.
    void FinishRecord(OperationRecord& record, const MemoryReadResult& result);
    // The save dialog, made on first use.
    QFileDialog& SaveDlg();

    Station& m_station;
    MemoryReaderState& m_memory;
    TStatusDlg* m_statusDlg;
    const MemoryReadConfig& m_config;
    MemoryWindowTexts m_texts;
    Controls m_controls{};
    HexView* m_view = nullptr;
    QFileDialog* m_saveDlg = nullptr;
    CloseGuard m_close;
    StationRecords* m_records = nullptr;
    std::string m_recordId;  // the record of the read whose image is held
};

}  // namespace tamrisk
