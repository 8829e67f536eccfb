// The capability of numeric checks over a PostgreSQL database of many run
// records (the line of statsline.h, each run with five numeric checks whose
// values vary). Measured, the median of several:
//  a. the records store's Capability for the last whole day, every check;
//  b. one check's page data: its name given, its values kept, the same day;
//  c. an index of the checks by name and record: both reads with it and
//     without, and what it costs a record's write (a run with five checks
//     written with it and without, in turn), as a ratio.
// Usage: bench_capability [--records N] [--repeats N] [--writes N] [--postgresql ADMIN-URL] [--keep]
//        (the URL of a role that may create databases; defaults to TAMRISK_TEST_POSTGRESQL;
//        --keep reuses a database filled before with the same N)

#include "benchsupport.h"
#include "recordstore.h"
#include "statsline.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr qint64 DayMs = 86'400'000;
constexpr int ChecksPerRun = 5;

// The five checks of a run: name, op, limits, units, and the values' centre and spread.
struct BenchCheck {
    const char* name;
    const char* op;
    const char* low;
    const char* high;
    const char* units;
    double centre, spread;
};
constexpr BenchCheck Checks[ChecksPerRun] = {
    {"voltage", "in", "5", "17", "V", 11, 2},
    {"current", "<", "NULL", "20", "mA", 15, 2},
    {"journal used", "in", "0", "2000000", "bytes", 900000, 300000},
    {"clock drift", "<=", "NULL", "2", "s", 0.5, 0.4},
    {"paper margin", ">=", "1", "NULL", "mm", 3, 0.5},
};

// The index of reads (c) weighs: the checks by name, then record.
constexpr const char* CandidateIndex = "record_checks_name_record";

// Replaces the line's checks with five numeric ones a run, values spread
// about their centres by a hash of the run and the check.
bool FillChecks(QSqlDatabase& db, int count) {
    QString names, ops, lows, highs, units, centres, spreads;
    for (const BenchCheck& c : Checks) {
        const auto add = [](QString& list, const QString& item) { list += (list.isEmpty() ? "" : ", ") + item; };
        add(names, QStringLiteral("'%1'").arg(QLatin1String(c.name)));
        add(ops, QStringLiteral("'%1'").arg(QLatin1String(c.op)));
        add(lows, QLatin1String(c.low));
        add(highs, QLatin1String(c.high));
        add(units, QStringLiteral("'%1'").arg(QLatin1String(c.units)));
        add(centres, QString::number(c.centre));
        add(spreads, QString::number(c.spread));
    }
    const QString sql =
        QStringLiteral(
            "INSERT INTO record_checks (record_id, seq, name, line, field, op, expected, low, high, units, value,"
            " result, step, message) SELECT r.id, c, (ARRAY[%1])[c + 1], 10 + c, '1', (ARRAY[%2])[c + 1], NULL,"
            " (ARRAY[%3]::double precision[])[c + 1], (ARRAY[%4]::double precision[])[c + 1], (ARRAY[%5])[c + 1],"
            " round(((ARRAY[%6]::double precision[])[c + 1] + (ARRAY[%7]::double precision[])[c + 1]"
            " * (((hashint8(r.started_ms * 8 + c) % 1000000) / 1000000.0) + ((hashint8(r.started_ms * 8 + c + 4)"
            " % 1000000) / 1000000.0)) / 2)::numeric, 3)::text, 'pass', 0, '' FROM records r,"
            " generate_series(0, %8) AS c WHERE r.kind = 'run'")
            .arg(names, ops, lows, highs, units, centres, spreads)
            .arg(ChecksPerRun - 1);
    const Stopwatch watch;
    if (!Exec(db, QStringLiteral("DELETE FROM record_checks")) || !Exec(db, sql) ||
        !Exec(db, QStringLiteral("ANALYZE record_checks")))
        return false;
    std::printf("filled %d checks in %.1f s\n", count * ChecksPerRun, watch.wallSeconds());
    return true;
}

// Takes away the runs the bench wrote, with their checks.
bool DeleteWritten(QSqlDatabase& db) {
    return Exec(db, QStringLiteral("DELETE FROM record_checks WHERE record_id IN"
                                   " (SELECT id FROM records WHERE station = 'bench')")) &&
           Exec(db, QStringLiteral("DELETE FROM records WHERE station = 'bench'"));
}

bool KeepCandidate(QSqlDatabase& db, bool kept) {
    return Exec(db, kept ? QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON record_checks (name, record_id)")
                               .arg(QLatin1String(CandidateIndex))
                         : QStringLiteral("DROP INDEX IF EXISTS %1").arg(QLatin1String(CandidateIndex)));
}

// The median seconds of `repeats` reads of `query`; -1 after the error on stderr.
double TimeCapability(RecordStore& store, const CapabilityQuery& query, int repeats, std::size_t& rows, int& values) {
    std::vector<double> seconds;
    for (int r = 0; r < repeats; ++r) {
        const Stopwatch watch;
        const StoreResult<CapabilityReport> read = store.Capability(query);
        seconds.push_back(watch.wallSeconds());
        if (!read) {
            std::fprintf(stderr, "%s\n", qPrintable(read.error().Text()));
            return -1;
        }
        rows = read->checks.size();
        values = 0;
        for (const CheckCapability& c : read->checks)
            values += c.all.n;
    }
    return MedianOf(seconds, [](double s) { return s; });
}

// Writes `writes` runs with five checks each; their seconds into `seconds`.
bool WriteRuns(RecordStore& store, int writes, std::vector<double>& seconds) {
    RecordBatch batch;
    for (int c = 0; c < ChecksPerRun; ++c) {
        const BenchCheck& b = Checks[c];
        CheckOutcome check{b.name, 10 + c, "1", CheckOperatorFromText(b.op), std::nullopt, std::nullopt,
                           std::nullopt, b.units, std::to_string(b.centre), CheckResult::Pass, ""};
        if (std::strcmp(b.low, "NULL"))
            check.low = std::atof(b.low);
        if (std::strcmp(b.high, "NULL"))
            check.high = std::atof(b.high);
        batch.checks.push_back({check, std::nullopt});
    }
    RecordHeader header;
    header.kind = "run";
    header.station = "bench";
    for (int w = 0; w < writes; ++w) {
        header.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
        header.unit = "NEW-" + header.id.substr(0, 8);
        header.startedMs = QDateTime::currentMSecsSinceEpoch();
        header.outcome.reset();
        const Stopwatch watch;
        if (!store.Begin(header) || !store.AppendBatch(header.id, batch))
            return false;
        header.outcome = RecordOutcome::Pass;
        header.durationMs = 1;
        if (!store.Finish(header))
            return false;
        seconds.push_back(watch.wallSeconds());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int repeats = 5, writes = 200;
    const std::optional<LineBenchArgs> args =
        ReadLineBenchArgs(argc, argv, {{"--repeats", &repeats}, {"--writes", &writes}});
    if (!args)
        return 0;
    const auto& [count, keep, admin] = *args;
    const std::optional<BenchLine> line = OpenBenchLine(
        admin, QStringLiteral("tamrisk_bench_capability_%1").arg(count), count, keep, LineRuns::Stations);
    if (!line)
        return 1;
    QSqlDatabase db;
    if (!RecordStore::AddConnection(line->location, QStringLiteral("bench"), db) || !db.open())
        return 1;
    if (!Exec(db, QStringLiteral("SET client_min_messages TO warning")))
        return 1;
    {
        // The line's own runs keep their five checks from a fill before; the
        // runs the bench wrote in an earlier run are taken away.
        if (!DeleteWritten(db))
            return 1;
        QSqlQuery filled(db);
        const bool whole = filled.exec(QStringLiteral("SELECT COUNT(*) FROM record_checks")) && filled.next() &&
                           filled.value(0).toLongLong() == qint64{count} * ChecksPerRun;
        if (!(whole && keep) && !FillChecks(db, count))
            return 1;
        if (!KeepCandidate(db, false))
            return 1;
    }
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(line->location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return 1;
    }
    std::printf("the line: %d runs with %d numeric checks each\n", count, ChecksPerRun);

    const qint64 sinceMs = line->endMs - 2 * DayMs, untilMs = line->endMs - DayMs;
    CapabilityQuery everyCheck{sinceMs, untilMs};
    CapabilityQuery onePage{sinceMs, untilMs, "voltage"};
    onePage.values = true;
    // a, b, and both again with the candidate index.
    for (const bool indexed : {false, true}) {
        if (!KeepCandidate(db, indexed) || !Exec(db, QStringLiteral("ANALYZE record_checks")))
            return 1;
        const char* with = indexed ? "with" : "without";
        std::size_t rows = 0;
        int values = 0;
        const double all = TimeCapability(store, everyCheck, repeats, rows, values);
        if (all < 0)
            return 1;
        std::printf("a. Capability, last whole day, every check, %s %s: %zu rows of %d values: %.3f s (median of %d; "
                    "at most 1)\n",
                    with, CandidateIndex, rows, values, all, repeats);
        const double page = TimeCapability(store, onePage, repeats, rows, values);
        if (page < 0)
            return 1;
        std::printf("b. Capability, last whole day, one check with its values, %s %s: %d values: %.3f s (median of "
                    "%d; at most 0.3)\n",
                    with, CandidateIndex, values, page, repeats);
    }

    // c. Writes taken in rounds with the index and without, there and back,
    // so that a drift of the machine's speed tilts no ratio.
    std::vector<double> withIndex, withoutIndex;
    constexpr int Rounds = 4;
    for (int round = 0; round < Rounds; ++round)
        for (const bool indexed : {round % 2 == 0, round % 2 != 0})
            if (!KeepCandidate(db, indexed) || !WriteRuns(store, writes / Rounds, indexed ? withIndex : withoutIndex))
                return 1;
    if (!KeepCandidate(db, false) || !DeleteWritten(db))
        return 1;
    const double with = MedianOf(withIndex, [](double s) { return s; });
    const double without = MedianOf(withoutIndex, [](double s) { return s; });
    std::printf("c. a run's write with five checks (Begin, AppendBatch, Finish): with %s %.3f ms, without %.3f ms "
                "(medians of %zu): ratio %.3f\n",
                CandidateIndex, with * 1e3, without * 1e3, withIndex.size(), with / without);
    return 0;
}
