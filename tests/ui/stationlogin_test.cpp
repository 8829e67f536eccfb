// People at the station, driven as they drive it: the log-in dialog refusing
// and accepting, the lock after five wrong PINs, Log Out and the idle log-out
// bringing the dialog back, the records naming the person, what each role
// finds greyed out, a line that goes away after the log-in, and a station
// whose records hold nobody, which asks nobody to log in.

#include "idlelogout.h"
#include "login.h"
#include "pin.h"
#include "recordtesting.h"
#include "recordstore.h"
#include "settings.h"
#include "stationlogin.h"
#include "stationrecords.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::FindControl;
using testing::OnNextModal;

constexpr const char* Pin = "2468";

// One hash for every person, at the least cost: the checks answer at once.
const std::string& PinHash() {
    static const std::string hash = HashPinCheaply(Pin);
    return hash;
}

struct StationPeople : ::testing::Test {
    StationPeople() {
        OpenSettingsStore()->clear();
        rig.station->Disconnect();
    }
    ~StationPeople() override {
        qunsetenv("TAMRISK_RECORDS");
        qunsetenv("TAMRISK_LOCAL_RECORDS");
    }
    // Adds `people` (PIN "2468"), the last of them disabled when `lastDisabled`, to the records at `location`.
    static void AddPeople(const QString& location, const std::vector<Operator>& people, bool lastDisabled = false) {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(location)));
        for (Operator person : people) {
            person.pinHash = PinHash();
            ASSERT_TRUE(StoreOk(store.Operators().Add(person)));
        }
        if (lastDisabled) {
            ASSERT_TRUE(StoreOk(store.Operators().Disable(people.back().id)));
        }
    }
    // The station over the records at `location` (a line's through a local file), shown.
    void Open(const QString& location) {
        qputenv("TAMRISK_RECORDS", location.toUtf8());
        qputenv("TAMRISK_LOCAL_RECORDS", dir.filePath("local.sqlite").toUtf8());
        records = std::make_unique<StationRecords>(*rig.station, &window);
        window.SetRecords(records.get());
        records->Open();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        logIn = std::make_unique<StationLogIn>(window, *records);
    }
    QLabel* Person() { return FindControl<QLabel>(window, "PersonPn"); }
    QAction* Action(const char* name) { return FindControl<QAction>(window, name); }

    QTemporaryDir dir;
    testing::UiRig rig;
    TTestForm window{*rig.station};
    std::unique_ptr<StationRecords> records;
    std::unique_ptr<StationLogIn> logIn;
};

// Types `id` and Enter, as a badge scanner does, then `pin` and Enter; the dialog's message after.
QString Try(QWidget* modal, const char* id, const char* pin) {
    auto* dialog = qobject_cast<TLogInDlg*>(modal);
    EXPECT_NE(dialog, nullptr) << (modal ? modal->objectName().toStdString() : "no modal window");
    if (dialog == nullptr)
        return {};
    auto* idBox = FindControl<QLineEdit>(*dialog, "IdBox");
    auto* pinBox = FindControl<QLineEdit>(*dialog, "PinBox");
    idBox->clear();
    QTest::keyClicks(idBox, id);
    QTest::keyClick(idBox, Qt::Key_Return);
    EXPECT_EQ(pinBox->echoMode(), QLineEdit::Password);
    QTest::keyClicks(pinBox, pin);
    QTest::keyClick(pinBox, Qt::Key_Return);
    EXPECT_TRUE(pinBox->text().isEmpty()) << "the PIN stays in no box";
    return FindControl<QLabel>(*dialog, "MessageLb")->text();
}

struct LogInOnBackend : StationPeople, ::testing::WithParamInterface<Backend> {};

TEST_P(LogInOnBackend, RefusesLocksAcceptsAndComesBackAfterLogOutOrIdleMinutes) {
    testing::TestDatabase db(GetParam());
    if (!db.SkipReason().empty())
        GTEST_SKIP() << db.SkipReason();
    AddPeople(db.Location(),
              {{.id = "T1", .name = "Anna Petrova", .role = Role::Technician},
               {.id = "L1", .name = "Lev Orlov", .role = Role::Operator},
               {.id = "X1", .name = "Ex Employee", .role = Role::Engineer}},
              true);
    Open(db.Location());
    QStringList messages;
    OnNextModal([&](QWidget* modal) {
        messages << Try(modal, "Q9", Pin) << Try(modal, "X1", Pin);
        for (int i = 0; i < PinTries; ++i)
            messages << Try(modal, "L1", "0000");
        messages << Try(modal, "L1", Pin) << Try(modal, "T1", Pin);
    });
    ASSERT_TRUE(logIn->Start());
    const QRegularExpression locked(QStringLiteral("^This ID is locked until \\d\\d:\\d\\d:\\d\\d$"));
    ASSERT_EQ(messages.size(), 9);
    EXPECT_EQ(messages[0], "Unknown ID");
    EXPECT_EQ(messages[1], "This ID is disabled");
    EXPECT_EQ(messages[2], "Wrong PIN: 4 tries left before the ID is locked");
    EXPECT_EQ(messages[5], "Wrong PIN: 1 try left before the ID is locked");
    EXPECT_TRUE(locked.match(messages[6]).hasMatch()) << messages[6].toStdString();
    EXPECT_TRUE(locked.match(messages[7]).hasMatch()) << "a right PIN does not open a lock: " << messages[7].toStdString();
    EXPECT_EQ(messages[8], "") << "accepted: the dialog closed";

    EXPECT_EQ(Person()->text(), "Anna Petrova (technician)");
    EXPECT_TRUE(Person()->isVisible());
    EXPECT_TRUE(Action("LogOutM")->isVisible());
    // Heard by a screen reader as "Log Out" in the menu bar.
    {
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(window.menuBar());
        ASSERT_NE(bar, nullptr);
        QStringList names;
        for (int i = 0; i < bar->childCount(); ++i)
            names << bar->child(i)->text(QAccessible::Name);
        EXPECT_TRUE(names.contains("Log Out")) << names.join(", ").toStdString();
    }

    // The records name the person; the computer's login stays beside them.
    std::unique_ptr<OperationRecord> record = records->Begin("command");
    const std::string id = record->Header().id;
    record->Start();
    records->Finish(*record, RecordOutcome::Pass, {});
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records->LocalLocation())));
        const RecordHeader kept = ValueOf(store.Load(id)).header;
        EXPECT_EQ(kept.operatorId, "T1");
        EXPECT_EQ(kept.operatorName, "Anna Petrova");
        EXPECT_EQ(kept.computerLogin, LoginName());
    }

    // Log Out: the dialog again, nobody named meanwhile; the next person logs in.
    bool namedWhileOut = true;
    OnNextModal([&](QWidget* modal) {
        namedWhileOut = Person()->isVisible();
        Try(modal, "T1", Pin);
    });
    Action("LogOutM")->trigger();
    EXPECT_FALSE(namedWhileOut);
    EXPECT_EQ(logIn->Person()->id, "T1");

    // Minutes without input on a clock the test drives; Quit closes the station.
    qint64 nowMs = 0;
    logIn->Idle().SetClock([&] { return nowMs; });
    QString why;
    OnNextModal([&](QWidget* modal) {
        why = FindControl<QLabel>(*modal, "MessageLb")->text();
        QTest::mouseClick(FindControl<QPushButton>(*modal, "QuitBt"), Qt::LeftButton);
    });
    nowMs += std::chrono::milliseconds(IdleLogOut::DefaultIdleMinutes).count();
    logIn->Idle().Check();
    EXPECT_EQ(why, "Logged out after 15 minutes without input");
    EXPECT_FALSE(logIn->Person().has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Records, LogInOnBackend, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         testing::BackendName);

TEST_F(StationPeople, RecordsWithoutPeopleAskNobodyToLogIn) {
    Open(dir.filePath("records.sqlite"));
    bool dialog = false;
    OnNextModal(
        [&](QWidget* modal) {
            dialog = modal != nullptr;
            if (modal != nullptr)
                modal->close();
        },
        500);
    EXPECT_TRUE(logIn->Start());
    testing::RunEvents(600);
    EXPECT_FALSE(dialog);
    EXPECT_EQ(logIn->Dialog(), nullptr);
    EXPECT_FALSE(Person()->isVisible());
    EXPECT_FALSE(Action("LogOutM")->isVisible());
    for (Privilege privilege : {Privilege::ExecuteCommand, Privilege::EngineeringRun, Privilege::ManageOperators})
        EXPECT_TRUE(window.Allowed(privilege));
}

// A line out of reach when the station starts: the dialog says so, and Quit ends the station.
TEST_F(StationPeople, ALineOutOfReachAtTheStartIsSaidInTheDialog) {
    Open(QStringLiteral("postgresql://tamrisk@/line?host=%1/none").arg(dir.path()));
    QString message;
    OnNextModal([&](QWidget* modal) {
        message = FindControl<QLabel>(*modal, "MessageLb")->text();
        QTest::mouseClick(FindControl<QPushButton>(*modal, "QuitBt"), Qt::LeftButton);
    });
    EXPECT_FALSE(logIn->Start());
    EXPECT_TRUE(message.startsWith("the line cannot be reached: ")) << message.toStdString();
    EXPECT_FALSE(logIn->Person().has_value());
}

// What each role finds greyed out, row by row of the one table: each row with
// a control in the station, its controls, and what a disabled one's tooltip says.
TEST_F(StationPeople, EachRoleFindsGreyedOutWhatItsRoleMayNotUse) {
    const struct {
        Privilege privilege;
        std::vector<const char*> controls;
        const char* tip;
    } rows[] = {
        {Privilege::RunReleasedScript, {"ExecuteBt", "RepeatM"}, ""},
        {Privilege::SeeRecords, {"RecordsM"}, ""},
        {Privilege::ExecuteCommand, {"CommandM"}, "a technician may execute single commands"},
        {Privilege::ReadMemories, {"ReadFirmwareM", "ReadFMemM"}, "a technician may read a printer's memories"},
        {Privilege::Journal, {"JournalM", "ReadKlenBinM"}, "a technician may read and print the journal"},
        {Privilege::EngineeringRun,
         {"LoadScriptM", "SaveM", "VariablesFileM"},
         "an engineer may load, edit and run any script and variables file"},
    };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(FindControl<QPushButton>(window, "ConnectBt"), Qt::LeftButton);
    ASSERT_TRUE(rig.station->Connected);
    FindControl<QPlainTextEdit>(window, "ScrMemo")->setPlainText("74");
    auto enabled = [&](const char* name) {
        if (auto* action = window.findChild<QAction*>(name))
            return action->isEnabled();
        return FindControl<QWidget>(window, name)->isEnabled();
    };
    // Down the roles and back up: what one role greyed out, the next one's role gives back.
    const Role order[] = {Role::Supervisor, Role::Operator, Role::Engineer, Role::Technician, Role::Supervisor};
    for (Role role : order) {
        window.SetPerson(Operator{.id = "P1", .name = "Pat", .role = role});
        for (const auto& row : rows) {
            const bool may = role >= LeastRole(row.privilege);
            for (const char* control : row.controls) {
                SCOPED_TRACE(std::string(RoleName(role)) + ' ' + control);
                EXPECT_EQ(enabled(control), may);
                if (!may) {
                    EXPECT_EQ(FindControl<QAction>(window, control)->toolTip(), row.tip);
                }
            }
        }
        // Nor does Clear on the script's page clear the script for them.
        auto* editor = FindControl<QPlainTextEdit>(window, "ScrMemo");
        EXPECT_EQ(editor->isReadOnly(), role < Role::Engineer);
        FindControl<QTabWidget>(window, "MemoPages")->setCurrentWidget(FindControl<QWidget>(window, "ScriptPg"));
        QTest::mouseClick(FindControl<QPushButton>(window, "ClearBt"), Qt::LeftButton);
        EXPECT_EQ(editor->toPlainText().isEmpty(), role >= Role::Engineer);
        editor->setPlainText("74");
    }
    // Nobody logged in where nobody logs in: nothing greyed out, the own tooltips back.
    window.SetPerson(Operator{.id = "P1", .name = "Pat", .role = Role::Operator});
    window.SetPerson(std::nullopt);
    for (const auto& row : rows) {
        for (const char* control : row.controls)
            EXPECT_TRUE(enabled(control)) << control;
    }
    EXPECT_EQ(FindControl<QAction>(window, "CommandM")->toolTip(), "Execute Command");
    EXPECT_FALSE(FindControl<QPlainTextEdit>(window, "ScrMemo")->isReadOnly());
}

TEST(IdleLogOutClock, LogsOutAfterTheMinutesWithoutInputNeverDuringARun) {
    using std::chrono::minutes;
    OpenSettingsStore()->clear();
    const struct {
        const char* name;
        int inputAt, busyUntil, heldUntil;  // minutes after the start; -1: none
        int outAt;                          // the first whole minute found logged out
    } cases[] = {
        {"idle", -1, -1, -1, 15},
        {"a key at 10", 10, -1, -1, 25},
        {"a run until 20", -1, 20, -1, 35},
        {"a dialog open until 18", -1, -1, 18, 18},
    };
    QWidget target;
    target.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qint64 nowMs = 0;
        int loggedOut = 0;
        IdleLogOut idle([&] { return nowMs <= minutes(c.busyUntil) / std::chrono::milliseconds(1); },
                        [&] { return nowMs < minutes(c.heldUntil) / std::chrono::milliseconds(1); },
                        [&] { ++loggedOut; });
        idle.SetClock([&] { return nowMs; });
        EXPECT_EQ(idle.Limit(), IdleLogOut::DefaultIdleMinutes);
        idle.Start();
        int outAt = -1;
        for (int minute = 1; minute <= 60 && outAt < 0; ++minute) {
            nowMs = minutes(minute) / std::chrono::milliseconds(1);
            if (minute == c.inputAt)
                QTest::keyClick(&target, Qt::Key_A);
            idle.Check();
            if (loggedOut > 0)
                outAt = minute;
        }
        EXPECT_EQ(outAt, c.outAt);
        EXPECT_EQ(loggedOut, 1);
        EXPECT_FALSE(idle.Watching());
    }
    // The setting, kept with the station's others.
    {
        IdleLogOut idle({}, {}, {});
        idle.SetLimit(minutes(5));
    }
    EXPECT_EQ(IdleLogOut::SavedLimit(), minutes(5));
}

// A line that goes away once the person is logged in: the run goes on as the
// station runs without a line (its record kept here, waiting to be sent),
// still naming the person, who stays logged in.
TEST_F(StationPeople, ALineGoneAfterTheLogInLeavesThePersonAndTheRunGoesOn) {
    auto line = std::make_unique<testing::TestDatabase>(Backend::Postgresql);
    if (!line->SkipReason().empty())
        GTEST_SKIP() << line->SkipReason();
    AddPeople(line->Location(), {{.id = "E1", .name = "Eva Lind", .role = Role::Engineer}});
    Open(line->Location());
    OnNextModal([&](QWidget* modal) { Try(modal, "E1", Pin); });
    ASSERT_TRUE(logIn->Start());
    ASSERT_EQ(Person()->text(), "Eva Lind (engineer)");
    line.reset();  // the database dropped, its connections ended

    QTest::mouseClick(FindControl<QPushButton>(window, "ConnectBt"), Qt::LeftButton);
    ASSERT_TRUE(rig.station->Connected);
    FindControl<QPlainTextEdit>(window, "ScrMemo")->setPlainText("74");
    QTest::mouseClick(FindControl<QPushButton>(window, "ExecuteBt"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ScriptRunning(); }, 20'000));
    EXPECT_EQ(FindControl<QLabel>(window, "OutcomePn")->text(), "PASS");
    EXPECT_EQ(Person()->text(), "Eva Lind (engineer)");
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(records->LocalLocation())));
    const std::vector<RecordHeader> kept = ValueOf(store.List({.limit = 0}));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].operatorId, "E1");
    EXPECT_EQ(kept[0].operatorName, "Eva Lind");
}

}  // namespace
}  // namespace tamrisk
