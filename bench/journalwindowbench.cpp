// The journal window during a read of the whole journal (at least 10,000
// lines) from tamrisk-sim over a pty, unpaced: lines a second, and the time
// the view spends on its last 1,000 lines (their batches going into the
// document) against its first 1,000. Reads without a window between the
// window's give what the window costs in all.
// Usage: bench_journalwindow   (QT_QPA_PLATFORM=offscreen without a display)

#include "benchsupport.h"
#include "journal.h"
#include "journalops.h"
#include "journalview.h"
#include "qthost.h"
#include "qtserialio.h"
#include "station.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

struct NoView : JournalObserver {
    void AddLine(const std::string&) override { ++lines; }
    void SetStatus(const std::string&) override {}
    std::size_t lines = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr const char* JournalDays = "200";
    Simulator sim({"--journal-days", JournalDays});
    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());
    if (!station.ConnectPath(sim.port(), 115200)) {
        std::fprintf(stderr, "cannot open %s\n", sim.port().c_str());
        return 1;
    }

    JournalSession bare(station.transactor, host);
    auto bareRead = [&] {
        NoView none;
        const Stopwatch watch;
        bare.Read("A", none);
        return watch.wallSeconds();
    };

    TJournalForm form(station);
    host.SetParent(&form);
    form.show();
    QApplication::processEvents();
    form.findChild<QLineEdit*>("InputBox")->setText("A");

    constexpr std::size_t Edge = 1000;
    constexpr int Runs = 10;
    // Every second read hands the view batches of one size: on its timer a
    // batch holds what the read brought in 100 ms, so the read's own pace,
    // which varies on a shared machine, would weigh the fixed cost of a batch
    // differently at the start and at the end.
    constexpr std::size_t UniformBatch = 250;
    struct Run {
        double seconds = 0, view = 0, first = 0, last = 0, bare = 0;
        std::size_t lines = 0;
        bool uniform = false;
    };
    // Each window read between two reads without a window, so that a machine
    // shared with other work tilts no ratio; each figure is the median of its runs.
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
        run.lines = form.Text().LineCount();
        if (run.lines < 10000 || form.View().Text().count(u'\n') + 1 != static_cast<qsizetype>(run.lines)) {
            std::fprintf(stderr, "the read brought %zu lines\n", run.lines);
            return 1;
        }
        run.view = batches.Seconds();
        std::tie(run.first, run.last) = batches.EdgeSeconds(run.lines, Edge);
        const double bareAfter = bareRead();
        run.bare = (bareBefore + bareAfter) / 2;
        bareBefore = bareAfter;
        runs.push_back(run);
    }
    std::printf("journal window, whole journal of %s days (%zu lines, %zu bytes) read from tamrisk-sim (unpaced), "
                "%d reads:\n",
                JournalDays, runs.front().lines, form.Text().Bytes().size(), Runs);
    for (const Run& run : runs)
        std::printf("  %s read %.3f s = %.0f lines/s, view %.1f ms = %.2f %%, last/first %zu lines %.2f, "
                    "window in all %.1f %% (read without it %.3f s)\n",
                    run.uniform ? "250-line batches:" : "timed batches:   ", run.seconds, static_cast<double>(run.lines) / run.seconds, 1e3 * run.view,
                    100 * run.view / run.seconds, Edge, run.last / run.first,
                    100 * (run.seconds - run.bare) / run.seconds, run.bare);
    std::vector<Run> timed, uniform;
    for (const Run& run : runs)
        (run.uniform ? uniform : timed).push_back(run);
    const auto growth = [](const Run& run) { return run.last / run.first; };
    std::printf("median lines a second (timed batches, as the window runs): %.0f\n",
                MedianOf(timed, [](const Run& run) { return static_cast<double>(run.lines) / run.seconds; }));
    std::printf("median view share of the read: %.2f %%\n",
                100 * MedianOf(timed, [](const Run& run) { return run.view / run.seconds; }));
    std::printf("median last / first %zu lines: %.2f in %zu-line batches (at most 1.5); %.2f in timed batches\n",
                Edge, MedianOf(uniform, growth), UniformBatch, MedianOf(timed, growth));
    station.Disconnect();
    return 0;
}
