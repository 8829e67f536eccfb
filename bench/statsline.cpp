#include "statsline.h"

#include "benchsupport.h"
#include "recordstore.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tamrisk::bench {

namespace {

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
bool Fill(QSqlDatabase& db, int count, qint64 endMs, LineRuns runs) {
    const qint64 firstMs = endMs - qint64{count} * LineRunEveryMs;
    // i: the run's number.
    const QString run = QStringLiteral(
        "SELECT lpad(to_hex(i), 8, '0') || '-0000-4000-8000-000000000000' AS id, i,"
        " CASE WHEN i % 10 = 8 AND i % 3 <> 0 THEN 'fail' WHEN i % 50 = 3 THEN 'error'"
        " WHEN i % 50 = 5 THEN 'aborted' ELSE 'pass' END AS outcome FROM generate_series(0, %1) AS i")
                            .arg(count - 1);
    // Stations: a block of ten runs tests nine units, the ninth again in the
    // tenth run. Process: runs 4n to 4n+3 take unit n through its route.
    const QString unit = runs == LineRuns::Stations
                             ? QStringLiteral("'PRN-' || (i / 10 * 10 + least(i % 10, 8)), '', ''")
                             : QStringLiteral("'PRN-' || (i / 4), (ARRAY['board', 'burn-in', 'fiscal', 'final'])[i % 4 + 1],"
                                              " CASE WHEN i / 4 % 5 = 4 THEN 'FP-3-KZ' ELSE 'FP-3' END");
    const QString header =
        QStringLiteral("INSERT INTO records (id, kind, station, operator_name, program_version, port, speed,"
                       " started_ms, duration_ms, outcome, reason, unit, operation, product, script, script_sha256,"
                       " line_range, exit_code, writer_host, writer_pid)"
                       " SELECT id, 'run', 'st-' || lpad((i % %1)::text, 2, '0'), 'ivana', '0.1',"
                       " '/dev/ttyUSB0', 115200, ? + i::bigint * %2, 90000, outcome,"
                       " CASE outcome WHEN 'error' THEN 'the printer did not answer' WHEN 'aborted' THEN"
                       " 'cancelled' WHEN 'fail' THEN 'a red line' ELSE '' END, %3, 'final-test.inp', 'ab12', '', 0,"
                       " '%4', 1 FROM (")
            .arg(LineStations)
            .arg(LineRunEveryMs)
            .arg(unit, QLatin1String(LineWriterHost));
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

}  // namespace

bool Exec(QSqlDatabase& db, const QString& sql, const QVariantList& values) {
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

std::optional<BenchLine> OpenBenchLine(const QString& admin, const QString& name, int count, bool keep, LineRuns runs) {
    BenchLine line;
    line.location =
        QString(admin).replace(QRegularExpression(QStringLiteral("^([a-z]+://[^/]*/)[^?]*")), QStringLiteral("\\1") + name);
    // The runs end at the last whole hour, so that the last whole day is the one before it.
    line.endMs = QDateTime::currentMSecsSinceEpoch() / 3'600'000 * 3'600'000;
    {
        QSqlDatabase db;
        const StoreResult<void> added = RecordStore::AddConnection(admin, QStringLiteral("admin"), db);
        if (!added || !db.open()) {
            std::fprintf(stderr, "%s %s\n", qPrintable(added.error().Text()), qPrintable(db.lastError().text()));
            return std::nullopt;
        }
        QSqlQuery exists(db);
        exists.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '") + name + u'\'');
        if (keep && exists.next()) {
            // Kept only when it holds the runs asked for: an interrupted fill is made again.
            QSqlDatabase filled;
            if (RecordStore::AddConnection(line.location, QStringLiteral("filled"), filled) && filled.open()) {
                QSqlQuery rows(filled);
                keep = rows.exec(QStringLiteral("SELECT COUNT(*), MAX(started_ms) FROM records WHERE writer_host = '") +
                                 QLatin1String(LineWriterHost) + u'\'') &&
                       rows.next() && rows.value(0).toInt() == count;
                if (keep)
                    line.endMs = rows.value(1).toLongLong() + LineRunEveryMs;  // the day and hour it was filled for
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
                return std::nullopt;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    {
        RecordStore schema;
        if (const StoreResult<void> opened = schema.Open(line.location); !opened) {
            std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
            return std::nullopt;
        }
    }
    if (!keep) {
        {
            QSqlDatabase db;
            if (!RecordStore::AddConnection(line.location, QStringLiteral("fill"), db) || !db.open())
                return std::nullopt;
            const Stopwatch watch;
            if (!Fill(db, count, line.endMs, runs))
                return std::nullopt;
            std::printf("filled %d run records in %.1f s\n", count, watch.wallSeconds());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    }
    return line;
}

std::optional<LineBenchArgs> ReadLineBenchArgs(int argc, char** argv,
                                               std::initializer_list<std::pair<const char*, int*>> numbers) {
    LineBenchArgs args;
    args.admin = qEnvironmentVariable("TAMRISK_TEST_POSTGRESQL");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--keep")) {
            args.keep = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (!std::strcmp(argv[i], "--postgresql")) {
            args.admin = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--records")) {
            args.count = std::atoi(argv[++i]);
        } else {
            for (const auto& [name, value] : numbers)
                if (!std::strcmp(argv[i], name)) {
                    *value = std::atoi(argv[++i]);
                    break;
                }
        }
    }
    if (args.admin.isEmpty()) {
        std::printf("skipped: set TAMRISK_TEST_POSTGRESQL or give --postgresql URL\n");
        return std::nullopt;
    }
    return args;
}

}  // namespace tamrisk::bench
