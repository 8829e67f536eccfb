#include "recordstore.h"

#include "recordtesting.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using testing::ReadFileBytes;
using testing::RecordsTest;
using testing::TestHeader;

// Runs `sql` on the file at `path` through a connection of its own, as another
// program would.
void RunSql(const QString& path, const std::vector<QString>& statements) {
    const QString name = QStringLiteral("raw-") + path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        for (const QString& sql : statements) {
            QSqlQuery query(db);
            ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << ": " << query.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

TEST(RecordStoreOpen, MakesFolderAndWalDatabaseOnFirstUseAndKeepsItsRecords) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data/tamrisk/records.sqlite"));
    QString error;
    {
        RecordStore store;
        ASSERT_TRUE(store.Open(path, error)) << error.toStdString();
        EXPECT_EQ(store.SchemaVersion(), RecordStore::CurrentSchemaVersion);
        ASSERT_TRUE(store.Begin(TestHeader("0f1e2d3c-0000-4000-8000-000000000001"), error));
    }
    const QByteArray header = ReadFileBytes(path);
    ASSERT_GE(header.size(), 20);
    EXPECT_EQ(header.left(16), QByteArray("SQLite format 3", 16));
    EXPECT_EQ(header[18], 2) << "write version: WAL";
    EXPECT_EQ(header[19], 2) << "read version: WAL";

    RecordStore again;
    ASSERT_TRUE(again.Open(path, error)) << error.toStdString();
    EXPECT_EQ(again.SchemaVersion(), RecordStore::CurrentSchemaVersion);
    EXPECT_EQ(again.List({}, error).size(), 1u);
}

// Files that are not this program's records: refused with the reason, and left
// byte for byte as they were; the refusal is also every later operation's answer.
TEST(RecordStoreOpen, RefusesFilesThatAreNotItsRecordsWithoutTouchingThem) {
    struct Case {
        const char* name;
        std::function<void(const QString& path)> make;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"garbage",
         [](const QString& path) {
             QByteArray bytes;
             for (int i = 0; i < 8192; ++i)
                 bytes.append(static_cast<char>((i * 131 + 7) % 256));
             ASSERT_TRUE(testing::WriteFileBytes(path, bytes));
         },
         "file is not a database"},
        {"another program's database",
         [](const QString& path) {
             RunSql(path, {QStringLiteral("CREATE TABLE invoices (number INTEGER)"),
                           QStringLiteral("INSERT INTO invoices VALUES (42)")});
         },
         "not a records database"},
        {"records of a newer schema",
         [](const QString& path) {
             {
                 RecordStore store;
                 QString error;
                 ASSERT_TRUE(store.Open(path, error));
             }
             RunSql(path, {QStringLiteral("UPDATE schema_version SET version = 99")});
         },
         "schema version 99"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("records.sqlite"));
        c.make(path);
        const QByteArray before = ReadFileBytes(path);
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);

        RecordStore store;
        QString error;
        EXPECT_FALSE(store.Open(path, error));
        EXPECT_TRUE(error.startsWith(path + QStringLiteral(": "))) << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << error.toStdString();
        QString later;
        EXPECT_FALSE(store.Begin(TestHeader("0f1e2d3c-0000-4000-8000-000000000001"), later));
        EXPECT_EQ(later, error);

        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), filesBefore);
    }
}

// A records file of the first schema, as the first program that kept records
// left it, is upgraded in place and keeps its records and their lines in order;
// its log lines name no script line.
TEST(RecordStoreOpen, UpgradesARecordsFileOfTheFirstSchema) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    RunSql(path,
           {QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
            QStringLiteral("INSERT INTO schema_version VALUES (1)"),
            QStringLiteral("CREATE TABLE records (id TEXT PRIMARY KEY, kind TEXT NOT NULL, station TEXT NOT NULL,"
                           " operator_name TEXT NOT NULL, program_version TEXT NOT NULL, port TEXT NOT NULL,"
                           " speed INTEGER NOT NULL, started_ms BIGINT NOT NULL, duration_ms BIGINT NOT NULL,"
                           " outcome TEXT, reason TEXT NOT NULL, unit TEXT NOT NULL, script TEXT NOT NULL,"
                           " script_sha256 TEXT NOT NULL, line_range TEXT NOT NULL, exit_code INTEGER,"
                           " writer_host TEXT NOT NULL, writer_pid INTEGER NOT NULL)"),
            QStringLiteral("CREATE TABLE record_log (record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT"
                           " NULL, t_ms BIGINT NOT NULL, colour TEXT NOT NULL, line_text TEXT NOT NULL,"
                           " PRIMARY KEY (record_id, seq))"),
            QStringLiteral("CREATE TABLE record_serials (record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER"
                           " NOT NULL, space TEXT NOT NULL, data TEXT NOT NULL, script_line INTEGER NOT NULL,"
                           " result TEXT NOT NULL, PRIMARY KEY (record_id, seq))"),
            QStringLiteral("CREATE TABLE record_images (record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER"
                           " NOT NULL, kind TEXT NOT NULL, length BIGINT NOT NULL, sha256 TEXT NOT NULL,"
                           " file TEXT NOT NULL, PRIMARY KEY (record_id, seq))"),
            QStringLiteral("INSERT INTO records VALUES ('0f1e2d3c-0000-4000-8000-000000000001', 'run', 'line-3', 'ivana',"
                           " '0.1', 'SIM0', 115200, 1700000000000, 900, 'pass', '', 'DT000100', 'a.inp', '', '',"
                           " 0, 'elsewhere', 1)"),
            QStringLiteral("INSERT INTO records SELECT '0f1e2d3c-0000-4000-8000-000000000002', kind, station,"
                           " operator_name, program_version, port, speed, started_ms, duration_ms, outcome, reason,"
                           " 'DT000101', script, script_sha256, line_range, exit_code, writer_host, writer_pid"
                           " FROM records"),
            QStringLiteral("INSERT INTO record_log VALUES ('0f1e2d3c-0000-4000-8000-000000000002', 0, 1, 'red',"
                           " 'other'), ('0f1e2d3c-0000-4000-8000-000000000001', 0, 5, 'blue', '-> 48,\"\"'),"
                           " ('0f1e2d3c-0000-4000-8000-000000000002', 1, 2, 'black', 'a\\b')")});
    const std::string id = "0f1e2d3c-0000-4000-8000-000000000001";
    RecordStore store;
    QString error;
    ASSERT_TRUE(store.Open(path, error)) << error.toStdString();
    EXPECT_EQ(store.SchemaVersion(), RecordStore::CurrentSchemaVersion);
    const std::vector<RecordLogLine> more = {{7, ResultColour::Green, "<- ok", 4}};
    ASSERT_TRUE(store.AppendLog(id, more, error)) << error.toStdString();
    const std::optional<Record> record = store.Load(id, error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_EQ(record->header.unit, "DT000100");
    EXPECT_EQ(record->header.outcome, RecordOutcome::Pass);
    const std::vector<RecordLogLine> log = {{5, ResultColour::Blue, "-> 48,\"\"", 0}, more[0]};
    EXPECT_TRUE(record->log == log);
    const std::optional<Record> other = store.Load("0f1e2d3c-0000-4000-8000-000000000002", error);
    ASSERT_TRUE(other) << error.toStdString();
    EXPECT_TRUE(other->log ==
                (std::vector<RecordLogLine>{{1, ResultColour::Red, "other", 0}, {2, ResultColour::Black, "a\\b", 0}}));
}

// Several programs at once, each with its own connection, opening a file that
// does not exist yet and writing records and batches into it: nothing is lost.
TEST(RecordStoreConcurrency, WritersAtOnceLoseNoRecordAndNoLine) {
    constexpr int Writers = 4, RecordsEach = 8, Batches = 5, LinesPerBatch = 4;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    // Writer processes, as several programs on one computer; they start
    // together once every one is forked (a pipe closed by the parent).
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < Writers; ++w) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child != 0) {
            writers.push_back(child);
            continue;
        }
        ::close(gate[1]);
        char byte = 0;
        while (::read(gate[0], &byte, 1) > 0) {
        }
        RecordStore store;
        QString error;
        bool written = store.Open(path, error);
        for (int r = 0; written && r < RecordsEach; ++r) {
            RecordHeader header = TestHeader("", "run", 1000 + r);
            header.id = std::to_string(w) + "-" + std::to_string(r);
            written = store.Begin(header, error);
            for (int b = 0; written && b < Batches; ++b) {
                std::vector<RecordLogLine> lines;
                for (int l = 0; l < LinesPerBatch; ++l)
                    lines.push_back({b * 10 + l, ResultColour::Blue, std::to_string(b * LinesPerBatch + l)});
                const RecordSerial serial{"91,DT######", "DT" + std::to_string(b), 3, SerialResult::Answered};
                written = store.AppendLog(header.id, lines, error) && store.AddSerials(header.id, {&serial, 1}, error);
            }
            header.outcome = RecordOutcome::Pass;
            written = written && store.Finish(header, error);
        }
        if (!written)
            std::fprintf(stderr, "writer %d: %s\n", w, error.toStdString().c_str());
        _exit(written ? 0 : 1);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t writer : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    RecordStore reader;
    QString error;
    ASSERT_TRUE(reader.Open(path, error));
    const std::vector<RecordHeader> all = reader.List({.limit = 0}, error);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(Writers * RecordsEach));
    for (const RecordHeader& header : all) {
        const std::optional<Record> record = reader.Load(header.id, error);
        ASSERT_TRUE(record) << error.toStdString();
        EXPECT_EQ(record->header.outcome, RecordOutcome::Pass);
        ASSERT_EQ(record->log.size(), static_cast<std::size_t>(Batches * LinesPerBatch)) << header.id;
        for (std::size_t i = 0; i < record->log.size(); ++i)
            EXPECT_EQ(record->log[i].text, std::to_string(i)) << header.id;
        EXPECT_EQ(record->serials.size(), static_cast<std::size_t>(Batches)) << header.id;
    }
}

using RecordStoreAbandoned = RecordsTest;

// A record begun by a process that ended without finishing it (killed, a power
// cut) is aborted at the next start; one still being written is not.
TEST_F(RecordStoreAbandoned, RecordOfAProcessThatIsGoneBecomesAborted) {
    const std::string gone = "dead0000-0000-4000-8000-000000000001";
    const std::string live = "11fe0000-0000-4000-8000-000000000002";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RecordStore writer;
        QString error;
        const std::vector<RecordLogLine> lines = {{0, ResultColour::Black, "first"}, {740, ResultColour::Red, "last"}};
        const bool written = writer.Open(Path(), error) && writer.Begin(TestHeader(gone), error) &&
                             writer.AppendLog(gone, lines, error);
        _exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    QString error;
    ASSERT_TRUE(store.Begin(TestHeader(live), error));
    EXPECT_EQ(store.MarkAbandoned(error), 1) << error.toStdString();
    EXPECT_EQ(store.MarkAbandoned(error), 0);

    const std::optional<Record> aborted = store.Load(gone, error);
    ASSERT_TRUE(aborted);
    EXPECT_EQ(aborted->header.outcome, RecordOutcome::Aborted);
    EXPECT_EQ(aborted->header.reason, UnfinishedReason);
    EXPECT_EQ(aborted->header.durationMs, 740);
    EXPECT_EQ(aborted->log.size(), 2u);
    const std::optional<Record> running = store.Load(live, error);
    ASSERT_TRUE(running);
    EXPECT_FALSE(running->header.outcome);
}

class RecordStoreQueries : public RecordsTest {
protected:
    // Records a..e, started in that order; e still in progress.
    void SetUp() override {
        RecordsTest::SetUp();
        struct Made {
            char letter;
            const char* kind;
            const char* unit;
            std::optional<RecordOutcome> outcome;
            const char* serial;
        };
        const Made made[] = {
            {'a', "run", "PRN-1", RecordOutcome::Pass, "DT000100"},
            {'b', "command", "PRN-2", RecordOutcome::Fail, ""},
            {'c', "run", "PRN-1", RecordOutcome::Aborted, "DT000101"},
            {'d', "journal-read", "", RecordOutcome::Error, ""},
            {'e', "run", "PRN-3", std::nullopt, "DT000101"},
        };
        QString error;
        for (const Made& m : made) {
            RecordHeader header = TestHeader(Id(m.letter), m.kind, 1000 * (m.letter - 'a' + 1));
            header.unit = m.unit;
            ASSERT_TRUE(store.Begin(header, error)) << error.toStdString();
            if (*m.serial != '\0') {
                const RecordSerial serial{"91,DT######", m.serial, 4, SerialResult::Answered};
                ASSERT_TRUE(store.AddSerials(header.id, {&serial, 1}, error));
            }
            header.outcome = m.outcome;
            if (m.outcome) {
                ASSERT_TRUE(store.Finish(header, error));
            }
        }
    }
    static std::string Id(char letter) { return std::string(8, letter) + "-0000-4000-8000-000000000000"; }
    std::string Letters(const std::vector<RecordHeader>& headers) {
        std::string letters;
        for (const RecordHeader& header : headers)
            letters += header.id[0];
        return letters;
    }
};

TEST_F(RecordStoreQueries, ListFiltersNewestFirstAndLimits) {
    using Filter = RecordStore::Filter;
    const struct {
        const char* name;
        Filter filter;
        const char* letters;
    } cases[] = {
        {"all", {.limit = 0}, "edcba"},
        {"default limit", {}, "edcba"},
        {"limit", {.limit = 2}, "ed"},
        {"unit", {.unit = "PRN-1"}, "ca"},
        {"serial", {.serial = "DT000101"}, "ec"},
        {"kind", {.kind = "run"}, "eca"},
        {"outcome", {.outcome = RecordOutcome::Fail}, "b"},
        {"since", {.sinceMs = 3000}, "edc"},
        {"unit and outcome", {.unit = "PRN-1", .outcome = RecordOutcome::Pass}, "a"},
        {"nothing matches", {.serial = "DT999999"}, ""},
        {"after a place", {.limit = 0, .after = {{3000, Id('c')}}}, "ba"},
        {"after a place, one as old with a smaller id", {.limit = 0, .after = {{3000, Id('d')}}}, "cba"},
        {"a page after a place", {.kind = "run", .limit = 1, .after = {{5000, Id('e')}}}, "c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_EQ(Letters(store.List(c.filter, error)), c.letters);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    }
}

TEST_F(RecordStoreQueries, ResolveIdTakesAUniqueStartOfTheId) {
    QString error;
    RecordHeader second = TestHeader("aaaab000-0000-4000-8000-000000000000");
    ASSERT_TRUE(store.Begin(second, error));
    using Resolve = RecordStore::Resolve;
    const struct {
        const char* prefix;
        Resolve resolve;
        std::string id;
    } cases[] = {
        {"b", Resolve::Found, Id('b')},
        {"BBBB", Resolve::Found, Id('b')},
        {"aaaaa", Resolve::Found, Id('a')},
        {"aaaa", Resolve::Ambiguous, ""},
        {"f", Resolve::NotFound, ""},
        {"", Resolve::NotFound, ""},
        {"a%", Resolve::NotFound, ""},
        {"aaaab000-0000-4000-8000-000000000000", Resolve::Found, second.id},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        std::string id;
        EXPECT_EQ(store.ResolveId(c.prefix, id, error), c.resolve);
        if (c.resolve == Resolve::Found) {
            EXPECT_EQ(id, c.id);
        }
    }
}

using RecordStoreLoad = RecordsTest;

TEST_F(RecordStoreLoad, ReturnsHeaderLogSerialsAndImagesAsWritten) {
    Record written;
    RecordHeader& header = written.header;
    header = TestHeader("c0ffee00-0000-4000-8000-000000000001", "run", 1'712'345'678'901);
    header.script = "/home/ivana/tests/fiscal day.txt";
    header.scriptSha256 = std::string(64, 'e');
    header.lineRange = "3-9";
    header.unit = "Прн-7";
    QString error;
    ASSERT_TRUE(store.Begin(header, error));

    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte.push_back(static_cast<char>(b));
    // More lines than a stored chunk holds.
    for (int c = 0; c < 450; ++c)
        written.log.push_back({c * 7, static_cast<ResultColour>(c % 6), "line " + std::to_string(c), c + 10});
    const std::vector<RecordLogLine> second = {{900, ResultColour::Red, "\xcf\xf0\xe8\xed\xf2\xe5\xf0 \xed\xe5"},
                                               {901, ResultColour::Black, everyByte},
                                               {902, ResultColour::Black, ""}};
    written.serials = {{"91,DT######", "DT000100", 12, SerialResult::Answered},
                       {"91,DT######", "DT000101", 12, SerialResult::Refused},
                       {"92,\xb9##", "\xb9" "07", 14, SerialResult::Unknown}};
    written.images = {{"fiscal-memory", 65536, std::string(64, 'a'), "/tmp/fm.bin"}};
    ASSERT_TRUE(store.AppendLog(header.id, written.log, error));
    ASSERT_TRUE(store.AddSerials(header.id, written.serials, error));
    ASSERT_TRUE(store.AppendLog(header.id, second, error));
    ASSERT_TRUE(store.AddImage(header.id, written.images[0], error));
    written.log.insert(written.log.end(), second.begin(), second.end());
    header.outcome = RecordOutcome::Fail;
    header.reason = "red line";
    header.durationMs = 1234;
    header.exitCode = 1;
    ASSERT_TRUE(store.Finish(header, error));

    const std::optional<Record> record = store.Load(header.id, error);
    ASSERT_TRUE(record) << error.toStdString();
    EXPECT_TRUE(*record == written);
    EXPECT_TRUE(record->header == header);
    EXPECT_TRUE(record->log == written.log);

    EXPECT_FALSE(store.Load("00000000-0000-4000-8000-000000000000", error));
    EXPECT_TRUE(error.contains(QLatin1String("no record"))) << error.toStdString();
}

}  // namespace
}  // namespace tamrisk
