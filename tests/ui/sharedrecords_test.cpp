// The station's records file shared with another program while the station's
// file dialogs list the folder it is in: the dialogs never open a file they
// list (closing one would drop the station's locks on its records file), and
// the file stays whole, with every record of both programs in it.

#include "recordtesting.h"
#include "recordstore.h"
#include "resultsview.h"
#include "settings.h"
#include "simprocess.h"
#include "stationrecords.h"
#include "tamriskfp.h"
#include "uitesting.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <memory>

namespace tamrisk {
namespace {

using testing::RunEvents;

// Every opening of the watched files, by any program, from its making on.
class OpenWatch {
public:
    explicit OpenWatch(const QStringList& files) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(m_fd, 0);
        for (const QString& file : files) {
            const int watch = ::inotify_add_watch(m_fd, QFile::encodeName(file).constData(), IN_OPEN);
            EXPECT_GE(watch, 0) << file.toStdString();
            m_names.insert(watch, QFileInfo(file).fileName());
        }
    }
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // The names of the files opened since the last call, once an opening.
    QStringList Opened() {
        QStringList opened;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_OPEN) != 0)
                    opened << m_names.value(event->wd);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        return opened;
    }

private:
    int m_fd;
    QHash<int, QString> m_names;
};

struct SharedRecordsTest : ::testing::Test {
    SharedRecordsTest() {
        OpenSettingsStore()->clear();
        qputenv("TAMRISK_RECORDS", Records().toUtf8());
        // The station's dialogs open in the current folder: the records file's.
        QDir::setCurrent(dir.path());
    }
    ~SharedRecordsTest() override {
        QDir::setCurrent(previous);
        qunsetenv("TAMRISK_RECORDS");
    }

    QString Records() const { return dir.filePath("records.sqlite"); }
    QStringList RecordsFiles() const { return {Records(), Records() + "-wal", Records() + "-shm"}; }

    // The window with its records, shown and connected.
    void Open() { testing::ShowConnected(rig, window, records); }
    void Run(const QString& script) {
        window.findChild<QPlainTextEdit*>("ScrMemo")->setPlainText(script);
        QTest::mouseClick(window.findChild<QPushButton*>("ExecuteBt"), Qt::LeftButton);
    }

    // Opens the file dialog of the menu command `action`, shows every file of the
    // folder in it, as a list with types, and once it has listed them all calls
    // `meanwhile`; then cancels the dialog.
    void WhileDialogLists(const char* action, const std::function<void(QFileSystemModel& model)>& meanwhile) {
        bool listed = false;
        testing::OnNextModal([&](QWidget* modal) {
            QFileDialog* dialog = testing::FileDialogOf(modal);
            if (dialog == nullptr)
                return;
            auto* model = dialog->findChild<QFileSystemModel*>();
            ASSERT_NE(model, nullptr);
            dialog->setNameFilter(QStringLiteral("All files (*)"));
            dialog->setViewMode(QFileDialog::Detail);
            const int files = QDir(dir.path()).entryList(QDir::Files).size();
            QElapsedTimer clock;
            clock.start();
            while (model->rowCount(model->index(dir.path())) < files && clock.elapsed() < 10000)
                RunEvents(10);
            listed = model->rowCount(model->index(dir.path())) >= files;
            if (listed)
                meanwhile(*model);
            dialog->reject();
        });
        window.findChild<QAction*>(action)->trigger();
        EXPECT_TRUE(listed) << action;
    }

    // Makes a file in the folder, as another program would, and waits until the
    // dialog's model has listed the folder again, every file in it anew.
    void Relist(QFileSystemModel& model, const QString& name) {
        QSignalSpy loaded(&model, &QFileSystemModel::directoryLoaded);
        ASSERT_TRUE(testing::WriteFileBytes(dir.filePath(name), "74\n"));
        EXPECT_TRUE(loaded.wait(10000)) << name.toStdString();
        RunEvents(100);
    }

    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    testing::UiRig rig;
    TTestForm window{*rig.station};
    std::unique_ptr<StationRecords> records;
};

// "ok" when SQLite finds the file whole, else what it found.
QString IntegrityOf(const QString& file) {
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("integrity"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            QStringList found;
            if (query.exec(QStringLiteral("PRAGMA integrity_check")))
                while (query.next())
                    found << query.value(0).toString();
            result = query.lastError().isValid() ? query.lastError().text() : found.join('\n');
        } else {
            result = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("integrity"));
    return result;
}

TEST_F(SharedRecordsTest, FileDialogsOpenNoneOfTheFilesTheyList) {
    Open();
    Run("74");
    for (const QString& file : RecordsFiles())
        ASSERT_TRUE(QFileInfo::exists(file)) << file.toStdString();
    // A script, and a file whose name says nothing of what it holds.
    ASSERT_TRUE(testing::WriteFileBytes(dir.filePath("demo.inp"), "74\n90,abc\n"));
    ASSERT_TRUE(testing::WriteFileBytes(dir.filePath("unnamed"), "\x89PNG\r\n\x1a\n"));
    for (const char* action : {"LoadScriptM", "SaveM", "SaveResultsM"}) {
        OpenWatch watch(RecordsFiles() << dir.filePath("demo.inp") << dir.filePath("unnamed"));
        WhileDialogLists(action, [&](QFileSystemModel& model) {
            Relist(model, QStringLiteral("%1.inp").arg(action));
            // Types by name: a script's by its suffix, the nameless file's none in particular.
            EXPECT_EQ(model.type(model.index(dir.filePath("unnamed"))).toStdString(), "File");
            EXPECT_FALSE(model.type(model.index(dir.filePath("demo.inp"))).isEmpty());
        });
        EXPECT_EQ(watch.Opened().join(' ').toStdString(), "") << action;
    }
}

TEST_F(SharedRecordsTest, TheRecordsFileCannotBeChosenToLoadOrSave) {
    Open();
    Run("74");
    const struct {
        const char* action;
        const char* name;
    } cases[] = {{"LoadScriptM", "records.sqlite"},
                 {"SaveResultsM", "records.sqlite-wal"},
                 {"SaveM", "records.sqlite-shm"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        OpenWatch watch(RecordsFiles());
        QString told;
        bool stayedOpen = false;
        testing::OnNextModal([&](QWidget* modal) {
            QFileDialog* dialog = testing::FileDialogOf(modal);
            if (dialog == nullptr)
                return;
            testing::OnNextModal([&](QWidget* box) {
                if (auto* message = qobject_cast<QMessageBox*>(box))
                    told = message->text();
                box->close();
            });
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromLatin1(c.name));
            static_cast<QDialog*>(dialog)->accept();
            stayedOpen = dialog->isVisible();
            dialog->reject();
        });
        window.findChild<QAction*>(c.action)->trigger();
        EXPECT_TRUE(told.contains(dir.filePath(c.name))) << told.toStdString();
        EXPECT_TRUE(stayedOpen);
        EXPECT_EQ(window.findChild<QPlainTextEdit*>("ScrMemo")->toPlainText(), "74");
        EXPECT_EQ(watch.Opened().join(' ').toStdString(), "");
    }
}

TEST_F(SharedRecordsTest, RecordsStayWholeWhileLoadScriptListsTheirFolderAndTheCliReadsAndWrites) {
    testing::SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.setEnv(QStringLiteral("TAMRISK_RECORDS"), Records());
    Open();
    Run("74");
    WhileDialogLists("LoadScriptM", [&](QFileSystemModel&) {
        // A supervisor reads the records, a second station sends a command and
        // keeps its record, and the supervisor reads them again.
        const QList<QStringList> commands = {{"records", "list"},
                                             {"exec", "--port", "SIM0", "--unit", "CLI-UNIT", "90"},
                                             {"records", "list"}};
        for (const QStringList& args : commands) {
            QProcess cli;
            sim.startCli(cli, args);
            // The dialog goes on listing the folder while the other program works.
            while (cli.state() != QProcess::NotRunning)
                RunEvents(10);
            EXPECT_EQ(cli.exitCode(), 0) << args.join(' ').toStdString() << ": "
                                         << cli.readAllStandardError().toStdString();
        }
    });
    Run("74\n90,abc");
    // The station closes.
    records.reset();

    EXPECT_EQ(IntegrityOf(Records()).toStdString(), "ok");
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(Records())));
    const std::vector<RecordHeader> kept = ValueOf(store.List({.limit = 0}));
    ASSERT_EQ(kept.size(), 3u);
    // Newest first: the station's run after, the other program's command, the station's run before.
    const std::vector<std::pair<std::string, std::size_t>> expected = {{"run", 3}, {"command", 0}, {"run", 1}};
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].kind, expected[i].first) << i;
        EXPECT_TRUE(kept[i].outcome.has_value()) << i;
        const StoreResult<Record> whole = store.Load(kept[i].id);
        ASSERT_TRUE(StoreOk(whole));
        EXPECT_GE(whole->log.size(), expected[i].second) << i;
    }
    EXPECT_EQ(kept[1].unit, "CLI-UNIT");
}

}  // namespace
}  // namespace tamrisk
