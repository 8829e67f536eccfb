// What a socket's panel keeps in sight once its run has ended: the line the
// run ended at and the time the whole run took, not what the window's progress
// timer last showed while it ran. The panel runs here without the window, so
// without that timer: only the end of the run can show them.

#include "scriptrun.h"
#include "simprocess.h"
#include "socketpanel.h"
#include "uitesting.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

using testing::FindControl;

TEST(SocketEndedTest, TheEndedRunShowsItsLastLineAndItsWholeTime) {
    // Each answer 200 ms late: two commands take at least 0.4 s.
    testing::SimProcess sim({"--delay", "200"});
    ASSERT_TRUE(sim.started());
    SocketPanel panel(2, nullptr);
    panel.show();
    auto* line = FindControl<QLabel>(panel, "Socket2LineLbl");
    auto* time = FindControl<QLabel>(panel, "Socket2TimeLbl");
    ASSERT_NE(line, nullptr);
    ASSERT_NE(time, nullptr);

    ScriptRunRequest script;
    script.selection.emplace(std::vector<std::string>{"74", "74"});
    panel.Start({.port = sim.port(), .unit = "FP3-2001", .speedBps = 115200, .script = std::move(script)});
    ASSERT_TRUE(panel.Running());
    ASSERT_TRUE(QTest::qWaitFor([&panel] { return !panel.Running(); }, 10'000));

    EXPECT_EQ(line->text(), QStringLiteral("Line 2"));
    bool number = false;
    const double seconds = time->text().section(u' ', 0, 0).toDouble(&number);
    EXPECT_TRUE(number) << time->text().toStdString();
    EXPECT_GE(seconds, 0.4) << time->text().toStdString();
    EXPECT_LT(seconds, 10.0) << time->text().toStdString();
}

}  // namespace
}  // namespace tamrisk
