// The memory readers' windows driven as an operator drives them, over the
// printer model: the states of their buttons before, during and after a read,
// the hex dump, what Save writes, and the binary journal copy.

#include "coderead.h"
#include "hexview.h"
#include "memoryreader.h"
#include "memread.h"
#include "readklenbin.h"
#include "station.h"
#include "status.h"
#include "uitesting.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>

namespace tamrisk {
namespace {

using testing::OnNextModal;
using testing::ReadFileBytes;
using testing::UiRig;
using testing::WriteFileBytes;

// The file dialog's settings as the operator finds them.
struct DialogLook {
    QString title;
    QStringList filters;
    QString suffix;
};

// Calls `act` with the next modal window other than `except` (the reader's
// own window is modal too) while it lives, from the event loop.
class ModalWatch {
public:
    ModalWatch(QWidget* except, std::function<void(QWidget*)> act) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, except, act = std::move(act)] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == except)
                return;
            m_timer.stop();
            act(modal);
        });
        m_timer.start(5);
    }

private:
    QTimer m_timer;
};

// Chooses `path` in the next file dialog and notes how the dialog looked.
void PickFile(const QString& path, DialogLook* look) {
    testing::PickFile(path, [look](QFileDialog& dialog) {
        if (look)
            *look = {dialog.windowTitle(), dialog.nameFilters(), dialog.defaultSuffix()};
    });
}

QByteArray Bytes(const std::vector<std::uint8_t>& memory, std::size_t count) {
    return QByteArray(reinterpret_cast<const char*>(memory.data()), static_cast<qsizetype>(count));
}

// The enabled buttons among `names`, in order.
QString Enabled(QWidget& window, const QStringList& names) {
    QStringList on;
    for (const QString& name : names)
        if (auto* button = window.findChild<QPushButton*>(name); button && button->isEnabled())
            on << name;
    return on.join(u' ');
}

// A memory reader's window over the model, with its own status dialog.
struct MemoryRig {
    MemoryRig(bool fiscal, sim::SimOptions options = {}) : rig(std::move(options)) {
        if (fiscal)
            window = std::make_unique<TMemForm>(*rig.station, state, &statusDlg);
        else
            window = std::make_unique<TCodeForm>(*rig.station, state, &statusDlg);
        Show();
    }
    void Show() {
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(name); }
    QString States() { return Enabled(*window, {"ReadBt", "CancelBt", "SaveBt"}); }
    // Runs `act` on every turn of the events during a read, after Qt's own.
    void DuringRead(std::function<void()> act) {
        rig.host.onEvents = [act] {
            QCoreApplication::processEvents();
            act();
        };
    }
    void Read() { QTest::mouseClick(Button("ReadBt"), Qt::LeftButton); }
    void Save(const QString& path, DialogLook* look = nullptr) {
        PickFile(path, look);
        QTest::mouseClick(Button("SaveBt"), Qt::LeftButton);
    }

    UiRig rig;
    MemoryReaderState state;
    TStatusDlg statusDlg{rig.state, [] { return false; }};
    std::unique_ptr<MemoryReadWindow> window;
    QTemporaryDir dir;
};

TEST(MemoryWindows, FullReadStatesDumpSaveAndShowingAgain) {
    struct Case {
        bool fiscal;
        int kib;
        int lines;
        QString lastAddress;
        QStringList statesDuringRead;  // distinct, in order
        DialogLook look;
        std::string question;
        int linesWhenShownAgain;
    } cases[] = {
        {false, 128, 12288, "2FFF0", {"CancelBt"},
         {"Save Code Memory Data", {"Code memory data (*.bin)"}, "BIN"}, "File exists. Rewrite?", 12288},
        {true, 64, 4096, "0FFF0", {"", "CancelBt"},
         {"Save Fiscal Printer Data", {"Fiscal memory data (*.rom)"}, "ROM"}, "File exists. Overwrite?", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fiscal ? "fiscal" : "code");
        sim::SimOptions options;
        options.fiscalMemoryKiB = c.kib;
        MemoryRig m(c.fiscal, options);
        EXPECT_EQ(m.States(), "ReadBt");
        QStringList seen;
        m.DuringRead([&] {
            if (seen.isEmpty() || seen.back() != m.States())
                seen << m.States();
        });
        m.Read();
        EXPECT_EQ(seen, c.statesDuringRead);
        EXPECT_EQ(m.States(), "ReadBt SaveBt");
        EXPECT_EQ(m.window->findChild<QProgressBar*>("PrgBar")->value(), 255);
        const QStringList lines = m.window->View().Text().split(u'\n');
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_TRUE(lines.front().startsWith("00000  ")) << lines.front().toStdString();
        EXPECT_TRUE(lines.back().startsWith(c.lastAddress + "  ")) << lines.back().toStdString();
        EXPECT_EQ(lines.back().size(), 72);

        // Saved over a longer file: asked first, then exactly the memory.
        const auto& memory = c.fiscal ? m.rig.io->model().FiscalMemory() : m.rig.io->model().CodeMemory();
        const QString path = m.dir.filePath("image.bin");
        ASSERT_TRUE(WriteFileBytes(path, QByteArray(300000, 'x')));
        m.Save(path);  // answered No
        EXPECT_EQ(ReadFileBytes(path).size(), 300000);
        m.rig.host.answers = {true};
        DialogLook look;
        m.Save(path, &look);
        EXPECT_EQ(look.title, c.look.title);
        EXPECT_EQ(look.filters, c.look.filters);
        EXPECT_EQ(look.suffix, c.look.suffix);
        ASSERT_EQ(m.rig.host.questions.size(), 2u);
        EXPECT_EQ(m.rig.host.questions[1].text, c.question);
        EXPECT_EQ(m.rig.host.questions[1].caption, "Warning");
        EXPECT_EQ(ReadFileBytes(path), Bytes(memory, memory.size()));
        EXPECT_EQ(memory.size(), static_cast<std::size_t>(c.lines) * 16);
        m.Save(m.dir.filePath("typed"));  // a name without extension gets the window's
        EXPECT_EQ(ReadFileBytes(m.dir.filePath("typed.") + c.look.suffix).size(),
                  static_cast<qsizetype>(memory.size()));

        m.window->hide();
        m.Show();
        EXPECT_EQ(m.States(), "ReadBt");
        EXPECT_EQ(m.window->View().LineCount(), c.linesWhenShownAgain);
    }
}

TEST(MemoryWindows, RefusedProbeAndFailedFirstBlock) {
    const sim::StatusArray refused{0x82, 0x80, 0x80, 0x80, 0x80, 0x80};            // invalid command
    const sim::StatusArray fiscalError{0x82, 0x80, 0x80, 0x80, 0xA0, 0x80};       // and S4.5
    struct Case {
        bool fiscal;
        int command;
        sim::StatusArray status;
        bool statusDialog;
        QString states;
    } cases[] = {
        {false, 74, refused, false, "ReadBt"},
        {true, 74, refused, false, "ReadBt"},
        {false, 121, fiscalError, true, "ReadBt SaveBt"},
        {true, 116, fiscalError, true, "ReadBt SaveBt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        sim::SimOptions options;
        options.statusOverrides[c.command] = c.status;
        MemoryRig m(c.fiscal, options);
        QString shown;
        const ModalWatch watch(m.window.get(), [&](QWidget* modal) {
            shown = modal->objectName();
            modal->close();
        });
        m.Read();
        EXPECT_EQ(shown, c.statusDialog ? "StatusDlg" : "");
        EXPECT_EQ(m.States(), c.states);
        EXPECT_EQ(m.window->View().LineCount(), 0);
        EXPECT_EQ(m.state.Image.length, 0);
        if (c.statusDialog) {
            const QString path = m.dir.filePath("empty.bin");
            m.Save(path);
            EXPECT_EQ(ReadFileBytes(path), QByteArray());
        }
    }
}

TEST(MemoryWindows, CancelKeepsTheBlocksUpToItAndSaveFailuresLeaveTheFileAlone) {
    MemoryRig m(false);
    m.DuringRead([&] {
        if (m.Button("CancelBt")->isEnabled() && m.window->View().LineCount() >= 4 * 100)
            QTest::mouseClick(m.Button("CancelBt"), Qt::LeftButton);
    });
    m.Read();
    // Block 100 was in flight; no tail follows a Cancel.
    EXPECT_EQ(m.state.Image.length, 6464);
    EXPECT_EQ(m.window->View().LineCount(), 404);
    const QString part = m.dir.filePath("part.bin");
    m.Save(part);
    EXPECT_EQ(ReadFileBytes(part), Bytes(m.rig.io->model().CodeMemory(), 6464));

    m.Save(m.dir.filePath("no such folder/code.bin"));
    ASSERT_EQ(m.rig.host.messages.size(), 1u);
    EXPECT_EQ(m.rig.host.messages[0].text, "Can't open output file");
    EXPECT_EQ(m.rig.host.messages[0].caption, "Error");

    // A file size limit stops the write part way, for root as for anyone.
    const QString path = m.dir.filePath("old.bin");
    ASSERT_TRUE(WriteFileBytes(path, "old image"));
    m.rig.host.answers = {true};
    {
        const testing::ScopedFileSizeLimit limit(512);
        m.Save(path);
    }
    ASSERT_EQ(m.rig.host.messages.size(), 2u);
    EXPECT_EQ(m.rig.host.messages[1].text, "Can't write output file");
    EXPECT_EQ(m.rig.host.messages[1].caption, "Error");
    EXPECT_TRUE(m.rig.host.messages[1].detail.starts_with(path.toStdString() + ": "));
    EXPECT_EQ(ReadFileBytes(path), "old image");
}

TEST(MemoryWindows, CloseDuringReadIsServedWhenTheReadHasEnded) {
    sim::SimOptions options;
    options.fiscalMemoryKiB = 64;
    MemoryRig m(true, options);
    bool visibleAfterClose = false;
    m.DuringRead([&] {
        if (m.state.Image.length == 640 && m.window->isVisible()) {
            m.window->close();
            visibleAfterClose = m.window->isVisible();
        }
    });
    m.Read();
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_FALSE(m.window->isVisible());
    EXPECT_EQ(m.state.Image.length, 65536);
}

struct JournalWindow : ::testing::Test {
    JournalWindow() { Show(); }
    void Show() {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QPushButton* Button(const char* name) { return window.findChild<QPushButton*>(name); }
    QLineEdit* Address() { return window.findChild<QLineEdit*>("AddrEdit"); }
    QString Progress() { return window.findChild<QLabel*>("PrgLabel")->text(); }
    void Start(const QString& address, const QString& path, bool dialogExpected = true) {
        Address()->clear();
        QTest::keyClicks(Address(), address);
        std::optional<ModalWatch> unexpected;
        if (dialogExpected)
            PickFile(path, &look);
        else
            unexpected.emplace(&window, [](QWidget* modal) {
                ADD_FAILURE() << "unexpected " << modal->metaObject()->className();
                modal->close();
            });
        QTest::mouseClick(Button("StartBt"), Qt::LeftButton);
    }

    UiRig rig;
    TReadKlenFrm window{*rig.station};
    QTemporaryDir dir;
    DialogLook look;
};

TEST_F(JournalWindow, AddressIsCheckedBeforeTheFileDialog) {
    const struct {
        QString text;
        bool valid;
    } cases[] = {{"1a2b", false}, {"12G", false}, {" 1A", false}, {"-1", false},
                 {"1A2B", true},  {"", true},     {"FFFFFFFFF", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        rig.host.messages.clear();
        look = {};
        Start(c.text, {}, c.valid);  // the dialog is cancelled
        if (c.valid) {
            EXPECT_TRUE(rig.host.messages.empty());
            EXPECT_EQ(look.title, "Запомни КЛЕН във файл");
            EXPECT_EQ(look.filters, QStringList({"Бинарни файлове (*.bin)", "Всички файлове (*.*)"}));
            EXPECT_FALSE(window.isVisible());  // a cancelled dialog closes the window
            Show();
        } else {
            ASSERT_EQ(rig.host.messages.size(), 1u);
            EXPECT_EQ(rig.host.messages[0].text, "Invalid start address");
            EXPECT_EQ(rig.host.messages[0].caption, "Error");
            EXPECT_TRUE(look.title.isEmpty());
            EXPECT_TRUE(window.isVisible());
        }
    }
}

TEST_F(JournalWindow, ExistingFileAnsweredNoAndStopBeforeStart) {
    const QString old = dir.filePath("old.bin");
    ASSERT_TRUE(WriteFileBytes(old, "old journal"));
    const std::size_t before = rig.io->written.size();
    Start("0", old);  // "File exists. Overwrite?" answered No
    ASSERT_EQ(rig.host.questions.size(), 1u);
    EXPECT_EQ(rig.host.questions[0].text, "File exists. Overwrite?");
    EXPECT_EQ(rig.host.questions[0].caption, "Warning");
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(ReadFileBytes(old), "old journal");

    QTest::mouseClick(Button("CancelBt"), Qt::LeftButton);  // Stop before Start
    const QString fresh = dir.filePath("fresh.bin");
    Start("0", fresh);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadFileBytes(fresh), QByteArray());
    EXPECT_EQ(rig.io->written.size(), before);  // nothing sent
}

TEST_F(JournalWindow, CloseDuringReadStopsAtTheNextBlockAndKeepsWhatWasRead) {
    const QString path = dir.filePath("journal.bin");
    bool lockedDuringRead = false;
    bool visibleAfterClose = false;
    rig.host.onEvents = [&] {
        QCoreApplication::processEvents();
        if (Progress() == "Address: 000000280   Read: 576 " && window.isVisible()) {
            lockedDuringRead = !Button("StartBt")->isEnabled() && !Address()->isEnabled();
            window.close();
            visibleAfterClose = window.isVisible();
        }
    };
    Start("40", path);
    EXPECT_TRUE(lockedDuringRead);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_FALSE(window.isVisible());
    const std::string& stored = rig.io->model().Journal().Stored();
    EXPECT_EQ(Progress(), "Address: 000000280   Read: 576 ");
    EXPECT_EQ(ReadFileBytes(path), QByteArray::fromStdString(stored.substr(0x40, 576)));

    rig.host.onEvents = [] { QCoreApplication::processEvents(); };
    Show();  // the stop is forgotten; the address and the progress stay
    EXPECT_FALSE(window.StopRequested);
    EXPECT_EQ(Address()->text(), "40");
    EXPECT_EQ(Progress(), "Address: 000000280   Read: 576 ");
    EXPECT_TRUE(Button("StartBt")->isEnabled());
}

}  // namespace
}  // namespace tamrisk
