#pragma once
// What the benchmark drivers share: a simulator process on a private pty, the
// station's core connected to it, process CPU time, and the size of a records file.

#include "consolehost.h"
#include "station.h"

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tamrisk::bench {

// tamrisk-sim started with `options`, published at a link in a private folder.
class Simulator {
public:
    explicit Simulator(const QStringList& options);
    ~Simulator();
    const std::string& port() const { return m_port; }
    // CPU time the simulator has used so far (user + system); 0 when it cannot be read.
    std::chrono::duration<double> cpuTime() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    std::string m_port;
};

// The station's core behind a console host, connected to a port at a speed.
struct BenchStation {
    BenchStation(const std::string& port, int baud);
    ConsoleHost host;
    tamrisk::Station core;
    Transactor& transactor;
    TransactionState& state;
};

// A program run to its end by Spawn.
struct ChildRun {
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;  // its user and system time
    long peakKiB = 0;
};

// Writes to `path` a script titled `title` of `passes` passes of a repeat
// around two code block reads. False when it cannot be written.
bool WriteBlockReadScript(const QString& path, const std::string& title, int passes);

// Runs a program to its end, its stdout into `outPath`, and takes its own peak memory.
ChildRun Spawn(const std::vector<std::string>& argv, const std::string& outPath);

// The size of the records file at `path` with its write-ahead log checkpointed
// into it, in bytes; -1 when it cannot be read.
qint64 RecordsFileBytes(const QString& path);

// Peak resident memory of this process so far, in KiB.
long PeakMemoryKiB();

// CPU time this process has used (user + system).
std::chrono::duration<double> ProcessCpuTime();

// Wall and CPU time of one stretch of work.
struct Stopwatch {
    Stopwatch();
    double wallSeconds() const;
    double cpuSeconds() const;
    std::chrono::steady_clock::time_point wallStart;
    std::chrono::duration<double> cpuStart;
};

// The batches a view took during one read: the lines of each and its seconds.
struct BatchLog {
    std::vector<std::pair<std::size_t, double>> batches;

    void Add(std::size_t lines, std::chrono::nanoseconds spent);
    double Seconds() const;
    // Seconds spent on the first and on the last `edge` of `total` lines, each
    // line taking its batch's share.
    std::pair<double, double> EdgeSeconds(std::size_t total, std::size_t edge) const;
};

// The median of `value(run)` over `runs` (the upper one of an even count):
// repeated reads on a shared machine, each figure taken from its own values.
template <class Run, class Value>
double MedianOf(const std::vector<Run>& runs, Value value) {
    std::vector<double> values;
    for (const Run& run : runs)
        values.push_back(value(run));
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace tamrisk::bench
