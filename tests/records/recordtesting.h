#pragma once
// What the records tests share: a records file in a temporary folder and
// headers made to order.

#include "record.h"
#include "recordstore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace tamrisk::testing {

// Passes when the store's `result` holds a value; fails with its error's text.
template <typename T>
::testing::AssertionResult StoreOk(const StoreResult<T>& result) {
    if (result)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error().Text().toStdString();
}

// The text of the store's failure; empty when `result` holds a value.
template <typename T>
QString FailureText(const StoreResult<T>& result) {
    return result ? QString() : result.error().Text();
}

// The value of the store's `result`; without one, a test failure with its error's text and an empty value.
template <typename T>
T ValueOf(StoreResult<T> result) {
    if (!result) {
        ADD_FAILURE() << result.error().Text().toStdString();
        return T{};
    }
    return std::move(*result);
}

// A check of script line 5 that field 3 is in 0..2000000 bytes, as a run makes
// one, with the value it found and the step it judged.
inline RecordCheck NumericCheck(std::string name, CheckResult result, std::optional<std::string> value,
                                std::optional<int> step) {
    return {CheckOutcome{name, 5, "3", CheckOperator::In, std::nullopt, 0, 2000000, "bytes", std::move(value), result,
                         name + ": expected 3 in 0..2000000, got 2097000"},
            step};
}

// The id of the `n`th record a test makes: "0000000n-0000-4000-8000-000000000000".
inline std::string NumberedId(unsigned n) {
    char id[40];
    std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", n);
    return id;
}

inline RecordHeader TestHeader(std::string id, std::string kind = "run", qint64 startedMs = 1'700'000'000'000) {
    RecordHeader header;
    header.id = std::move(id);
    header.kind = std::move(kind);
    header.station = "line-3";
    header.operatorName = "ivana";
    header.version = "0.1";
    header.port = "/dev/ttyUSB0";
    header.speed = 115200;
    header.startedMs = startedMs;
    return header;
}

// A records file in a fresh temporary folder, opened by `store`.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(StoreOk(store.Open(Path())));
    }
    QString Path() const { return m_dir.filePath(QStringLiteral("records.sqlite")); }
    QString Folder() const { return m_dir.path(); }

    RecordStore store;

private:
    QTemporaryDir m_dir;
};

enum class Backend { Sqlite, Postgresql };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgresql";
}

inline void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

// Runs `statements` on the database at `location` through a connection of its
// own, as another program would; returns the rows of the last one, a line each.
inline std::string RunSql(const QString& location, const std::vector<QString>& statements) {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("raw-%1").arg(++connections);
    std::string rows;
    {
        QSqlDatabase db;
        const StoreResult<void> added = RecordStore::AddConnection(location, name, db);
        if (!added || !db.open())
            ADD_FAILURE() << location.toStdString() << ": " << added.error().Text().toStdString()
                          << db.lastError().text().toStdString();
        for (const QString& sql : statements) {
            QSqlQuery query(db);
            if (!query.exec(sql))
                ADD_FAILURE() << sql.toStdString() << ": " << query.lastError().text().toStdString();
            for (rows.clear(); query.next(); rows += '\n')
                rows += query.value(0).toString().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// What the database at `location` answers to `statement`, run through a
// connection of its own: empty when it was done, else the reason it was refused.
inline std::string SqlRefusal(const QString& location, const QString& statement) {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("try-%1").arg(++connections);
    std::string refusal;
    {
        QSqlDatabase db;
        const StoreResult<void> added = RecordStore::AddConnection(location, name, db);
        if (!added || !db.open()) {
            refusal = "cannot connect: " + added.error().Text().toStdString() + db.lastError().text().toStdString();
        } else {
            QSqlQuery query(db);
            if (!query.exec(statement))
                refusal = query.lastError().databaseText().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return refusal;
}

// The PostgreSQL URL `location` with `role` as its user.
inline QString AsLogin(const QString& location, const QString& role) {
    return QString(location).replace(QRegularExpression(QStringLiteral("^([a-z]+://)([^@/]*@)?")),
                                     QStringLiteral("\\1") + role + u'@');
}

// Makes the login role `role` on the server of `admin` (a URL of a role that may
// make roles, as the administrator's createuser would); returns its name.
inline QString MakeLoginRole(const QString& admin, const QString& role) {
    RunSql(admin, {QStringLiteral("CREATE ROLE ") + role + QStringLiteral(" LOGIN")});
    return role;
}

// Makes the records database at `location` refuse every record of `unit` from
// now on, as a line's own trigger would ("unit <unit> is refused"; PL/pgSQL's
// RAISE on PostgreSQL, RAISE(ABORT) on SQLite); its schema is made first.
// StopRefusing takes the trigger away.
inline void RefuseUnit(const QString& location, const std::string& unit) {
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(location)));
    const QString name = QString::fromStdString(unit);
    if (RecordStore::IsLineLocation(location)) {
        RunSql(location, {QStringLiteral("CREATE FUNCTION refuse_unit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                                         " IF NEW.unit = '%1' THEN RAISE EXCEPTION 'unit %1 is refused'; END IF;"
                                         " RETURN NEW; END $$")
                              .arg(name),
                          QStringLiteral("CREATE TRIGGER refuse_unit BEFORE INSERT ON records FOR EACH ROW"
                                         " EXECUTE FUNCTION refuse_unit()")});
    } else {
        RunSql(location, {QStringLiteral("CREATE TRIGGER refuse_unit BEFORE INSERT ON records WHEN NEW.unit = '%1'"
                                         " BEGIN SELECT RAISE(ABORT, 'unit %1 is refused'); END")
                              .arg(name)});
    }
}

inline void StopRefusing(const QString& location) {
    RunSql(location, {QStringLiteral("DROP TRIGGER refuse_unit") +
                      (RecordStore::IsLineLocation(location) ? QStringLiteral(" ON records") : QString())});
}

// A records database of a test's own: a file in a temporary folder, or a fresh
// database on the test PostgreSQL server that TAMRISK_TEST_POSTGRESQL names
// (test.sh starts one), dropped at the end. Location() is empty, and
// SkipReason() says why, when the backend is not at hand.
class TestDatabase {
public:
    explicit TestDatabase(Backend backend) {
        if (backend == Backend::Sqlite) {
            m_location = m_dir.filePath(QStringLiteral("records.sqlite"));
            return;
        }
        const char* server = std::getenv("TAMRISK_TEST_POSTGRESQL");
        if (server == nullptr || *server == '\0') {
            m_skip = "TAMRISK_TEST_POSTGRESQL is not set (a postgresql:// URL of a role that may create databases;"
                     " scripts/test-postgres.sh start makes a private server)";
            return;
        }
        static std::atomic<int> made{0};
        m_admin = QString::fromUtf8(server);
        m_name = QStringLiteral("tamrisk_t_%1_%2").arg(getpid()).arg(++made);
        m_location = QString(m_admin).replace(QRegularExpression(QStringLiteral("^([a-z]+://[^/]*/)[^?]*")),
                                              QStringLiteral("\\1") + m_name);
        RunSql(m_admin, {QStringLiteral("SET client_min_messages = warning"),
                         QStringLiteral("DROP DATABASE IF EXISTS ") + m_name,
                         QStringLiteral("CREATE DATABASE ") + m_name});
    }
    ~TestDatabase() {
        if (!m_name.isEmpty())
            RunSql(m_admin, {QStringLiteral("DROP DATABASE IF EXISTS ") + m_name + QStringLiteral(" WITH (FORCE)")});
        // Once the database that granted them rights is gone.
        for (const QString& role : m_roles)
            RunSql(m_admin, {QStringLiteral("DROP ROLE IF EXISTS ") + role});
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    bool IsPostgresql() const { return !m_name.isEmpty(); }
    // Makes a login role of this test's own on the PostgreSQL server, named after
    // `role`, dropped with the database; returns its name.
    QString MakeRole(const QString& role) {
        m_roles.push_back(MakeLoginRole(m_admin, role + u'_' + m_name));
        return m_roles.back();
    }
    const std::string& SkipReason() const { return m_skip; }
    QString Location() const { return m_location; }
    QString Folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_location, m_admin, m_name;
    std::vector<QString> m_roles;
    std::string m_skip;
};

// A test run once over each backend with a database of its own; `store` opened on it.
class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        database = std::make_unique<TestDatabase>(GetParam());
        if (!database->SkipReason().empty())
            GTEST_SKIP() << database->SkipReason();
    }
    QString Location() const { return database->Location(); }

    // The test's database behind a way in that is closed until Reach: a records
    // file whose folder is a plain file, or a socket folder without the server's
    // socket, into which Reach links it.
    QString Unreachable() {
        m_gate = database->Folder() + QStringLiteral("/gate");
        if (!database->IsPostgresql()) {
            EXPECT_TRUE(QFile(m_gate).open(QIODevice::WriteOnly));
            return m_gate + QStringLiteral("/records.sqlite");
        }
        EXPECT_TRUE(QDir().mkpath(m_gate));
        static const QRegularExpression host(QStringLiteral("host=([^&]*)"));
        m_server = host.match(Location()).captured(1);
        return QString(Location()).replace(host, QStringLiteral("host=") + m_gate);
    }
    void Reach() {
        if (!database->IsPostgresql()) {
            ASSERT_TRUE(QFile::remove(m_gate));
            return;
        }
        const QStringList sockets =
            QDir(m_server).entryList({QStringLiteral(".s.PGSQL.*")}, QDir::System | QDir::Hidden | QDir::Files);
        ASSERT_FALSE(sockets.isEmpty()) << m_server.toStdString();
        for (const QString& socket : sockets)
            ASSERT_TRUE(QFile::link(m_server + u'/' + socket, m_gate + u'/' + socket));
    }

    std::unique_ptr<TestDatabase> database;

private:
    QString m_gate, m_server;
};

class BackendStoreTest : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(StoreOk(store.Open(Location())));
    }

    RecordStore store;
};

}  // namespace tamrisk::testing

namespace tamrisk {
using testing::StoreOk;
using testing::ValueOf;
using testing::FailureText;
}  // namespace tamrisk
