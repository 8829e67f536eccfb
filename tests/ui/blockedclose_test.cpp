// The main window's close box pressed while a script's message box is open:
// the window manager's request reaches the window, the run is cancelled once
// the box is closed, and the window closes with the settings saved.

#include "blockedclose.h"
#include "modelio.h"
#include "qthost.h"
#include "resultsview.h"
#include "settings.h"
#include "station.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::OnNextModal;
using testing::RunEvents;

// The fake host's clock and records, with the station's real message boxes.
struct BoxHost : testing::FakeHost {
    void showMessage(const std::string& text, const std::string& caption) override {
        showMessageDetail(text, caption, {});
    }
    void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) override {
        FakeHost::showMessageDetail(text, caption, detail);
        QtHost().showMessageDetail(text, caption, detail);
    }
};

// What the window manager sends when the operator presses a window's close box.
xcb_client_message_event_t CloseRequest(const QWidget& window, BlockedCloseFilter::Atoms atoms) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window.internalWinId());
    event.type = atoms.wmProtocols;
    event.data.data32[0] = atoms.wmDeleteWindow;
    return event;
}

TEST(BlockedClose, CloseBoxDuringAMessageBoxCancelsTheRunAndClosesAfterIt) {
    OpenSettingsStore()->clear();
    BoxHost host;
    host.onEvents = [] { QCoreApplication::processEvents(); };
    Station station(host, std::make_unique<testing::ModelIo>(host),
                    [] { return std::vector<PortEntry>{{"SIM0", "/dev/pts/9"}}; });
    TTestForm window(station);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const BlockedCloseFilter::Atoms atoms{301, 302};  // as a connection would have interned them
    BlockedCloseFilter filter(window, atoms);

    window.findChild<QComboBox*>("SpeedBox")->setCurrentIndex(5);
    QTest::mouseClick(window.findChild<QPushButton*>("ConnectBt"), Qt::LeftButton);
    ASSERT_TRUE(station.Connected);
    window.findChild<QPlainTextEdit*>("ScrMemo")->setPlainText("^Check the paper\n74\n74");

    struct Seen {
        bool caught = false, boxStayed = false, windowStayed = false;
    } seen;
    OnNextModal([&](QWidget* box) {
        ASSERT_NE(qobject_cast<QMessageBox*>(box), nullptr);
        // Not for this window, not a close request: left to Qt.
        xcb_client_message_event_t other = CloseRequest(window, atoms);
        other.data.data32[0] = atoms.wmDeleteWindow + 1;
        qintptr result = 0;
        EXPECT_FALSE(QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &other, &result));
        xcb_client_message_event_t request = CloseRequest(window, atoms);
        seen.caught =
            QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &request, &result);
        RunEvents(120);
        seen.boxStayed = box->isVisible();
        seen.windowStayed = window.isVisible();
        QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::mouseClick(window.findChild<QPushButton*>("ExecuteBt"), Qt::LeftButton);
    RunEvents(120);

    EXPECT_TRUE(seen.caught);
    EXPECT_TRUE(seen.boxStayed);
    EXPECT_TRUE(seen.windowStayed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Check the paper");
    const QString log = window.Results().Text();
    EXPECT_TRUE(log.contains("Script cancelled !!!")) << log.toStdString();
    EXPECT_FALSE(log.contains("-> 74")) << log.toStdString();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(OpenSettingsStore()->value("Bauds").toInt(), 5);
}

}  // namespace
}  // namespace tamrisk
