// The status dialog driven as an operator drives it: the boxes after real
// transactions with the printer model, the buttons with and without a run,
// and the form's layout.

#include "status.h"
#include "transaction.h"
#include "uitesting.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tamrisk {
namespace {

using testing::OnNextModal;
using testing::UiRig;

struct BitBox {
    const char* name;
    int byte;
    int bit;
    const char* caption;
};

// The status-bit boxes as the operator knows them.
constexpr BitBox BitBoxes[] = {
    {"Status00", 0, 0, "Syntax error"},
    {"Status01", 0, 1, "Invalid command"},
    {"Status02", 0, 2, "Date and time not correct"},
    {"Status03", 0, 3, "No display connected"},
    {"Status05", 0, 5, "Common error"},
    {"Status06", 0, 6, "Cover open"},
    {"Status10", 1, 0, "Arithmetic overflow"},
    {"Status11", 1, 1, "Command not permitted"},
    {"Status14", 1, 4, "RAM reset"},
    {"Status15", 1, 5, "Rotated receipt open"},
    {"Status20", 2, 0, "Out of paper"},
    {"Status21", 2, 1, "Paper near end"},
    {"Status22", 2, 2, "Край на контролна лента"},
    {"Status23", 2, 3, "Fiscal receipt open"},
    {"Status24", 2, 4, "Journal near end"},
    {"Status25", 2, 5, "Non-fiscal receipt open"},
    {"Status40", 4, 0, "Error writing to fiscal memory"},
    {"Status43", 4, 3, "Less than 30 records in FM"},
    {"Status44", 4, 4, "Fiscal memori full"},
    {"Status45", 4, 5, "Common fiscal error"},
    {"Status50", 5, 0, "Fiscal memory is Read Only"},
    {"Status51", 5, 1, "Fiscal memory formatted"},
    {"Status53", 5, 3, "Printer fiscalized"},
    {"Status54", 5, 4, "VAT rates set"},
    {"Status55", 5, 5, "Serial number set"},
};

using Names = std::set<std::string>;

struct StatusDialog : ::testing::Test {
    template <class T = QCheckBox>
    T* Get(const char* name) { return testing::FindControl<T>(dlg, name); }
    static Names Ticked(const QWidget& dialog) {
        Names ticked;
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            if (box->isChecked())
                ticked.insert(box->objectName().toStdString());
        return ticked;
    }
    // A click where the operator aims, on the box's square.
    static void Click(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); }

    UiRig rig;
    bool running = false;
    TStatusDlg dlg{rig.state, [this] { return running; }};
};

TEST_F(StatusDialog, TicksTheBitsAndLinkConditionsOfTheLastTransaction) {
    enum class Printer { Answers, Silent, Garbles };
    struct Case {
        const char* name;
        sim::StatusArray status;
        Printer printer;
        Names ticked;
    };
    const Case cases[] = {
        {"syntax error, not permitted", {0x21, 0x02, 0, 0, 0, 0}, Printer::Answers,
         {"Status00", "Status05", "Status11"}},
        {"bits without a box tick nothing", {0xA8, 0x8C, 0xC0, 0xFF, 0xC4, 0xC4}, Printer::Answers,
         {"Status03", "Status05"}},
        {"time-out", {0x21, 0x02, 0, 0, 0, 0}, Printer::Silent, {"Status_Timeout"}},
        {"malformed answer", {0, 0, 0, 0, 0, 0}, Printer::Garbles, {"Status_Protocol"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimOptions options;
        options.statusOverrides[74] = c.status;
        if (c.printer == Printer::Garbles) {
            options.faultRate = 1.0;
            options.faultKinds = {sim::FaultKind::BadChecksum};
        }
        UiRig local(options);
        if (c.printer == Printer::Silent)
            local.io->respond = [](const std::string&) { return std::vector<testing::Chunk>{}; };
        local.transactor->ExecCommand(74, "");
        TStatusDlg shown(local.state, [] { return false; });
        shown.show();
        EXPECT_EQ(Ticked(shown), c.ticked);
    }
}

TEST_F(StatusDialog, EachShowingShowsTheBitsAsTheyAreThen) {
    for (const BitBox& b : BitBoxes) {
        SCOPED_TRACE(b.name);
        rig.state.StatusBytes.fill(0);
        rig.state.StatusBytes[b.byte] = static_cast<std::uint8_t>(1 << b.bit);
        rig.state.StatusFlags = b.byte == 0 ? NoAnswer : BadProtocol;
        dlg.show();
        EXPECT_EQ(Ticked(dlg), (Names{b.name, b.byte == 0 ? "Status_Timeout" : "Status_Protocol"}));
        dlg.hide();
    }
}

TEST_F(StatusDialog, ButtonsFollowTheRunAndActThroughTheFlags) {
    struct Case {
        bool running;
        const char* press;
        Names visible;
        QString cancelCaption;
        bool repeat, cancel;
    };
    const Case cases[] = {
        {false, "CancelBt", {"CancelBt"}, "Cancel", false, false},
        {true, "CancelBt", {"RepeatBt", "CancelBt", "StopBt"}, "Skip", false, false},
        {true, "RepeatBt", {"RepeatBt", "CancelBt", "StopBt"}, "Skip", true, false},
        {true, "StopBt", {"RepeatBt", "CancelBt", "StopBt"}, "Skip", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.press) + (c.running ? " while running" : ""));
        running = c.running;
        rig.state.RepeatRequest = rig.state.CancelRequest = false;
        Names visible;
        QString cancelCaption;
        bool closed = true;
        OnNextModal([&](QWidget* modal) {
            ASSERT_EQ(modal, &dlg);
            for (QPushButton* button : dlg.findChildren<QPushButton*>())
                if (button->isVisible())
                    visible.insert(button->objectName().toStdString());
            cancelCaption = Get<QPushButton>("CancelBt")->text();
            QTest::mouseClick(Get<QPushButton>(c.press), Qt::LeftButton);
            closed = !dlg.isVisible();
            if (!closed)
                dlg.reject();
        });
        dlg.exec();
        EXPECT_TRUE(closed);
        EXPECT_EQ(visible, c.visible);
        EXPECT_EQ(cancelCaption, c.cancelCaption);
        EXPECT_EQ(rig.state.RepeatRequest, c.repeat);
        EXPECT_EQ(rig.state.CancelRequest, c.cancel);
    }
}

TEST_F(StatusDialog, EnterAndEscapeOnlyCloseTheDialog) {
    // Every showing starts on the harmless button, even after the operator
    // had moved to Repeat or Cancel the last time.
    struct Case {
        bool running;
        Qt::Key key;
        const char* focusBefore;  // the button the operator tabbed to during the last showing
    };
    const Case cases[] = {
        {true, Qt::Key_Return, nullptr}, {true, Qt::Key_Enter, "RepeatBt"}, {true, Qt::Key_Escape, "StopBt"},
        {true, Qt::Key_Return, "StopBt"}, {false, Qt::Key_Return, nullptr}, {false, Qt::Key_Escape, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + (c.running ? " while running" : "") +
                     (c.focusBefore != nullptr ? std::string(" after ") + c.focusBefore : ""));
        running = c.running;
        if (c.focusBefore != nullptr) {
            OnNextModal([&](QWidget*) {
                Get<QPushButton>(c.focusBefore)->setFocus();
                dlg.reject();
            });
            dlg.exec();
        }
        rig.state.RepeatRequest = rig.state.CancelRequest = false;
        std::string focused;
        bool closed = false;
        OnNextModal([&](QWidget* modal) {
            ASSERT_EQ(modal, &dlg);
            QWidget* focus = QApplication::focusWidget();
            focused = focus != nullptr ? focus->objectName().toStdString() : std::string();
            QTest::keyClick(focus != nullptr ? focus : modal, c.key);
            closed = !dlg.isVisible();
            if (!closed)
                dlg.reject();
        });
        dlg.exec();
        EXPECT_EQ(focused, "CancelBt");
        EXPECT_TRUE(closed);
        EXPECT_FALSE(rig.state.RepeatRequest);
        EXPECT_FALSE(rig.state.CancelRequest);
    }
}

TEST_F(StatusDialog, ClickingABitBoxChangesNothing) {
    rig.state.StatusBytes = {0x21, 0x02, 0, 0, 0, 0};
    rig.state.StatusFlags = NoAnswer;
    dlg.show();
    const Names before = Ticked(dlg);
    for (const BitBox& b : BitBoxes) {
        Click(Get(b.name));
        EXPECT_EQ(Ticked(dlg), before) << b.name;
    }
    // The link boxes are not held: a click toggles one until the next showing.
    Click(Get("Status_Protocol"));
    EXPECT_TRUE(Get("Status_Protocol")->isChecked());
    dlg.hide();
    dlg.show();
    EXPECT_EQ(Ticked(dlg), before);
}

TEST_F(StatusDialog, FormHasTheColumnsCaptionsAndColoursOfTheStation) {
    EXPECT_EQ(dlg.windowTitle(), "Fiscal printer status bits");
    EXPECT_EQ(dlg.minimumSize(), QSize(541, 388));
    EXPECT_EQ(dlg.maximumSize(), QSize(541, 388));
    EXPECT_EQ(dlg.font(), [] { QFont f("Arial"); f.setPixelSize(13); return f; }());

    const std::set<std::string> red = {"Status05", "Status45", "Status_Timeout", "Status_Protocol"};
    auto checkCaption = [&](const char* name, const char* caption) {
        QCheckBox* box = Get(name);
        EXPECT_EQ(box->text(), QString::fromUtf8(caption)) << name;
        EXPECT_LE(box->sizeHint().width(), box->width()) << name << " is clipped";
        EXPECT_EQ(box->palette().color(QPalette::WindowText) == QColor(255, 0, 0), red.count(name) == 1) << name;
    };
    for (const BitBox& b : BitBoxes)
        checkCaption(b.name, b.caption);
    checkCaption("Status_Timeout", "No printer response");
    checkCaption("Status_Protocol", "Protocol error");

    // Top to bottom at one x, evenly spaced; an empty name stands for a gap.
    const std::vector<const char*> columns[] = {
        {"Status05", "Status02", "Status01", "Status00", "Status14", "Status11", "Status10", "Status20", "Status22", "",
         "Status45", "Status44", "Status40", "Status50", "", "Status_Timeout"},
        {"Status23", "Status25", "Status15", "Status21", "Status24", "Status03", "Status06", "", "Status51", "Status55",
         "Status54", "Status53", "Status43", "", "Status_Protocol"},
    };
    for (const auto& column : columns) {
        const QCheckBox* top = Get(column[0]);
        const int step = Get(column[1])->y() - top->y();
        const QCheckBox* above = top;
        for (std::size_t i = 1; i < column.size(); ++i) {
            const bool gap = *column[i] == '\0';
            const QCheckBox* box = Get(column[gap ? ++i : i]);
            EXPECT_EQ(box->x(), top->x()) << box->objectName().toStdString();
            EXPECT_TRUE(gap ? box->y() - above->y() > step : box->y() - above->y() == step)
                << box->objectName().toStdString();
            above = box;
        }
    }
    EXPECT_GT(Get("Status23")->x(), Get("Status05")->geometry().right());
    EXPECT_EQ(Get("Status_Timeout")->y(), Get("Status_Protocol")->y());

    // Left to right under the boxes.
    const QRect repeat = Get<QPushButton>("RepeatBt")->geometry(), cancel = Get<QPushButton>("CancelBt")->geometry(),
                stop = Get<QPushButton>("StopBt")->geometry();
    EXPECT_GT(repeat.top(), Get("Status_Timeout")->geometry().bottom());
    EXPECT_TRUE(repeat.right() < cancel.left() && cancel.right() < stop.left() && stop.bottom() < 388);
    EXPECT_TRUE(repeat.top() == cancel.top() && cancel.top() == stop.top());
    EXPECT_EQ(Get<QPushButton>("RepeatBt")->text(), "Repeat");
    EXPECT_EQ(Get<QPushButton>("StopBt")->text(), "Cancel");
}

}  // namespace
}  // namespace tamrisk
