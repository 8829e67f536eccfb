// The station: the application, its title and the seven windows in order.
// Usage: tamrisk [--port NAME] [SCRIPT]
//   --port NAME  selects the port of the list with that name or device path
//   SCRIPT       a script file, loaded as Load Script from File would

#include "coderead.h"
#include "command.h"
#include "journal.h"
#include "memread.h"
#include "qthost.h"
#include "qtserialio.h"
#include "readklenbin.h"
#include "resultsview.h"
#include "station.h"
#include "status.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QScreen>

#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <utility>

using namespace tamrisk;

namespace {

// Room for a window that a window created before it already refers to: the
// Execute Command dialog comes before the status dialog it opens, and only
// keeps the reference until it is shown.
template <class Window>
class LaterWindow {
public:
    LaterWindow() = default;
    LaterWindow(const LaterWindow&) = delete;
    LaterWindow& operator=(const LaterWindow&) = delete;
    ~LaterWindow() {
        if (m_window != nullptr)
            m_window->~Window();
    }

    // Where the window will stand; not to be used before Create.
    Window& Reserved() { return *reinterpret_cast<Window*>(m_storage); }

    template <class... Args>
    Window& Create(Args&&... args) {
        m_window = new (m_storage) Window(std::forward<Args>(args)...);
        return *m_window;
    }

private:
    alignas(Window) std::byte m_storage[sizeof(Window)];
    Window* m_window = nullptr;
};

int RunStation(QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Test station for fiscal printers"));
    parser.addHelpOption();
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
    LaterWindow<TStatusDlg> statusDlg;
    TCommandFrm CommandFrm(station, TestForm.Results(), statusDlg.Reserved(), TestForm.CommandHooks(), &TestForm);
    TStatusDlg& StatusDlg = statusDlg.Create(
        station.state, [&TestForm] { return TestForm.ScriptRunning(); }, &TestForm);
    TCodeForm CodeForm(&TestForm);
    TMemForm MemForm(&TestForm);
    TJournalForm JournalForm(&TestForm);
    TReadKlenFrm ReadKlenFrm(&TestForm);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        TestForm.resize(TTestForm::InitialSize(area.size()));
        TestForm.move(area.center() - QPoint(TestForm.width() / 2, TestForm.height() / 2));
    }
    TestForm.SetWindows({&CommandFrm, &StatusDlg, &CodeForm, &MemForm, &JournalForm, &ReadKlenFrm});
    TestForm.show();

    if (parser.isSet(portOption)) {
        const QString port = parser.value(portOption);
        if (!TestForm.SelectPort(port))
            host.showMessageDetail("No such serial port", "Error", port.toStdString());
    }
    if (!parser.positionalArguments().isEmpty())
        TestForm.LoadScriptFile(parser.positionalArguments().constFirst());

    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
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
