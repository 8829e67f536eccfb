// A script of 20,000 transactions (a repeat of 10,000 passes around two block
// reads) against tamrisk-sim over a pty, run by the station's main window (its
// runner, its editor as the script and its results view) and by tamrisk-cli
// run in the same run. The CLI is run before and after the station, taken
// together, so a drift of the machine's speed does not tilt the ratio.
// Usage: bench_stationrun [--passes N]   (QT_QPA_PLATFORM=offscreen without a display)

#include "benchsupport.h"
#include "printercommands.h"
#include "qthost.h"
#include "qtserialio.h"
#include "resultsview.h"
#include "station.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>

using namespace tamrisk;
using namespace tamrisk::bench;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int passes = 10000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
    const long transactions = 2L * passes;

    Simulator sim({});
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath("bench.inp");
    {
        QFile script(scriptPath);
        script.open(QIODevice::WriteOnly);
        std::string text = "@Station benchmark\r\n*" + std::to_string(passes) + ",Pass\r\n";
        text += "121," + CodeBlockData(0x0000) + "\r\n121," + CodeBlockData(0x0040) + "\r\n:Pass\r\n";
        script.write(text.data(), static_cast<qint64>(text.size()));
    }

    const std::string logPath = dir.filePath("run.log").toStdString();
    auto runCli = [&] {
        return Spawn({TAMRISK_CLI_PATH, "run", "--port", sim.port(), "--speed", "115200", "--color", "never",
                      scriptPath.toStdString()},
                     logPath);
    };
    const ChildRun before = runCli();

    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>(), [&] {
        return std::vector<PortEntry>{{"BENCH", sim.port()}};
    });
    TTestForm window(station);
    host.SetParent(&window);
    window.resize(1120, 896);
    window.show();
    QApplication::processEvents();
    window.findChild<QComboBox*>("SpeedBox")->setCurrentIndex(7);  // 115200
    window.SelectPort("BENCH");
    window.findChild<QPushButton*>("ConnectBt")->click();
    if (!station.Connected || !window.LoadScriptFile(scriptPath)) {
        std::fprintf(stderr, "the station could not connect or load the script\n");
        return 1;
    }
    const Stopwatch watch;
    window.findChild<QPushButton*>("ExecuteBt")->click();  // returns when the run has ended
    const QString log = window.Results().Text();
    const double stationSeconds = watch.wallSeconds();
    window.findChild<QPushButton*>("ConnectBt")->click();

    const ChildRun after = runCli();
    const double cliSeconds = (before.wallSeconds + after.wallSeconds) / 2;
    const double stationRate = transactions / stationSeconds;
    const double cliRate = transactions / cliSeconds;
    std::printf("station window: %ld transactions in %.3f s: %.0f transactions/s, %lld log lines\n", transactions,
                stationSeconds, stationRate, static_cast<long long>(log.count(QLatin1Char('\n'))));
    std::printf("tamrisk-cli run: %.3f s before, %.3f s after (exit status %d, %d): %.0f transactions/s\n",
                before.wallSeconds, after.wallSeconds, WIFEXITED(before.status) ? WEXITSTATUS(before.status) : -1,
                WIFEXITED(after.status) ? WEXITSTATUS(after.status) : -1, cliRate);
    std::printf("station / cli = %.3f (at least 0.9); peak memory of the station: %.1f MiB\n", stationRate / cliRate,
                PeakMemoryKiB() / 1024.0);
    return 0;
}
