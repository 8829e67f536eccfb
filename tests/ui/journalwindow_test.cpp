// The journal window driven as an operator drives it, over the printer
// model: its buttons idle and busy, a read with its running count and Cancel,
// the mouse widening and the SHA-1 of the selection, Load and Save, Check and
// Info in the view, and the queries that send nothing.

#include "journal.h"
#include "journaltext.h"
#include "journalview.h"
#include "station.h"
#include "textcodec.h"
#include "uitesting.h"

#include <QCryptographicHash>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::PickFile;
using testing::ReadFileBytes;
using testing::UiRig;
using testing::WriteFileBytes;

QByteArray Cp1251(const QString& text) { return QByteArray::fromStdString(*EncodeCp1251(text)); }

QString Sha1Status(const QByteArray& bytes) {
    return "SHA-1: " + QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toUpper();
}

struct JournalForm : ::testing::Test {
    JournalForm() { Show(); }
    void Show() {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    template <class T = QPushButton>
    T* Control(const char* name) {
        return window.findChild<T*>(name);
    }
    void Click(const char* name) { QTest::mouseClick(Control(name), Qt::LeftButton); }
    void Run(const char* button, const QString& query) {
        Control<QLineEdit>("InputBox")->setText(query);
        Click(button);
    }
    // The enabled buttons, in the window's order.
    QString States() {
        QStringList on;
        for (const char* name : {"ReadBt", "CheckBt", "PrintBt", "InfoBt", "LoadBt", "ShaBt", "SaveBt", "CancelBt",
                                 "ClearBt"})
            if (Control(name)->isEnabled())
                on << name;
        return on.join(u' ');
    }
    QString Status() { return Control<QLabel>("StatusPn")->text(); }
    QStringList Lines() { return window.Text().Empty() ? QStringList() : window.View().Text().split(u'\n'); }
    void Load(const QString& path) { PickFile(path), Click("LoadBt"); }
    // Runs `act` on every turn of the events while the window waits.
    void During(std::function<void()> act) {
        rig.host.onEvents = [act] {
            QCoreApplication::processEvents();
            act();
        };
    }
    // A mouse drag in the view from (line, column) to (line, column).
    void Drag(int fromLine, int fromColumn, int toLine, int toColumn) {
        auto* view = Control<QPlainTextEdit>("JnlData");
        auto at = [view](int line, int column) {
            QTextCursor cursor(view->document()->findBlockByNumber(line));
            cursor.setPosition(cursor.position() + column);
            return view->cursorRect(cursor).center() + QPoint(1, 0);
        };
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(fromLine, fromColumn));
        QMouseEvent move(QEvent::MouseMove, at(toLine, toColumn), view->viewport()->mapToGlobal(at(toLine, toColumn)),
                         Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view->viewport(), &move);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(toLine, toColumn));
    }

    UiRig rig;
    TJournalForm window{*rig.station};
    QTemporaryDir dir;
};

const QString Idle = "ReadBt CheckBt PrintBt InfoBt LoadBt ClearBt";
const QString IdleWithLines = "ReadBt CheckBt PrintBt InfoBt LoadBt ShaBt SaveBt ClearBt";

TEST_F(JournalForm, ButtonsFollowTheConnectionAndTheView) {
    EXPECT_EQ(States(), Idle);
    const QString path = dir.filePath("one.txt");
    ASSERT_TRUE(WriteFileBytes(path, "line"));
    Load(path);
    EXPECT_EQ(States(), IdleWithLines);
    Click("ClearBt");
    EXPECT_EQ(States(), Idle);

    // The port lost while the window is open; then shown again without it.
    rig.io->unplug("gone");
    EXPECT_EQ(States(), "LoadBt ClearBt");
    Load(path);
    EXPECT_EQ(Lines(), QStringList{"line"});
    EXPECT_EQ(States(), "LoadBt ShaBt SaveBt ClearBt");
    Click("ClearBt");
    EXPECT_EQ(Lines(), QStringList());
    EXPECT_EQ(States(), "LoadBt ClearBt");
}

TEST_F(JournalForm, ReadOfAZReportCountsItsDocumentsWithTheWindowBusy) {
    const sim::JournalBook& book = rig.io->model().Journal().Book();
    const sim::ZReportRecord& z3 = book.zReports[2];
    QStringList expected;
    int documents = 0;
    for (const sim::JournalDocument& document : book.documents)
        if (document.number >= z3.firstDocument && document.number <= z3.documentNumber) {
            ++documents;
            for (const std::string& line : document.lines)
                expected << DecodeCp1251(line);
        }
    ASSERT_GT(documents, 2);

    QStringList states, statuses;
    During([&] {
        if (states.isEmpty() || states.back() != States())
            states << States();
        if (statuses.isEmpty() || statuses.back() != Status())
            statuses << Status();
    });
    Run("ReadBt", " Z3 ");
    // Nothing to press during the probe; then only Cancel.
    EXPECT_EQ(states, QStringList({"", "CancelBt"}));
    QStringList counts{""};
    for (int n = 1; n <= documents; ++n)
        counts << QString("%1 document%2").arg(n).arg(n == 1 ? "" : "s");
    EXPECT_EQ(statuses.mid(statuses.indexOf("")), counts);
    EXPECT_EQ(Lines(), expected);
    EXPECT_TRUE(Status().startsWith(QString("%1 documents, ").arg(documents))) << Status().toStdString();
    EXPECT_EQ(States(), IdleWithLines);
}

TEST_F(JournalForm, CancelOrCloseDuringAReadDropsTheAnswerInFlight) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "cancel");
        bool visibleAfterClose = false;
        During([&] {
            if (window.Text().LineCount() != 10 || !Control("CancelBt")->isEnabled() || !window.isVisible())
                return;
            if (close) {
                window.close();
                visibleAfterClose = window.isVisible();
            } else {
                Click("CancelBt");
            }
        });
        Run("ReadBt", "A");
        EXPECT_EQ(window.Text().LineCount(), 10u);
        EXPECT_EQ(Lines().size(), 10);
        EXPECT_TRUE(Status().contains(" documents, ") || Status().contains(" document, ")) << Status().toStdString();
        EXPECT_EQ(visibleAfterClose, close);
        EXPECT_EQ(window.isVisible(), !close);
        rig.host.onEvents = [] { QCoreApplication::processEvents(); };
        if (close)
            Show();
        EXPECT_EQ(States(), IdleWithLines);
        EXPECT_EQ(Lines().size(), 10);  // kept for the next showing
    }
}

TEST_F(JournalForm, MouseSelectionWidensToWholeLinesAndIsHashedAsHeld) {
    // Mixed line ends, the last line without one.
    const QString path = dir.filePath("mixed.txt");
    ASSERT_TRUE(WriteFileBytes(path, Cp1251("first line\r\nсредна линия\nthird\rlast")));
    Load(path);
    EXPECT_EQ(Lines(), QStringList({"first line", "средна линия", "third", "last"}));
    const struct {
        int fromLine, fromColumn, toLine, toColumn;
        QString selected;  // what the view selects after the release
        QString hashed;    // the bytes of the digest
    } cases[] = {
        {0, 3, 1, 4, "first line\u2029средна линия\u2029", "first line\r\nсредна линия\r\n"},
        {2, 1, 2, 3, "third\u2029", "third\r\n"},
        {3, 1, 3, 2, "last", "last"},
        {1, 5, 3, 1, "средна линия\u2029third\u2029last", "средна линия\r\nthird\r\nlast"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hashed.toStdString());
        Drag(c.fromLine, c.fromColumn, c.toLine, c.toColumn);
        EXPECT_EQ(Control<QPlainTextEdit>("JnlData")->textCursor().selectedText(), c.selected);
        Click("ShaBt");
        EXPECT_EQ(Status(), Sha1Status(Cp1251(c.hashed)));
        EXPECT_EQ(States(), IdleWithLines);
    }

    // Keys select exactly what they cover.
    auto* view = Control<QPlainTextEdit>("JnlData");
    QTextCursor cursor(view->document()->findBlockByNumber(1));
    cursor.setPosition(cursor.position() + 10);
    view->setTextCursor(cursor);
    for (int k = 0; k < 4; ++k)
        QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    Click("ShaBt");
    EXPECT_EQ(Status(), Sha1Status(Cp1251("ия\r\nt")));

    // Saved with CR LF after every line, the last included.
    const QString saved = dir.filePath("saved.txt");
    PickFile(saved);
    Click("SaveBt");
    EXPECT_EQ(ReadFileBytes(saved), Cp1251("first line\r\nсредна линия\r\nthird\r\nlast\r\n"));
}

TEST_F(JournalForm, SaveAsksBeforeReplacingAndAFailedSaveKeepsTheOldFile) {
    Run("ReadBt", "Z3");
    const QString path = dir.filePath("old.txt");
    ASSERT_TRUE(WriteFileBytes(path, "old journal"));
    QStringList look;
    PickFile(path, [&](QFileDialog& dialog) { look = dialog.nameFilters() << dialog.defaultSuffix(); });
    Click("SaveBt");  // answered No
    EXPECT_EQ(look, QStringList({"Текстови файлове (*.txt)", "Всички файлове (*.*)", "txt"}));
    ASSERT_EQ(rig.host.questions.size(), 1u);
    EXPECT_EQ(rig.host.questions[0].caption, "Warning");
    EXPECT_EQ(ReadFileBytes(path), "old journal");

    // A file size limit stops the write part way, for root as for anyone.
    rig.host.answers = {true};
    PickFile(path);
    {
        const testing::ScopedFileSizeLimit limit(64);
        Click("SaveBt");
    }
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Can't write journal file");
    EXPECT_EQ(rig.host.messages[0].caption, "Error");
    EXPECT_TRUE(rig.host.messages[0].detail.starts_with(path.toStdString() + ": "));
    EXPECT_EQ(ReadFileBytes(path), "old journal");
}

TEST_F(JournalForm, CheckAndInfoFillTheViewWithTheWindowBusy) {
    QStringList states;
    During([&] {
        if (states.isEmpty() || states.back() != States())
            states << States();
    });
    Run("CheckBt", "Z5");  // the day altered after its digest was recorded
    EXPECT_EQ(states, QStringList{""});
    const QStringList check = Lines();
    ASSERT_EQ(check.size(), 6);
    EXPECT_EQ(check[0], "Journal and calculated SHA-1 not equal!");
    EXPECT_TRUE(check[5].startsWith("SHA-1 (Calculated): ")) << check[5].toStdString();
    EXPECT_TRUE(Status().endsWith(" секунди")) << Status().toStdString();
    EXPECT_EQ(States(), IdleWithLines);

    states.clear();
    const QString checkTime = Status();
    Click("InfoBt");
    EXPECT_EQ(states, QStringList{""});
    const QStringList info = Lines();
    ASSERT_EQ(info.size(), 9);
    EXPECT_TRUE(info[8].startsWith("Documents:         ")) << info[8].toStdString();
    EXPECT_EQ(Status(), checkTime);
    EXPECT_EQ(States(), IdleWithLines);
}

TEST_F(JournalForm, BlankAndOverlongQueriesSendNothing) {
    const struct {
        const char* button;
        QString query;
        bool refused;  // told why
    } cases[] = {
        {"ReadBt", " \t ", false},          {"PrintBt", "  ", false},           {"CheckBt", "\t", false},
        {"ReadBt", QString(218, 'D'), true}, {"CheckBt", QString(218, 'Z'), true}, {"PrintBt", QString(217, 'A'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + std::to_string(c.query.size()));
        rig.host.messages.clear();
        const std::size_t written = rig.io->written.size();
        Run(c.button, c.query);
        EXPECT_EQ(rig.io->written.size(), written);
        ASSERT_EQ(rig.host.messages.size(), c.refused ? 1u : 0u);
        if (c.refused) {
            EXPECT_EQ(rig.host.messages[0].caption, "Error");
        }
        EXPECT_EQ(States(), Idle);
    }
}

}  // namespace
}  // namespace tamrisk
