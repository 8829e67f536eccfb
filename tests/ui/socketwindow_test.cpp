// The socket window over four real simulated printers: units scanned into
// idle sockets and run at once, each socket's verdict its own, refusals said
// in the socket's panel, a printer lost mid-run, runs cancelled together, and
// the window closed mid-run.

#include "recordstore.h"
#include "recordtesting.h"
#include "process.h"
#include "settings.h"
#include "simprocess.h"
#include "socketpanel.h"
#include "socketwindow.h"
#include "stationrecords.h"
#include "tamriskfp.h"
#include "virtualports.h"
#include "uitesting.h"

#include <QApplication>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace tamrisk {
namespace {

constexpr int RunLimitMs = 30'000;

struct SocketWindowTest : ::testing::Test {
    SocketWindowTest() {
        OpenSettingsStore()->clear();
        qputenv("TAMRISK_RECORDS", Location().toUtf8());
    }
    ~SocketWindowTest() override {
        window.reset();
        records.reset();
        OpenSettingsStore()->clear();
        qunsetenv("TAMRISK_RECORDS");
    }
    QString Location() const { return dir.filePath(QStringLiteral("records.sqlite")); }

    // `count` printers; `options` of each in turn (fewer: the rest as they come).
    void StartPrinters(const std::vector<QStringList>& options = {}, std::size_t count = 4) {
        for (std::size_t i = 0; i < count; ++i) {
            sims.push_back(std::make_unique<testing::SimProcess>(i < options.size() ? options[i] : QStringList{}));
            ASSERT_TRUE(sims.back()->started());
        }
    }
    // The window with `count` sockets, socket k on printer k.
    void Open(int count = 4) {
        records = std::make_unique<StationRecords>(*rig.station, nullptr);
        records->Open();
        SocketScript script;
        script.request = [this](const std::string& unit, std::string& problem) -> std::optional<ScriptRunRequest> {
            if (lines.empty()) {
                problem = "no script is loaded in the main window";
                return std::nullopt;
            }
            ScriptRunRequest request;
            request.selection.emplace(lines);
            request.wholeScript = [copy = lines] { return std::optional(copy); };
            request.operation = operation;
            request.product = product;
            if (!unit.empty())
                request.variables["unit"] = unit;
            return request;
        };
        script.speedBps = [] { return 115200; };
        window = std::make_unique<SocketWindow>(records.get(), script, [this] {
            std::vector<PortEntry> ports;
            for (std::size_t i = 0; i < sims.size(); ++i)
                ports.push_back({"SIM" + std::to_string(i + 1), sims[i]->port()});
            return ports;
        });
        window->SetSocketCount(count);
        for (int socket = 1; socket <= count && socket <= static_cast<int>(sims.size()); ++socket)
            Choose(socket, QString::fromStdString(sims[static_cast<std::size_t>(socket - 1)]->port()));
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // Chooses `path` in the socket's Port box as the operator does.
    void Choose(int socket, const QString& path) {
        auto* box = Get<QComboBox>(socket, "PortBox");
        box->setCurrentIndex(box->findData(path));
    }
    template <class T = QWidget>
    T* Get(int socket, const char* control) {
        return testing::FindControl<T>(*window, QStringLiteral("Socket%1%2").arg(socket).arg(control).toUtf8());
    }
    QString Tile(int socket) { return Get<QLabel>(socket, "Verdict")->text(); }
    QString Reason(int socket) { return Get<QLabel>(socket, "ReasonLbl")->text(); }
    // Types `unit` and Enter where the keyboard's focus is, as a scanner does.
    void Scan(const QString& unit) {
        for (const QChar c : unit) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus != nullptr ? focus : window.get(), c.toLatin1());
        }
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : window.get(), Qt::Key_Return);
    }
    bool WaitAllEnded() {
        return QTest::qWaitFor([this] { return !window->Running(); }, RunLimitMs);
    }
    // The runs kept, by unit: their outcome, port and reason.
    std::map<std::string, RecordHeader> RunsByUnit() {
        std::map<std::string, RecordHeader> runs;
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(Location())));
        const auto list = store.Queries().List({});
        EXPECT_TRUE(StoreOk(list));
        if (!list)
            return runs;
        for (const RecordHeader& header : *list)
            runs[header.unit] = header;
        return runs;
    }

    QTemporaryDir dir;
    testing::UiRig rig;
    std::vector<std::unique_ptr<testing::SimProcess>> sims;
    std::vector<std::string> lines{"74", "#300", "74"};
    std::string operation, product;
    std::unique_ptr<StationRecords> records;
    std::unique_ptr<SocketWindow> window;
};

// Four units scanned one after another go to the four idle sockets and run at
// once; the printer that refuses fails its socket alone, and every run is
// kept with its unit and its own port.
TEST_F(SocketWindowTest, ScannedUnitsRunAtOnceEachWithItsOwnVerdictAndRecord) {
    StartPrinters({{}, {"--status", "74=21,00,00,00,00,00"}, {}, {}});
    Open();
    for (const QString unit : {"U-1", "U-2", "U-3", "U-4"})
        Scan(unit);
    // All four are under way together before any has ended.
    EXPECT_TRUE(window->Panel(4).Running());
    for (int socket = 1; socket <= 4; ++socket)
        EXPECT_EQ(Get<QLineEdit>(socket, "UnitBox")->text(), QStringLiteral("U-%1").arg(socket));
    ASSERT_TRUE(WaitAllEnded());
    const std::vector<QString> tiles{Tile(1), Tile(2), Tile(3), Tile(4)};
    EXPECT_EQ(tiles, (std::vector<QString>{"PASS", "FAIL", "PASS", "PASS"}));
    EXPECT_FALSE(Reason(2).isEmpty());
    EXPECT_GE(Get<QLabel>(2, "Verdict")->font().pointSize(), 28);
    // Read from outside: the tile is heard by its verdict, found by its socket's control name.
    QAccessibleInterface* tile = QAccessible::queryAccessibleInterface(Get<QLabel>(2, "Verdict"));
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->text(QAccessible::Name), "FAIL");
    EXPECT_EQ(tile->text(QAccessible::Description), "Socket2Verdict");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Get<QLineEdit>(2, "UnitBox"))->text(QAccessible::Name),
              "Socket2UnitBox");
    // The socket's log holds its own run only.
    // Log shows the socket's last run, kept while it was out of sight.
    Get<QPushButton>(1, "LogBt")->click();
    EXPECT_TRUE(Get<QWidget>(1, "LogView")->isVisible());
    auto* log = Get<QPlainTextEdit>(1, "LogView");
    ASSERT_TRUE(QTest::qWaitFor([log] { return log->toPlainText().count(QStringLiteral("->")) == 2; }, 2000))
        << log->toPlainText().toStdString();

    const auto runs = RunsByUnit();
    std::set<std::string> ports;
    for (int socket = 1; socket <= 4; ++socket) {
        const auto run = runs.find("U-" + std::to_string(socket));
        ASSERT_NE(run, runs.end()) << socket;
        EXPECT_EQ(run->second.port, sims[static_cast<std::size_t>(socket - 1)]->port());
        EXPECT_EQ(run->second.outcome, socket == 2 ? RecordOutcome::Fail : RecordOutcome::Pass);
        ports.insert(run->second.port);
    }
    EXPECT_EQ(ports.size(), 4u);

    // The verdict stays until the socket's next unit is entered; that unit
    // replaces the last one in the box, typed over it.
    window->setFocus();
    Scan("U-5");
    EXPECT_EQ(Get<QLineEdit>(1, "UnitBox")->text(), QStringLiteral("U-5"));
    EXPECT_EQ(Tile(2), "FAIL");
    ASSERT_TRUE(WaitAllEnded());
}

// What keeps a socket from starting is said in its own panel, nothing run.
TEST_F(SocketWindowTest, ASocketThatCannotStartSaysWhyInItsPanel) {
    StartPrinters();
    Open(4);
    const QString port1 = QString::fromStdString(sims[0]->port());
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int socket;
        bool start;  // Start is clicked after `arrange`
        QString said;
    };
    const Case cases[] = {
        {"a port chosen by two sockets", [&] { Choose(2, port1); }, 2, false,
         port1 + " is the port of socket 1: a port serves one socket."},
        {"no port", [&] { Choose(3, {}); }, 3, true, "No port: choose the port of this socket's printer."},
        {"no script", [&] { lines.clear(); }, 4, true, "Not started: no script is loaded in the main window."},
    };
    for (const Case& c : cases) {
        c.arrange();
        if (c.start)
            Get<QPushButton>(c.socket, "StartBt")->click();
        EXPECT_EQ(Reason(c.socket), c.said) << c.name;
        EXPECT_FALSE(window->Panel(c.socket).Running()) << c.name;
        EXPECT_EQ(Tile(c.socket), "IDLE") << c.name;
    }
    // The refused choice left socket 2 on its own printer.
    EXPECT_EQ(window->Panel(2).Port(), QString::fromStdString(sims[1]->port()));
}

// The same unit entered in two sockets at once: the second is refused by the
// unit's entry check, the first runs.
TEST_F(SocketWindowTest, AUnitInTestInOneSocketIsRefusedInAnother) {
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(Location())));
        std::string error;
        const auto steps = ParseRoute({"final"}, error);
        ASSERT_TRUE(steps) << error;
        ASSERT_TRUE(StoreOk(store.Routes().Set("FP-3", *steps, {"supervisor", "desk", 1'700'000'000'000})));
    }
    StartPrinters();
    lines = {"74", "#800", "74"};
    operation = "final";
    product = "FP-3";
    Open(2);
    Scan("U-7");
    ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QLabel>(1, "LineLbl")->text() == "Line 2"; }, RunLimitMs));
    Scan("U-7");
    ASSERT_TRUE(WaitAllEnded());
    EXPECT_EQ(Tile(1), "PASS");
    EXPECT_EQ(Tile(2), "REFUSED");
    EXPECT_FALSE(Reason(2).isEmpty());
}

// A printer lost mid-run ends its socket's run as aborted; the others go on.
TEST_F(SocketWindowTest, APrinterLostMidRunAbortsItsSocketAlone) {
    StartPrinters();
    lines = {"74", "#800", "74"};
    Open(4);
    for (int socket = 1; socket <= 4; ++socket) {
        Get<QLineEdit>(socket, "UnitBox")->setText(QStringLiteral("L-%1").arg(socket));
        Get<QPushButton>(socket, "StartBt")->click();
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QLabel>(3, "LineLbl")->text() == "Line 2"; }, RunLimitMs));
    sims[2]->stop();
    ASSERT_TRUE(WaitAllEnded());
    EXPECT_EQ(Tile(3), "ABORTED");
    EXPECT_EQ(Get<QLabel>(3, "Lamp")->toolTip(), "Port lost");
    for (const int socket : {1, 2, 4})
        EXPECT_EQ(Tile(socket), "PASS") << socket;
}

// A prompt waits in its own socket's panel while the other sockets run to
// their end; the window's Cancel-all and its close end the runs that are
// left, each kept as aborted.
TEST_F(SocketWindowTest, PromptsWaitInTheirPanelAndRunsEndTogetherWhenCancelledOrClosed) {
    StartPrinters();
    lines = {"74", "#20000", "74"};
    Open(4);
    // Socket 1 asks the operator; socket 2 is not held by the question.
    const std::vector<std::string> prompted{"^Put the paper in", "74"};
    const auto waiting = lines;
    lines = prompted;
    Get<QLineEdit>(1, "UnitBox")->setText("Q-1");
    Get<QPushButton>(1, "StartBt")->click();
    lines = {"74"};
    Get<QLineEdit>(2, "UnitBox")->setText("Q-2");
    Get<QPushButton>(2, "StartBt")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QWidget>(1, "QuestionPn")->isVisible(); }, RunLimitMs));
    EXPECT_TRUE(Get<QLabel>(1, "QuestionLbl")->text().startsWith("Socket 1"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Panel(2).Running(); }, RunLimitMs));
    EXPECT_EQ(Tile(2), "PASS");
    EXPECT_TRUE(window->Panel(1).Running());
    Get<QPushButton>(1, "YesBt")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Panel(1).Running(); }, RunLimitMs));
    EXPECT_EQ(Tile(1), "PASS");

    // Four long runs cancelled at once.
    lines = waiting;
    for (int socket = 1; socket <= 4; ++socket)
        Get<QPushButton>(socket, "StartBt")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QLabel>(4, "LineLbl")->text() == "Line 2"; }, RunLimitMs));
    window->CancelAll();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Running(); }, 5000));
    for (int socket = 1; socket <= 4; ++socket)
        EXPECT_EQ(Tile(socket), "ABORTED") << socket;

    // The window closed mid-run asks once, then ends every run and closes.
    for (int socket = 1; socket <= 4; ++socket) {
        Get<QLineEdit>(socket, "UnitBox")->setText(QStringLiteral("C-%1").arg(socket));
        Get<QPushButton>(socket, "StartBt")->click();
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QLabel>(4, "LineLbl")->text() == "Line 2"; }, RunLimitMs));
    int asked = 0;
    testing::OnNextModal([&asked](QWidget* modal) {
        ++asked;
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Yes)->click();
    });
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 10'000));
    EXPECT_EQ(asked, 1);
    const auto runs = RunsByUnit();
    for (int socket = 1; socket <= 4; ++socket) {
        const auto run = runs.find("C-" + std::to_string(socket));
        ASSERT_NE(run, runs.end()) << socket;
        EXPECT_EQ(run->second.outcome, RecordOutcome::Aborted);
        EXPECT_EQ(run->second.reason, "the window was closed during it");
    }
}

// "Start when a unit is entered": off, a unit scanned (its characters and
// Enter) waits in its socket's Unit box until Start is pressed; on, the same
// scan starts the socket at once.
TEST_F(SocketWindowTest, OffAScannedUnitWaitsForStartOnItStartsAtOnce) {
    // Each answer 300 ms late: a run is still under way when it is looked at.
    StartPrinters({{"--delay", "300"}}, 1);
    lines = {"74"};
    Open(1);
    auto* autoStart = testing::FindControl<QCheckBox>(*window, "AutoStartBox");
    ASSERT_NE(autoStart, nullptr);
    ASSERT_TRUE(autoStart->isChecked());
    QTest::mouseClick(autoStart, Qt::LeftButton);
    ASSERT_FALSE(autoStart->isChecked());
    EXPECT_FALSE(OpenSettingsStore()->value(SocketWindow::AutoStartSetting).toBool());

    Scan("FP3-3001");
    testing::RunEvents(100);
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(Tile(1), "IDLE");
    EXPECT_EQ(window->Panel(1).Unit(), "FP3-3001");

    QTest::mouseClick(Get<QPushButton>(1, "StartBt"), Qt::LeftButton);
    EXPECT_TRUE(window->Running());
    EXPECT_EQ(Tile(1), "RUNNING");
    ASSERT_TRUE(WaitAllEnded());

    QTest::mouseClick(autoStart, Qt::LeftButton);
    ASSERT_TRUE(autoStart->isChecked());
    Scan("FP3-3002");
    EXPECT_TRUE(window->Running());
    EXPECT_EQ(Tile(1), "RUNNING");
    EXPECT_EQ(window->Panel(1).Unit(), "FP3-3002");
    ASSERT_TRUE(WaitAllEnded());
}

// The main window's Sockets item opens the window over the station's ports;
// a socket runs the script page, whose serial number goes on after the run.
TEST_F(SocketWindowTest, TheMainWindowsSocketsRunItsPageAndItsNumbersGoOn) {
    const QString ports = QString::fromStdString(VirtualPortsDir());
    ASSERT_TRUE(QDir().mkpath(ports));
    const QString link = ports + QStringLiteral("/SOCKETS%1").arg(QCoreApplication::applicationPid());
    sims.push_back(std::make_unique<testing::SimProcess>(QStringList{"--link", link}));
    ASSERT_TRUE(sims.back()->started());
    TTestForm main(*rig.station);
    testing::ShowConnected(rig, main, records);
    testing::FindControl<QPlainTextEdit>(main, "ScrMemo")->setPlainText("74\n+1;91,DT000100");
    main.findChild<QAction*>("SocketsM")->trigger();
    SocketWindow& sockets = main.Sockets();
    ASSERT_TRUE(sockets.isVisible());
    sockets.Panel(1).ChoosePort(link);
    ASSERT_EQ(sockets.Panel(1).Port(), link);
    ASSERT_TRUE(sockets.EnterUnit("P-1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sockets.Running(); }, RunLimitMs));
    EXPECT_EQ(sockets.Panel(1).Verdict(), SocketPanel::Tile::Pass);
    EXPECT_EQ(testing::FindControl<QPlainTextEdit>(main, "ScrMemo")->toPlainText(), "74\n+1;91,DT000101");
    main.EndSockets();
}

}  // namespace
}  // namespace tamrisk
