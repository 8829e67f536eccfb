// A script of 20,000 transactions (a repeat of 10,000 passes around two block
// reads) against tamrisk-sim over a pty, run by the station's main window (its
// runner, its editor as the script and its results view) and by tamrisk-cli
// run in the same run, each with records kept in a file of its own and with
// records off. Each round runs the station off, on, on, off and the CLI off, on
// before the station and on, off after it, so a drift of the machine's speed
// tilts neither the records on/off ratios nor the station/CLI one; more rounds
// even out a machine shared with other work. The records files, their
// write-ahead logs checkpointed, give the bytes a recorded run keeps.
// Usage: bench_stationrun [--passes N] [--rounds N]   (QT_QPA_PLATFORM=offscreen without a display)

#include "benchsupport.h"
#include "qthost.h"
#include "qtserialio.h"
#include "resultsview.h"
#include "station.h"
#include "stationrecords.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

// The runs of one program with records off and on: their wall and CPU seconds summed.
struct Runs {
    int count = 0;  // of each setting
    double wall[2] = {0, 0}, cpu[2] = {0, 0};
    std::string seconds;  // each run's wall seconds in order, "off" and "on" marked

    void Add(bool recorded, double wallSeconds, double cpuSeconds) {
        count += recorded ? 1 : 0;
        wall[recorded] += wallSeconds;
        cpu[recorded] += cpuSeconds;
        char text[32];
        std::snprintf(text, sizeof text, " %s %.3f", recorded ? "on" : "off", wallSeconds);
        seconds += text;
    }
    double Rate(bool recorded, long transactions) const { return count * transactions / wall[recorded]; }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int passes = 10000, rounds = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    const long transactions = 2L * passes;

    Simulator sim({});
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath("bench.inp");
    WriteBlockReadScript(scriptPath, "Station benchmark", passes);
    const QString cliRecordsPath = dir.filePath("cli.sqlite"), stationRecordsPath = dir.filePath("station.sqlite");

    const std::string logPath = dir.filePath("run.log").toStdString();
    Runs cli;
    int exitStatus = 0;  // the first run's that was not 0
    auto runCli = [&](bool recorded) {
        const ChildRun run =
            Spawn({TAMRISK_CLI_PATH, "run", "--port", sim.port(), "--speed", "115200", "--color", "never",
                   "--records", recorded ? cliRecordsPath.toStdString() : "off", scriptPath.toStdString()},
                  logPath);
        const int status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
        exitStatus = exitStatus != 0 ? exitStatus : status;
        cli.Add(recorded, run.wallSeconds, run.cpuSeconds);
    };
    for (int round = 0; round < rounds; ++round)
        runCli(false), runCli(true);

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
    // The station's records file as the environment chooses it for a session.
    qputenv("TAMRISK_RECORDS", stationRecordsPath.toLocal8Bit());
    StationRecords records(station, &window);
    records.Open();
    Runs stationRuns;
    qsizetype logLines = 0;
    auto runStation = [&](bool recorded) {
        window.SetRecords(recorded ? &records : nullptr);
        window.Results().Clear();
        const Stopwatch watch;
        window.findChild<QPushButton*>("ExecuteBt")->click();  // returns when the run has ended
        logLines = window.Results().Text().count(QLatin1Char('\n'));
        stationRuns.Add(recorded, watch.wallSeconds(), watch.cpuSeconds());
    };
    for (int round = 0; round < rounds; ++round)
        runStation(false), runStation(true), runStation(true), runStation(false);
    window.findChild<QPushButton*>("ConnectBt")->click();

    for (int round = 0; round < rounds; ++round)
        runCli(true), runCli(false);

    std::printf("station window: %ld transactions, %lld log lines a run; records%s s: %.0f transactions/s off, "
                "%.0f on\n",
                transactions, static_cast<long long>(logLines), stationRuns.seconds.c_str(),
                stationRuns.Rate(false, transactions), stationRuns.Rate(true, transactions));
    std::printf("tamrisk-cli run: records%s s (exit status %d): %.0f transactions/s off, %.0f on\n",
                cli.seconds.c_str(), exitStatus, cli.Rate(false, transactions), cli.Rate(true, transactions));
    std::printf("station / cli = %.3f (at least 0.9), records off; peak memory of the station: %.1f MiB\n",
                stationRuns.Rate(false, transactions) / cli.Rate(false, transactions), PeakMemoryKiB() / 1024.0);
    for (const auto& [name, runs] : {std::pair("station window", &stationRuns), std::pair("tamrisk-cli run", &cli)}) {
        std::printf("records on/off rate, %s: %.3f (at least 0.95); CPU time on/off %.3f\n", name,
                    runs->Rate(true, transactions) / runs->Rate(false, transactions), runs->cpu[1] / runs->cpu[0]);
    }
    // Each file holds 2 x rounds recorded runs.
    for (const auto& [name, path] :
         {std::pair("station window", stationRecordsPath), std::pair("tamrisk-cli run", cliRecordsPath)}) {
        const qint64 bytes = RecordsFileBytes(path);
        std::printf("records file bytes per 1,000 transactions, %s: %.0f (%lld bytes after %d runs of %ld)\n", name,
                    bytes / (2.0 * rounds * transactions / 1000.0), static_cast<long long>(bytes), 2 * rounds,
                    transactions);
    }
    return 0;
}
