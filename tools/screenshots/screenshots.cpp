// Takes the manuals' screenshots of the station's windows against a simulated
// printer: the main window with a loaded script, the results after the demo
// run, the status dialog for a red answer and the Execute Command dialog after
// a command, the three memory readers after a read, and the journal window
// after a read and after Info, and the records window: the records of these
// operations, kept as the station keeps them, above those of the hour before at a
// line, with the demo run's log open; last the socket window over four
// simulated printers in the middle of their final tests. Message boxes of the
// run are confirmed as an operator would. The settings, the records file and
// the simulators' ports folder are temporary ones.
// Usage: tamrisk_screenshots OUTPUT_DIR   (under xvfb-run, or QT_QPA_PLATFORM=offscreen)

#include "coderead.h"
#include "command.h"
#include "journal.h"
#include "journaltext.h"
#include "journalview.h"
#include "login.h"
#include "memoryreader.h"
#include "memread.h"
#include "qthost.h"
#include "qtserialio.h"
#include "readklenbin.h"
#include "records.h"
#include "recordsmodel.h"
#include "recordstore.h"
#include "resultsview.h"
#include "settings.h"
#include "socketpanel.h"
#include "socketwindow.h"
#include "station.h"
#include "stationrecords.h"
#include "status.h"
#include "tamriskfp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using namespace tamrisk;

namespace {

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// The records of the hour before at a line: runs of the demo script on
// several units, a command, a memory read and a journal check, each with its outcome.
bool FillRecords(const QString& location) {
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return false;
    }
    const qint64 hourAgo = QDateTime::currentMSecsSinceEpoch() / 60'000 * 60'000 - 60 * 60'000;
    const struct {
        int minute;
        const char* kind;
        const char* unit;
        RecordOutcome outcome;
        const char* reason;
        qint64 durationMs;
    } made[] = {
        {2, "run", "DT000100", RecordOutcome::Pass, "", 14'212},
        {9, "run", "DT000101", RecordOutcome::Pass, "", 14'198},
        {15, "run", "DT000102", RecordOutcome::Fail, "<- 61, Invalid date", 9'840},
        {16, "command", "DT000102", RecordOutcome::Pass, "", 212},
        {21, "run", "DT000102", RecordOutcome::Pass, "", 14'305},
        {30, "run", "DT000103", RecordOutcome::Aborted, "Cancelled by the operator", 5'120},
        {31, "fiscal-memory", "DT000103", RecordOutcome::Pass, "", 48'733},
        {40, "run", "DT000104", RecordOutcome::Error, "Serial port not open", 0},
        {42, "run", "DT000104", RecordOutcome::Pass, "", 14'260},
        {50, "journal-check", "DT000104", RecordOutcome::Pass, "", 3'411},
    };
    for (const auto& m : made) {
        RecordHeader header = NewRecordHeader(m.kind);
        header.station = "line-3";
        header.port = "/dev/ttyUSB0";
        header.speed = 115200;
        header.startedMs = hourAgo + m.minute * 60'000;
        header.durationMs = m.durationMs;
        header.unit = m.unit;
        header.outcome = m.outcome;
        header.reason = m.reason;
        if (header.kind == "run")
            header.script = "demo.inp";
        std::vector<RecordLogLine> log = {{0, ResultColour::Blue, "-> 74,"}, {18, ResultColour::Green, "<- 74, 0"},
                                          {40, ResultColour::Blue, "-> 91,DT000100"},
                                          {61, ResultColour::Green, "<- 91, P"}};
        if (m.outcome == RecordOutcome::Fail)
            log.insert(log.end(), {{90, ResultColour::Blue, "-> 61,31-02-12 10:00"},
                                   {112, ResultColour::Red, "<- 61, Invalid date"},
                                   {113, ResultColour::Purple, "Syntax error, invalid date"}});
        StoreResult<void> written = store.Begin(header);
        if (written)
            written = store.AppendLog(header.id, log);
        if (written)
            written = store.Finish(header);
        if (!written) {
            std::fprintf(stderr, "%s\n", qPrintable(written.error().Text()));
            return false;
        }
    }
    return true;
}

template <class T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    if (child == nullptr)
        std::fprintf(stderr, "no control %s\n", name);
    return child;
}

// Waits (the window drawn meanwhile) until `done`, at most `ms` milliseconds.
template <class Done>
bool WaitFor(Done done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The socket window over four simulators of its own, each unit scanned in
// turn, taken while two runs go on (slow printers), one has passed and the
// printer of another refuses command 74, so that its final test fails.
bool SaveSockets(TTestForm& testForm, const QString& path) {
    const struct {
        const char* name;
        QStringList options;
    } printers[] = {
        {"SIM1", {"--delay", "500"}},
        {"SIM2", {"--delay", "40", "--status", "74=21,00,00,00,00,00"}},
        {"SIM3", {"--delay", "40"}},
        {"SIM4", {"--delay", "350"}},
    };
    std::vector<std::unique_ptr<QProcess>> sims;
    QStringList ports;
    for (const auto& printer : printers) {
        auto& sim = sims.emplace_back(std::make_unique<QProcess>());
        sim->start(TAMRISK_SIM_PATH, QStringList{"--name", printer.name} + printer.options);
        if (!sim->waitForStarted(5000) || !sim->waitForReadyRead(5000)) {
            std::fprintf(stderr, "tamrisk-sim %s did not start\n", printer.name);
            return false;
        }
        ports << QString::fromLocal8Bit(sim->readLine().trimmed());
    }
    testForm.SetVariablesFile(QString(TAMRISK_EXAMPLES_DIR) + "/final-test.vars", false);
    if (!testForm.LoadScriptFile(QString(TAMRISK_EXAMPLES_DIR) + "/final-test.inp"))
        return false;

    SocketWindow& window = testForm.Sockets();
    window.SetSocketCount(4);
    window.RefreshPorts();
    for (int socket = 1; socket <= 4; ++socket)
        window.Panel(socket).ChoosePort(ports[socket - 1]);
    window.resize(1100, 340);
    window.show();
    QApplication::processEvents();
    // As a scanner enters them: each unit goes to the first idle socket and starts it.
    for (const char* unit : {"FP3-1041", "FP3-1042", "FP3-1043", "FP3-1044"})
        window.EnterUnit(unit);
    const auto line = [&window](int socket) {
        auto* label = window.findChild<QLabel*>(QStringLiteral("Socket%1LineLbl").arg(socket));
        return label == nullptr ? 0 : label->text().section(' ', 1).toInt();
    };
    const bool midRun = WaitFor(
        [&] {
            return window.Panel(2).Verdict() == SocketPanel::Tile::Fail &&
                   window.Panel(3).Verdict() == SocketPanel::Tile::Pass && window.Panel(1).Running() &&
                   window.Panel(4).Running() && line(1) > 2 && line(4) > 4;
        },
        20'000);
    if (!midRun)
        std::fprintf(stderr, "the socket window's runs did not reach the middle of their tests\n");
    const bool saved = midRun && Save(window, path);
    window.CancelAll();
    WaitFor([&window] { return !window.Running(); }, 20'000);
    window.hide();
    for (const auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(3000);
    }
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    // The station's settings and records in a folder of this run, chosen before
    // Qt first reads them: the user's stay untouched. The simulators of the
    // socket window publish their ports there too.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
    const QString records = dir.filePath("records.sqlite");
    qputenv("TAMRISK_RECORDS", records.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tamrisk");
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamrisk_screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    OpenSettingsStore()->setValue(StationRecords::StationNameSetting, "line-3");
    if (!FillRecords(records))
        return 1;

    QProcess sim;
    sim.start(TAMRISK_SIM_PATH, {"--link", dir.filePath("DEMO")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "tamrisk-sim did not start\n");
        return 1;
    }
    const std::string port = sim.readLine().trimmed().toStdString();

    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>(),
                    [&] { return std::vector<PortEntry>{{"DEMO", port}}; });
    TTestForm testForm(station);
    host.SetParent(&testForm);
    TStatusDlg statusDlg(station.state, [&] { return testForm.ScriptRunning(); }, &testForm);
    TCommandFrm commandFrm(station, testForm.Results(), &statusDlg, testForm.CommandHooks(), &testForm);
    StationWindows windows;
    windows.CommandFrm = &commandFrm;
    windows.StatusDlg = &statusDlg;
    testForm.SetWindows(windows);
    StationRecords stationRecords(station, &testForm);
    testForm.SetRecords(&stationRecords);
    commandFrm.SetRecords(&stationRecords);
    stationRecords.Open();

    const QSize screen = QGuiApplication::primaryScreen()->size();
    testForm.resize(std::min(screen.width(), 1280) * 7 / 8, std::min(screen.height(), 1024) * 7 / 8);
    testForm.show();
    QApplication::processEvents();
    testForm.SelectPort("DEMO");
    const QString script = QString(TAMRISK_EXAMPLES_DIR) + "/demo.inp";
    if (!testForm.LoadScriptFile(script))
        return 1;
    Child<QLineEdit>(testForm, "UnitBox")->setText("DT000105");
    Child<QComboBox>(testForm, "ProductBox")->setEditText("FP-3");
    bool ok = Save(testForm, out + "/main-script.png");

    // The demo's message line asks for OK: confirm every message box of the run.
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    confirm.start(200);
    Child<QPushButton>(testForm, "ConnectBt")->click();
    Child<QPushButton>(testForm, "ExecuteBt")->click();  // returns when the run has ended
    testForm.Results().Flush();
    ok = Save(testForm, out + "/main-results.png") && ok;

    // The run's last answer is the printer's refusal of an impossible date: red.
    statusDlg.show();
    ok = Save(statusDlg, out + "/status-dialog.png") && ok;
    statusDlg.hide();

    commandFrm.show();
    QApplication::processEvents();
    Child<QLineEdit>(commandFrm, "CmdBox")->setText("119");
    Child<QLineEdit>(commandFrm, "DataBox")->setText("I");
    Child<QPushButton>(commandFrm, "ExecuteBt")->click();
    ok = Save(commandFrm, out + "/execute-command.png") && ok;
    commandFrm.hide();

    // The memory readers after a read, at the size the operator first sees them.
    const auto memory = std::make_unique<MemoryReaderState>();
    TCodeForm codeForm(station, *memory, &statusDlg, &testForm);
    codeForm.SetRecords(&stationRecords);
    codeForm.show();
    Child<QPushButton>(codeForm, "ReadBt")->click();  // returns when the read has ended
    ok = Save(codeForm, out + "/code-memory.png") && ok;
    codeForm.hide();

    TMemForm memForm(station, *memory, &statusDlg, &testForm);
    memForm.SetRecords(&stationRecords);
    memForm.show();
    Child<QPushButton>(memForm, "ReadBt")->click();
    // The start of the fiscal memory, where its header is, rather than its erased end.
    Child<QPlainTextEdit>(memForm, "FlashData")->verticalScrollBar()->setValue(0);
    ok = Save(memForm, out + "/fiscal-memory.png") && ok;
    memForm.hide();

    // The journal copy from 0x1000 into a file of this run, stopped after a
    // moment; shown again, the window keeps the copy's last progress text.
    TReadKlenFrm readKlenFrm(station, &testForm);
    readKlenFrm.SetRecords(&stationRecords);
    readKlenFrm.show();
    QApplication::processEvents();
    Child<QLineEdit>(readKlenFrm, "AddrEdit")->setText("1000");
    QTimer pick;
    QObject::connect(&pick, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("journal.bin"));
            static_cast<QDialog*>(dialog)->accept();
            QTimer::singleShot(300, [&] { Child<QPushButton>(readKlenFrm, "CancelBt")->click(); });
        }
    });
    pick.start(50);
    Child<QPushButton>(readKlenFrm, "StartBt")->click();  // returns when the copy has ended
    pick.stop();
    readKlenFrm.show();
    ok = Save(readKlenFrm, out + "/journal-binary.png") && ok;
    readKlenFrm.hide();

    // The journal window after a read of Z-report 3 with a few lines selected
    // and their SHA-1 in the status panel, then after Info.
    TJournalForm journalForm(station, &testForm);
    journalForm.SetRecords(&stationRecords);
    journalForm.show();
    QApplication::processEvents();
    Child<QLineEdit>(journalForm, "InputBox")->setText("Z3");
    Child<QPushButton>(journalForm, "ReadBt")->click();  // returns when the read has ended
    const JournalText& text = journalForm.Text();
    journalForm.View().SelectBytes(text.LineStart(4), text.LineStart(9));
    Child<QPlainTextEdit>(journalForm, "JnlData")->verticalScrollBar()->setValue(0);
    Child<QPushButton>(journalForm, "ShaBt")->click();
    ok = Save(journalForm, out + "/journal.png") && ok;
    Child<QPushButton>(journalForm, "InfoBt")->click();
    ok = Save(journalForm, out + "/journal-info.png") && ok;
    journalForm.hide();

    // The final test with a variables file whose firmware is not the printer's:
    // its checks in the results, the failed one named in the status line.
    {
        const QString vars = dir.filePath("other-customer.vars");
        QFile file(vars);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("journal_size=2097152\njournal_limit=2000000\nfirmware=ZORMIK FP-4\n") < 0)
            return 1;
        file.close();
        testForm.SetVariablesFile(vars, false);
        if (!testForm.LoadScriptFile(QString(TAMRISK_EXAMPLES_DIR) + "/final-test.inp"))
            return 1;
        Child<QPushButton>(testForm, "ExecuteBt")->click();
        testForm.Results().Flush();
        ok = Save(testForm, out + "/main-checks.png") && ok;
    }

    // The records window, then the log of the newest run opened from it (the
    // final test, with its checks), as this session recorded it.
    TRecordsFrm recordsFrm(records, QString(), &testForm);
    recordsFrm.resize(980, 470);
    recordsFrm.show();
    // The window reads in the background: the picture waits for the list.
    const auto settle = [&recordsFrm] {
        QElapsedTimer waited;
        waited.start();
        while (recordsFrm.Reading() && waited.elapsed() < 10'000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    };
    settle();
    ok = Save(recordsFrm, out + "/records.png") && ok;
    int run = 0;
    while (run < recordsFrm.Model().rowCount() && recordsFrm.Model().Header(run).kind != "run")
        ++run;
    recordsFrm.OpenRecord(run);
    settle();
    if (auto* log = recordsFrm.findChild<QDialog*>("LogDlg")) {
        log->resize(720, 560);
        ok = Save(*log, out + "/records-log.png") && ok;
    } else {
        ok = false;
    }

    // The log-in dialog after a mistyped PIN, and the window of the technician logged in.
    TLogInDlg logIn(
        [](const std::string&, const std::string&) -> StoreResult<LogInOutcome> {
            return LogInOutcome{.verdict = LogInOutcome::Verdict::WrongPin, .triesLeft = 4};
        },
        &testForm);
    logIn.show();
    Child<QLineEdit>(logIn, "IdBox")->setText("A1042");
    Child<QLineEdit>(logIn, "PinBox")->setText("0000");
    Child<QPushButton>(logIn, "LogInBt")->click();
    ok = Save(logIn, out + "/login.png") && ok;
    logIn.hide();
    testForm.SetPerson(Operator{.id = "A1042", .name = "Anna Petrova", .role = Role::Technician});
    ok = Save(testForm, out + "/main-logged-in.png") && ok;
    testForm.SetPerson(std::nullopt);

    ok = SaveSockets(testForm, out + "/sockets.png") && ok;

    confirm.stop();
    Child<QPushButton>(testForm, "ConnectBt")->click();
    sim.terminate();
    sim.waitForFinished(3000);
    return ok ? 0 : 1;
}
