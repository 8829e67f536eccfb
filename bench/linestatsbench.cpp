// The line's numbers over a PostgreSQL database of many run records: a line of
// 20 stations, a run every 5 seconds on the line (about 17,000 a day), filled
// by the server itself (INSERT ... SELECT over generate_series) into a
// database of the bench's own. Every tenth unit is tested again; about 7% of
// runs fail (half by a check, half by a red step) and 2% each end in an error
// or are aborted. Measured: the records store's Stats for the last whole day
// and for the last hour, `tamrisk-cli records stats` as a process, and with
// --dashboard the dashboard's /api/stats and its page; the median of several.
// Usage: bench_linestats [--records N] [--repeats N] [--postgresql ADMIN-URL] [--keep]
//        (the URL of a role that may create databases; defaults to TAMRISK_TEST_POSTGRESQL;
//        --keep reuses a database filled before with the same N)

#include "benchsupport.h"
#include "recordstore.h"
#include "reports.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr qint64 DayMs = 86'400'000;
constexpr qint64 RunEveryMs = 5'000;  // on the whole line
constexpr int Stations = 20;

bool Exec(QSqlDatabase& db, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query(db);
    // Statements such as CREATE DATABASE cannot be prepared.
    if (values.isEmpty() ? query.exec(sql) : [&] {
            query.prepare(sql);
            for (const QVariant& value : values)
                query.addBindValue(value);
            return query.exec();
        }())
        return true;
    std::fprintf(stderr, "%s\n%s\n", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

// The steps of a run that failed by a red step: 40 answered, then one refused.
QByteArray RedStepChunk() {
    std::vector<RecordStepChunk> chunks;
    RecordStep step;
    step.command = 74;
    step.status = StatusBytesArray{0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
    step.answer = "ZORMIK FP-5,2.31,12345678";
    step.attempts = 1;
    for (int line = 1; line <= 40; ++line) {
        step.line = line;
        step.tMs = line * 30;
        AddStep(chunks, step);
    }
    step.line = 41;
    step.command = 91;
    step.result = StepResult::Refused;
    AddStep(chunks, step);
    return QByteArray::fromStdString(chunks.front().text);
}

// Fills `db` (the schema made) with `count` runs ending at `endMs`.
bool Fill(QSqlDatabase& db, int count, qint64 endMs) {
    const qint64 firstMs = endMs - qint64{count} * RunEveryMs;
    // i: the run's number; a block of ten runs tests nine units, the ninth again in the tenth run.
    const QString run = QStringLiteral(
        "SELECT lpad(to_hex(i), 8, '0') || '-0000-4000-8000-000000000000' AS id, i,"
        " CASE WHEN i % 10 = 8 AND i % 3 <> 0 THEN 'fail' WHEN i % 50 = 3 THEN 'error'"
        " WHEN i % 50 = 5 THEN 'aborted' ELSE 'pass' END AS outcome FROM generate_series(0, %1) AS i")
                            .arg(count - 1);
    const QString header =
        QStringLiteral("INSERT INTO records (id, kind, station, operator_name, program_version, port, speed,"
                       " started_ms, duration_ms, outcome, reason, unit, script, script_sha256, line_range,"
                       " exit_code, writer_host, writer_pid)"
                       " SELECT id, 'run', 'st-' || lpad((i % %1)::text, 2, '0'), 'ivana', '0.1',"
                       " '/dev/ttyUSB0', 115200, ? + i::bigint * %2, 90000, outcome,"
                       " CASE outcome WHEN 'error' THEN 'the printer did not answer' WHEN 'aborted' THEN"
                       " 'cancelled' WHEN 'fail' THEN 'a red line' ELSE '' END,"
                       " 'PRN-' || (i / 10 * 10 + least(i % 10, 8)), 'final-test.inp', 'ab12', '', 0,"
                       " 'line-pc', 1 FROM (")
            .arg(Stations)
            .arg(RunEveryMs);
    return Exec(db, header + run + QStringLiteral(") AS r"), {firstMs}) &&
           Exec(db,
                QStringLiteral(
                    "INSERT INTO record_checks (record_id, seq, name, line, field, op, expected, low, high, units,"
                    " value, result, step, message) SELECT id, c, CASE c WHEN 0 THEN 'firmware' ELSE"
                    " (ARRAY['voltage', 'journal used', 'clock drift', 'paper sensor'])[i / 20 % 4 + 1] END,"
                    " 5 + c, '3', 'in', NULL, 0, 2000000, 'bytes', '2097000', CASE c WHEN 0 THEN 'pass' ELSE 'fail'"
                    " END, 0, 'expected 3 in 0..2000000, got 2097000' FROM (") +
                    run + QStringLiteral(") AS r, generate_series(0, 1) AS c WHERE outcome = 'fail' AND i % 20 = 8"
                                         " OR outcome = 'pass' AND c = 0")) &&
           Exec(db,
                QStringLiteral("INSERT INTO record_step_chunks (record_id, seq, steps) SELECT id, 0, ? FROM (") + run +
                    QStringLiteral(") AS r WHERE outcome = 'fail' AND i % 20 = 18"),
                {RedStepChunk()}) &&
           Exec(db, QStringLiteral("ANALYZE"));
}

// One GET of `path` from 127.0.0.1:`port`: the seconds to the whole answer, and its status line.
std::pair<double, QByteArray> Get(quint16 port, const QByteArray& path) {
    QElapsedTimer timer;
    timer.start();
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {0, "no connection"};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    // The answer is whole once its head and Content-Length bytes of body are in:
    // the server may keep the connection open.
    QByteArray answer;
    for (;;) {
        const qsizetype headEnd = answer.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            static const QRegularExpression lengthField(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                                        QRegularExpression::CaseInsensitiveOption);
            const auto length = lengthField.match(QString::fromLatin1(answer.left(headEnd + 2)));
            if (!length.hasMatch() || answer.size() >= headEnd + 4 + length.captured(1).toLongLong())
                break;
        }
        if (!socket.waitForReadyRead(30000))
            break;
        answer += socket.readAll();
    }
    return {timer.nsecsElapsed() / 1e9, answer.left(answer.indexOf('\r'))};
}

quint16 FreePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int count = 1'000'000, repeats = 5;
    bool keep = false;
    QString admin = qEnvironmentVariable("TAMRISK_TEST_POSTGRESQL");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else if (i + 1 < argc && !std::strcmp(argv[i], "--records"))
            count = std::atoi(argv[++i]);
        else if (i + 1 < argc && !std::strcmp(argv[i], "--repeats"))
            repeats = std::atoi(argv[++i]);
        else if (i + 1 < argc && !std::strcmp(argv[i], "--postgresql"))
            admin = QString::fromLocal8Bit(argv[++i]);
    }
    if (admin.isEmpty()) {
        std::printf("skipped: set TAMRISK_TEST_POSTGRESQL or give --postgresql URL\n");
        return 0;
    }
    const QString name = QStringLiteral("tamrisk_bench_stats_%1").arg(count);
    const QString location =
        QString(admin).replace(QRegularExpression(QStringLiteral("^([a-z]+://[^/]*/)[^?]*")), QStringLiteral("\\1") + name);
    // The runs end at the last whole hour, so that the last whole day is the one before it.
    qint64 endMs = QDateTime::currentMSecsSinceEpoch() / 3'600'000 * 3'600'000;
    {
        QSqlDatabase db;
        const StoreResult<void> added = RecordStore::AddConnection(admin, QStringLiteral("admin"), db);
        if (!added || !db.open()) {
            std::fprintf(stderr, "%s %s\n", qPrintable(added.error().Text()), qPrintable(db.lastError().text()));
            return 1;
        }
        QSqlQuery exists(db);
        exists.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '") + name + u'\'');
        if (keep && exists.next()) {
            // Kept only when it holds the runs asked for: an interrupted fill is made again.
            QSqlDatabase filled;
            if (RecordStore::AddConnection(location, QStringLiteral("filled"), filled) && filled.open()) {
                QSqlQuery rows(filled);
                keep = rows.exec(QStringLiteral("SELECT COUNT(*), MAX(started_ms) FROM records")) && rows.next() &&
                       rows.value(0).toInt() == count;
                if (keep)
                    endMs = rows.value(1).toLongLong() + RunEveryMs;  // the day and hour it was filled for
            } else {
                keep = false;
            }
            filled.close();
        } else {
            keep = false;
        }
        QSqlDatabase::removeDatabase(QStringLiteral("filled"));
        if (!keep) {
            Exec(db, QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)"));
            if (!Exec(db, QStringLiteral("CREATE DATABASE ") + name))
                return 1;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return 1;
    }
    if (!keep) {
        QSqlDatabase db;
        if (!RecordStore::AddConnection(location, QStringLiteral("fill"), db) || !db.open())
            return 1;
        const Stopwatch watch;
        if (!Fill(db, count, endMs))
            return 1;
        std::printf("filled %d run records in %.1f s\n", count, watch.wallSeconds());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));

    struct Period {
        const char* name;
        StatsQuery query;
    };
    const std::vector<Period> periods = {{"last whole day", {endMs - 2 * DayMs, endMs - DayMs, ""}},
                                         {"last hour", {endMs - 3'600'000, endMs, ""}},
                                         {"one station, last whole day", {endMs - 2 * DayMs, endMs - DayMs, "st-07"}}};
    for (const Period& p : periods) {
        std::vector<double> seconds;
        StoreResult<LineStats> read = StoreError{};
        for (int r = 0; r < repeats; ++r) {
            const Stopwatch watch;
            read = store.Stats(p.query);
            seconds.push_back(watch.wallSeconds());
        }
        if (!read) {
            std::fprintf(stderr, "%s\n", qPrintable(read.error().Text()));
            return 1;
        }
        const LineStats& stats = *read;
        std::printf("Stats, %s: %d runs, %d units, %zu causes: %.3f s (median of %d; at most 1)\n", p.name,
                    stats.line.runs, stats.line.units, stats.pareto.size(), MedianOf(seconds, [](double s) { return s; }),
                    repeats);
    }

    QTemporaryDir dir;
    const std::string out = dir.filePath("out.json").toStdString();
    const std::string since = IsoUtcMs(endMs - 2 * DayMs), until = IsoUtcMs(endMs - DayMs);
    std::vector<ChildRun> cli;
    for (int r = 0; r < repeats; ++r)
        cli.push_back(Spawn({TAMRISK_CLI_PATH, "records", "stats", "--records", location.toStdString(), "--since", since,
                             "--until", until, "--format", "json"},
                            out));
    std::printf("tamrisk-cli records stats, last whole day: %.3f s (median of %d; at most 1)\n",
                MedianOf(cli, [](const ChildRun& run) { return run.wallSeconds; }), repeats);

    // The dashboard over the same database: its page, the newest records and the numbers.
    const quint16 port = FreePort();
    QProcess dashboard;
    dashboard.setProcessChannelMode(QProcess::ForwardedChannels);
    dashboard.start(QStringLiteral(TAMRISK_CLI_PATH),
                    {"dashboard", "--records", location, "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        QThread::msleep(50);
        up = Get(port, "/").second.contains("200");
    }
    if (!up) {
        std::printf("dashboard: did not answer\n");
        return 1;
    }
    const QByteArray apiDay = "/api/stats?since=" + QByteArray::fromStdString(since) +
                              "&until=" + QByteArray::fromStdString(until);
    for (const QByteArray& path : {QByteArray("/"), QByteArray("/api/records?limit=20"), QByteArray("/api/stats"), apiDay}) {
        std::vector<double> seconds;
        QByteArray status;
        for (int r = 0; r < repeats; ++r) {
            const auto [s, line] = Get(port, path);
            seconds.push_back(s);
            status = line;
        }
        // The first answer is the one a screen opening the page waits for; the
        // others may come from what the dashboard kept of it.
        std::printf("dashboard GET %s: first %.4f s, median of %d %.4f s (%s)\n", path.constData(), seconds.front(),
                    repeats, MedianOf(seconds, [](double s) { return s; }), status.constData());
    }
    dashboard.terminate();
    dashboard.waitForFinished(5000);
    return 0;
}
