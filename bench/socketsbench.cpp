// The socket window with eight printers: eight sockets, each on a tamrisk-sim
// of its own paced at 115200 bit/s, run one script of 100 printer commands at
// once, started through the window as the operator starts them (the ports
// listed, each panel's port chosen, the eight started back to back). Each
// socket's run time, from its start to its tile leaving RUNNING, is divided by
// the time of the same script run alone on one socket, alone runs taken
// before and after the eight in each round (their mean), so that a drift of
// the machine's speed tilts no ratio. While the eight run: the gaps of a 10 ms
// timer on the window's thread (how long the window keeps an event waiting)
// and the station's own CPU time over the wall time (the simulators are
// processes of their own and not counted; their CPU is printed beside it, as
// the share of the machine the station competes with). Records kept in a
// private file, then records off. Rounds are repeated for a machine shared
// with other work: the ratios and the CPU are the median of the rounds, the
// window's delays those of all rounds together.
// Usage: bench_sockets [--rounds N]   (QT_QPA_PLATFORM=offscreen unless set otherwise)

#include "benchsupport.h"
#include "qthost.h"
#include "qtserialio.h"
#include "socketpanel.h"
#include "socketwindow.h"
#include "station.h"
#include "stationrecords.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <sys/resource.h>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr int Sockets = 8;
constexpr int Speed = 115200;
constexpr int ProbeIntervalMs = 10;

// Targets.
constexpr double MaxRatio = 1.03;
constexpr double MaxLatencyMs = 50;
constexpr double MaxCpuPercent = 15;

// 100 commands the simulator answers at once, none of them heavy: readiness,
// the journal's information, a text line printed and a short code read.
std::vector<std::string> BenchScript() {
    std::vector<std::string> lines{"@Socket window benchmark: 100 light commands"};
    for (int pass = 1; pass <= 25; ++pass) {
        lines.push_back("74");
        lines.push_back("119,I");
        lines.push_back("90,Bench line " + std::to_string(pass));
        lines.push_back("121,0000,16");
    }
    return lines;
}

// The `fraction` quantile of `values` (nearest rank); 0 when there are none.
double QuantileOf(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// One round: the alone runs around the eight, and what the eight cost the window.
struct Round {
    double aloneBefore = 0, aloneAfter = 0;  // seconds
    std::array<double, Sockets> together{};  // each socket's seconds
    std::vector<double> latenciesMs;         // each gap of the probe over its interval
    double cpuPercent = 0;                   // the station's while the eight run
    double windowCpuPercent = 0;             // the window's thread's share of cpuPercent
    double aloneCpuPercent = 0;              // the station's while one socket runs, both alone runs together
    double simCpuPercent = 0;                // the eight simulators' while the eight run
    bool passed = true;                      // every run ran through

    double Alone() const { return (aloneBefore + aloneAfter) / 2; }
    double Ratio(int socket) const { return together[static_cast<std::size_t>(socket)] / Alone(); }
    double WorstRatio() const {
        double worst = 0;
        for (int socket = 0; socket < Sockets; ++socket)
            worst = std::max(worst, Ratio(socket));
        return worst;
    }
};

// CPU time of the calling thread (user + system), in seconds.
double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time the simulators have used so far, in seconds.
double SimulatorsCpuSeconds(const std::vector<std::unique_ptr<Simulator>>& sims) {
    double seconds = 0;
    for (const auto& sim : sims)
        seconds += sim->cpuTime().count();
    return seconds;
}

const char* Missed(bool met) { return met ? "" : " MISSED"; }

// The socket window with `records` (null: off) over the simulators, run `rounds` times.
std::vector<Round> Measure(StationRecords* records, const std::vector<std::unique_ptr<Simulator>>& sims,
                           const std::vector<std::string>& script, int rounds) {
    std::vector<PortEntry> ports;
    for (int socket = 1; socket <= Sockets; ++socket)
        ports.push_back({"SIM" + std::to_string(socket), sims[static_cast<std::size_t>(socket - 1)]->port()});
    SocketWindow window(records,
                        SocketScript{
                            .request =
                                [&script](const std::string&, std::string&) {
                                    ScriptRunRequest request;
                                    request.selection.emplace(script);
                                    request.wholeScript = [&script] { return std::optional(script); };
                                    return std::optional(std::move(request));
                                },
                            .speedBps = [] { return Speed; },
                            .advanced = {},
                        },
                        [&ports] { return ports; });
    window.SetSocketCount(Sockets);
    window.resize(1600, 900);
    window.show();
    QApplication::processEvents();

    // Each socket's end is read when its panel reports it, after the tile shows
    // the verdict; the window's own handling follows as before.
    QElapsedTimer clock;
    clock.start();
    std::array<qint64, Sockets> startedNs{}, endedNs{};
    for (int socket = 1; socket <= Sockets; ++socket) {
        SocketPanel& panel = window.Panel(socket);
        panel.ChoosePort(QString::fromStdString(ports[static_cast<std::size_t>(socket - 1)].path));
        panel.UnitBox().setText(QStringLiteral("BENCH-%1").arg(socket));
        panel.ended = [&endedNs, &clock, socket,
                       windowEnded = panel.ended](SocketPanel& ended, const std::vector<std::string>& started,
                                                  const std::optional<std::vector<std::string>>& advanced) {
            endedNs[static_cast<std::size_t>(socket - 1)] = clock.nsecsElapsed();
            if (windowEnded)
                windowEnded(ended, started, advanced);
        };
    }
    for (int socket = 1; socket <= Sockets; ++socket) {
        if (window.Panel(socket).Port().isEmpty()) {
            std::fprintf(stderr, "socket %d could not choose its port\n", socket);
            std::exit(1);
        }
    }
    const auto waitForAll = [&window] {
        while (window.Running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    // A run ran through when its tile shows PASS.
    const auto passed = [&window](int socket) {
        SocketPanel& panel = window.Panel(socket);
        const SocketPanel::Tile tile = panel.Verdict();
        const auto* reason = panel.findChild<QLabel*>(panel.ControlName("ReasonLbl"));
        const QString told = reason != nullptr ? reason->text() : QStringLiteral("(no reason shown)");
        if (tile == SocketPanel::Tile::Pass)
            return true;
        std::fprintf(stderr, "socket %d ended %s: %s\n", socket, SocketPanel::TileText(tile), qPrintable(told));
        return false;
    };
    double aloneCpu = 0, aloneWall = 0;
    const auto runAlone = [&](int socket, bool& ok) {
        const std::size_t i = static_cast<std::size_t>(socket - 1);
        const Stopwatch watch;
        startedNs[i] = clock.nsecsElapsed();
        window.StartSocket(socket);
        waitForAll();
        aloneCpu += watch.cpuSeconds();
        aloneWall += watch.wallSeconds();
        ok = passed(socket) && ok;
        return static_cast<double>(endedNs[i] - startedNs[i]) / 1e9;
    };

    std::vector<Round> results;
    for (int r = 0; r < rounds; ++r) {
        Round round;
        aloneCpu = aloneWall = 0;
        round.aloneBefore = runAlone(1, round.passed);

        // The window's timer events, late by how long the window held them up.
        qint64 lastProbeNs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(ProbeIntervalMs);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            round.latenciesMs.push_back(std::max(0.0, static_cast<double>(now - lastProbeNs) / 1e6 - ProbeIntervalMs));
            lastProbeNs = now;
        });
        const Stopwatch watch;
        const double windowCpuStart = ThreadCpuSeconds();
        const double simCpuStart = SimulatorsCpuSeconds(sims);
        lastProbeNs = clock.nsecsElapsed();
        probe.start();
        for (int socket = 1; socket <= Sockets; ++socket) {
            startedNs[static_cast<std::size_t>(socket - 1)] = clock.nsecsElapsed();
            window.StartSocket(socket);
        }
        waitForAll();
        probe.stop();
        round.cpuPercent = 100 * watch.cpuSeconds() / watch.wallSeconds();
        round.windowCpuPercent = 100 * (ThreadCpuSeconds() - windowCpuStart) / watch.wallSeconds();
        round.simCpuPercent = 100 * (SimulatorsCpuSeconds(sims) - simCpuStart) / watch.wallSeconds();
        for (int socket = 1; socket <= Sockets; ++socket) {
            const std::size_t i = static_cast<std::size_t>(socket - 1);
            round.together[i] = static_cast<double>(endedNs[i] - startedNs[i]) / 1e9;
            round.passed = passed(socket) && round.passed;
        }

        round.aloneAfter = runAlone(1, round.passed);
        round.aloneCpuPercent = 100 * aloneCpu / aloneWall;
        results.push_back(std::move(round));
    }
    return results;
}

void Report(const char* setting, const std::vector<Round>& rounds) {
    const double worst = MedianOf(rounds, [](const Round& r) { return r.WorstRatio(); });
    // The window's delays of every round together: the worst the operator met.
    std::vector<double> latencies;
    for (const Round& round : rounds)
        latencies.insert(latencies.end(), round.latenciesMs.begin(), round.latenciesMs.end());
    const double latencyMax = QuantileOf(latencies, 1.0);
    const double latencyP99 = QuantileOf(latencies, 0.99);
    const double cpu = MedianOf(rounds, [](const Round& r) { return r.cpuPercent; });
    const bool passed = std::all_of(rounds.begin(), rounds.end(), [](const Round& r) { return r.passed; });
    std::printf(
        "eight sockets at %d, %s: worst run %.3f of one alone (median of %zu, at most %.2f)%s, "
        "ui latency max %.1f ms%s p99 %.1f ms%s (%zu ticks, at most %.0f), station cpu %.1f %% of a core "
        "(median, under %.0f)%s%s\n",
        Speed, setting, worst, rounds.size(), MaxRatio, Missed(worst <= MaxRatio), latencyMax,
        Missed(latencyMax <= MaxLatencyMs), latencyP99, Missed(latencyP99 <= MaxLatencyMs), latencies.size(),
        MaxLatencyMs, cpu, MaxCpuPercent, Missed(cpu < MaxCpuPercent), passed ? "" : "; some runs did not run through");
    std::printf("  each socket's run over one alone (median of %zu):", rounds.size());
    for (int socket = 0; socket < Sockets; ++socket) {
        const double ratio = MedianOf(rounds, [socket](const Round& r) { return r.Ratio(socket); });
        std::printf(" %d: %.3f%s", socket + 1, ratio, Missed(ratio <= MaxRatio));
    }
    std::printf("\n");
    for (std::size_t r = 0; r < rounds.size(); ++r) {
        const Round& round = rounds[r];
        std::printf("  round %zu: alone %.3f s before, %.3f s after; eight", r + 1, round.aloneBefore,
                    round.aloneAfter);
        for (const double seconds : round.together)
            std::printf(" %.3f", seconds);
        std::printf(
            " s; worst %.3f; ui latency max %.1f ms p99 %.1f ms over %zu ticks; cpu %.1f %% (the window's thread %.1f "
            "%%; %.1f %% alone); the simulators %.0f %%\n",
            round.WorstRatio(), QuantileOf(round.latenciesMs, 1.0), QuantileOf(round.latenciesMs, 0.99),
            round.latenciesMs.size(), round.cpuPercent, round.windowCpuPercent, round.aloneCpuPercent,
            round.simCpuPercent);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's settings and records stay untouched: both live in a private folder.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("TAMRISK_RECORDS", dir.filePath("sockets.sqlite").toLocal8Bit());
    QApplication app(argc, argv);
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }

    std::vector<std::unique_ptr<Simulator>> sims;
    for (int socket = 1; socket <= Sockets; ++socket)
        sims.push_back(std::make_unique<Simulator>(QStringList{"--baud", QString::number(Speed)}));
    const std::vector<std::string> script = BenchScript();

    // The records as the station keeps them for a session, on a line's station.
    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());
    StationRecords records(station, nullptr);
    records.Open();
    if (records.Location().isEmpty()) {
        std::fprintf(stderr, "the records file could not be chosen\n");
        return 1;
    }
    Report("records kept", Measure(&records, sims, script, rounds));
    Report("records off", Measure(nullptr, sims, script, rounds));
    std::printf("records file: %lld bytes; peak memory of the station: %.1f MiB\n",
                static_cast<long long>(RecordsFileBytes(records.Location())), PeakMemoryKiB() / 1024.0);
    return 0;
}
