// The station: the application, its title and the seven windows in order.
// Usage: tamrisk [--port NAME] [--vars FILE] [--sockets N] [SCRIPT] | --help | --help-all | --version
//   --port NAME  selects the port of the list with that name or device path
//   --vars FILE  the variables file of the checks, for this session
//   --sockets N  opens the socket window with N sockets (1 to 8) beside the main window
//   SCRIPT       a script file, loaded as Load Script from File would
//   --help, --help-all and --version print to stdout and exit, without a display

#include "blockedclose.h"
#include "coderead.h"
#include "command.h"
#include "journal.h"
#include "memoryreader.h"
#include "memread.h"
#include "programversion.h"
#include "qthost.h"
#include "qtserialio.h"
#include "socketwindow.h"
#include "readklenbin.h"
#include "resultsview.h"
#include "station.h"
#include "stationlogin.h"
#include "stationrecords.h"
#include "status.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

using namespace tamrisk;

namespace {

const QCommandLineOption PortOption(QStringLiteral("port"),
                                    QStringLiteral("Selects the port with this name or device path."),
                                    QStringLiteral("NAME"));
const QCommandLineOption VarsOption(QStringLiteral("vars"),
                                    QStringLiteral("The variables file the check lines read, for this session."),
                                    QStringLiteral("FILE"));
const QCommandLineOption SocketsOption(QStringLiteral("sockets"),
                                       QStringLiteral("Opens the socket window with N sockets (1 to 8), a printer each."),
                                       QStringLiteral("N"));
const QCommandLineOption VersionOption(QStringLiteral("version"), QStringLiteral("Prints the version and exits."));

// The station's options, for parsing and for the help text.
void SetUpParser(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("The test station for fiscal printers: it drives a printer over a serial line."));
    parser.addHelpOption();
    parser.addOption(VersionOption);
    parser.addOption(PortOption);
    parser.addOption(VarsOption);
    parser.addOption(SocketsOption);
    parser.addPositionalArgument(QStringLiteral("SCRIPT"), QStringLiteral("A script file to load."),
                                 QStringLiteral("[SCRIPT]"));
}

// Prints the help text or the version when asked for and returns true; false
// (nothing printed) for any other command line. A QCoreApplication suffices,
// so that this works where there is no display: scripts, packaging checks.
bool AnswerWithoutDisplay(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const char* option : {"--version", "-h", "--help", "--help-all"})
            asked = asked || std::strcmp(argv[i], option) == 0;
    }
    if (!asked)
        return false;
    const QCoreApplication console(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamrisk"));
    QCommandLineParser parser;
    SetUpParser(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return false;
    if (parser.isSet(VersionOption)) {
        std::printf("tamrisk %s\n", ProgramVersionText);
        return true;
    }
    parser.process(QCoreApplication::arguments());  // prints the help and exits
    return false;
}

int RunStation(QApplication& app) {
    QCommandLineParser parser;
    SetUpParser(parser);
    bool socketsGiven = true;
    const int sockets = parser.parse(QApplication::arguments()) && parser.isSet(SocketsOption)
                            ? parser.value(SocketsOption).toInt(&socketsGiven)
                            : 0;
    const bool socketsBad = parser.isSet(SocketsOption) && (!socketsGiven || sockets < 1 || sockets > 8);
    if (!parser.parse(QApplication::arguments()) || parser.positionalArguments().size() > 1 || socketsBad) {
        const QString problem = socketsBad                      ? QStringLiteral("--sockets takes a number from 1 to 8.")
                                : parser.errorText().isEmpty() ? QStringLiteral("Too many arguments.")
                                                               : parser.errorText();
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), problem + u'\n' + parser.helpText());
        return 2;
    }

    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());

    TTestForm TestForm(station);
    host.SetParent(&TestForm);
    // The close box of the main window also counts while a box is open.
    BlockedCloseFilter closeFilter(TestForm);
    TCommandFrm CommandFrm(station, TestForm.Results(), nullptr, TestForm.CommandHooks(), &TestForm);
    TStatusDlg StatusDlg(station.state, [&TestForm] { return TestForm.ScriptRunning(); }, &TestForm);
    CommandFrm.SetStatusDlg(&StatusDlg);
    // The image and cancel flag of the two memory readers, one for the run.
    const auto memoryReaderState = std::make_unique<MemoryReaderState>();
    TCodeForm CodeForm(station, *memoryReaderState, &StatusDlg, &TestForm);
    TMemForm MemForm(station, *memoryReaderState, &StatusDlg, &TestForm);
    TJournalForm JournalForm(station, &TestForm);
    TReadKlenFrm ReadKlenFrm(station, &TestForm);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        TestForm.resize(TTestForm::InitialSize(area.size()));
        TestForm.move(area.center() - QPoint(TestForm.width() / 2, TestForm.height() / 2));
    }
    TestForm.SetWindows({&CommandFrm, &StatusDlg, &CodeForm, &MemForm, &JournalForm, &ReadKlenFrm});
    // One records file for the session, opened before the first operation.
    StationRecords records(station, &TestForm);
    TestForm.SetRecords(&records);
    CommandFrm.SetRecords(&records);
    CodeForm.SetRecords(&records);
    MemForm.SetRecords(&records);
    ReadKlenFrm.SetRecords(&records);
    JournalForm.SetRecords(&records);
    TestForm.show();

    if (parser.isSet(PortOption)) {
        const QString port = parser.value(PortOption);
        if (!TestForm.SelectPort(port))
            host.showMessageDetail("No such serial port", "Error", port.toStdString());
    }
    if (parser.isSet(VarsOption))
        TestForm.SetVariablesFile(parser.value(VarsOption), false);
    if (!parser.positionalArguments().isEmpty())
        TestForm.LoadScriptFile(parser.positionalArguments().constFirst());
    records.Open();
    // Where the line's records hold people, the station is theirs once one logs in.
    StationLogIn logIn(TestForm, records);
    if (!logIn.Start())
        return 0;
    if (sockets > 0) {
        SocketWindow& window = TestForm.Sockets();
        window.SetSocketCount(sockets);
        window.show();
    }

    const int status = app.exec();
    TestForm.EndSockets();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Before QApplication, which needs a display.
    if (AnswerWithoutDisplay(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamrisk"));
    // Drawn from the SVG by Qt's SVG image-format plugin; the desktop file's name
    // lets a Wayland desktop match the windows to the menu entry and its icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tamrisk.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("tamrisk"));
    try {
        return RunStation(app);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), QStringLiteral("Unexpected error"));
    }
    return 1;
}
