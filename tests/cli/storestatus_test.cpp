// A failure of the records store ends tamrisk-cli with the exit status of its
// kind, and answers the dashboard's request with the HTTP status of its kind:
// a record not found, records out of reach, records refused by their schema.

#include "cli.h"
#include "dashboardserver.h"
#include "recordstore.h"
#include "recordtesting.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

namespace tamrisk {
namespace {

using Status = QHttpServerResponse::StatusCode;

// Qt's database drivers are plugins, loaded through the application.
void NeedApplication() {
    static int argc = 1;
    static char name[] = "storestatus_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

const QString Unreachable = QStringLiteral("postgresql://ivana@/records?host=/nonexistent");

// A file another program made: not a records database.
QString NotRecords(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("invoices.sqlite"));
    testing::RunSql(path, {QStringLiteral("CREATE TABLE invoices (number INTEGER)")});
    return path;
}

TEST(StoreStatus, EachKindHasItsExitStatusAndItsHttpStatus) {
    NeedApplication();
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records.sqlite"));
    const QString invoices = NotRecords(dir);
    const struct {
        const char* what;
        std::function<StoreError()> fail;
        StoreError::Kind kind;
        int exitStatus;
        Status http;
        QString text;  // the whole message, or its end
    } cases[] = {
        {"a record not found",
         [&] {
             RecordStore store;
             EXPECT_TRUE(StoreOk(store.Open(records)));
             return store.Load("c0ffee00-0000-4000-8000-000000000001").error();
         },
         StoreError::Kind::NotFound, CliRecordNotFound, Status::NotFound,
         records + QStringLiteral(": no record c0ffee00-0000-4000-8000-000000000001")},
        {"records out of reach",
         [&] {
             RecordStore store;
             return store.Open(Unreachable).error();
         },
         StoreError::Kind::ConnectionLost, CliRecordsUnavailable, Status::ServiceUnavailable, QString()},
        {"not a records database",
         [&] {
             RecordStore store;
             return store.Open(invoices).error();
         },
         StoreError::Kind::SchemaRefused, CliRecordsRefused, Status::ServiceUnavailable,
         invoices + QStringLiteral(": not a records database (it holds other tables)")},
        {"logins granted on a records file",
         [&] {
             RecordStore store;
             EXPECT_TRUE(StoreOk(store.Open(records)));
             return store.GrantLogins({QStringLiteral("station")}, {}).error();
         },
         StoreError::Kind::SchemaRefused, CliRecordsRefused, Status::ServiceUnavailable,
         records + QStringLiteral(": a records file has no logins to grant to (a line's database is a postgresql://"
                                  " URL)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StoreError error = c.fail();
        EXPECT_EQ(error.kind, c.kind) << error.Text().toStdString();
        EXPECT_EQ(StoreExitStatus(error), c.exitStatus);
        EXPECT_EQ(StoreHttpStatus(error), c.http);
        if (!c.text.isEmpty()) {
            EXPECT_EQ(error.Text(), c.text);
        }
        // A sentence: the location, then the reason, never an empty part between them.
        EXPECT_FALSE(error.Text().contains(QStringLiteral(": : "))) << error.Text().toStdString();
        EXPECT_FALSE(error.reason.isEmpty());
        EXPECT_NE(StoreExitStatus(error), CliUsage);
    }
    EXPECT_EQ(StoreExitStatus({}), CliOk);
}

// The readers of tamrisk-cli end with the store's status, not the usage error's.
TEST(StoreStatus, RecordsActionsEndWithTheStoresStatus) {
    NeedApplication();
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records.sqlite"));
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
    }
    const std::string invoices = NotRecords(dir).toStdString();
    const struct {
        std::vector<std::string> args;
        int exitStatus;
        std::string message;
    } cases[] = {
        {{"records", "show", "c0ffee", "--records", records.toStdString()},
         CliRecordNotFound,
         "no record has an ID starting with c0ffee"},
        {{"records", "list", "--records", Unreachable.toStdString()}, CliRecordsUnavailable, "cannot open records "},
        {{"records", "stats", "--records", Unreachable.toStdString()}, CliRecordsUnavailable, "cannot open records "},
        {{"records", "capability", "--records", Unreachable.toStdString()}, CliRecordsUnavailable,
         "cannot open records "},
        {{"records", "capability", "--records", invoices}, CliRecordsRefused, ": not a records database"},
        {{"records", "checks", "--records", invoices}, CliRecordsRefused, ": not a records database"},
        {{"records", "export", "--format", "json", "-o", dir.filePath("out.json").toStdString(), "--records", invoices},
         CliRecordsRefused,
         ": not a records database"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::ostringstream out, err;
        EXPECT_EQ(CliMain(c.args, out, err), c.exitStatus) << err.str();
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
        EXPECT_EQ(err.str().find("usage: tamrisk-cli"), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

}  // namespace
}  // namespace tamrisk
