// The fiscal memory window during a read of 4096 blocks (256 KiB, 16,384 dump
// lines) from tamrisk-sim over a pty, unpaced: the time the hex view takes
// (its batches going into the document) against the read's whole time, and
// the appends of the last 1,000 lines against the first 1,000. Reads without
// a window between the window's give what the window costs in all (view,
// repaints, progress bar).
// Usage: bench_memorywindow   (QT_QPA_PLATFORM=offscreen without a display)

#include "benchsupport.h"
#include "hexview.h"
#include "memoryreader.h"
#include "memread.h"
#include "qthost.h"
#include "qtserialio.h"
#include "station.h"

#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

struct NoView : MemoryReadObserver {
    void HexLine(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Simulator sim({"--fm-size", "256"});
    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());
    if (!station.ConnectPath(sim.port(), 115200)) {
        std::fprintf(stderr, "cannot open %s\n", sim.port().c_str());
        return 1;
    }
    auto memory = std::make_unique<MemoryReaderState>();

    auto bareRead = [&] {
        NoView none;
        const Stopwatch watch;
        ReadMemory(station.transactor, host, FiscalMemoryRead, *memory, none);
        return watch.wallSeconds();
    };
    TMemForm form(station, *memory, nullptr);
    host.SetParent(&form);
    form.resize(640, 480);
    form.show();
    QApplication::processEvents();

    constexpr long TotalLines = 16384;
    constexpr long Edge = 1000;
    constexpr int Runs = 10;
    // Every second read hands the view batches of one size: on its timer a
    // batch holds what the read brought in 100 ms, so the read's own pace,
    // which varies on a shared machine, would weigh the fixed cost of a batch
    // differently at the start and at the end.
    constexpr std::size_t UniformBatch = 256;
    struct Run {
        double seconds = 0, view = 0, first = 0, last = 0, bare = 0;
        int lines = 0;
        bool uniform = false;
    };
    // Each window read between two reads without a window, so that a machine
    // shared with other work tilts no ratio; each figure is the median of its reads.
    std::vector<Run> runs;
    double bareBefore = bareRead();
    for (int r = 0; r < Runs; ++r) {
        Run run;
        run.uniform = r % 2 == 1;
        form.View().SetMaxBatchLines(run.uniform ? UniformBatch : 0);
        BatchLog batches;
        form.View().batchWritten = [&](std::size_t lines, std::chrono::nanoseconds spent) {
            batches.Add(lines, spent);
        };
        const Stopwatch watch;
        form.findChild<QPushButton*>("ReadBt")->click();  // returns when the read has ended
        run.seconds = watch.wallSeconds();
        run.lines = form.View().LineCount();
        run.view = batches.Seconds();
        std::tie(run.first, run.last) = batches.EdgeSeconds(static_cast<std::size_t>(TotalLines), Edge);
        const double bareAfter = bareRead();
        run.bare = (bareBefore + bareAfter) / 2;
        bareBefore = bareAfter;
        runs.push_back(run);
        if (run.lines != TotalLines || memory->Image.length != MemoryImage::Capacity) {
            std::fprintf(stderr, "the read brought %d lines and %d bytes\n", run.lines, memory->Image.length);
            return 1;
        }
    }
    std::printf("fiscal memory window, %ld lines and %d bytes read from tamrisk-sim (unpaced), %d reads:\n",
                TotalLines, memory->Image.length, Runs);
    for (const Run& run : runs)
        std::printf("  %s read %.3f s, hex view %.1f ms = %.2f %%, last/first 1000 lines %.2f, "
                    "window in all %.1f %% (read without it %.3f s)\n",
                    run.uniform ? "256-line batches:" : "timed batches:   ", run.seconds, 1e3 * run.view, 100 * run.view / run.seconds, run.last / run.first,
                    100 * (run.seconds - run.bare) / run.seconds, run.bare);
    std::vector<Run> timed, uniform;
    for (const Run& run : runs)
        (run.uniform ? uniform : timed).push_back(run);
    const auto growth = [](const Run& run) { return run.last / run.first; };
    std::printf("median hex view share of the read (timed batches, as the window runs): %.2f %% (at most 10 %%)\n",
                100 * MedianOf(timed, [](const Run& run) { return run.view / run.seconds; }));
    std::printf("median last / first %ld lines: %.2f in %zu-line batches (at most 1.5); %.2f in timed batches\n",
                Edge, MedianOf(uniform, growth), UniformBatch, MedianOf(timed, growth));
    station.Disconnect();
    return 0;
}
