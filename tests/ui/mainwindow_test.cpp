// The main window driven as an operator drives it, over the printer model:
// connection, enabled states, script files, runs, the results view.

#include "resultsview.h"
#include "scriptedio.h"
#include "settings.h"
#include "status.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <ostream>

// Readable failures.
void PrintTo(const QColor& colour, std::ostream* out) { *out << colour.name().toStdString(); }

namespace tamrisk {
namespace {

using testing::OnNextModal;
using testing::PickFile;
using testing::RunEvents;
using testing::UiRig;

const char* const Controls[] = {"ConnectBt", "ExecuteBt", "CancelBt",     "ClearBt",     "TestM",
                                "CommandM",  "ReadFirmwareM", "ReadFMemM", "JournalM", "ReadKlenBinM",
                                "LoadScriptM", "SaveM",   "RepeatM",      "HelpM"};

struct MainWindow : ::testing::Test {
    MainWindow() {
        OpenSettingsStore()->clear();
        rig.station->Disconnect();
        window.SetWindows({nullptr, &statusDlg});
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    template <class T = QWidget>
    T* Get(const char* name) { return testing::FindControl<T>(window, name); }
    QPlainTextEdit* Editor() { return Get<QPlainTextEdit>("ScrMemo"); }
    QPlainTextEdit* Log() { return Get<QPlainTextEdit>("FPData"); }
    QAction* Action(const char* name) {
        if (auto* menu = window.findChild<QMenu*>(name))
            return menu->menuAction();
        return Get<QAction>(name);
    }
    void Click(const char* button) { QTest::mouseClick(Get<QPushButton>(button), Qt::LeftButton); }
    void Connect() {
        Click("ConnectBt");
        ASSERT_TRUE(rig.station->Connected);
    }

    // The usable controls, in the order of Controls.
    QString Enabled() {
        QStringList names;
        for (const char* name : Controls) {
            auto* widget = window.findChild<QWidget*>(name);
            if (widget != nullptr && !qobject_cast<QMenu*>(widget) ? widget->isEnabled() : Action(name)->isEnabled())
                names << name;
        }
        return names.join(' ');
    }
    QColor Indicator() { return Get("Shape1")->property("brushColor").value<QColor>(); }
    // Everything the operator can see of the window.
    QStringList Look() {
        return {Enabled(), Get<QPushButton>("ConnectBt")->text(), Indicator().name(),
                Get<QLabel>("StatusPn")->text(), Get<QLabel>("TimerPn")->text(),
                Get<QComboBox>("PortNum")->currentText(), Get<QComboBox>("SpeedBox")->currentText(),
                QString::number(Get<QTabWidget>("MemoPages")->currentIndex()), Editor()->toPlainText(),
                window.Results().Text()};
    }
    int Requests() {
        return static_cast<int>(window.Results().Text().split('\n').filter(QRegularExpression("^-> ")).size());
    }
    QString LogLine(int line) { return Log()->document()->findBlockByNumber(line).text(); }
    QColor LogColour(int line) {
        return Log()->document()->findBlockByNumber(line).charFormat().foreground().color();
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(testing::WriteFileBytes(dir.filePath(name), bytes));
        return dir.filePath(name);
    }
    QByteArray ReadFile(const QString& name) { return testing::ReadFileBytes(dir.filePath(name)); }
    UiRig rig;
    TTestForm window{*rig.station};
    TStatusDlg statusDlg{rig.state, [this] { return window.ScriptRunning(); }, &window};
    QTemporaryDir dir;
};

TEST_F(MainWindow, StatesFollowConnectionScriptAndRun) {
    const QString idle = "ConnectBt ClearBt TestM JournalM LoadScriptM HelpM";
    const QString typed = "ConnectBt ClearBt TestM JournalM LoadScriptM SaveM HelpM";
    const QString connected =
        "ConnectBt ClearBt TestM CommandM ReadFirmwareM ReadFMemM JournalM ReadKlenBinM LoadScriptM HelpM";
    const QString ready = "ConnectBt ExecuteBt ClearBt TestM CommandM ReadFirmwareM ReadFMemM JournalM "
                          "ReadKlenBinM LoadScriptM SaveM RepeatM HelpM";
    QString duringRun;
    const QString script = WriteFile("a.inp", "#2000\r\n");
    const struct {
        const char* step;
        std::function<void()> act;
        QString enabled, caption;
        QColor indicator;
    } steps[] = {
        {"shown", [] {}, idle, "Connect", QColor(0, 128, 0)},
        {"typed", [&] { QTest::keyClicks(Editor(), "74"); }, typed, "Connect", QColor(0, 128, 0)},
        {"connected", [&] { Click("ConnectBt"); }, ready, "Disconnect", QColor(0, 255, 0)},
        {"cleared", [&] { Click("ClearBt"); }, connected, "Disconnect", QColor(0, 255, 0)},
        {"loaded", [&] { PickFile(script); Action("LoadScriptM")->trigger(); }, ready, "Disconnect",
         QColor(0, 255, 0)},
        {"ran",
         [&] {
             rig.host.onEvents = [&] { duringRun = Enabled(); };
             Click("ExecuteBt");
             rig.host.onEvents = [] { QCoreApplication::processEvents(); };
         },
         ready, "Disconnect", QColor(0, 255, 0)},
        {"disconnected", [&] { Click("ConnectBt"); }, typed, "Connect", QColor(0, 128, 0)},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(Enabled(), step.enabled) << step.step;
        EXPECT_EQ(Get<QPushButton>("ConnectBt")->text(), step.caption) << step.step;
        EXPECT_EQ(Indicator(), step.indicator) << step.step;
    }
    EXPECT_EQ(duringRun, "CancelBt CommandM ReadFirmwareM ReadFMemM ReadKlenBinM SaveM");
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(MainWindow, FailedConnectLeavesWindowAsBefore) {
    QTest::keyClicks(Editor(), "74");
    Get<QComboBox>("SpeedBox")->setCurrentIndex(6);
    const QStringList before = Look();
    rig.io->refuseOpen = true;
    Click("ConnectBt");
    EXPECT_EQ(Look(), before);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Can't open serial port");
}

TEST_F(MainWindow, ShowFillsPortListAndClosingSavesChoices) {
    auto* ports = Get<QComboBox>("PortNum");
    EXPECT_EQ(ports->count(), 1);  // the design-time Com1..Com8 are gone
    EXPECT_EQ(ports->currentText(), "SIM0");
    EXPECT_EQ(Get<QComboBox>("SpeedBox")->currentText(), "9600");
    ports->addItem("stale");
    ports->showPopup();  // dropping the list down refills it
    ports->hidePopup();
    EXPECT_EQ(ports->count(), 1);

    Get<QComboBox>("SpeedBox")->setCurrentIndex(5);
    window.close();  // never connected
    EXPECT_FALSE(window.isVisible());
    auto store = OpenSettingsStore();
    EXPECT_EQ(store->value("SerialPort").toInt(), 0);
    EXPECT_EQ(store->value("Bauds").toInt(), 5);
    TTestForm next(*rig.station);
    next.show();
    EXPECT_EQ(next.findChild<QComboBox*>("SpeedBox")->currentText(), "38400");
}

// Each entry of the port list tells its adapter in its tooltip, the names as
// they are; a port given by its stable link is saved as given and, with the
// adapters plugged in another order, selects the port its link leads to then.
TEST(MainWindowPorts, StableLinksAndTooltips) {
    OpenSettingsStore()->clear();
    QTemporaryDir dir;
    const QString byId = dir.filePath("by-id");
    ASSERT_TRUE(QDir().mkpath(byId));
    const QString first = dir.filePath("ttyUSB0"), second = dir.filePath("ttyUSB1");
    for (const QString& device : {first, second})
        ASSERT_TRUE(testing::WriteFileBytes(device, {}));
    const QString stable = byId + "/usb-FTDI_FT232R_A10K1-if00-port0";
    ASSERT_TRUE(QFile::link(first, stable));
    const std::vector<PortEntry> system{{"ttyUSB0", first.toStdString(), "CP2102 USB to UART", "Silicon Labs", "0001"},
                                        {"ttyUSB1", second.toStdString(), "FT232R USB UART", "FTDI", "A10K1"}};
    testing::FakeHost host;
    Station station(host, std::make_unique<testing::ScriptedIo>(host), [&] {
        std::vector<PortEntry> ports = system;
        AddStablePaths(ports, byId.toStdString());
        return ports;
    });
    {
        TTestForm window(station);
        window.show();
        auto* list = window.findChild<QComboBox*>("PortNum");
        ASSERT_EQ(list->count(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(list->itemText(i).toStdString(), system[static_cast<std::size_t>(i)].name);
            EXPECT_EQ(list->itemData(i, Qt::ToolTipRole).toString().toStdString(),
                      PortDetails(station.link.PortAt(i)));
        }

        list->setCurrentIndex(1);
        ASSERT_TRUE(window.SelectPort(stable));
        EXPECT_EQ(list->currentText(), "ttyUSB0");
        window.close();
    }
    EXPECT_EQ(OpenSettingsStore()->value("SerialPort").toString(), stable);

    // Plugged in the other order: the link now leads to the second device.
    ASSERT_TRUE(QFile::remove(stable));
    ASSERT_TRUE(QFile::link(second, stable));
    station.link.GivenPortPath.clear();
    TTestForm next(station);
    next.show();
    EXPECT_EQ(next.findChild<QComboBox*>("PortNum")->currentText(), "ttyUSB1");
}

TEST_F(MainWindow, SizeLimits) {
    auto* clear = Get("ClearBt");
    const int edge = clear->mapTo(&window, QPoint(clear->width(), 0)).x();
    EXPECT_FALSE(window.FormCanResize(edge + 16, 600));
    EXPECT_TRUE(window.FormCanResize(edge + 17, 600));
    EXPECT_FALSE(window.FormCanResize(edge + 17, 319));
    EXPECT_TRUE(window.FormCanResize(edge + 17, 320));
    window.resize(edge + 10, 200);
    EXPECT_EQ(window.size(), QSize(edge + 17, 320));
    EXPECT_EQ(TTestForm::InitialSize({1280, 1024}), QSize(1120, 896));
}

TEST_F(MainWindow, LoadShowsNameAndFirstDescription) {
    const struct {
        QByteArray file;
        QString editor, status;
    } cases[] = {
        {"@Test of model X\r\n74\r\n@Second\r\n", "@Test of model X\n74\n@Second", "s.inp   (Test of model X)"},
        {"74\r\n\r\n@Later \xD2\xE5\xF1\xF2\r\n", "74\n\n@Later \u0422\u0435\u0441\u0442",
         "s.inp   (Later \u0422\u0435\u0441\u0442)"},
        {"74\n90,@x", "74\n90,@x", "s.inp"},
    };
    for (const auto& c : cases) {
        const QString path = WriteFile("s.inp", c.file);
        Get<QTabWidget>("MemoPages")->setCurrentIndex(1);
        QStringList filters;
        PickFile(path, [&filters](QFileDialog& dialog) { filters = dialog.nameFilters() << dialog.defaultSuffix(); });
        Action("LoadScriptM")->trigger();
        EXPECT_EQ(Get<QLabel>("StatusPn")->text(), c.status);
        EXPECT_EQ(Editor()->toPlainText(), c.editor);
        EXPECT_EQ(Get<QTabWidget>("MemoPages")->currentIndex(), 0);
        EXPECT_EQ(filters, QStringList({"FP commands (*.inp *.INP)", "All files (*)", "INP"}));
    }
    const QStringList before = Look();
    EXPECT_FALSE(window.LoadScriptFile(dir.filePath("missing.inp")));
    EXPECT_EQ(Look(), before);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].caption, "Error");
    EXPECT_NE(rig.host.messages[0].detail.find("missing.inp: "), std::string::npos);
}

TEST_F(MainWindow, RunsWholeScriptOrSelectedLines) {
    const QString script = "*3,L\n+1;91,DT000100\n:L\n90,after";
    const struct {
        const char* how;
        int selectFrom, selectTo;  // editor positions; equal for no selection
        QString editorAfter;
        int requests;
    } cases[] = {
        {"button", 0, 0, "*3,L\n+1;91,DT000103\n:L\n90,after", 4},
        {"ctrl+r", 0, 0, "*3,L\n+1;91,DT000103\n:L\n90,after", 4},
        // Part of the first two lines: the repeat without its label, the command once.
        {"selection", 2, 8, script, 1},
        // Into the label line: the block three times.
        {"selection", 2, 21, script, 3},
    };
    Connect();
    for (const auto& c : cases) {
        Editor()->setPlainText(script);
        QTextCursor cursor(Editor()->document());
        cursor.setPosition(c.selectFrom);
        cursor.setPosition(c.selectTo, QTextCursor::KeepAnchor);
        Editor()->setTextCursor(cursor);
        window.Results().Clear();
        if (QString(c.how) == "ctrl+r")
            QTest::keyClick(Editor(), Qt::Key_R, Qt::ControlModifier);
        else
            Click("ExecuteBt");
        EXPECT_EQ(Editor()->toPlainText(), c.editorAfter) << c.how;
        EXPECT_EQ(Requests(), c.requests) << c.how;
        EXPECT_TRUE(Editor()->isEnabled());
        EXPECT_EQ(Get<QTabWidget>("MemoPages")->currentIndex(), 1);
    }
    EXPECT_EQ(Editor()->textCursor().selectedText(), "*3,L\u2029+1;91,DT000100\u2029:L\u2029");
    EXPECT_TRUE(window.Results().Text().contains("-> 91,\"DT000102\""));
}

TEST_F(MainWindow, ShiftClickSnapsSelectionToWholeLines) {
    Editor()->setPlainText("74\n90,abc\n91");
    auto* view = Editor()->viewport();
    auto at = [&](int position) {
        QTextCursor c(Editor()->document());
        c.setPosition(position);
        return Editor()->cursorRect(c).center();
    };
    QTest::mouseClick(view, Qt::LeftButton, {}, at(1));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, at(5));
    EXPECT_EQ(Editor()->textCursor().selectedText(), QString("74\u202990,abc\u2029"));
    QTest::mouseClick(view, Qt::LeftButton, {}, at(1));  // inside the selection: only clears it
    QTest::mousePress(view, Qt::LeftButton, {}, at(1));
    QTest::mouseMove(view, at(5));
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(5));
    EXPECT_EQ(Editor()->textCursor().selectedText(), QString("4\u202990"));
}

TEST_F(MainWindow, CancelOrCloseStopsRunInLongWait) {
    Connect();
    for (const bool closing : {false, true}) {
        window.Results().Clear();
        Editor()->setPlainText("#10000\n74");
        rig.host.sleeps.clear();
        bool refused = false;
        rig.host.onEvents = [&] {
            if (rig.host.sleeps.size() != 3 || rig.state.CancelRequest)
                return;
            if (closing) {
                window.close();  // put off until the run has stopped
                refused = window.isVisible();
            } else {
                Click("CancelBt");
            }
        };
        const double start = rig.host.elapsedMs();
        Click("ExecuteBt");
        const QStringList log = window.Results().Text().split('\n');
        EXPECT_EQ(log.value(1), "Script cancelled !!!") << closing;
        EXPECT_EQ(LogColour(1), QColor(255, 0, 0));
        EXPECT_TRUE(log.value(2).startsWith("Script execution time 0.")) << log.value(2).toStdString();
        EXPECT_LT(rig.host.elapsedMs() - start, 500);
        EXPECT_EQ(Requests(), 0);
        EXPECT_EQ(refused, closing);
        EXPECT_EQ(window.isVisible(), !closing);
        EXPECT_EQ(rig.io->isOpen(), !closing);  // a close after a run releases the port
        EXPECT_FALSE(Get("CancelBt")->isEnabled());
    }
}

TEST_F(MainWindow, LostPortEndsRunAndConnectWorksAgain) {
    Connect();
    Editor()->setPlainText("74\n74\n74");
    rig.io->answerDelay = std::chrono::milliseconds(500);
    rig.io->written.clear();
    rig.host.onEvents = [&] {
        QCoreApplication::processEvents();
        if (rig.io->written.size() == 2 && rig.io->isOpen())
            rig.io->unplug("Device removed");
    };
    Click("ExecuteBt");
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Serial port lost");
    EXPECT_TRUE(window.Results().Text().contains("Serial port lost !!!"));
    EXPECT_EQ(Get<QPushButton>("ConnectBt")->text(), "Connect");
    EXPECT_EQ(Indicator(), QColor(0, 128, 0));
    EXPECT_EQ(Enabled(), "ConnectBt ClearBt TestM JournalM LoadScriptM SaveM HelpM");
    Connect();
    EXPECT_EQ(Get<QPushButton>("ConnectBt")->text(), "Disconnect");
}

TEST_F(MainWindow, ClearEmptiesVisiblePageOnly) {
    for (int page : {0, 1}) {
        Editor()->setPlainText("74");
        window.Results().AppendResultLine("line", ResultColour::Black);
        Get<QTabWidget>("MemoPages")->setCurrentIndex(page);
        Click("ClearBt");
        EXPECT_EQ(Editor()->toPlainText().isEmpty(), page == 0);
        EXPECT_EQ(window.Results().Text().isEmpty(), page == 1);
        EXPECT_EQ(Action("SaveM")->isEnabled(), page == 1);
    }
}

TEST_F(MainWindow, HelpAppendsSyntaxBelowLog) {
    window.Results().AppendResultLine("before", ResultColour::Black);
    Action("HelpM")->trigger();
    EXPECT_EQ(window.Results().Text().split('\n').size(), 1 + 60);
    EXPECT_EQ(Get<QTabWidget>("MemoPages")->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), Log());
    QScrollBar* bar = Log()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    const QColor gray(128, 128, 128);
    const struct {
        int line;
        const char* text;
        QColor colour;
    } rows[] = {{1, "  SCRIPT SYNTAX:", gray}, {2, "", gray}, {3, "@Text", QColor(0, 0, 255)},
                {40, "  Example: +1;91,DT000100", QColor(128, 0, 128)},
                {41, "will increment ewery time the serial number with 1.", gray},
                {44, "?[Name:] Field Op Value [Unit]", QColor(0, 0, 255)}, {60, "", QColor(0, 0, 0)}};
    for (const auto& row : rows) {
        EXPECT_EQ(LogLine(row.line), row.text) << row.line;
        EXPECT_EQ(LogColour(row.line), row.colour) << row.line;
    }
}

TEST_F(MainWindow, LogLinesReachViewTogether) {
    ResultsView& results = window.Results();
    results.AppendResultLine("-> 74,\"\"", ResultColour::Blue);
    results.AppendResultLine("\xC4\xE0 5.00 seconds\r\n", ResultColour::Black);
    EXPECT_EQ(results.PendingLines(), 2u);
    EXPECT_TRUE(Log()->toPlainText().isEmpty());
    RunEvents(ResultsView::FlushIntervalMs + 20);
    EXPECT_EQ(results.PendingLines(), 0u);
    EXPECT_EQ(Log()->toPlainText(), "-> 74,\"\"\n\u0414\u0430 5.00 seconds\n");
    EXPECT_EQ(LogColour(0), QColor(0, 0, 255));
    EXPECT_EQ(LogColour(1), QColor(0, 0, 0));
    results.AppendResultLine("dropped", ResultColour::Red);
    results.Clear();
    RunEvents(ResultsView::FlushIntervalMs + 20);
    EXPECT_TRUE(Log()->toPlainText().isEmpty());
}

TEST_F(MainWindow, DoubleClickOnAnswerLineShowsItsStatus) {
    const struct {
        const char* what;
        int line, column, gapMs;
        bool opens;
    } cases[] = {
        {"answer line", 1, 10, 0, true},
        {"first character of answer line", 1, 0, 0, true},
        {"request line", 0, 3, 0, false},
        {"clicks 0.3 s apart", 1, 10, 300, false},
    };
    Get<QTabWidget>("MemoPages")->setCurrentIndex(1);
    for (const auto& c : cases) {
        rig.host.advance(std::chrono::seconds(1));  // no double click with the last case
        window.Results().Clear();
        window.Results().AppendResultLine("-> 48,\"A\"", ResultColour::Blue);
        window.Results().AppendResultLine("<- [21,02,00,00,00,00](0,0),\"\"", ResultColour::Red);
        window.Results().Flush();
        rig.state.StatusBytes = {};
        QTextCursor target(Log()->document()->findBlockByNumber(c.line));
        target.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, c.column);
        const QRect caret = Log()->cursorRect(target);
        const QPoint point(caret.left() + 1, caret.center().y());
        bool opened = false;
        QStringList ticked;
        auto readDialog = [&](QWidget* modal) {
            opened = modal == &statusDlg;
            for (QCheckBox* box : modal->findChildren<QCheckBox*>())
                if (box->isChecked())
                    ticked << box->objectName();
            modal->close();
        };
        OnNextModal(readDialog, 300);
        QTest::mouseClick(Log()->viewport(), Qt::LeftButton, {}, point);
        rig.host.advance(std::chrono::milliseconds(c.gapMs));
        QTest::mouseClick(Log()->viewport(), Qt::LeftButton, {}, point);
        RunEvents(350);
        EXPECT_EQ(opened, c.opens) << c.what;
        const StatusBytesArray expected = c.opens ? StatusBytesArray{0x21, 0x02, 0, 0, 0, 0} : StatusBytesArray{};
        EXPECT_EQ(rig.state.StatusBytes, expected) << c.what;
        if (c.opens && !statusDlg.findChildren<QCheckBox*>().isEmpty()) {
            ticked.sort();
            EXPECT_EQ(ticked, QStringList({"Status00", "Status05", "Status11"})) << c.what;
        }
        EXPECT_FALSE(Log()->textCursor().hasSelection()) << c.what;
        EXPECT_EQ(Log()->textCursor().position(), target.position()) << c.what;
    }
}

TEST_F(MainWindow, SaveAsksBeforeOverwriting) {
    const struct {
        const char* typed;
        bool existing, yes;
        const char* file;
        QByteArray content;
    } cases[] = {
        {"old.inp", true, false, "old.inp", "old\r\n"},
        {"old.inp", true, true, "old.inp", "74\r\n@Saved\r\n"},
        {"new", false, false, "new.INP", "74\r\n@Saved\r\n"},
    };
    for (const auto& c : cases) {
        rig.host.questions.clear();
        if (c.existing)
            WriteFile(c.file, "old\r\n");
        Editor()->setPlainText("74\n@Saved");
        Get<QLabel>("StatusPn")->clear();
        rig.host.answers = {c.yes};
        PickFile(dir.filePath(c.typed));
        Action("SaveM")->trigger();
        EXPECT_EQ(rig.host.questions.size(), c.existing ? 1u : 0u) << c.typed;
        if (c.existing) {
            EXPECT_EQ(rig.host.questions[0].text, "File exists. Overwrite?");
            EXPECT_EQ(rig.host.questions[0].caption, "Save script");
        }
        EXPECT_EQ(ReadFile(c.file), c.content) << c.typed;
        EXPECT_EQ(Editor()->toPlainText(), "74\n@Saved");
        const bool written = !c.existing || c.yes;
        EXPECT_EQ(Get<QLabel>("StatusPn")->text(), written ? QString(c.file) + "   (Saved)" : "") << c.typed;
    }
}

TEST_F(MainWindow, FailedSaveKeepsOldFileAndSaysWhy) {
    WriteFile("old.inp", "old\r\n");
    Editor()->setPlainText(QString("74,").repeated(50));
    // A file size limit makes the write itself fail, whoever runs the test.
    rig.host.answers = {true};
    PickFile(dir.filePath("old.inp"));
    {
        const testing::ScopedFileSizeLimit limit(16);
        Action("SaveM")->trigger();
    }
    EXPECT_EQ(ReadFile("old.inp"), "old\r\n");
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Can't write script file");
    EXPECT_NE(rig.host.messages[0].detail.find("old.inp: "), std::string::npos);
    EXPECT_GT(rig.host.messages[0].detail.size(), dir.filePath("old.inp: ").size());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.inp"});
}

TEST_F(MainWindow, CharacterOutsideCodePageIsRefused) {
    Connect();
    for (const char* action : {"run", "save"}) {
        rig.host.messages.clear();
        Editor()->setPlainText(QString("74\n90,smile \u263A"));
        if (QString(action) == "run") {
            Click("ExecuteBt");
        } else {
            PickFile(dir.filePath("smile.inp"));
            Action("SaveM")->trigger();
        }
        ASSERT_EQ(rig.host.messages.size(), 1u) << action;
        EXPECT_EQ(rig.host.messages[0].caption, "Error");
        EXPECT_EQ(rig.host.messages[0].text.rfind("Line 2 ", 0), 0u) << rig.host.messages[0].text;
        EXPECT_NE(rig.host.messages[0].detail.find("U+263A"), std::string::npos);
    }
    EXPECT_TRUE(rig.io->written.empty());
    EXPECT_TRUE(window.Results().Text().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("smile.inp")));
}

}  // namespace
}  // namespace tamrisk
