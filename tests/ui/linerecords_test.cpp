// The station on a line: the records window choosing this station's records or
// the whole line's, a line database that is away or silent while the window
// stays free to use, and the status line's count of records waiting to be sent.

#include "operationrecord.h"
#include "records.h"
#include "recordsmodel.h"
#include "recordstore.h"
#include "recordtesting.h"
#include "settings.h"
#include "stationrecords.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using testing::FindControl;
using testing::TestHeader;

bool LineSettled(TRecordsFrm& window) { return QTest::qWaitFor([&] { return !window.Reading(); }, 20'000); }

// A PostgreSQL server's socket that takes connections and never answers them.
class SilentServer {
public:
    explicit SilentServer(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = path.toLocal8Bit();
        std::strncpy(address.sun_path, bytes.constData(), sizeof address.sun_path - 1);
        m_listening = socket(AF_UNIX, SOCK_STREAM, 0);
        m_ok = m_listening >= 0 && bind(m_listening, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               listen(m_listening, 4) == 0;
    }
    ~SilentServer() { GoAway(); }
    bool Ok() const { return m_ok; }
    // True when a connection waits to be taken.
    bool Called() const {
        pollfd fd{m_listening, POLLIN, 0};
        return poll(&fd, 1, 0) == 1;
    }
    // Closes the connections and the socket: the callers hear the end at once.
    void GoAway() {
        if (m_listening < 0)
            return;
        while (Called()) {
            const int connection = accept(m_listening, nullptr, nullptr);
            if (connection < 0)
                break;
            close(connection);
        }
        close(m_listening);
        m_listening = -1;
    }

private:
    int m_listening = -1;
    bool m_ok = false;
};

std::string LineId(char letter) { return std::string(8, letter) + "-0000-4000-8000-000000000000"; }

// Adds finished records to the store at `location`, one per letter, started a
// second apart in the letters' order, each with a one-line log naming it.
void AddRecords(const QString& location, const char* letters, const char* station, const char* unit) {
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(location)));
    for (const char* letter = letters; *letter != '\0'; ++letter) {
        RecordHeader header = TestHeader(LineId(*letter), "run", 1'700'000'000'000 + 1000 * (*letter - 'a'));
        header.station = station;
        header.unit = unit;
        header.outcome = RecordOutcome::Pass;
        const RecordLogLine line{0, ResultColour::Black, std::string("log of ") + *letter};
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        ASSERT_TRUE(StoreOk(store.AppendLog(header.id, {&line, 1})));
        ASSERT_TRUE(StoreOk(store.Finish(header)));
    }
}

struct LineRecordsWindow : ::testing::Test {
    QString Local() const { return dir.filePath(QStringLiteral("records.sqlite")); }
    // The window over this station's file and the line's database `line`, shown.
    TRecordsFrm& Open(const QString& line) {
        window = std::make_unique<TRecordsFrm>(Local(), line);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_TRUE(LineSettled(*window));
        return *window;
    }
    // Chooses a source from the keyboard, as the operator does.
    void Choose(int source) {
        auto* box = FindControl<QComboBox>(*window, "SourceBox");
        box->setFocus();
        while (box->currentIndex() != source)
            QTest::keyClick(box, source > box->currentIndex() ? Qt::Key_Down : Qt::Key_Up);
    }
    std::string Listed() const {
        std::string letters;
        for (int row = 0; row < window->Model().rowCount(); ++row)
            letters += window->Model().Header(row).id[0];
        return letters;
    }
    QString Status() const { return FindControl<QLabel>(*window, "StatusLbl")->text(); }

    QTemporaryDir dir;
    std::unique_ptr<TRecordsFrm> window;
};

TEST_F(LineRecordsWindow, ListsThisStationsRecordsOrTheWholeLines) {
    testing::TestDatabase line(testing::Backend::Postgresql);
    if (!line.SkipReason().empty())
        GTEST_SKIP() << line.SkipReason();
    AddRecords(Local(), "ab", "line-3", "PRN-1");
    // The line holds this station's records, sent on, and another station's.
    AddRecords(line.Location(), "ab", "line-3", "PRN-1");
    AddRecords(line.Location(), "cde", "line-4", "PRN-2");

    Open(line.Location());
    EXPECT_TRUE(FindControl<QComboBox>(*window, "SourceBox")->isVisibleTo(window.get()));
    const struct {
        const char* name;
        int source;  // 0 this station, 1 whole line
        const char* unit;
        const char* letters;
    } cases[] = {
        {"this station first", 0, "", "ba"},
        {"whole line", 1, "", "edcba"},
        {"whole line, another station's unit", 1, "PRN-2", "edc"},
        {"this station, another station's unit", 0, "PRN-2", ""},
        {"back to the line", 1, "PRN-1", "ba"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Choose(c.source);
        auto* unit = FindControl<QLineEdit>(*window, "UnitBox");
        unit->setText(c.unit);
        QTest::keyClick(unit, Qt::Key_Return);
        ASSERT_TRUE(LineSettled(*window));
        EXPECT_EQ(Listed(), c.letters);
        EXPECT_EQ(Status(), QStringLiteral("%1 records").arg(std::strlen(c.letters)));
    }

    // A record of another station opens from the line's database.
    FindControl<QLineEdit>(*window, "UnitBox")->clear();
    QTest::keyClick(FindControl<QLineEdit>(*window, "UnitBox"), Qt::Key_Return);
    ASSERT_TRUE(LineSettled(*window));
    ASSERT_EQ(Listed(), "edcba");
    auto* table = FindControl<QTableView>(*window, "RecordsTable");
    const QRect cell = table->visualRect(window->Model().index(0, RecordsModel::UnitCol));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(LineSettled(*window));
    auto* dialog = window->findChild<QDialog*>("LogDlg");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(FindControl<QPlainTextEdit>(*dialog, "LogView")->toPlainText(), "log of e");
}

TEST_F(LineRecordsWindow, WithoutALineDatabaseThereIsNothingToChoose) {
    AddRecords(Local(), "a", "line-3", "PRN-1");
    Open(QString());
    EXPECT_FALSE(FindControl<QComboBox>(*window, "SourceBox")->isVisibleTo(window.get()));
    EXPECT_FALSE(FindControl<QLabel>(*window, "SourceLbl")->isVisibleTo(window.get()));
    EXPECT_EQ(Listed(), "a");
}

TEST_F(LineRecordsWindow, ALineDatabaseAwayOrSilentLeavesTheWindowFreeAndSaysWhy) {
    AddRecords(Local(), "ab", "line-3", "PRN-1");
    QTemporaryDir sockets;
    ASSERT_TRUE(sockets.isValid());
    const QString away = QStringLiteral("postgresql://tamrisk@/line?host=%1/none").arg(sockets.path());
    const QString silent = QStringLiteral("postgresql://tamrisk@/line?host=%1").arg(sockets.path());
    SilentServer server(sockets.filePath(QStringLiteral(".s.PGSQL.5432")));
    ASSERT_TRUE(server.Ok());

    for (const QString& line : {away, silent}) {
        SCOPED_TRACE(line.toStdString());
        Open(line);
        ASSERT_EQ(Listed(), "ba");
        Choose(1);
        // Asked, the window reads in the background and says so.
        EXPECT_TRUE(window->Reading());
        EXPECT_EQ(Status(), "Reading the records...");
        EXPECT_EQ(window->Model().rowCount(), 0);
        if (line == silent) {
            // The connection waits for an answer while the window's events run.
            ASSERT_TRUE(QTest::qWaitFor([&] { return server.Called(); }, 5000));
            EXPECT_TRUE(window->Reading());
            EXPECT_EQ(Status(), "Reading the records...");
            // Back to this station's records while the line is still asked.
            Choose(0);
            ASSERT_TRUE(QTest::qWaitFor([&] { return Listed() == "ba"; }, 2000));
            EXPECT_TRUE(window->Reading());
            Choose(1);
            server.GoAway();
        }
        ASSERT_TRUE(LineSettled(*window));
        EXPECT_TRUE(Status().startsWith(QStringLiteral("Cannot read the records: %1: ").arg(line))) << Status().toStdString();
        EXPECT_EQ(window->Model().rowCount(), 0);
        // This station's records are still there to read.
        Choose(0);
        ASSERT_TRUE(LineSettled(*window));
        EXPECT_EQ(Listed(), "ba");
        EXPECT_EQ(Status(), "2 records");
    }
}

// The main window of a station whose records go to `line` through a local file.
struct StationOnALine : ::testing::Test {
    ~StationOnALine() override {
        qunsetenv("TAMRISK_RECORDS");
        qunsetenv("TAMRISK_LOCAL_RECORDS");
    }
    void Open(const QString& line, const QString& local = QStringLiteral("local.sqlite")) {
        OpenSettingsStore()->clear();
        qputenv("TAMRISK_RECORDS", line.toUtf8());
        qputenv("TAMRISK_LOCAL_RECORDS", dir.filePath(local).toUtf8());
        records = std::make_unique<StationRecords>(*rig.station, &window);
        window.SetRecords(records.get());
        records->Open();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    // Finishes `count` records of commands, as the Command window does.
    void Keep(int count) {
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<OperationRecord> record = records->Begin("command");
            record->Start();
            records->Finish(*record, RecordOutcome::Pass, {});
        }
    }

    QTemporaryDir dir;
    testing::UiRig rig;
    TTestForm window{*rig.station};
    std::unique_ptr<StationRecords> records;
};

TEST_F(StationOnALine, TheStatusLineCountsTheRecordsWaitingToBeSent) {
    testing::TestDatabase reachable(testing::Backend::Postgresql);
    const QString away = QStringLiteral("postgresql://tamrisk@/line?host=%1/none").arg(dir.path());
    const struct {
        const char* name;
        QString line;
        int records;
        const char* text;
        const char* tip;  // the start of the tooltip
    } cases[] = {
        {"line away, one record", away, 1, "1 record waits to be sent", "Cannot send the records: "},
        {"line away, three", away, 3, "3 records wait to be sent", "Cannot send the records: "},
        {"line there", reachable.Location(), 3, "All records sent", "Records are sent on to postgresql://"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.line.isEmpty()) {
            std::cout << "skipped: " << reachable.SkipReason() << '\n';
            continue;
        }
        Open(c.line, QStringLiteral("%1.sqlite").arg(c.name));
        auto* label = testing::FindControl<QLabel>(window, "WaitingPn");
        EXPECT_TRUE(label->isVisible());
        // Refreshed by its timer: made quick here, once a second in the station.
        testing::FindControl<QTimer>(window, "WaitingTmr")->setInterval(10);
        Keep(c.records);
        ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == c.text; }, 15'000)) << label->text().toStdString();
        EXPECT_TRUE(label->toolTip().startsWith(c.tip)) << label->toolTip().toStdString();
        // The Records menu's window offers the line's records too.
        window.findChild<QAction*>("RecordsM")->trigger();
        auto* frm = window.findChild<TRecordsFrm*>();
        ASSERT_NE(frm, nullptr);
        EXPECT_TRUE(testing::FindControl<QComboBox>(*frm, "SourceBox")->isVisibleTo(frm));
        ASSERT_TRUE(LineSettled(*frm));
        EXPECT_EQ(frm->Model().rowCount(), c.records);
        delete frm;
        window.SetRecords(nullptr);
        EXPECT_FALSE(label->isVisible());
        records.reset();
    }
}

// A record the line refuses (a trigger on unit DT2) is counted in red on the
// status line and named with the line's reason in its tooltip; the others go.
TEST_F(StationOnALine, TheStatusLineNamesTheRecordsTheLineRefuses) {
    testing::TestDatabase line(testing::Backend::Postgresql);
    if (!line.SkipReason().empty())
        GTEST_SKIP() << line.SkipReason();
    testing::RefuseUnit(line.Location(), "DT2");
    Open(line.Location());
    testing::FindControl<QTimer>(window, "WaitingTmr")->setInterval(10);
    auto* unit = testing::FindControl<QLineEdit>(window, "UnitBox");
    for (const char* name : {"DT1", "DT2", "DT3"}) {
        unit->setText(QString::fromLatin1(name));
        Keep(1);
    }
    auto* label = testing::FindControl<QLabel>(window, "WaitingPn");
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == "All records sent, 1 refused by the line"; }, 15'000))
        << label->text().toStdString();
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral(" unit DT2: "))) << label->toolTip().toStdString();
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("unit DT2 is refused"))) << label->toolTip().toStdString();
    EXPECT_TRUE(label->styleSheet().contains(QStringLiteral("color"))) << "shown in red";
    window.SetRecords(nullptr);
    records.reset();
}

TEST_F(StationOnALine, AStationWithoutALineShowsNoCount) {
    Open(dir.filePath(QStringLiteral("records.sqlite")));
    Keep(1);
    EXPECT_FALSE(testing::FindControl<QLabel>(window, "WaitingPn")->isVisible());
    EXPECT_EQ(window.findChild<QTimer*>("WaitingTmr"), nullptr);
}

}  // namespace
}  // namespace tamrisk
