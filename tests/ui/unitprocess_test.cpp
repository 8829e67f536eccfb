// The station in the line's process, driven as an operator drives the main
// window over the printer model and a records file with routes: the Operation
// setting and the Product box, a unit refused before anything is sent, one let
// in and run, a hold when a unit fails as often as its operation allows, a
// line out of reach waited for as a claim is, and where people log in the
// active release run (or refused), its serial numbers going on from run to
// run, and an engineer's own script.

#include "recordstore.h"
#include "recordtesting.h"
#include "settings.h"
#include "stationrecords.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAction>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace tamrisk {
namespace {

using testing::Refusing90;
using testing::UiRig;

// The settings cleared before the window reads them.
struct FreshSettings {
    FreshSettings() { OpenSettingsStore()->clear(); }
};

struct UnitProcessTest : FreshSettings, ::testing::Test {
    UnitProcessTest() { qputenv("TAMRISK_RECORDS", Location().toUtf8()); }
    ~UnitProcessTest() override {
        // The operation and product chosen here are no other test's.
        OpenSettingsStore()->clear();
        qunsetenv("TAMRISK_RECORDS");
        qunsetenv("TAMRISK_LOCAL_RECORDS");
    }
    QString Location() const { return dir.filePath(QStringLiteral("records.sqlite")); }

    // Sets the routes ("board burn-in:2 final") in the records file before the station starts.
    void SetRoutes(const std::vector<std::pair<std::string, std::vector<std::string>>>& routes) {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(Location())));
        for (const auto& [product, words] : routes) {
            std::string error;
            const auto steps = ParseRoute(words, error);
            ASSERT_TRUE(steps) << error;
            ASSERT_TRUE(StoreOk(store.Routes().Set(product, *steps, {"supervisor", "desk", 1'700'000'000'000})));
        }
    }
    void Open() {
        testing::ShowConnected(rig, window, records);
        // The Product box is filled from the routes in the background.
        ASSERT_TRUE(QTest::qWaitFor([this] { return Get<QComboBox>("ProductBox")->isEnabled(); }, 10'000));
    }
    template <class T = QWidget>
    T* Get(const char* name) { return testing::FindControl<T>(window, name); }
    // Sets the Operation through its dialog, typed as the operator types it.
    void SetOperation(const QString& operation) {
        testing::OnNextModal([operation](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            auto* edit = dialog->findChild<QLineEdit*>();
            edit->selectAll();
            QTest::keyClicks(edit, operation);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        window.findChild<QAction*>("OperationM")->trigger();
    }
    // Chooses `product` in the Product box with the keyboard.
    void ChooseProduct(const QString& product) {
        auto* box = Get<QComboBox>("ProductBox");
        box->setFocus();
        const int wanted = box->findText(product);
        ASSERT_GE(wanted, 0) << product.toStdString();
        while (box->currentIndex() != wanted)
            QTest::keyClick(box, box->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    }
    // Runs `script` for `unit`, scanned into the Unit box with Enter.
    void Run(const QString& unit, const QString& script) {
        Get<QPlainTextEdit>("ScrMemo")->setPlainText(script);
        window.Results().Clear();
        auto* box = Get<QLineEdit>("UnitBox");
        box->clear();
        QTest::keyClicks(box, unit);
        QTest::keyClick(box, Qt::Key_Return);
    }
    std::vector<RecordHeader> Kept(const QString& location) {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(location)));
        return ValueOf(store.List({.limit = 0}));
    }
    QLabel* Status() { return Get<QLabel>("StatusPn"); }
    bool StatusRed() { return Status()->palette().color(QPalette::WindowText) == QColor(255, 0, 0); }
    QStringList ViewLines() { return window.Results().Text().split('\n', Qt::SkipEmptyParts); }
    // Releases `script` for `product` final, its checks reading "ready=P"; its id.
    qint64 Release(const std::string& script, bool approved, std::string product = "FP-3") {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(Location())));
        const NewRelease made{product, "final", "f.inp", script, "f.vars", "ready=P\n", "E9", "l1", 1};
        const qint64 id = ValueOf(store.Releases().Release(made)).id;
        if (approved) {
            EXPECT_TRUE(StoreOk(store.Releases().Approve(id, "S9", 2)));
        }
        return id;
    }
    // Logs in a person of `role` as the log-in dialog does, for FP-3 final.
    void LogIn(Role role) {
        Open();
        Get<QComboBox>("ProductBox")->setFocus();
        QTest::keyClicks(Get<QComboBox>("ProductBox"), "FP-3");
        SetOperation("final");
        window.SetPerson(Operator{.id = "P1", .name = "Pat", .role = role});
        records->SetPerson(Operator{.id = "P1", .name = "Pat", .role = role});
    }
    QString PageTitle() { return Get<QTabWidget>("MemoPages")->tabText(0); }

    QTemporaryDir dir;
    UiRig rig{Refusing90()};
    TTestForm window{*rig.station};
    std::unique_ptr<StationRecords> records;
};

TEST_F(UnitProcessTest, TheProductBoxOffersTheRoutesAndBothChoicesAreSaved) {
    SetRoutes({{"FP-3", {"burn-in", "final"}}, {"FP-3-KZ", {"final"}}});
    Open();
    auto* box = Get<QComboBox>("ProductBox");
    EXPECT_FALSE(box->isEditable());
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), "FP-3");
    EXPECT_EQ(box->itemText(1), "FP-3-KZ");
    ChooseProduct("FP-3-KZ");
    SetOperation("final");
    EXPECT_EQ(window.findChild<QAction*>("OperationM")->text(), "Operation: final…");
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    EXPECT_EQ(settings->value("Product").toString(), "FP-3-KZ");
    EXPECT_EQ(settings->value("Operation").toString(), "final");

    // A station started again chooses them again.
    TTestForm again(*rig.station);
    StationRecords againRecords(*rig.station, &again);
    again.SetRecords(&againRecords);
    againRecords.Open();
    auto* againBox = again.findChild<QComboBox*>("ProductBox");
    ASSERT_TRUE(QTest::qWaitFor([&] { return againBox->isEnabled(); }, 10'000));
    EXPECT_EQ(again.findChild<QComboBox*>("ProductBox")->currentText(), "FP-3-KZ");
    EXPECT_EQ(again.findChild<QAction*>("OperationM")->text(), "Operation: final…");
}

TEST_F(UnitProcessTest, WithoutRoutesTheProductIsTypedAndRunsAreNotChecked) {
    Release("90\r\n", true, "FP-9");  // taken by nobody: nobody logs in
    Open();
    auto* box = Get<QComboBox>("ProductBox");
    ASSERT_TRUE(box->isEditable());
    box->setFocus();
    QTest::keyClicks(box, "FP-9");
    SetOperation("final");
    Run("U-1", "74");
    const std::vector<RecordHeader> kept = Kept(Location());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].kind, "run");
    EXPECT_EQ(kept[0].outcome, RecordOutcome::Pass);
    EXPECT_EQ(kept[0].operation, "final");
    EXPECT_EQ(kept[0].product, "FP-9");
    EXPECT_EQ(kept[0].releaseNumber, std::nullopt);
    EXPECT_FALSE(kept[0].engineering);
    EXPECT_EQ(PageTitle(), "Current script");
    EXPECT_EQ(OpenSettingsStore()->value("Product").toString(), "FP-9");
}

// One unit through a route of burn-in (two failures in a row hold it) and
// final, and a second unit, step by step; every answer is known.
TEST_F(UnitProcessTest, UnitsAreRefusedLetInAndHeldAsTheirRouteSays) {
    SetRoutes({{"FP-3", {"burn-in:2", "final"}}});
    Open();
    ChooseProduct("FP-3");
    const struct {
        const char* operation;
        const char* unit;
        const char* script;
        std::vector<std::pair<const char*, RecordOutcome>> kept;  // the new records, newest first
        const char* status;   // the status line, in red; empty: not red
        const char* message;  // the caption of the message told; empty: none
    } steps[] = {
        {"final", "U-1", "74", {{"entry", RecordOutcome::Fail}}, "REFUSED: U-1 has no burn-in run", "Refused"},
        {"burn-in", "U-1", "90,abc", {{"run", RecordOutcome::Fail}}, "", ""},
        {"burn-in", "U-1", "90,abc",
         {{"hold", RecordOutcome::Pass}, {"run", RecordOutcome::Fail}},
         "U-1 is put on hold: failed burn-in 2 times in a row (limit 2)", "Hold"},
        {"burn-in", "U-1", "74", {{"entry", RecordOutcome::Fail}}, "REFUSED: U-1 is on hold since", "Refused"},
        {"burn-in", "U-2", "74", {{"run", RecordOutcome::Pass}}, "", ""},
        {"final", "U-2", "74", {{"run", RecordOutcome::Pass}}, "", ""},
        // A unit passed for an operation may run it again.
        {"final", "U-2", "74", {{"run", RecordOutcome::Pass}}, "", ""},
    };
    std::size_t before = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + " " + step.unit + " " + step.script);
        SetOperation(step.operation);
        rig.host.messages.clear();
        Run(step.unit, step.script);
        const std::vector<RecordHeader> kept = Kept(Location());
        ASSERT_EQ(kept.size(), before + step.kept.size());
        before = kept.size();
        for (std::size_t i = 0; i < step.kept.size(); ++i) {
            EXPECT_EQ(kept[i].kind, step.kept[i].first);
            EXPECT_EQ(kept[i].outcome, step.kept[i].second);
            EXPECT_EQ(kept[i].unit, step.unit);
            EXPECT_EQ(kept[i].operation, step.operation);
            EXPECT_EQ(kept[i].product, "FP-3");
        }
        const bool alarm = *step.status != '\0';
        EXPECT_EQ(StatusRed(), alarm) << Status()->text().toStdString();
        if (alarm) {
            EXPECT_TRUE(Status()->text().startsWith(step.status)) << Status()->text().toStdString();
        }
        ASSERT_EQ(rig.host.messages.size(), *step.message != '\0' ? 1u : 0u);
        if (*step.message != '\0') {
            EXPECT_EQ(rig.host.messages[0].caption, step.message);
        }
        if (step.kept[0].first == std::string("entry")) {
            // Nothing was sent: the refusal is all the view shows, and the reason is kept.
            EXPECT_EQ(ViewLines(), QStringList{"** " + Status()->text()});
            EXPECT_EQ("REFUSED: " + kept[0].reason, Status()->text().toStdString());
        }
    }
}

TEST_F(UnitProcessTest, AnEntryNeedsAUnitAndKeptRecords) {
    SetRoutes({{"FP-3", {"final"}}});
    Open();
    ChooseProduct("FP-3");
    SetOperation("final");
    Run("", "74");
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text,
              "The script was not run: the unit's entry into final is checked before the run: give the unit in the "
              "Unit box.");
    EXPECT_TRUE(window.Results().Text().isEmpty());
    EXPECT_TRUE(Kept(Location()).empty());

    // Records off: the unit cannot enter unchecked, so nothing is sent.
    qputenv("TAMRISK_RECORDS", "off");
    TTestForm off(*rig.station);
    std::unique_ptr<StationRecords> offRecords;
    testing::ShowConnected(rig, off, offRecords);
    off.findChild<QPlainTextEdit*>("ScrMemo")->setPlainText("74");
    QTest::keyClicks(off.findChild<QLineEdit*>("UnitBox"), "U-1");
    QTest::keyClick(off.findChild<QLineEdit*>("UnitBox"), Qt::Key_Return);
    EXPECT_EQ(off.findChild<QLabel*>("StatusPn")->text(),
              "ERROR: the unit's entry cannot be checked: records are not kept");
    EXPECT_FALSE(off.Results().Text().contains("<- ["));
}

// A line database out of reach: the entry waits the claim wait, as a claim
// does, then ends the run as an error; Cancel ends the wait at once.
TEST_F(UnitProcessTest, ALineOutOfReachIsWaitedForThenTheRunEndsWithoutSending) {
    QTemporaryDir sockets;
    const QString away = QStringLiteral("postgresql://tamrisk@/line?host=%1/none").arg(sockets.path());
    qputenv("TAMRISK_RECORDS", away.toUtf8());
    const QString local = dir.filePath(QStringLiteral("local.sqlite"));
    qputenv("TAMRISK_LOCAL_RECORDS", local.toUtf8());
    Open();
    records->SetClaimWait(std::chrono::seconds(5));
    Get<QComboBox>("ProductBox")->setFocus();
    QTest::keyClicks(Get<QComboBox>("ProductBox"), "FP-3");
    SetOperation("final");
    const struct {
        bool cancel;
        RecordOutcome outcome;
        const char* reason;
    } cases[] = {
        {false, RecordOutcome::Error, "the unit's entry could not be checked: "},
        {true, RecordOutcome::Aborted, "cancelled while the unit's entry waited for the records"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cancel);
        bool cancelSeen = false;
        rig.host.onEvents = [&] {
            auto* cancel = Get<QPushButton>("CancelBt");
            if (!cancel->isEnabled() || cancelSeen)
                return;
            cancelSeen = true;
            EXPECT_TRUE(Status()->text().startsWith("Waiting for the records to check U-1's entry: "));
            if (c.cancel)
                QTest::mouseClick(cancel, Qt::LeftButton);
        };
        const double started = rig.host.elapsedMs();
        Run("U-1", "74");
        rig.host.onEvents = {};
        EXPECT_TRUE(cancelSeen);
        if (!c.cancel) {
            EXPECT_GE(rig.host.elapsedMs() - started, 5000.0);
        }
        const RecordHeader newest = Kept(local).at(0);
        EXPECT_EQ(newest.kind, "run");
        EXPECT_EQ(newest.outcome, c.outcome);
        EXPECT_TRUE(QString::fromStdString(newest.reason).startsWith(c.reason)) << newest.reason;
        EXPECT_FALSE(ViewLines().join('\n').contains("<- ["));
    }
}

// An operator's runs of "90,abc" on the page (which the printer refuses), each
// step's releases added before it: the release runs, or nothing is sent.
TEST_F(UnitProcessTest, AnOperatorRunsTheActiveReleaseOrIsRefused) {
    const std::string checks = "74\r\n?ready: * = {ready}\r\n?unit: * != {unit}\r\n";
    LogIn(Role::Operator);
    const struct {
        std::function<void()> records;
        std::string refusal;  // empty: release 2 runs
    } steps[] = {
        {[] {}, "no active release of FP-3 final"},
        {[&] { Release(checks, false); }, "no active release of FP-3 final"},
        {[&] { Release("@second\r\n" + checks, true); }, ""},
        {[&] {
             const QString sql = QStringLiteral("UPDATE script_releases SET script = vars WHERE id = %1");
             testing::RunSql(Location(), {sql.arg(Release(checks, true))});
         },
         "release 3 of FP-3 final: its text no longer matches its SHA-256"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.refusal);
        step.records();
        Run("U-1", "90,abc");
        const RecordHeader kept = Kept(Location()).at(0);
        EXPECT_FALSE(kept.engineering);
        if (!step.refusal.empty()) {
            EXPECT_EQ(ViewLines(), QStringList{QString::fromStdString("** REFUSED: " + step.refusal)});
            EXPECT_EQ(Status()->text().toStdString(), "REFUSED: " + step.refusal);
            EXPECT_EQ(kept.kind, "entry");
            EXPECT_EQ(kept.reason, step.refusal);
            continue;
        }
        EXPECT_EQ(kept.outcome, RecordOutcome::Pass) << "the release's variables file was read";
        EXPECT_EQ(kept.releaseNumber, 2);
        EXPECT_EQ(Get<QPlainTextEdit>("ScrMemo")->toPlainText(), "@second\n74\n?ready: * = {ready}\n?unit: * != {unit}");
        EXPECT_TRUE(Get<QPlainTextEdit>("ScrMemo")->isReadOnly());
        EXPECT_EQ(PageTitle(), "Release 2 of FP-3 final");
        EXPECT_EQ(Status()->text(), "Release 2 of FP-3 final");
    }
}

// Each run of a release sends the serial number after the one the station's
// last run sent; the page shows the release as that run left it, read-only.
TEST_F(UnitProcessTest, EachRunOfAReleaseSendsTheNextSerialNumber) {
    Release("@serials\r\n+1;91,DT000100\r\n", true);
    LogIn(Role::Operator);
    for (const char* number : {"100", "101"}) {
        SCOPED_TRACE(number);
        Run("U-1", "90,abc");
        EXPECT_TRUE(ViewLines().contains(QStringLiteral("-> 91,\"DT000%1\"").arg(number)))
            << ViewLines().join('\n').toStdString();
        EXPECT_EQ(Get<QPlainTextEdit>("ScrMemo")->toPlainText(),
                  QStringLiteral("@serials\n+1;91,DT000%1").arg(QString(number).toInt() + 1));
        EXPECT_TRUE(Get<QPlainTextEdit>("ScrMemo")->isReadOnly());
        EXPECT_EQ(PageTitle(), "Release 1 of FP-3 final");
    }
}

// An engineer's script on the page is an engineering run; Engineering Run off runs
// the release, on again brings the own script back.
TEST_F(UnitProcessTest, AnEngineersOwnScriptRunsAsAnEngineeringRun) {
    Release("74\r\n", true);
    LogIn(Role::Engineer);
    Run("U-1", "74\n74");
    auto* engineering = window.findChild<QAction*>("EngineeringM");
    EXPECT_TRUE(engineering->isChecked());
    EXPECT_EQ(PageTitle(), "Engineering run");
    EXPECT_EQ(Status()->text(), "Engineering run");
    EXPECT_TRUE(Kept(Location()).at(0).engineering);
    engineering->trigger();
    QTest::keyClick(Get<QLineEdit>("UnitBox"), Qt::Key_Return);
    ASSERT_EQ(Kept(Location()).at(0).releaseNumber, 1);
    EXPECT_EQ(PageTitle(), "Release 1 of FP-3 final");
    engineering->trigger();
    EXPECT_EQ(Get<QPlainTextEdit>("ScrMemo")->toPlainText(), "74\n74");
}

}  // namespace
}  // namespace tamrisk
