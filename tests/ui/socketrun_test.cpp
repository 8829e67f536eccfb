#include "socketrun.h"
#include "simprocess.h"
#include "uitesting.h"

#include <QElapsedTimer>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

// A socket's run hands its log to the window in batches on a timer: every
// line the run logged arrives, in the order logged, and the last batch before
// the run is told ended, so that the panel's log is whole when its tile shows
// the verdict. Long enough a script that the lines span several batches.
TEST(SocketRun, EveryLineReachesTheWindowInOrderBeforeTheRunEnds) {
    // Paced as a line at 115200 bit/s: the run takes several of the window's batches.
    testing::SimProcess sim({QStringLiteral("--baud"), QStringLiteral("115200")});
    ASSERT_TRUE(sim.started());
    std::vector<std::string> script;
    for (int line = 1; line <= 150; ++line)
        script.push_back("90,Socket line " + std::to_string(line));

    std::vector<std::string> shown;
    int batches = 0;
    bool ended = false;
    bool lineAfterEnd = false;
    std::optional<RunEnded> verdict;
    SocketRun run(1, nullptr,
                  SocketRunView{
                      .lines =
                          [&](std::vector<ResultLine> lines) {
                              lineAfterEnd = lineAfterEnd || ended;
                              ++batches;
                              for (const ResultLine& line : lines)
                                  shown.push_back(line.text);
                          },
                      .connection = {},
                      .asked = {},
                      .told = {},
                      .ended =
                          [&](std::optional<RunEnded> how, std::optional<std::vector<std::string>>) {
                              ended = true;
                              verdict = how;
                          },
                  });
    SocketRunRequest request{.port = sim.port(), .unit = "UNIT-1", .speedBps = 115200, .script = {}};
    request.script.selection.emplace(script);
    ASSERT_TRUE(run.Start(std::move(request)));
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < 30000)
        testing::RunEvents(10);
    ASSERT_TRUE(ended);
    // Not recorded, the run is still judged.
    ASSERT_TRUE(verdict.has_value());
    EXPECT_EQ(verdict->outcome, RecordOutcome::Pass) << verdict->reason;
    EXPECT_FALSE(run.Running());
    EXPECT_FALSE(lineAfterEnd);
    EXPECT_GT(batches, 1);

    // Each command's request line, in the script's order, and the run's last line at the end.
    std::vector<int> sent;
    for (const std::string& text : shown) {
        const std::size_t at = text.find("Socket line ");
        if (text.rfind("->", 0) == 0 && at != std::string::npos)
            sent.push_back(std::stoi(text.substr(at + 12)));
    }
    ASSERT_EQ(sent.size(), script.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(sent[i], static_cast<int>(i + 1));
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown.back().find("execution time"), std::string::npos) << shown.back();
}

}  // namespace
}  // namespace tamrisk
