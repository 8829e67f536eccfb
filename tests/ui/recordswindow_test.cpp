// The records window over a records file made through the store: the filters,
// the outcome colours, a record's log opened by a double click, the export of
// the selection in each format read back, a large file listed a page at a time,
// a file that is not a records database, records off, and the menu entry that opens it;
// with a line database, this station's records or the whole line's, and a line
// database away or silent while the window stays free. Every read of the window's
// runs on its reader's thread: the tests wait for it as an operator would.

#include "recordtesting.h"
#include "records.h"
#include "station.h"
#include "tamriskfp.h"
#include "recordsmodel.h"
#include "recordstore.h"
#include "uitesting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <set>

namespace tamrisk {
namespace {

using testing::FindControl;
using testing::PickFile;

// Waits (events running) until the window's reads are done.
bool Settled(TRecordsFrm& window) { return QTest::qWaitFor([&] { return !window.Reading(); }, 20'000); }

// Midday, local time, `days` after 2026-03-01: dates the Since box can name.
qint64 LocalNoonMs(int days) { return QDateTime(QDate(2026, 3, 1).addDays(days), QTime(12, 0)).toMSecsSinceEpoch(); }

struct Made {
    char letter;
    int day;
    const char* unit;
    std::optional<RecordOutcome> outcome;
    const char* serial;
};

// Listed newest first: e d c b a.
const Made Records[] = {
    {'a', 0, "PRN-1", RecordOutcome::Pass, "DT000100"},
    {'b', 1, "PRN-2", RecordOutcome::Fail, ""},
    {'c', 2, "PRN-1", RecordOutcome::Aborted, "DT000101"},
    {'d', 3, "", RecordOutcome::Error, ""},
    {'e', 4, "PRN-3", std::nullopt, "DT000101"},
};

std::string Id(char letter) { return std::string(8, letter) + "-0000-4000-8000-000000000000"; }

RecordHeader Header(const std::string& id, qint64 startedMs) {
    RecordHeader header;
    header.id = id;
    header.kind = "run";
    header.station = "line-3";
    header.operatorName = "ivana";
    header.version = "0.1";
    header.port = "/dev/ttyUSB0";
    header.speed = 115200;
    header.startedMs = startedMs;
    header.durationMs = 1'250;
    header.script = "demo.inp";
    return header;
}

struct RecordsWindow : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(StoreOk(store.Open(Path())));
    }
    QString Path() const { return dir.filePath(QStringLiteral("records.sqlite")); }
    void Add(RecordHeader header, const std::vector<RecordLogLine>& log = {}, const char* serial = "") {
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        if (!log.empty()) {
            ASSERT_TRUE(StoreOk(store.AppendLog(header.id, log)));
        }
        if (*serial != '\0') {
            const RecordSerial sent{"91,DT######", serial, 4, SerialResult::Answered};
            ASSERT_TRUE(StoreOk(store.AddSerials(header.id, {&sent, 1})));
        }
        if (header.outcome) {
            ASSERT_TRUE(StoreOk(store.Finish(header)));
        }
    }
    void AddTheFive() {
        for (const Made& m : Records) {
            RecordHeader header = Header(Id(m.letter), LocalNoonMs(m.day));
            header.unit = m.unit;
            header.outcome = m.outcome;
            Add(header, {}, m.serial);
        }
    }
    // Opens the window over the file, as the menu does.
    TRecordsFrm& Window() {
        if (!window) {
            window = std::make_unique<TRecordsFrm>(Path());
            window->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
            EXPECT_TRUE(Settled(*window));
        }
        return *window;
    }
    void Settle() { ASSERT_TRUE(Settled(Window())); }
    template <class T>
    T* Control(const char* name) {
        return FindControl<T>(Window(), name);
    }
    // The first letter of each listed record's id, in the table's order.
    std::string Listed() {
        std::string letters;
        for (int row = 0; row < Window().Model().rowCount(); ++row)
            letters += Window().Model().Header(row).id[0];
        return letters;
    }
    QTableView* Table() { return Control<QTableView>("RecordsTable"); }
    void SelectRows(std::initializer_list<int> rows) {
        Table()->clearSelection();
        for (int row : rows)
            Table()->selectionModel()->select(Window().Model().index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QTemporaryDir dir;
    RecordStore store;
    std::unique_ptr<TRecordsFrm> window;
};

TEST_F(RecordsWindow, FiltersByUnitSerialOutcomeAndDate) {
    AddTheFive();
    const struct {
        const char* name;
        const char* unit;
        const char* serial;
        int outcome;  // the Outcome box's row: any, pass, fail, aborted, error
        int sinceDay;  // -1: no date
        const char* letters;
    } cases[] = {
        {"all, newest first", "", "", 0, -1, "edcba"},
        {"unit", "PRN-1", "", 0, -1, "ca"},
        {"unit with spaces around", " PRN-2 ", "", 0, -1, "b"},
        {"serial number", "", "DT000101", 0, -1, "ec"},
        {"pass", "", "", 1, -1, "a"},
        {"fail", "", "", 2, -1, "b"},
        {"aborted", "", "", 3, -1, "c"},
        {"error", "", "", 4, -1, "d"},
        {"since a day, from its start", "", "", 0, 2, "edc"},
        {"unit and outcome", "PRN-1", "", 3, -1, "c"},
        {"unit and date", "PRN-1", "", 0, 1, "c"},
        {"nothing matches", "", "DT999999", 0, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Control<QLineEdit>("UnitBox")->setText(c.unit);
        Control<QLineEdit>("SerialBox")->setText(c.serial);
        Control<QComboBox>("OutcomeBox")->setCurrentIndex(c.outcome);
        Control<QCheckBox>("SinceCheck")->setChecked(c.sinceDay >= 0);
        if (c.sinceDay >= 0)
            Control<QDateEdit>("SinceDate")->setDate(QDate(2026, 3, 1).addDays(c.sinceDay));
        QTest::mouseClick(Control<QPushButton>("FilterBt"), Qt::LeftButton);
        Settle();
        EXPECT_EQ(Listed(), c.letters);
        EXPECT_EQ(Control<QLabel>("StatusLbl")->text(), QStringLiteral("%1 records").arg(std::strlen(c.letters)));
    }
    // Enter in the unit box lists at once.
    Control<QCheckBox>("SinceCheck")->setChecked(false);
    Control<QLineEdit>("SerialBox")->clear();
    Control<QComboBox>("OutcomeBox")->setCurrentIndex(0);
    Control<QLineEdit>("UnitBox")->setText("PRN-3");
    QTest::keyClick(Control<QLineEdit>("UnitBox"), Qt::Key_Return);
    Settle();
    EXPECT_EQ(Listed(), "e");
}

TEST_F(RecordsWindow, ShowsEachOutcomeInItsColourAndARecordInProgressWithoutOne) {
    AddTheFive();
    RecordsModel& model = Window().Model();
    const struct {
        char letter;
        const char* text;
        QColor colour;  // invalid: the table's own
        const char* duration;
    } cases[] = {
        {'a', "pass", QColor(ColourRgb(ResultColour::Green).red, ColourRgb(ResultColour::Green).green,
                             ColourRgb(ResultColour::Green).blue), "1.250 s"},
        {'b', "fail", QColor(ColourRgb(ResultColour::Red).red, 0, 0), "1.250 s"},
        {'c', "aborted", QColor(0x8B, 0, 0), "1.250 s"},
        {'d', "error", QColor(0x8B, 0, 0), "1.250 s"},
        {'e', "-", QColor(), ""},
    };
    ASSERT_EQ(model.rowCount(), 5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        const int row = static_cast<int>('e' - c.letter);
        EXPECT_EQ(model.index(row, RecordsModel::OutcomeCol).data().toString(), c.text);
        EXPECT_EQ(model.index(row, RecordsModel::OutcomeCol).data(Qt::ForegroundRole).value<QColor>(), c.colour);
        EXPECT_EQ(model.index(row, RecordsModel::DurationCol).data().toString(), c.duration);
        EXPECT_EQ(model.index(row, RecordsModel::StartedCol).data().toString(),
                  QDateTime::fromMSecsSinceEpoch(LocalNoonMs(c.letter - 'a')).toString("yyyy-MM-dd HH:mm:ss"));
        EXPECT_EQ(model.index(row, RecordsModel::ScriptCol).data().toString(), "demo.inp");
        EXPECT_EQ(model.index(row, RecordsModel::StationCol).data().toString(), "line-3");
    }
}

TEST_F(RecordsWindow, DoubleClickShowsTheRecordsLogInItsColours) {
    RecordHeader header = Header(Id('a'), LocalNoonMs(0));
    header.unit = "PRN-7";
    header.outcome = RecordOutcome::Fail;
    header.reason = "a red line";
    const std::vector<RecordLogLine> log = {
        {0, ResultColour::Blue, "-> 74,"},
        {12, ResultColour::Green, "<- 74, OK"},
        {20, ResultColour::Blue, "-> 91,DT000100"},
        {35, ResultColour::Red, "<- 91, \xCE\xF8\xE8\xE1\xEA\xE0"},  // Windows-1251 text
        {40, ResultColour::Black, ""},
    };
    Add(header, log);
    Add(Header(Id('b'), LocalNoonMs(1)), {{0, ResultColour::Black, "another record"}});

    Window();
    QTableView* table = Table();
    const QRect cell = table->visualRect(Window().Model().index(1, RecordsModel::UnitCol));
    // A double click as the system delivers it: a click, then the second press as a double click.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    Settle();
    auto* dialog = Window().findChild<QDialog*>("LogDlg");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    const QString headerText = FindControl<QLabel>(*dialog, "HeaderLbl")->text();
    EXPECT_TRUE(headerText.contains("FAIL (a red line)")) << headerText.toStdString();
    EXPECT_TRUE(headerText.contains("Unit: PRN-7")) << headerText.toStdString();

    auto* view = FindControl<QPlainTextEdit>(*dialog, "LogView");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isReadOnly());
    const QStringList expected = {"-> 74,", "<- 74, OK", "-> 91,DT000100", "<- 91, Ошибка", ""};
    ASSERT_EQ(view->document()->blockCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const QTextBlock block = view->document()->findBlockByNumber(i);
        EXPECT_EQ(block.text(), expected[i]);
        const Rgb rgb = ColourRgb(log[static_cast<std::size_t>(i)].colour);
        EXPECT_EQ(block.charFormat().foreground().color(), QColor(rgb.red, rgb.green, rgb.blue));
    }

    // Another record replaces the log, in the same window.
    Window().OpenRecord(0);
    Settle();
    EXPECT_EQ(view->toPlainText(), "another record");
    EXPECT_EQ(Window().findChildren<QDialog*>("LogDlg").size(), 1);
}

// An engineering run is marked in the list, with why in its tooltip, and in
// its record's header with who ran it and the release; a run of a release is not.
TEST_F(RecordsWindow, MarksAnEngineeringRunInTheListAndInItsHeader) {
    RecordHeader engineering = Header(Id('a'), LocalNoonMs(0));
    engineering.operatorName = "Anna Petrova";
    engineering.operatorId = "A17";
    engineering.computerLogin = "anna";
    engineering.engineering = true;
    engineering.outcome = RecordOutcome::Pass;
    RecordHeader released = Header(Id('b'), LocalNoonMs(1));
    released.releaseNumber = 3;
    released.outcome = RecordOutcome::Pass;
    Add(engineering);
    Add(released);
    ASSERT_EQ(Listed(), "ba");
    const struct {
        int row;
        const char* kind;
        bool tip;
        const char* headerLine;  // the first line of the record's header
        const char* mark;        // a line of the header
        const char* unmarked;    // not in the header
    } cases[] = {
        {1, "run (engineering)", true, "run (engineering) on line-3 by Anna Petrova (A17), login anna,",
         "Engineering run: counted in no yield", "Release:"},
        {0, "run", false, "run on line-3 by ivana,", "Release: 3", "ngineering"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const QModelIndex kind = Window().Model().index(c.row, RecordsModel::KindCol);
        EXPECT_EQ(kind.data().toString(), c.kind);
        EXPECT_EQ(kind.data(Qt::ToolTipRole).toString().contains("counted in no yield"), c.tip);
        Window().OpenRecord(c.row);
        Settle();
        auto* dialog = Window().findChild<QDialog*>("LogDlg");
        ASSERT_NE(dialog, nullptr);
        const QStringList lines = FindControl<QLabel>(*dialog, "HeaderLbl")->text().split(u'\n');
        EXPECT_TRUE(lines.front().startsWith(c.headerLine)) << lines.front().toStdString();
        EXPECT_TRUE(lines.contains(c.mark)) << lines.join(u'|').toStdString();
        EXPECT_FALSE(lines.join(u'\n').contains(c.unmarked)) << lines.join(u'|').toStdString();
    }
}

// Unit History: on for one record with a unit, off for one without or for
// several; its dialog lists the unit's runs, refusals and holds oldest first,
// with product, operation and cause, and a record's header names them too.
TEST_F(RecordsWindow, UnitHistoryListsTheSelectedRecordsUnit) {
    AddTheFive();
    RecordHeader refused = Header(std::string(8, 'f') + "-0000-4000-8000-000000000000", LocalNoonMs(5));
    refused.kind = "entry";
    refused.unit = "PRN-1";
    refused.product = "FP-3";
    refused.operation = "final";
    refused.outcome = RecordOutcome::Fail;
    refused.reason = "PRN-1 has not passed fiscal";
    Add(refused);
    ASSERT_EQ(Listed(), "fedcba");

    auto* history = Control<QPushButton>("HistoryBt");
    ASSERT_NE(history, nullptr);
    EXPECT_FALSE(history->isEnabled());
    SelectRows({2});  // d: no unit
    EXPECT_FALSE(history->isEnabled());
    SelectRows({0, 1});
    EXPECT_FALSE(history->isEnabled());
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {},
                      Table()->visualRect(Window().Model().index(0, RecordsModel::UnitCol)).center());
    ASSERT_TRUE(history->isEnabled());
    QTest::mouseClick(history, Qt::LeftButton);
    Settle();
    auto* dialog = Window().findChild<QDialog*>("HistoryDlg");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "History of PRN-1");
    auto* table = FindControl<QTableWidget>(*dialog, "HistoryTable");
    ASSERT_NE(table, nullptr);
    std::vector<std::string> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 1; column < table->columnCount(); ++column)
            cells << table->item(row, column)->text();
        rows.push_back(cells.join(u'|').toStdString());
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"run|||line-3|ivana|pass|", "run|||line-3|ivana|aborted|",
                                              "entry|FP-3|final|line-3|ivana|fail|PRN-1 has not passed fiscal"}));

    Window().OpenRecord(0);
    Settle();
    const QString headerText = FindControl<QLabel>(*Window().findChild<QDialog*>("LogDlg"), "HeaderLbl")->text();
    EXPECT_TRUE(headerText.contains("Product: FP-3, operation: final")) << headerText.toStdString();
}

TEST_F(RecordsWindow, ExportsTheSelectedRecordsInEachFormat) {
    AddTheFive();
    const RecordLogLine line{5, ResultColour::Red, "<- 91, refused"};
    ASSERT_TRUE(StoreOk(store.AppendLog(Id('b'), {&line, 1})));
    Window();
    EXPECT_FALSE(Control<QPushButton>("ExportBt")->isEnabled());
    SelectRows({3, 1});  // b and d, written newest first
    ASSERT_TRUE(Control<QPushButton>("ExportBt")->isEnabled());

    const struct {
        const char* filter;
        const char* name;  // without a suffix: the filter's is added
        const char* file;
    } cases[] = {
        {"JUnit XML (*.xml)", "report", "report.xml"},
        {"JSON (*.json)", "records", "records.json"},
        {"CSV (*.csv)", "list.csv", "list.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        PickFile(dir.filePath(c.name), [&](QFileDialog& dialog) {
            dialog.selectNameFilter(c.filter);
            emit dialog.filterSelected(c.filter);
        });
        QTest::mouseClick(Control<QPushButton>("ExportBt"), Qt::LeftButton);
        Settle();
        QFile file(dir.filePath(c.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.file;
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(Control<QLabel>("StatusLbl")->text().startsWith("2 records exported to"));

        if (QByteArray(c.file).endsWith(".xml")) {
            QXmlStreamReader xml(bytes);
            QStringList suites;
            QString out;
            int failures = 0;
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement)
                    continue;
                if (xml.name() == u"testsuite")
                    suites << xml.attributes().value("failures").toString() + "/" +
                                  xml.attributes().value("errors").toString();
                else if (xml.name() == u"failure")
                    ++failures;
                else if (xml.name() == u"system-out")
                    out += xml.readElementText();
            }
            EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
            EXPECT_EQ(suites, QStringList({"0/1", "1/0"}));  // d's error, then b's failure, in the table's order
            EXPECT_GE(failures, 1);
            EXPECT_TRUE(out.contains("<- 91, refused"));
        } else if (QByteArray(c.file).endsWith(".json")) {
            const QJsonArray records = QJsonDocument::fromJson(bytes).array();
            ASSERT_EQ(records.size(), 2);
            EXPECT_EQ(records[0]["id"].toString().toStdString(), Id('d'));
            EXPECT_EQ(records[1]["id"].toString().toStdString(), Id('b'));
            EXPECT_EQ(records[1]["log"][0]["text"].toString(), "<- 91, refused");
        } else {
            const QList<QByteArray> rows = bytes.trimmed().split('\n');
            ASSERT_EQ(rows.size(), 3);
            EXPECT_TRUE(rows[0].startsWith("id,kind,"));
            EXPECT_TRUE(rows[1].startsWith(QByteArray::fromStdString(Id('d'))));
            EXPECT_TRUE(rows[2].startsWith(QByteArray::fromStdString(Id('b'))));
        }
    }
}

TEST_F(RecordsWindow, EveryListedRowSelectedExportsTheRecordsNotFetchedYet) {
    constexpr int Count = RecordsModel::PageRows * 2 + 50;
    for (int i = 0; i < Count; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", static_cast<unsigned>(i));
        Add(Header(id, LocalNoonMs(0) + i));
    }
    const struct {
        const char* file;
        bool allButOne;
        int exported;
    } cases[] = {
        {"all.csv", false, Count},
        {"all-listed-but-one.csv", true, RecordsModel::PageRows - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(Window().Model().rowCount(), RecordsModel::PageRows);
        QTest::keyClick(Table(), Qt::Key_A, Qt::ControlModifier);
        if (c.allButOne)
            Table()->selectionModel()->select(Window().Model().index(0, 0),
                                              QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        PickFile(dir.filePath(c.file), [](QFileDialog& dialog) {
            dialog.selectNameFilter("CSV (*.csv)");
            emit dialog.filterSelected("CSV (*.csv)");
        });
        QTest::mouseClick(Control<QPushButton>("ExportBt"), Qt::LeftButton);
        Settle();
        QFile file(dir.filePath(c.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QList<QByteArray> rows = file.readAll().trimmed().split('\n');
        rows.removeFirst();
        EXPECT_EQ(std::set<QByteArray>(rows.begin(), rows.end()).size(), static_cast<std::size_t>(c.exported));
        EXPECT_EQ(rows.size(), c.exported);
        EXPECT_TRUE(Control<QLabel>("StatusLbl")->text().startsWith(QStringLiteral("%1 records exported").arg(c.exported)));
    }
}

// Closed during the export of a large filter, the window stops the export at its
// next record and waits for it: the file is not written, and the export's job,
// which runs on the reader's thread, touches nothing of the window's once it is gone.
TEST_F(RecordsWindow, ClosingTheWindowDuringAnExportStopsTheExport) {
    constexpr int Count = 3'000;
    std::vector<RecordLogLine> log;
    for (int i = 0; i < 20; ++i)
        log.push_back({i, ResultColour::Black, "-> 74, a line of the run as the operator saw it"});
    for (int i = 0; i < Count; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", static_cast<unsigned>(i));
        Add(Header(id, LocalNoonMs(0) + i), log);
    }
    ASSERT_EQ(Window().Model().rowCount(), RecordsModel::PageRows);
    QTest::keyClick(Table(), Qt::Key_A, Qt::ControlModifier);
    const QString file = dir.filePath("all.json");
    PickFile(file, [](QFileDialog& dialog) {
        dialog.selectNameFilter("JSON (*.json)");
        emit dialog.filterSelected("JSON (*.json)");
    });
    QTest::mouseClick(Control<QPushButton>("ExportBt"), Qt::LeftButton);

    // The first progress the export tells ends the wait at once: the rest of the
    // records are still to be read when the window goes.
    auto* progress = Window().findChild<QProgressDialog*>("ExportProgress");
    ASSERT_NE(progress, nullptr);
    auto* bar = progress->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    QEventLoop loop;
    QObject::connect(bar, &QProgressBar::valueChanged, &loop, [&loop](int value) {
        if (value > 0)
            loop.quit();
    });
    QTimer::singleShot(20'000, &loop, [&loop] { loop.exit(1); });
    ASSERT_EQ(loop.exec(), 0) << "the export told no progress";
    window.reset();
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(RecordsWindow, ListsALargeFileAPageAtATimeAsItScrolls) {
    // Three records share each start, so pages also split records of one start.
    constexpr int Count = 5'000;
    const qint64 base = LocalNoonMs(0);
    for (int i = 0; i < Count; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", static_cast<unsigned>(i * 2654435761u));
        RecordHeader header = Header(id, base + i / 3);
        ASSERT_TRUE(StoreOk(store.Begin(header)));
    }
    RecordsModel& model = Window().Model();
    EXPECT_EQ(model.rowCount(), RecordsModel::PageRows);
    EXPECT_TRUE(model.canFetchMore({}));
    EXPECT_EQ(Control<QLabel>("StatusLbl")->text(), QStringLiteral("%1 records listed, more below").arg(RecordsModel::PageRows));

    // Scrolling to the end of the table fetches the next page.
    Table()->scrollToBottom();
    Settle();
    EXPECT_GT(model.rowCount(), RecordsModel::PageRows);

    while (model.canFetchMore({})) {
        model.fetchMore({});
        Settle();
    }
    ASSERT_EQ(model.rowCount(), Count);
    std::set<std::string> ids;
    for (int row = 0; row < Count; ++row) {
        const RecordHeader& header = model.Header(row);
        ids.insert(header.id);
        if (row > 0) {
            const RecordHeader& before = model.Header(row - 1);
            ASSERT_TRUE(before.startedMs > header.startedMs ||
                        (before.startedMs == header.startedMs && before.id > header.id))
                << "row " << row;
        }
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(Count));
}

TEST_F(RecordsWindow, AFileThatIsNotARecordsDatabaseOrRecordsOffAreToldAndNothingIsWritten) {
    const QString garbagePath = dir.filePath(QStringLiteral("garbage.sqlite"));
    const QByteArray garbage(4096, 'x');
    {
        QFile file(garbagePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    const struct {
        QString location;
        QString status;
    } cases[] = {
        {garbagePath, "Cannot read the records: " + garbagePath},
        {QString(), "Records are off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status.toStdString());
        TRecordsFrm window(c.location);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // Asked again, the window tries again and tells the same.
        for (int attempt = 0; attempt < 2; ++attempt) {
            ASSERT_TRUE(Settled(window));
            EXPECT_EQ(window.Model().rowCount(), 0);
            const QString status = FindControl<QLabel>(window, "StatusLbl")->text();
            EXPECT_TRUE(status.startsWith(c.status)) << status.toStdString();
            EXPECT_EQ(window.ApplyFilter(), !c.location.isEmpty());
        }
    }
    QFile file(garbagePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
}

TEST(RecordsMenu, OpensOneRecordsWindowThatLeavesTheMainWindowFree) {
    testing::UiRig rig;
    TTestForm main(*rig.station);
    main.show();
    auto* action = main.findChild<QAction*>("RecordsM");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), "Records");
    action->trigger();
    action->trigger();
    const QList<TRecordsFrm*> windows = main.findChildren<TRecordsFrm*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_FALSE(windows[0]->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace tamrisk
