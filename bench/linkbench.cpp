// The printer link against tamrisk-sim over a pty:
//  - round trips: block reads (command 121) as fast as the link allows;
//  - cost of waiting: CPU over wall time while the printer takes 200 ms per answer;
//  - wire-paced: block reads at 115200 bit/s, elapsed over the wire time of the
//    bytes that crossed (10 bits a byte, requests and answers).
// Usage: bench_link [--round-trips N] [--delayed N] [--paced N]

#include "benchsupport.h"
#include "printercommands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

std::string BlockData(int i) { return CodeBlockData(static_cast<std::uint32_t>((i % 3072) * MemoryBlockSize)); }

struct Outcome {
    int failed = 0;
    long long wireBytes = 0;
};

Outcome ReadBlocks(BenchStation& station, int count) {
    Outcome outcome;
    for (int i = 0; i < count; ++i) {
        const std::string data = BlockData(i);
        const ExecResult result = station.transactor.ExecCommand(CmdReadCodeMemory, data);
        if (result != ExecResult::ExecOk || station.state.AnswerData.size() != 128)
            ++outcome.failed;
        outcome.wireBytes += static_cast<long long>(data.size() + 10) +
                             static_cast<long long>(station.state.AnswerData.size() + 17) + station.state.SynCount;
    }
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int roundTrips = 3000, delayed = 10, paced = 3072;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--round-trips"))
            roundTrips = value;
        else if (!std::strcmp(argv[i], "--delayed"))
            delayed = value;
        else if (!std::strcmp(argv[i], "--paced"))
            paced = value;
    }

    {
        Simulator sim({});
        BenchStation station(sim.port(), 115200);
        const Stopwatch watch;
        const Outcome outcome = ReadBlocks(station, roundTrips);
        const double wall = watch.wallSeconds(), cpu = watch.cpuSeconds();
        std::printf("round trips, unpaced: %d block reads (%d failed) in %.3f s: %.0f transactions/s, "
                    "station CPU %.1f us/transaction\n",
                    roundTrips, outcome.failed, wall, roundTrips / wall, cpu / roundTrips * 1e6);
    }
    {
        Simulator sim({"--delay", "200"});
        BenchStation station(sim.port(), 115200);
        const Stopwatch watch;
        int failed = 0;
        for (int i = 0; i < delayed; ++i)
            failed += station.transactor.ExecCommand(CmdReadiness, "") != ExecResult::ExecOk;
        const double wall = watch.wallSeconds(), cpu = watch.cpuSeconds();
        std::printf("cost of waiting: %d answers after 200 ms (%d failed): station CPU / wall = %.4f "
                    "(limit 0.02)\n",
                    delayed, failed, cpu / wall);
    }
    {
        Simulator sim({"--baud", "115200"});
        BenchStation station(sim.port(), 115200);
        const Stopwatch watch;
        const Outcome outcome = ReadBlocks(station, paced);
        const double wall = watch.wallSeconds();
        const double wire = static_cast<double>(outcome.wireBytes) * 10.0 / 115200.0;
        std::printf("wire-paced at 115200 bit/s: %d block reads (%d failed), %lld bytes, elapsed %.3f s, "
                    "wire time %.3f s: elapsed / wire = %.4f (limit 1.05)\n",
                    paced, outcome.failed, outcome.wireBytes, wall, wire, wall / wire);
    }
    return 0;
}
