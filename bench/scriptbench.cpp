// The script runner's own overhead: a script with a repeat of 10,000 passes
// around three block reads, run by tamrisk-cli against tamrisk-sim over a pty,
// compared with raw block-read round trips from the core measured in the same run
// (before and after it). The run's time includes the CLI's start and end.
// Usage: bench_script [--passes N] [--round-trips N]

#include "benchsupport.h"
#include "printercommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int passes = 10000, roundTrips = 15000;  // twice 15,000 raw round trips: as many as the run makes
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--round-trips"))
            roundTrips = std::atoi(argv[i + 1]);
    }
    const std::vector<std::string> blocks = {CodeBlockData(0x0000), CodeBlockData(0x0040), CodeBlockData(0x0080)};

    Simulator sim({});
    // Raw round trips are measured before and after the run and taken together,
    // so that a drift of the machine's speed during the run does not tilt the ratio.
    double rawSeconds = 0;
    auto measureRaw = [&] {
        BenchStation station(sim.port(), 115200);
        const Stopwatch watch;
        for (int i = 0; i < roundTrips; ++i)
            station.transactor.ExecCommand(CmdReadCodeMemory, blocks[static_cast<std::size_t>(i) % 3]);
        const double seconds = watch.wallSeconds();
        rawSeconds += seconds;
        return roundTrips / seconds;
    };
    const double rawBefore = measureRaw();

    QTemporaryDir dir;
    const std::string scriptPath = dir.filePath("bench.inp").toStdString();
    {
        QFile script(QString::fromStdString(scriptPath));
        script.open(QIODevice::WriteOnly);
        std::string text = "@Runner benchmark\r\n*" + std::to_string(passes) + ",Pass\r\n";
        for (const auto& block : blocks)
            text += "121," + block + "\r\n";
        text += ":Pass\r\n";
        script.write(text.data(), static_cast<qint64>(text.size()));
    }
    const std::string logPath = dir.filePath("run.log").toStdString();
    // Records off: the runner's own overhead, and nothing left in the user's records file.
    const ChildRun run = Spawn({TAMRISK_CLI_PATH, "run", "--port", sim.port(), "--speed", "115200", "--color",
                                "never", "--records", "off", scriptPath},
                               logPath);
    const double rawAfter = measureRaw();
    const double rawPerSecond = 2.0 * roundTrips / rawSeconds;
    const long transactions = 3L * passes;
    const double runPerSecond = transactions / run.wallSeconds;
    std::printf("raw round trips from the core: 2 x %d block reads: %.0f transactions/s (%.0f before the run, "
                "%.0f after)\n",
                roundTrips, rawPerSecond, rawBefore, rawAfter);
    std::printf("tamrisk-cli run: %d passes of 3 block reads (exit status %d) in %.3f s: %.0f transactions/s\n",
                passes, WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1, run.wallSeconds, runPerSecond);
    std::printf("runner / raw = %.3f (at least 0.9); peak memory of tamrisk-cli run: %.1f MiB\n",
                runPerSecond / rawPerSecond, run.peakKiB / 1024.0);
    return 0;
}
