// The station: the application, its title and the seven windows in order.
// Usage: tamrisk [--port NAME] [SCRIPT] | --version
//   --port NAME  selects the port of the list with that name or device path
//   SCRIPT       a script file, loaded as Load Script from File would
//   --version    prints "tamrisk <version>" and exits, without a display

#include "blockedclose.h"
#include "coderead.h"
#include "command.h"
#include "journal.h"
#include "memoryreader.h"
#include "memread.h"
#include "programversion.h"
#include "qthost.h"
#include "qtserialio.h"
#include "readklenbin.h"
#include "resultsview.h"
#include "station.h"
#include "stationrecords.h"
#include "status.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

using namespace tamrisk;

namespace {

int RunStation(QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Test station for fiscal printers"));
    parser.addHelpOption();
    // Handled in main before the application starts; here for the help text.
    parser.addOption(QCommandLineOption(QStringLiteral("version"), QStringLiteral("Prints the version and exits.")));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Selects the port with this name or device path."),
                                        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.addPositionalArgument(QStringLiteral("SCRIPT"), QStringLiteral("A script file to load."),
                                 QStringLiteral("[SCRIPT]"));
    if (!parser.parse(QApplication::arguments()) || parser.positionalArguments().size() > 1) {
        const QString problem = parser.errorText().isEmpty() ? QStringLiteral("Too many arguments.")
                                                             : parser.errorText();
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), problem + u'\n' + parser.helpText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QMessageBox::information(nullptr, QStringLiteral("Tamrisk"), parser.helpText());
        return 0;
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

    if (parser.isSet(portOption)) {
        const QString port = parser.value(portOption);
        if (!TestForm.SelectPort(port))
            host.showMessageDetail("No such serial port", "Error", port.toStdString());
    }
    if (!parser.positionalArguments().isEmpty())
        TestForm.LoadScriptFile(parser.positionalArguments().constFirst());
    records.Open();

    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Before QApplication, which needs a display: the version is asked for by
    // scripts and packaging checks on machines that have none.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tamrisk %s\n", ProgramVersionText);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamrisk"));
    try {
        return RunStation(app);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Tamrisk"), QStringLiteral("Unexpected error"));
    }
    return 1;
}
