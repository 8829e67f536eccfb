// The code memory read (two probes, 3072 blocks) against tamrisk-sim over a pty:
//  - unpaced: blocks per second and station CPU per block;
//  - paced at 115200 bit/s: elapsed over the wire time of every frame that
//    crossed (10 bits a byte: the request frames and the answer frames with
//    their SYN bytes, sized by the printer model serving the same requests).
// Usage: bench_memoryread

#include "benchsupport.h"
#include "frame.h"
#include "memoryreader.h"
#include "printercommands.h"
#include "printermodel.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

class CountingObserver : public MemoryReadObserver {
public:
    void HexLine(const std::string&) override { ++lines; }
    long lines = 0;
};

struct Read {
    MemoryReadResult result;
    long lines = 0;
    double wall = 0, cpu = 0;
};

Read ReadCodeMemory(const QStringList& simOptions) {
    Simulator sim(simOptions);
    BenchStation station(sim.port(), 115200);
    const auto reader = std::make_unique<MemoryReaderState>();
    CountingObserver observer;
    const Stopwatch watch;
    Read read;
    read.result = ReadMemory(station.transactor, station.host, CodeMemoryRead, *reader, observer);
    read.wall = watch.wallSeconds();
    read.cpu = watch.cpuSeconds();
    read.lines = observer.lines;
    return read;
}

// Bytes on the line for a complete read: each request frame and every byte the
// printer sends back for it, from a model set up as the simulator is.
long long WireBytes() {
    sim::PrinterModel model;
    std::uint8_t sequence = FirstSequence;
    long long bytes = 0;
    const auto transact = [&](int command, const std::string& data) {
        const std::string request = EncodeRequestFrame(sequence, command, data);
        sequence = NextSequence(sequence);
        model.Receive(request);
        bytes += static_cast<long long>(request.size() + model.TakeOutput().size());
    };
    transact(CmdReadiness, "");
    transact(CmdReadiness, "");
    for (int i = 0; i < CodeMemoryRead.blockCount; ++i)
        transact(CmdReadCodeMemory, CodeBlockData(static_cast<std::uint32_t>(i * MemoryBlockSize)));
    return bytes;
}

bool Complete(const Read& read) { return read.result.end == MemoryReadEnd::Complete; }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int blocks = CodeMemoryRead.blockCount;

    const Read unpaced = ReadCodeMemory({});
    std::printf("code memory read, unpaced: %d blocks (%s, %ld dump lines) in %.3f s: %.0f blocks/s, "
                "station CPU %.1f us/block\n",
                unpaced.result.blocksRead, Complete(unpaced) ? "complete" : "NOT complete", unpaced.lines,
                unpaced.wall, unpaced.result.blocksRead / unpaced.wall, unpaced.cpu / blocks * 1e6);

    const Read paced = ReadCodeMemory({"--baud", "115200"});
    const long long wireBytes = WireBytes();
    const double wire = static_cast<double>(wireBytes) * 10.0 / 115200.0;
    std::printf("code memory read, paced at 115200 bit/s: %d blocks (%s), %lld bytes on the line, "
                "elapsed %.3f s, wire time %.3f s: elapsed / wire = %.4f (limit 1.05)\n",
                paced.result.blocksRead, Complete(paced) ? "complete" : "NOT complete", wireBytes, paced.wall,
                wire, paced.wall / wire);
    return Complete(unpaced) && Complete(paced) && paced.wall / wire <= 1.05 ? 0 : 1;
}
