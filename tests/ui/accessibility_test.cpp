// What a screen reader hears of the station's windows: panels and labels
// whose text changes are named by that text after every change, with their
// control names as descriptions; edit boxes are named by their control names.

#include "command.h"
#include "journal.h"
#include "readklenbin.h"
#include "resultsview.h"
#include "status.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tamrisk {
namespace {

using testing::UiRig;

std::string Heard(QWidget* widget, QAccessible::Text what) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(what).toStdString() : "(not accessible)";
}

TEST(AccessibleTexts, ChangingTextsAreHeardAndBoxesAreFoundByName) {
    UiRig rig;
    TTestForm main(*rig.station);
    TStatusDlg status(rig.state, [] { return false; }, &main);
    TCommandFrm command(*rig.station, main.Results(), &status, main.CommandHooks(), &main);
    TJournalForm journal(*rig.station, &main);
    TReadKlenFrm readKlen(*rig.station, &main);
    main.show();
    QTemporaryDir dir;
    const QString script = dir.filePath("demo.inp");
    ASSERT_TRUE(testing::WriteFileBytes(script, "@Demo of model X\r\n74\r\n"));

    // Each text is changed by what the window does, then once more, so that
    // a name fixed once (to the first text or to the control name) shows.
    const auto executeCommand = [&] {
        command.findChild<QLineEdit*>("CmdBox")->setText("74");
        QTest::mouseClick(command.findChild<QPushButton*>("ExecuteBt"), Qt::LeftButton);
    };
    const struct Row {
        QWidget* window;
        const char* label;
        std::function<void()> change;
    } rows[] = {
        {&main, "StatusPn", [&] { main.LoadScriptFile(script); }},
        {&main, "TimerPn", executeCommand},
        {&command, "StatusTxt", executeCommand},
        {&command, "TimePn", executeCommand},
        {&journal, "StatusPn", [&] { journal.findChild<QLabel*>("StatusPn")->setText("4 documents, 0.01 seconds"); }},
        {&readKlen, "PrgLabel", [&] { readKlen.findChild<QLabel*>("PrgLabel")->setText("00000040"); }},
    };
    for (const Row& row : rows) {
        auto* label = row.window->findChild<QLabel*>(row.label);
        ASSERT_NE(label, nullptr) << row.label;
        SCOPED_TRACE(row.window->objectName().toStdString() + " " + row.label);
        label->clear();
        row.change();
        EXPECT_FALSE(label->text().isEmpty());
        EXPECT_EQ(Heard(label, QAccessible::Name), label->text().toStdString());
        label->setText(QStringLiteral("a later text"));
        EXPECT_EQ(Heard(label, QAccessible::Name), "a later text");
        EXPECT_EQ(Heard(label, QAccessible::Description), row.label);
    }

    const struct {
        QWidget* window;
        const char* box;
    } boxes[] = {{&command, "CmdBox"},    {&command, "DataBox"},    {&command, "AnswerBox"}, {&main, "ScrMemo"},       {&main, "FPData"},       {&journal, "InputBox"},
                 {&journal, "JnlData"},   {&readKlen, "AddrEdit"}};
    for (const auto& b : boxes) {
        QWidget* box = b.window->findChild<QWidget*>(b.box);
        ASSERT_NE(box, nullptr) << b.box;
        EXPECT_EQ(Heard(box, QAccessible::Name), b.box);
    }
    // A combo box is heard by its text on this platform: the Product box is named by its label.
    QAccessibleInterface* product = QAccessible::queryAccessibleInterface(main.findChild<QWidget*>("ProductBox"));
    ASSERT_NE(product, nullptr);
    bool labelled = false;
    for (const auto& [other, relation] : product->relations(QAccessible::Label))
        labelled = labelled || other->object()->objectName() == QStringLiteral("ProductLabel");
    EXPECT_TRUE(labelled);
}

}  // namespace
}  // namespace tamrisk
