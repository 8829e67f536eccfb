#include "uitesting.h"

#include "stationrecords.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace tamrisk::testing {

UiRig::UiRig(sim::SimOptions options) : LinkRig(std::move(options)) {
    host.onEvents = [] { QCoreApplication::processEvents(); };
}

void OnNextModal(std::function<void(QWidget*)> act, int timeoutMs) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    auto seen = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, seen, act = std::move(act), timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && clock->elapsed() < timeoutMs)
            return;
        // A window shown is activated a little later, and only then has the
        // keyboard focus the operator would type into; a loaded machine makes
        // that gap long enough to matter.
        if (modal != nullptr && !modal->isActiveWindow()) {
            if (!seen->isValid())
                seen->start();
            if (seen->elapsed() < 1000)
                return;
        }
        timer->stop();
        timer->deleteLater();
        if (modal != nullptr)
            act(modal);
    });
    timer->start(5);
}

QFileDialog* FileDialogOf(QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog != nullptr && dialog->findChild<QLineEdit*>("fileNameEdit") != nullptr)
        return dialog;
    ADD_FAILURE() << "no file dialog: " << modal->metaObject()->className();
    modal->close();
    return nullptr;
}

void PickFile(const QString& path, std::function<void(QFileDialog&)> look) {
    OnNextModal([=](QWidget* modal) {
        QFileDialog* dialog = FileDialogOf(modal);
        if (dialog == nullptr)
            return;
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (look)
            look(*dialog);
        if (path.isEmpty())
            return dialog->reject();
        name->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

void ShowConnected(UiRig& rig, TTestForm& window, std::unique_ptr<StationRecords>& records) {
    rig.station->Disconnect();
    records = std::make_unique<StationRecords>(*rig.station, &window);
    window.SetRecords(records.get());
    records->Open();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton*>("ConnectBt"), Qt::LeftButton);
    ASSERT_TRUE(rig.station->Connected);
}

sim::SimOptions Refusing90() {
    sim::SimOptions options;
    options.statusOverrides[90] = {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80};
    return options;
}

void RunEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    while (clock.elapsed() < ms);
}

}  // namespace tamrisk::testing

int main(int argc, char** argv) {
    // Saved settings go to a folder of this run, never the user's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // So are records kept where a test names no records file.
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
