// The socket window's "Start when a unit is entered": off, a unit scanned (its
// characters and Enter) waits in its socket's Unit box until Start is pressed;
// on, the same scan starts the socket at once.

#include "scriptrun.h"
#include "settings.h"
#include "simprocess.h"
#include "socketpanel.h"
#include "socketwindow.h"
#include "uitesting.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamrisk {
namespace {

using testing::FindControl;
using testing::RunEvents;

struct SocketAutoStartTest : ::testing::Test {
    SocketAutoStartTest() { OpenSettingsStore()->clear(); }
    ~SocketAutoStartTest() override {
        window.reset();
        OpenSettingsStore()->clear();
    }

    void Open() {
        SocketScript script;
        script.request = [](const std::string&, std::string&) -> std::optional<ScriptRunRequest> {
            ScriptRunRequest request;
            request.selection.emplace(std::vector<std::string>{"74"});
            return request;
        };
        script.speedBps = [] { return 115200; };
        window = std::make_unique<SocketWindow>(nullptr, script, [this] {
            return std::vector<PortEntry>{{"SIM1", sim.port()}};
        });
        window->SetSocketCount(1);
        window->Panel(1).ChoosePort(QString::fromStdString(sim.port()));
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // Types `unit` and Enter where the keyboard's focus is, as a scanner does.
    void Scan(const QString& unit) {
        for (const QChar c : unit) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus != nullptr ? focus : window.get(), c.toLatin1());
        }
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : window.get(), Qt::Key_Return);
    }
    QString Tile() { return FindControl<QLabel>(*window, "Socket1Verdict")->text(); }

    // Each answer 300 ms late: a run is still under way when it is looked at.
    testing::SimProcess sim{{"--delay", "300"}};
    std::unique_ptr<SocketWindow> window;
};

TEST_F(SocketAutoStartTest, OffAScannedUnitWaitsForStartOnItStartsAtOnce) {
    ASSERT_TRUE(sim.started());
    ASSERT_NO_FATAL_FAILURE(Open());
    auto* autoStart = FindControl<QCheckBox>(*window, "AutoStartBox");
    ASSERT_NE(autoStart, nullptr);
    ASSERT_TRUE(autoStart->isChecked());
    QTest::mouseClick(autoStart, Qt::LeftButton);
    ASSERT_FALSE(autoStart->isChecked());
    EXPECT_FALSE(OpenSettingsStore()->value(SocketWindow::AutoStartSetting).toBool());

    Scan("FP3-3001");
    RunEvents(100);
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(Tile(), "IDLE");
    EXPECT_EQ(window->Panel(1).Unit(), "FP3-3001");

    QTest::mouseClick(FindControl<QPushButton>(*window, "Socket1StartBt"), Qt::LeftButton);
    EXPECT_TRUE(window->Running());
    EXPECT_EQ(Tile(), "RUNNING");
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Running(); }, 10'000));

    QTest::mouseClick(autoStart, Qt::LeftButton);
    ASSERT_TRUE(autoStart->isChecked());
    Scan("FP3-3002");
    EXPECT_TRUE(window->Running());
    EXPECT_EQ(Tile(), "RUNNING");
    EXPECT_EQ(window->Panel(1).Unit(), "FP3-3002");
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->Running(); }, 10'000));
}

}  // namespace
}  // namespace tamrisk
