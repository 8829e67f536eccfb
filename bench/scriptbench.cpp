// The script runner's own overhead: a script with a repeat of 10,000 passes
// around three block reads, run by tamrisk-cli against tamrisk-sim over a pty,
// compared with raw block-read round trips from the core measured in the same run
// (before and after it). The run's time includes the CLI's start and end.
// Then the cost of a check line over a comment line: the engine runs, in this
// process against the same simulator, one journal information command followed
// by N check lines, and the same command followed by N comment lines.
// Usage: bench_script [--passes N] [--round-trips N] [--checks N]

#include "benchsupport.h"
#include "printercommands.h"
#include "scriptrunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

// Takes every line as a view would be handed it, and keeps none; counts the red ones.
struct CountingSink : ResultSink {
    void AppendResultLine(std::string_view text, ResultColour colour) override {
        bytes += text.size();
        red += colour == ResultColour::Red ? 1 : 0;
    }
    std::size_t bytes = 0;
    int red = 0;
};


// Seconds the engine takes for one journal information command and `lines`,
// and the red lines it logged (none when every check held).
std::pair<double, int> RunSeconds(BenchStation& station, const std::vector<std::string>& lines) {
    CountingSink sink;
    ScriptRunner runner(station.transactor, station.host, sink, {});
    runner.SetCheckVariables({{"max", "2000000"}, {"unit", "U-1"}});
    std::vector<std::string> script = {"119,I"};
    script.insert(script.end(), lines.begin(), lines.end());
    StringScriptList list(std::move(script));
    const Stopwatch watch;
    runner.ScriptRunning = true;
    runner.RunScript(list);
    runner.ScriptRunning = false;
    return {watch.wallSeconds(), sink.red};
}

// Microseconds a check line costs over a comment line: the median of runs of
// each, taken in turn so that a drift of the machine's speed tilts neither.
double CheckMicroseconds(const std::string& port, int count) {
    // The kinds of check a final test makes, in turn: text, number, range with
    // a variable, regular expression, hex.
    const std::string kinds[] = {"?journal size: 2 = 2097152", "?fields: 1 != Q", "?journal used: 3 in 0..{max} bytes",
                                 "?answer shape: * ~ ^P,[0-9]+(,[0-9]+){5}$", "?first z: 4 >= 0"};
    std::vector<std::string> checks, comments;
    for (int i = 0; i < count; ++i) {
        checks.push_back(kinds[i % std::size(kinds)]);
        comments.push_back("free text that the run prints as a comment");
    }
    BenchStation station(port, 115200);
    std::vector<double> checkRuns, commentRuns;
    for (int run = 0; run < 5; ++run) {
        const auto [seconds, red] = RunSeconds(station, checks);
        checkRuns.push_back(seconds);
        if (red != 0)
            std::printf("%d red lines in a run of checks: not every check held\n", red);
        commentRuns.push_back(RunSeconds(station, comments).first);
    }
    const auto median = [](const std::vector<double>& runs) { return MedianOf(runs, [](double s) { return s; }); };
    std::printf("engine: 1 command and %d check lines: %.3f s; and %d comment lines: %.3f s (medians of 5)\n", count,
                median(checkRuns), count, median(commentRuns));
    return (median(checkRuns) - median(commentRuns)) / count * 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int passes = 10000, roundTrips = 15000;  // twice 15,000 raw round trips: as many as the run makes
    int checks = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--round-trips"))
            roundTrips = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--checks"))
            checks = std::atoi(argv[i + 1]);
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
    std::printf("a check line over a comment line: %.2f us a check (below 20)\n",
                CheckMicroseconds(sim.port(), checks));
    return 0;
}
