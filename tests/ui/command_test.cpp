// The Execute Command dialog driven as an operator drives it, over the printer
// model: what goes out, what is logged, what the dialog and the main window's
// hooks show, and the form.

#include "command.h"
#include "frame.h"
#include "linesink.h"
#include "station.h"
#include "status.h"
#include "uitesting.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

using testing::Chunk;
using testing::OnNextModal;
using testing::UiRig;
using namespace std::chrono_literals;
using Respond = std::function<std::vector<Chunk>(const std::string&)>;

struct RecordingSink : ResultSink {
    void AppendResultLine(std::string_view text, ResultColour colour) override {
        lines.push_back({std::string(text), colour});
    }
    std::vector<ResultLine> lines;
};

// Answers `data` with status 80 80 80 80 80 BA after `delay`, a SYN at every
// whole second before it.
Respond Answering(std::string data, std::chrono::microseconds delay) {
    return [data, delay](const std::string& written) {
        std::vector<Chunk> chunks;
        for (auto at = 1s; at < delay; at += 1s)
            chunks.push_back({at, std::string(1, static_cast<char>(Syn))});
        const auto request = DecodeRequestFrame(written);
        chunks.push_back({delay, EncodeAnswerFrame(request->sequence, request->command, data,
                                                   {0x80, 0x80, 0x80, 0x80, 0x80, 0xBA})});
        return chunks;
    };
}

struct CommandDialog : ::testing::Test {
    CommandDialog() {
        dlg.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }

    template <class T = QLineEdit>
    T* Get(const char* name) { return testing::FindControl<T>(dlg, name); }
    QString Text(const char* name) { return Get<QLabel>(name)->text(); }
    // Keystrokes of any character (QTest::keyClicks takes Latin-1 only).
    static void Type(QWidget* box, const QString& text) {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    void Fill(const QString& command, const QString& data) {
        Get("CmdBox")->clear();
        Type(Get("CmdBox"), command);
        Get("DataBox")->clear();
        Type(Get("DataBox"), data);
    }
    void Execute(const QString& command, const QString& data = {}) {
        Fill(command, data);
        QTest::mouseClick(Get<QPushButton>("ExecuteBt"), Qt::LeftButton);
    }
    RequestFrame LastSent() { return DecodeRequestFrame(rig.io->written.back()).value_or(RequestFrame{}); }
    void Reset() {
        rig.io->written.clear();
        rig.host.messages.clear();
        rig.host.questions.clear();
        sink.lines.clear();
    }

    UiRig rig;
    RecordingSink sink;
    TStatusDlg statusDlg{rig.state, [] { return false; }};
    bool connectEnabled = true;
    QString timerText;
    TCommandFrm dlg{*rig.station, sink, &statusDlg,
                    CommandFrmHooks{[this](bool on) { connectEnabled = on; },
                                    [this](const QString& text) { timerText = text; }}};
};

TEST_F(CommandDialog, TakesTheLeadingNumberAndRefusesWhatCannotBeSent) {
    struct Case {
        const char* command;
        QString data;
        int sent;             // 0: refused with `message`, nothing sent or logged
        std::string message;  // a part of it
    };
    const std::string invalid = "Invalid command number";
    const Case cases[] = {
        {"148", {}, 148, {}},    {"32", {}, 32, {}},      {"38abc", {}, 38, {}},          {" 40", {}, 40, {}},
        {"+45", {}, 45, {}},     {"149", {}, 0, invalid}, {"31", {}, 0, invalid},         {"", {}, 0, invalid},
        {"x38", {}, 0, invalid}, {"-40", {}, 0, invalid}, {"4294967334", {}, 0, invalid},
        {"48", QString::fromUtf8("ok \u2713"), 0, "cannot be sent to the printer: U+2713 at position 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Reset();
        Execute(c.command, c.data);
        if (c.sent == 0) {
            ASSERT_EQ(rig.host.messages.size(), 1u);
            EXPECT_NE(rig.host.messages[0].text.find(c.message), std::string::npos) << rig.host.messages[0].text;
            EXPECT_EQ(rig.host.messages[0].caption, "Error");
            EXPECT_TRUE(rig.io->written.empty());
            EXPECT_TRUE(sink.lines.empty());
        } else {
            EXPECT_TRUE(rig.host.messages.empty());
            ASSERT_EQ(rig.io->written.size(), 1u);
            EXPECT_EQ(LastSent().command, c.sent);
            ASSERT_FALSE(sink.lines.empty());
            EXPECT_EQ(sink.lines[0].text, "-> " + std::to_string(c.sent) + ",\"\"");
        }
    }
}

TEST_F(CommandDialog, LogsTheDataAsTypedAndSendsItTranslated) {
    struct Case {
        QString typed;
        std::string logged, sent;
    };
    const Case cases[] = {
        {"A\\tB", "A\\tB", "A\tB"},
        {"1\\n2\\x", "1\\n2\\x", "1\n2\\x"},
        {"\\\\t", "\\\\t", "\\\t"},
        {QString::fromUtf8("Касов бон"), "\xCA\xE0\xF1\xEE\xE2 \xE1\xEE\xED", "\xCA\xE0\xF1\xEE\xE2 \xE1\xEE\xED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        Reset();
        Execute("48", c.typed);
        ASSERT_EQ(rig.io->written.size(), 1u);
        EXPECT_EQ(LastSent().data, c.sent);
        ASSERT_EQ(sink.lines.size(), 3u);
        EXPECT_EQ(sink.lines[0].text, "-> 48,\"" + c.logged + "\"");
        EXPECT_EQ(sink.lines[0].colour, ResultColour::Blue);
    }
}

TEST_F(CommandDialog, ShowsAndLogsTheOutcome) {
    struct Case {
        const char* name;
        std::function<Respond(Respond model)> printer;
        std::string answerLine;
        ResultColour colour;
        QString answer, statusTxt, time;
        std::size_t questions;
    };
    auto withStatus = [this](sim::StatusArray status, int synCount) {
        sim::SimOptions options;
        options.statusOverrides[74] = status;
        options.synCount = synCount;
        rig.io->model() = sim::PrinterModel(options);
    };
    auto dropping = [](int lost) {
        return [lost](Respond model) {
            return [model, lost, dropped = 0](const std::string& written) mutable {
                auto chunks = model(written);
                return dropped++ < lost ? std::vector<Chunk>{} : chunks;
            };
        };
    };
    const Case cases[] = {
        {"common error, 2 SYN",
         [&](Respond model) {
             withStatus({0xA0, 0x80, 0x80, 0x80, 0x80, 0x80}, 2);
             return model;
         },
         "<- [A0,80,80,80,80,80](0,2),\"P\"", ResultColour::Red, "P", "20 00 00 00 00 00 ", "0.00 seconds", 0},
        {"Windows-1251 answer", [](Respond) { return Answering("\xD4\xE8\xF1\xEA\xE0\xEB\xE5\xED", 250ms); },
         "<- [80,80,80,80,80,BA](0,0),\"\xD4\xE8\xF1\xEA\xE0\xEB\xE5\xED\"", ResultColour::Green,
         QString::fromUtf8("Фискален"), "00 00 00 00 00 3A ", "0.25 seconds", 0},
        {"kept waiting by SYN", [](Respond) { return Answering("P", 75500ms); }, "<- [80,80,80,80,80,BA](0,75),\"P\"",
         ResultColour::Green, "P", "00 00 00 00 00 3A ", "1:15.50", 0},
        {"second attempt", dropping(1), "<- [80,80,80,80,80,BA](1,0),\"P\"", ResultColour::Green, "P",
         "00 00 00 00 00 3A ", "2.30 seconds", 0},
        {"silent printer", dropping(2), "<- [00,00,00,00,00,00](2,0),\"\"", ResultColour::Red, "",
         "00 00 00 00 00 00 ", "4.60 seconds", 1},
    };
    const Respond model = rig.io->respond;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        withStatus({0x80, 0x80, 0x80, 0x80, 0x80, 0xBA}, 0);
        rig.io->respond = c.printer(model);
        Execute("74");
        EXPECT_EQ(Get("AnswerBox")->text(), c.answer);
        EXPECT_EQ(Text("StatusTxt"), c.statusTxt);
        EXPECT_EQ(Text("TimePn"), "Execution time: " + c.time);
        EXPECT_EQ(timerText, c.time);
        ASSERT_EQ(sink.lines.size(), 3u);
        EXPECT_EQ(sink.lines[1].text, c.answerLine);
        EXPECT_EQ(sink.lines[1].colour, c.colour);
        EXPECT_EQ(sink.lines[2].text, "Command execution time " + c.time.toStdString() + "\r\n");
        EXPECT_EQ(sink.lines[2].colour, ResultColour::Black);
        ASSERT_EQ(rig.host.questions.size(), c.questions);
        if (c.questions != 0) {
            EXPECT_EQ(rig.host.questions[0].text, "No printer serponse. Retry?");
        }
    }
}

TEST_F(CommandDialog, EnterInAnyBoxExecutes) {
    for (const char* box : {"CmdBox", "DataBox", "AnswerBox"}) {
        Reset();
        Fill("74", "");
        QTest::keyClick(Get(box), Qt::Key_Return);
        EXPECT_EQ(rig.io->written.size(), 1u) << box;
    }
}

TEST_F(CommandDialog, DisablesTheControlsWhileTheTransactionRuns) {
    Execute("74");
    std::vector<QString> during;  // Connect, Execute, Status enabled; the emptied texts
    auto events = rig.host.onEvents;
    rig.host.onEvents = [&] {
        if (rig.transactor->InProgress())
            during.push_back(QStringLiteral("%1%2%3 [%4] [%5] [%6]")
                                 .arg(connectEnabled)
                                 .arg(Get<QPushButton>("ExecuteBt")->isEnabled())
                                 .arg(Get<QPushButton>("StatusBt")->isEnabled())
                                 .arg(Get("AnswerBox")->text(), Text("StatusTxt"), Text("TimePn")));
        events();
    };
    Execute("74");
    ASSERT_FALSE(during.empty());
    for (const QString& seen : during)
        EXPECT_EQ(seen, "000 [] [] []");
    EXPECT_TRUE(connectEnabled);
    EXPECT_TRUE(Get<QPushButton>("ExecuteBt")->isEnabled());
    EXPECT_TRUE(Get<QPushButton>("StatusBt")->isEnabled());
}

TEST_F(CommandDialog, StatusButtonOpensTheBitsOfTheAnswerAndEachShowingDisablesIt) {
    auto* statusBt = Get<QPushButton>("StatusBt");
    EXPECT_FALSE(statusBt->isEnabled());
    sim::SimOptions options;
    options.statusOverrides[74] = {0x28, 0x80, 0x80, 0x80, 0x80, 0x80};
    rig.io->model() = sim::PrinterModel(options);
    Execute("74");
    ASSERT_TRUE(statusBt->isEnabled());

    QWidget* opened = nullptr;
    bool ticked = false, repeatShown = true;
    OnNextModal([&](QWidget* modal) {
        opened = modal;
        ticked = statusDlg.findChild<QCheckBox*>("Status03")->isChecked();
        repeatShown = statusDlg.findChild<QPushButton*>("RepeatBt")->isVisible();
        QTest::mouseClick(statusDlg.findChild<QPushButton*>("CancelBt"), Qt::LeftButton);
    });
    QTest::mouseClick(statusBt, Qt::LeftButton);
    EXPECT_EQ(opened, &statusDlg);
    EXPECT_TRUE(ticked);
    EXPECT_FALSE(repeatShown);

    dlg.hide();
    dlg.show();
    EXPECT_FALSE(statusBt->isEnabled());
    EXPECT_EQ(Get("AnswerBox")->text(), "P");
    EXPECT_EQ(Text("StatusTxt"), "28 00 00 00 00 00 ");
}

TEST_F(CommandDialog, StaysOutOfAnotherTransactionAndClosesAfterItsOwn) {
    Fill("74", "");
    auto events = rig.host.onEvents;
    bool pressed = false;
    rig.host.onEvents = [&] {
        // Enter while some other transaction waits for the printer.
        if (!pressed && rig.transactor->InProgress()) {
            pressed = true;
            QTest::keyClick(Get("CmdBox"), Qt::Key_Return);
        }
        events();
    };
    rig.transactor->ExecCommand(90, "");
    ASSERT_TRUE(pressed);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_TRUE(connectEnabled);
    EXPECT_TRUE(Get<QPushButton>("ExecuteBt")->isEnabled());

    bool visibleAfterEscape = false;
    rig.host.onEvents = [&] {
        // Escape during its own transaction: the dialog closes once the answer is in.
        if (rig.transactor->InProgress() && dlg.isVisible()) {
            QTest::keyClick(Get("CmdBox"), Qt::Key_Escape);
            visibleAfterEscape = dlg.isVisible();
        }
        events();
    };
    Execute("74");
    EXPECT_TRUE(visibleAfterEscape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(Get("AnswerBox")->text(), "P");
    EXPECT_EQ(sink.lines.size(), 3u);
}

TEST_F(CommandDialog, FormHasTheRowsCaptionsAndTabOrderOfTheStation) {
    EXPECT_EQ(dlg.windowTitle(), "Execute command");
    EXPECT_EQ(dlg.minimumSize(), QSize(615, 147));
    EXPECT_EQ(dlg.maximumSize(), QSize(615, 147));
    EXPECT_EQ(dlg.font(), [] { QFont f("Arial"); f.setPixelSize(15); return f; }());
    EXPECT_LE((dlg.frameGeometry().center() - dlg.screen()->availableGeometry().center()).manhattanLength(), 1);
    EXPECT_EQ(Get("CmdBox")->width(), 53);
    EXPECT_EQ(Get("DataBox")->width(), 395);
    EXPECT_EQ(Get("DataBox")->maxLength(), 246);
    EXPECT_TRUE(Get<QPushButton>("ExecuteBt")->isDefault());

    Execute("74");  // StatusTxt filled, StatusBt enabled
    // Each row left to right below the one before; no caption clipped.
    const std::vector<std::pair<const char*, QString>> rows[] = {
        {{"Label1", "Command:"}, {"CmdBox", {}}, {"Label2", "Data:"}, {"DataBox", {}}},
        {{"Label3", "Response:"}, {"AnswerBox", {}}},
        {{"Label4", "Status:"}, {"StatusTxt", {}}, {"ExecuteBt", "Execute"}, {"StatusBt", "Status"}},
    };
    int rowBottom = -1;
    for (const auto& row : rows) {
        int right = -1;
        for (const auto& [name, caption] : row) {
            const QWidget* w = Get<QWidget>(name);
            EXPECT_GT(w->y(), rowBottom) << name;
            EXPECT_GT(w->x(), right) << name;
            EXPECT_LE(qobject_cast<const QLineEdit*>(w) ? 0 : w->sizeHint().width(), w->width()) << name;
            EXPECT_EQ(caption.isEmpty() ? caption : w->property("text").toString(), caption) << name;
            right = w->geometry().right();
        }
        EXPECT_EQ(right, 598);
        rowBottom = Get<QWidget>(row[0].first)->geometry().bottom();
    }
    EXPECT_EQ(Get<QWidget>("TimePn")->geometry(), QRect(0, 123, 615, 24));

    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    Get("CmdBox")->setFocus();
    std::vector<std::string> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget()->objectName().toStdString());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"DataBox", "AnswerBox", "ExecuteBt", "StatusBt", "CmdBox"}));
}

}  // namespace
}  // namespace tamrisk
