// The station's records driven as an operator drives the main window, over the
// printer model: a run kept with its outcome, log and unit, the Unit box and
// Enter, the outcome in the status line, Save Results, serial numbers never given
// twice, a records file that cannot be written (at once, or only once a run is
// under way), and the records of the other windows that talk to the printer.

#include "recordtesting.h"
#include "coderead.h"
#include "command.h"
#include "hexview.h"
#include "journal.h"
#include "journaltext.h"
#include "memoryreader.h"
#include "memread.h"
#include "readklenbin.h"
#include "records.h"
#include "recordstore.h"
#include "resultsview.h"
#include "settings.h"
#include "stationrecords.h"
#include "status.h"
#include "tamriskfp.h"
#include "textcodec.h"
#include "uitesting.h"

#include <QAction>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QRegularExpression>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace tamrisk {
namespace {

using testing::PickFile;
using testing::Refusing90;
using testing::UiRig;

struct StationRecordsTest : ::testing::Test {
    StationRecordsTest() {
        OpenSettingsStore()->clear();
        // Never the user's own records file.
        qputenv("TAMRISK_RECORDS", dir.filePath("records.sqlite").toUtf8());
    }
    ~StationRecordsTest() override { qunsetenv("TAMRISK_RECORDS"); }

    // The window with its records, shown and connected.
    void Open() { testing::ShowConnected(rig, window, records); }
    // Records for a window other than the main one, which stays hidden.
    void KeepRecords() {
        records = std::make_unique<StationRecords>(*rig.station, &window);
        records->Open();
    }
    template <class T = QWidget>
    T* Get(const char* name) { return testing::FindControl<T>(window, name); }
    void Run(const QString& script) {
        Get<QPlainTextEdit>("ScrMemo")->setPlainText(script);
        window.Results().Clear();
        QTest::mouseClick(Get<QPushButton>("ExecuteBt"), Qt::LeftButton);
    }
    // The records kept, newest first, read back whole.
    std::vector<Record> Kept() {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(dir.filePath("records.sqlite"))));
        std::vector<Record> kept;
        for (const RecordHeader& header : ValueOf(store.List({.limit = 0})))
            kept.push_back(ValueOf(store.Load(header.id)));
        return kept;
    }
    QStringList ViewLines() { return window.Results().Text().split('\n', Qt::SkipEmptyParts); }
    QLabel* Outcome() { return Get<QLabel>("OutcomePn"); }

    QTemporaryDir dir;
    UiRig rig{Refusing90()};
    TTestForm window{*rig.station};
    std::unique_ptr<StationRecords> records;
};

// The record's log as the view shows it, line by line (the run's last line
// carries its own line end, which the view shows as a line break).
QStringList LogTexts(const Record& record) {
    QStringList texts;
    for (const RecordLogLine& line : record.log)
        texts << QString::fromStdString(line.text).remove(u'\r');
    return texts.join('\n').split('\n', Qt::SkipEmptyParts);
}

TEST_F(StationRecordsTest, RunIsKeptWithOutcomeLogAndUnit) {
    const struct {
        const char* script;
        const char* unit;  // typed into the Unit box
        RecordOutcome outcome;
        const char* keptUnit;
        const char* caption;
        QColor colour;
        const char* lineRange;
    } cases[] = {
        {"74\n+1;91,DT000100", "ZK123456", RecordOutcome::Pass, "ZK123456", "PASS", QColor(0, 128, 0), ""},
        // Without a unit: the first serial number sent.
        {"+1;91,DT000100\n74", "", RecordOutcome::Pass, "DT000100", "PASS", QColor(0, 128, 0), ""},
        {"74\n90,abc\n74", "ZK7", RecordOutcome::Fail, "ZK7", "FAIL", QColor(255, 0, 0), ""},
    };
    Open();
    for (const auto& c : cases) {
        Get<QLineEdit>("UnitBox")->setText(c.unit);
        Run(c.script);
        const std::vector<Record> kept = Kept();
        ASSERT_FALSE(kept.empty()) << c.script;
        const Record& record = kept.front();
        EXPECT_EQ(record.header.kind, "run");
        EXPECT_EQ(record.header.outcome, c.outcome) << c.script;
        EXPECT_EQ(record.header.unit, c.keptUnit) << c.script;
        EXPECT_EQ(record.header.speed, rig.station->link.LineSpeed);
        EXPECT_EQ(LogTexts(record), ViewLines()) << c.script;
        EXPECT_EQ(Outcome()->text(), c.caption);
        EXPECT_EQ(Outcome()->palette().color(QPalette::WindowText).name(), c.colour.name()) << c.script;
        // The unit stays for the next unit's scan to replace.
        EXPECT_EQ(Get<QLineEdit>("UnitBox")->text(), c.unit);
    }
    EXPECT_EQ(Kept().size(), std::size(cases));
    EXPECT_EQ(Kept().back().serials.at(0).space, "91,DT######");
    EXPECT_EQ(Kept().back().serials.at(0).line, 2);
}

TEST_F(StationRecordsTest, SelectionKeepsItsLineRangeAndNumbers) {
    Open();
    auto* editor = Get<QPlainTextEdit>("ScrMemo");
    editor->setPlainText("74\n74\n+1;91,DT000100\n74");
    QTextCursor cursor(editor->document());
    cursor.setPosition(3);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    QTest::mouseClick(Get<QPushButton>("ExecuteBt"), Qt::LeftButton);
    const Record record = Kept().at(0);
    EXPECT_EQ(record.header.lineRange, "2-3");
    ASSERT_EQ(record.serials.size(), 1u);
    EXPECT_EQ(record.serials[0].line, 3);
}

// A run's record gives the digest of the whole script as loaded, also when a
// selection runs: the one tamrisk-cli gives the same file (the digest of its lines
// each ended by CR LF), whatever line ends the file has.
TEST_F(StationRecordsTest, TheScriptsDigestIsOfTheWholeScriptAsTheCliGivesIt) {
    const QByteArray asSaved = "74\r\n+1;91,DT000100\r\n74\r\n";
    const std::string digest = QCryptographicHash::hash(asSaved, QCryptographicHash::Sha256).toHex().toStdString();
    const struct {
        const char* name;
        QByteArray bytes;
        int selectFrom, selectTo;  // characters of the editor; equal: no selection
        const char* lineRange;
    } cases[] = {
        {"crlf.inp", asSaved, 0, 0, ""},
        {"lf.inp", "74\n+1;91,DT000100\n74", 3, 10, "2-2"},
        {"cr.inp", "74\r+1;91,DT000100\r74\r", 0, 0, ""},
    };
    Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(testing::WriteFileBytes(path, c.bytes));
        PickFile(path);
        window.findChild<QAction*>("LoadScriptM")->trigger();
        auto* editor = Get<QPlainTextEdit>("ScrMemo");
        QTextCursor cursor(editor->document());
        cursor.setPosition(c.selectFrom);
        cursor.setPosition(c.selectTo, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor);
        QTest::mouseClick(Get<QPushButton>("ExecuteBt"), Qt::LeftButton);
        const RecordHeader header = Kept().at(0).header;
        EXPECT_EQ(header.script, c.name);
        EXPECT_EQ(header.scriptSha256, digest);
        EXPECT_EQ(header.lineRange, c.lineRange);
    }
}

// A claim whose line's database is out of reach waits at most the ClaimWait
// setting, the status line saying so meanwhile, and the run then ends ERROR; a
// Cancel during the wait ends it at once, ABORTED. The number goes out in neither.
TEST_F(StationRecordsTest, AClaimWaitsAtMostTheClaimWaitAndCancelEndsTheWait) {
    qputenv("TAMRISK_RECORDS", (QStringLiteral("postgresql://tamrisk@/tamrisk_test?host=") + dir.filePath("nowhere")).toUtf8());
    qputenv("TAMRISK_LOCAL_RECORDS", dir.filePath("records.sqlite").toUtf8());
    OpenSettingsStore()->setValue(QLatin1String(StationRecords::ClaimWaitSetting), 1);
    OpenSettingsStore()->setValue(QLatin1String(StationRecords::UniqueSerialsSetting), true);
    Open();
    const struct {
        bool cancel;
        const char* ends;  // the line that ends the run
        const char* caption;
    } runs[] = {
        {false, "** DT000100 not sent, no claim on it: ", "ERROR"},
        {true, "Script cancelled !!!", "ABORTED"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.caption);
        QString shown;
        // The run's clock is the fake host's: the wait's events are looked at as they run.
        rig.host.onEvents = [&] {
            QCoreApplication::processEvents();
            const QString status = Get<QLabel>("StatusPn")->text();
            if (!shown.isEmpty() || !status.startsWith("Waiting"))
                return;
            shown = status;
            if (run.cancel)
                QTest::mouseClick(Get<QPushButton>("CancelBt"), Qt::LeftButton);
        };
        const double started = rig.host.elapsedMs();
        Run("+1;91,DT000100");
        EXPECT_TRUE(shown.startsWith("Waiting for the serial-number claims: ")) << shown.toStdString();
        const QStringList view = ViewLines();
        EXPECT_EQ(view.filter("** DT000100 waits for its claim (at most 1 s): ").size(), 1)
            << view.join('|').toStdString();
        EXPECT_EQ(view.filter(run.ends).size(), 1) << view.join('|').toStdString();
        EXPECT_TRUE(view.filter("-> 91,").isEmpty());
        EXPECT_EQ(Outcome()->text(), run.caption);
        // The Cancel ends the wait within a slice, well before the claim wait's second.
        EXPECT_NEAR(rig.host.elapsedMs() - started, run.cancel ? 100 : 1000, 100);
        EXPECT_FALSE(Get<QLabel>("StatusPn")->text().startsWith("Waiting"));
    }
    qunsetenv("TAMRISK_LOCAL_RECORDS");
}

TEST_F(StationRecordsTest, UniqueSerialsSkipNumbersGivenBeforeAndSendNoneWithoutRecords) {
    const struct {
        bool recordsOff;   // the station started again with records off
        const char* sent;  // the number kept as sent; empty: no record
        const char* note;  // the view's line about the claim; empty: none
        const char* caption;
    } runs[] = {
        {false, "DT000100", "", "PASS"},
        {false, "DT000101", "** DT000100 already given, skipped", "PASS"},
        {true, "", "** DT000100 not sent, no claim on it: records are not kept", "ERROR"},
    };
    Open();
    window.findChild<QAction*>("UniqueSerialsM")->trigger();
    for (const auto& run : runs) {
        if (run.recordsOff) {
            qputenv("TAMRISK_RECORDS", "off");
            records = std::make_unique<StationRecords>(*rig.station, &window);
            window.SetRecords(records.get());
            // The setting was kept and is shown again.
            EXPECT_TRUE(window.findChild<QAction*>("UniqueSerialsM")->isChecked());
        }
        // The editor's line as it was before the first run.
        Run("+1;91,DT000100");
        const QStringList view = ViewLines();
        EXPECT_EQ(view.filter("** ").filter("DT0001").join('|'), run.note) << run.sent;
        EXPECT_EQ(Outcome()->text(), run.caption) << run.sent;
        const QString request = *run.sent != 0 ? QStringLiteral("-> 91,\"%1\"").arg(run.sent) : QString();
        EXPECT_EQ(view.filter("-> 91,").join('|'), request) << view.join('|').toStdString();
        if (*run.sent == 0)
            continue;
        const Record record = Kept().at(0);
        EXPECT_EQ(record.header.unit, run.sent);
        ASSERT_EQ(record.serials.size(), 1u);
        EXPECT_EQ(record.serials[0].data, run.sent);
    }
}

TEST_F(StationRecordsTest, EnterInUnitBoxStartsRunWhenExecuteIsEnabled) {
    Open();
    auto* unit = Get<QLineEdit>("UnitBox");
    const struct {
        const char* name;
        bool connected;
        bool script;
        std::size_t records;
    } cases[] = {
        {"ready", true, true, 1},
        {"no script", true, false, 1},
        {"not connected", false, true, 1},
    };
    for (const auto& c : cases) {
        if (rig.station->Connected != c.connected)
            QTest::mouseClick(Get<QPushButton>("ConnectBt"), Qt::LeftButton);
        Get<QPlainTextEdit>("ScrMemo")->setPlainText(c.script ? "74" : "");
        unit->clear();
        unit->setFocus();
        QTest::keyClicks(unit, "SN-42");
        QTest::keyClick(unit, Qt::Key_Return);
        const std::vector<Record> kept = Kept();
        EXPECT_EQ(kept.size(), c.records) << c.name;
        ASSERT_FALSE(kept.empty());
        EXPECT_EQ(kept.front().header.unit, "SN-42");
    }
}

TEST_F(StationRecordsTest, SaveResultsAsTextOrColouredHtml) {
    Open();
    Run("74\n90,abc");
    const struct {
        const char* filter;
        const char* name;
        QStringList expected;
    } cases[] = {
        {"Text (*.txt)", "log.txt", ViewLines()},
        {"HTML with colours (*.html *.htm)", "log.html",
         {"<span style=\"color: #0000ff\">-&gt; 74", "<span style=\"color: #ff0000\">"}},
    };
    for (const auto& c : cases) {
        PickFile(dir.filePath(c.name), [&](QFileDialog& dialog) { dialog.selectNameFilter(c.filter); });
        window.findChild<QAction*>("SaveResultsM")->trigger();
        QFile file(dir.filePath(c.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.name;
        const QString text = QString::fromUtf8(file.readAll());
        for (const QString& part : c.expected) {
            EXPECT_TRUE(text.contains(part)) << c.name << ": " << part.toStdString() << "\n" << text.toStdString();
        }
        if (QString(c.name).endsWith(".txt")) {
            EXPECT_EQ(text.toStdString(), (ViewLines().join('\n') + '\n').toStdString());
        }
    }
}

TEST_F(StationRecordsTest, UnwritableRecordsFileCostsTheRunNothingAndIsToldOnce) {
    const QByteArray garbage(4096, 'x');
    ASSERT_TRUE(testing::WriteFileBytes(dir.filePath("records.sqlite"), garbage));
    Open();
    Run("74\n90,abc");
    const QStringList first = ViewLines();
    Run("74\n90,abc");
    EXPECT_EQ(ViewLines(), first);
    EXPECT_EQ(first.size(), 5);
    const auto boxes = window.findChildren<QMessageBox*>("RecordsProblemBox");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->text().contains(dir.filePath("records.sqlite"))) << boxes[0]->text().toStdString();
    EXPECT_TRUE(Get<QLabel>("StatusPn")->text().startsWith("Records not kept: "));
    EXPECT_EQ(Outcome()->text(), "FAIL");
    EXPECT_EQ(testing::ReadFileBytes(dir.filePath("records.sqlite")), garbage);
}

TEST_F(StationRecordsTest, RecordsRefusedOnceTheRunIsUnderWayAreToldOnce) {
    // The file opens; the writer's thread finds it refusing lines, or the outcome, only later.
    const struct {
        const char* refusing;
        const char* trigger;
    } cases[] = {
        {"lines", "CREATE TRIGGER refuse BEFORE INSERT ON record_log_chunks "
                  "BEGIN SELECT RAISE(ABORT, 'lines refused'); END"},
        {"outcome", "CREATE TRIGGER refuse BEFORE UPDATE OF outcome ON records "
                    "BEGIN SELECT RAISE(ABORT, 'outcome refused'); END"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusing);
        Open();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("refusing"));
            db.setDatabaseName(dir.filePath("records.sqlite"));
            ASSERT_TRUE(db.open());
            QSqlQuery query(db);
            ASSERT_TRUE(query.exec(QString::fromLatin1(c.trigger))) << query.lastError().text().toStdString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("refusing"));
        Get<QLabel>("StatusPn")->clear();
        Run("74");
        Run("74");
        const auto boxes = window.findChildren<QMessageBox*>("RecordsProblemBox");
        ASSERT_EQ(boxes.size(), 1);
        const QString refused = QStringLiteral("%1 refused").arg(QLatin1String(c.refusing));
        EXPECT_TRUE(boxes[0]->text().contains(refused)) << boxes[0]->text().toStdString();
        EXPECT_TRUE(Get<QLabel>("StatusPn")->text().startsWith("Records not kept: "));
        EXPECT_TRUE(Get<QLabel>("StatusPn")->text().contains(refused));
        EXPECT_EQ(Outcome()->text(), "PASS");
        delete boxes[0];
        records.reset();
        ASSERT_TRUE(QFile::remove(dir.filePath("records.sqlite")));
        QFile::remove(dir.filePath("records.sqlite-wal"));
        QFile::remove(dir.filePath("records.sqlite-shm"));
    }
}

TEST_F(StationRecordsTest, MemoryReadsKeepTheirImageAndTheFileItIsSavedTo) {
    const struct {
        bool fiscal;
        bool cancel;
        const char* kind;
        RecordOutcome outcome;
    } cases[] = {
        {false, false, "code-memory", RecordOutcome::Pass},
        {true, false, "fiscal-memory", RecordOutcome::Pass},
        {false, true, "code-memory", RecordOutcome::Aborted},
    };
    KeepRecords();
    for (const auto& c : cases) {
        MemoryReaderState state;
        TStatusDlg statusDlg{rig.state, [] { return false; }};
        std::unique_ptr<MemoryReadWindow> reader;
        if (c.fiscal)
            reader = std::make_unique<TMemForm>(*rig.station, state, &statusDlg);
        else
            reader = std::make_unique<TCodeForm>(*rig.station, state, &statusDlg);
        reader->SetRecords(records.get());
        reader->show();
        auto* cancel = testing::FindControl<QPushButton>(*reader, "CancelBt");
        rig.host.onEvents = [&] {
            QCoreApplication::processEvents();
            if (c.cancel && cancel->isEnabled() && reader->View().LineCount() >= 400)
                QTest::mouseClick(cancel, Qt::LeftButton);
        };
        QTest::mouseClick(testing::FindControl<QPushButton>(*reader, "ReadBt"), Qt::LeftButton);
        const QByteArray sha256 =
            QCryptographicHash::hash(QByteArray(state.Image.View().data(), state.Image.length),
                                     QCryptographicHash::Sha256).toHex();
        Record record = Kept().at(0);
        EXPECT_EQ(record.header.kind, c.kind);
        EXPECT_EQ(record.header.outcome, c.outcome) << c.kind << c.cancel;
        ASSERT_EQ(record.images.size(), 1u);
        EXPECT_EQ(record.images[0].length, state.Image.length);
        EXPECT_EQ(record.images[0].sha256, sha256.toStdString());
        EXPECT_EQ(record.images[0].file, "");

        const QString file = dir.filePath(QStringLiteral("%1-%2.bin").arg(c.kind).arg(c.cancel));
        PickFile(file);
        QTest::mouseClick(testing::FindControl<QPushButton>(*reader, "SaveBt"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !records->Writing(); }, 20'000));
        record = Kept().at(0);
        ASSERT_EQ(record.images.size(), 2u);
        EXPECT_EQ(record.images[1].file, file.toStdString());
        EXPECT_EQ(record.images[1].sha256, sha256.toStdString());
    }
}

// An image saved after its record ended is written on a thread of its own: the
// window goes on while another program holds the records file, the image is in
// the record once the file is free, and a file that refuses it is told once.
TEST_F(StationRecordsTest, AnImageSavedLaterIsWrittenOffTheWindowsThread) {
    const struct {
        const char* name;
        const char* before;  // run by another program before the save
        const char* after;   // and after it returned
        const char* refused;  // the reason told; null: the image is kept
    } cases[] = {
        {"free", nullptr, nullptr, nullptr},
        {"held by another program", "BEGIN IMMEDIATE", "COMMIT", nullptr},
        {"refusing images",
         "CREATE TRIGGER refuse BEFORE INSERT ON record_images BEGIN SELECT RAISE(ABORT, 'images refused'); END",
         nullptr, "images refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KeepRecords();
        const std::unique_ptr<OperationRecord> record = records->Begin("code-memory");
        record->Start();
        records->Finish(*record, RecordOutcome::Pass, {});
        const QString file = dir.filePath("code.bin");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(dir.filePath("records.sqlite"));
            ASSERT_TRUE(other.open());
            QSqlQuery query(other);
            if (c.before) {
                ASSERT_TRUE(query.exec(QString::fromLatin1(c.before))) << query.lastError().text().toStdString();
            }
            // Held, the file would keep the window waiting for seconds and then refuse the image.
            records->ImageSaved(record->Id(), "code-memory", "image bytes", file);
            if (c.after) {
                ASSERT_TRUE(query.exec(QString::fromLatin1(c.after))) << query.lastError().text().toStdString();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !records->Writing(); }, 20'000));
        const std::vector<RecordImage> images = Kept().at(0).images;
        const auto boxes = window.findChildren<QMessageBox*>("RecordsProblemBox");
        if (c.refused) {
            EXPECT_TRUE(images.empty());
            ASSERT_EQ(boxes.size(), 1);
            EXPECT_TRUE(boxes[0]->text().contains(c.refused)) << boxes[0]->text().toStdString();
        } else {
            EXPECT_TRUE(boxes.empty());
            ASSERT_EQ(images.size(), 1u);
            EXPECT_EQ(images[0].file, file.toStdString());
            EXPECT_EQ(images[0].length, 11);
            EXPECT_EQ(images[0].sha256,
                      QCryptographicHash::hash("image bytes", QCryptographicHash::Sha256).toHex().toStdString());
        }
        qDeleteAll(boxes);
        records.reset();
        for (const char* name : {"records.sqlite", "records.sqlite-wal", "records.sqlite-shm"})
            QFile::remove(dir.filePath(name));
    }
}

TEST_F(StationRecordsTest, BinaryJournalCopyKeepsTheFileItWrote) {
    const struct {
        const char* name;
        bool close;  // the window closed during the copy
        RecordOutcome outcome;
        const char* reason;
    } cases[] = {
        {"whole", false, RecordOutcome::Pass, ""},
        {"closed", true, RecordOutcome::Aborted, "the window was closed during it"},
    };
    KeepRecords();
    for (const auto& c : cases) {
        TReadKlenFrm copy{*rig.station};
        copy.SetRecords(records.get());
        copy.show();
        auto* progress = testing::FindControl<QLabel>(copy, "PrgLabel");
        rig.host.onEvents = [&] {
            QCoreApplication::processEvents();
            if (c.close && progress->text().contains("Read: 576") && copy.isVisible())
                copy.close();
        };
        const QString file = dir.filePath(QStringLiteral("%1.bin").arg(c.name));
        PickFile(file);
        QTest::mouseClick(testing::FindControl<QPushButton>(copy, "StartBt"), Qt::LeftButton);
        const Record record = Kept().at(0);
        EXPECT_EQ(record.header.kind, "journal-binary");
        EXPECT_EQ(record.header.outcome, c.outcome) << c.name;
        EXPECT_EQ(record.header.reason, c.reason) << c.name;
        const QByteArray written = testing::ReadFileBytes(file);
        ASSERT_EQ(record.images.size(), 1u) << c.name;
        EXPECT_EQ(record.images[0].file, file.toStdString());
        EXPECT_EQ(record.images[0].length, written.size());
        EXPECT_EQ(record.images[0].sha256,
                  QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex().toStdString());
    }
}

TEST_F(StationRecordsTest, RunStoppedByCancelOrByClosingTheWindowIsAborted) {
    const struct {
        bool close;
        const char* reason;
    } cases[] = {
        {false, "Script cancelled !!!"},
        {true, "the window was closed during it"},
    };
    Open();
    for (const auto& c : cases) {
        rig.host.sleeps.clear();
        rig.host.onEvents = [&] {
            if (rig.host.sleeps.size() != 3 || rig.state.CancelRequest)
                return;
            if (c.close)
                window.close();
            else
                QTest::mouseClick(Get<QPushButton>("CancelBt"), Qt::LeftButton);
        };
        Run("#10000\n74");
        const Record record = Kept().at(0);
        EXPECT_EQ(record.header.outcome, RecordOutcome::Aborted) << c.reason;
        EXPECT_EQ(record.header.reason, c.reason);
        EXPECT_EQ(window.isVisible(), !c.close);
    }
}

TEST_F(StationRecordsTest, CommandPassesOrFailsWithItsRedAnswerLine) {
    struct Lines : ResultSink {
        void AppendResultLine(std::string_view text, ResultColour colour) override {
            if (colour == ResultColour::Red)
                red = Cp1251ToUtf8(text);
        }
        std::string red;
    } sink;
    TStatusDlg statusDlg{rig.state, [] { return false; }};
    TCommandFrm dialog{*rig.station, sink, &statusDlg, {}};
    KeepRecords();
    dialog.SetRecords(records.get());
    dialog.show();
    const struct {
        const char* command;
        const char* data;
        RecordOutcome outcome;
    } cases[] = {
        {"74", "", RecordOutcome::Pass},
        {"90", "abc", RecordOutcome::Fail},  // refused with the printer's common error
    };
    for (const auto& c : cases) {
        sink.red.clear();
        testing::FindControl<QLineEdit>(dialog, "CmdBox")->setText(c.command);
        testing::FindControl<QLineEdit>(dialog, "DataBox")->setText(c.data);
        QTest::mouseClick(testing::FindControl<QPushButton>(dialog, "ExecuteBt"), Qt::LeftButton);
        const Record record = Kept().at(0);
        EXPECT_EQ(record.header.kind, "command");
        EXPECT_EQ(record.header.outcome, c.outcome) << c.command;
        EXPECT_EQ(record.header.reason, sink.red) << c.command;  // empty for a pass
        EXPECT_EQ(sink.red.empty(), c.outcome == RecordOutcome::Pass) << c.command;
    }
}

TEST_F(StationRecordsTest, JournalOperationsAreKeptWithTheirOutcomesAndLines) {
    enum class During { Nothing, Cancel, Close, Unplug };
    const struct {
        const char* button;
        const char* query;
        During during;  // done once ten lines are in the view
        const char* kind;
        RecordOutcome outcome;
        const char* reason;  // null: the status panel's text
        bool logged;         // the view's lines kept, then the panel's text when the operation set it
    } cases[] = {
        {"ReadBt", "Z3", During::Nothing, "journal-read", RecordOutcome::Pass, "", true},
        {"ReadBt", "K1", During::Nothing, "journal-read", RecordOutcome::Fail, "Invalid input data", false},
        {"ReadBt", "A", During::Cancel, "journal-read", RecordOutcome::Aborted, nullptr, true},
        {"ReadBt", "A", During::Close, "journal-read", RecordOutcome::Aborted, "the window was closed during it", true},
        {"PrintBt", "Z3", During::Nothing, "journal-print", RecordOutcome::Pass, "", false},
        {"CheckBt", "Z3", During::Nothing, "journal-check", RecordOutcome::Pass, "", true},
        {"CheckBt", "Z5", During::Nothing, "journal-check", RecordOutcome::Fail,
         "Journal and calculated SHA-1 not equal!", true},
        {"InfoBt", "", During::Nothing, "journal-info", RecordOutcome::Pass, "", true},
        {"ReadBt", "A", During::Unplug, "journal-read", RecordOutcome::Aborted, "Serial port lost", true},
    };
    TJournalForm journal{*rig.station};
    KeepRecords();
    journal.SetRecords(records.get());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.query);
        journal.show();
        auto* status = testing::FindControl<QLabel>(journal, "StatusPn");
        status->setText("before");
        rig.host.onEvents = [&] {
            QCoreApplication::processEvents();
            if (journal.Text().LineCount() != 10 || !journal.isVisible() || !journal.Busy())
                return;
            if (c.during == During::Cancel)
                QTest::mouseClick(testing::FindControl<QPushButton>(journal, "CancelBt"), Qt::LeftButton);
            else if (c.during == During::Close)
                journal.close();
            else if (c.during == During::Unplug && rig.station->Connected)
                rig.io->unplug("gone");
        };
        testing::FindControl<QLineEdit>(journal, "InputBox")->setText(c.query);
        QTest::mouseClick(testing::FindControl<QPushButton>(journal, c.button), Qt::LeftButton);
        const bool statusSet = status->text() != "before";
        const Record record = Kept().at(0);
        EXPECT_EQ(record.header.kind, c.kind);
        EXPECT_EQ(record.header.outcome, c.outcome);
        EXPECT_EQ(record.header.reason, c.reason ? std::string(c.reason) : status->text().toStdString());
        QStringList logged, shown;
        for (const RecordLogLine& line : record.log)
            logged << DecodeCp1251(line.text);
        for (std::size_t i = 0; c.logged && i < journal.Text().LineCount(); ++i)
            shown << DecodeCp1251(journal.Text().Line(i));
        if (statusSet)
            shown << status->text();
        EXPECT_EQ(logged, shown);
    }
}

}  // namespace
}  // namespace tamrisk

namespace tamrisk {
namespace {

// Checks judge a run with the variables file read at its start and the unit
// box as {unit}; the status line names the first failed check; Stop at the
// first failure (kept in the settings) ends the run there; a variables file
// that cannot be read runs nothing.
TEST_F(StationRecordsTest, ChecksJudgeTheRunAndTheStatusLineNamesTheFirstFailure) {
    const QString vars = dir.filePath("limits.vars");
    ASSERT_TRUE(testing::WriteFileBytes(vars, "# limits\nready=P\n"));
    window.SetVariablesFile(vars);
    EXPECT_EQ(Get<QLabel>("VarsPn")->text(), "Variables: limits.vars");
    const struct {
        const char* script;
        bool stopOnFail;
        RecordOutcome outcome;
        const char* status;  // the status line's text after the run begins so
        int requests, checks;
    } cases[] = {
        {"74\n?ok: * = {ready}\n?u: * != {unit}", false, RecordOutcome::Pass, "", 1, 2},
        {"74\n?first: * = X\n74\n?second: * = Y", false, RecordOutcome::Fail,
         "FAIL: first: expected * = X, got P", 2, 2},
        {"74\n?first: * = X\n74\n?second: * = Y", true, RecordOutcome::Fail, "FAIL: first: expected * = X, got P", 1,
         1},
        {"74\n?n: * = {missing}", false, RecordOutcome::Error, "ERROR: n: unknown variable {missing}", 1, 1},
    };
    Open();
    Get<QLineEdit>("UnitBox")->setText("ZK1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        if (window.findChild<QAction*>("StopOnFailM")->isChecked() != c.stopOnFail)
            window.findChild<QAction*>("StopOnFailM")->trigger();
        EXPECT_EQ(OpenSettingsStore()->value("StopOnFail").toBool(), c.stopOnFail);
        Run(c.script);
        const Record record = Kept().front();
        EXPECT_EQ(record.header.outcome, c.outcome);
        EXPECT_EQ(record.checks.size(), static_cast<std::size_t>(c.checks));
        EXPECT_EQ(ViewLines().filter(QRegularExpression("^-> ")).size(), c.requests);
        EXPECT_EQ(ViewLines().filter(QRegularExpression("^\\?\\? ")).size(), c.checks);
        EXPECT_EQ(Get<QLabel>("StatusPn")->text().left(static_cast<qsizetype>(std::strlen(c.status))), c.status);
    }
    ASSERT_TRUE(QFile::remove(vars));
    const std::size_t before = Kept().size(), told = rig.host.messages.size();
    Run("74");
    EXPECT_EQ(Kept().size(), before);
    ASSERT_EQ(rig.host.messages.size(), told + 1);
    EXPECT_EQ(rig.host.messages.back().text, "Cannot read the variables file; the script was not run.");
    // The next window made reads the settings before its test clears them.
    window.SetVariablesFile({});
    EXPECT_TRUE(Get<QLabel>("VarsPn")->isHidden());
}

// The Records window lists a record's checks above its log, those that did
// not hold first.
TEST_F(StationRecordsTest, TheRecordsWindowShowsARecordsChecksFailedFirst) {
    Open();
    Run("74\n?a: * = P\n?b: 1 in 2..3 V\n?c: * ~ ^P$");
    auto* frame = new TRecordsFrm(dir.filePath("records.sqlite"), QString(), &window);
    frame->show();
    auto* table = frame->findChild<QTableView*>("RecordsTable");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->Reading() && table->model()->rowCount() == 1; }, 20'000));
    const QPoint cell = table->visualRect(table->model()->index(0, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
    QTableWidget* checks = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (checks = frame->findChild<QTableWidget*>("ChecksTable")) != nullptr && checks->rowCount() == 3; },
        20'000));
    const QStringList first = {checks->item(0, 0)->text(), checks->item(0, 1)->text(), checks->item(0, 2)->text(),
                               checks->item(0, 3)->text()};
    EXPECT_EQ(first, (QStringList{"b", "1 in 2..3 V", "P", "fail"}));
    EXPECT_EQ(checks->item(1, 0)->text(), "a");
    EXPECT_EQ(checks->item(2, 0)->text(), "c");
    EXPECT_TRUE(checks->isVisible());
}

}  // namespace
}  // namespace tamrisk
