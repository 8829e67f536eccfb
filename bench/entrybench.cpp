// A unit's entry into an operation over a line of a million runs in
// PostgreSQL (statsline.h's line with a process: routes of four operations,
// each unit's runs going through them in turn), and what it costs a run.
//  1. The time from the question to the answer as a process sees it: the
//     records store's Entries().Enter over its connection, and UnitEntries::Enter
//     (the front ends' way, over a connection on a thread of its own), each for
//     units asking for their last operation (most enter, some are refused);
//     the median of many.
//  2. What the indexes of `records` led by the unit do for the entry and cost a
//     record's write: the entry with the schema's records_unit, with a second
//     index by unit and operation beside it, and with neither; a record's Begin
//     and Finish with each set, the sets taken in turn, medians as ratios.
//  3. A wire-paced run (tamrisk-sim --baud 115200) of tamrisk-cli run, its
//     records sent on to the line, with --product/--operation (its unit entered
//     and given back) and without: runs taken in turn (without, with, with,
//     without), the ratio of their medians.
// Usage: bench_entry [--records N] [--probes N] [--writes N] [--passes N] [--rounds N]
//                    [--postgresql ADMIN-URL] [--keep]
//        (the URL of a role that may create databases; defaults to TAMRISK_TEST_POSTGRESQL;
//        --keep reuses a line filled before with the same N)

#include "benchsupport.h"
#include "recordstore.h"
#include "statsline.h"
#include "unitentries.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QUuid>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

double Median(const std::vector<double>& values) {
    return MedianOf(values, [](double v) { return v; });
}

std::string NewId() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(); }

// Unit n of the line asking for its last operation.
EntryRequest Final(int n) {
    return {"PRN-" + std::to_string(n), "final", n % 5 == 4 ? "FP-3-KZ" : "FP-3", NewId(), "bench", "/dev/ttyUSB0",
            QDateTime::currentMSecsSinceEpoch()};
}

// Indexes of `records` led by the unit: the schema's, and one by operation too.
struct UnitIndex {
    const char* name;
    const char* columns;
};
constexpr UnitIndex UnitIndexes[] = {{"records_unit", "(unit, started_ms)"},
                                     {"records_unit_operation", "(unit, operation, started_ms)"}};

// Makes the line's records carry the first `kept` of UnitIndexes and not the others.
bool KeepUnitIndexes(QSqlDatabase& db, std::size_t kept) {
    for (std::size_t i = 0; i < std::size(UnitIndexes); ++i) {
        const QString name = QLatin1String(UnitIndexes[i].name);
        if (!Exec(db, i < kept ? QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON records %2")
                                     .arg(name, QLatin1String(UnitIndexes[i].columns))
                               : QStringLiteral("DROP INDEX IF EXISTS %1").arg(name)))
            return false;
    }
    return Exec(db, QStringLiteral("ANALYZE records"));
}

struct Entries {
    std::vector<double> seconds;
    int entered = 0, refused = 0, other = 0;
};

// Asks `probes` random units of the line's `units` for their last operation
// through the store, and gives each one that entered back (not timed).
bool EnterThroughStore(RecordStore& store, int units, int probes, Entries& entries) {
    for (int p = 0; p < probes; ++p) {
        const EntryRequest request = Final(QRandomGenerator::global()->bounded(units));
        const Stopwatch watch;
        const StoreResult<EntryDecision> decided = store.Entries().Enter(request);
        entries.seconds.push_back(watch.wallSeconds());
        if (!decided) {
            std::fprintf(stderr, "%s\n", qPrintable(decided.error().Text()));
            return false;
        }
        ++(decided->verdict == EntryVerdict::Entered   ? entries.entered
           : decided->verdict == EntryVerdict::Refused ? entries.refused
                                                       : entries.other);
        if (decided->verdict == EntryVerdict::Entered &&
            !store.Entries().Leave({request, RecordOutcome::Aborted, NewId(), "bench", request.enteredMs}))
            return false;
    }
    return true;
}

void PrintEntries(const char* how, const Entries& e) {
    std::printf("%s: %.2f ms (median of %zu; at most 5): %d entered, %d refused, %d not checked\n", how,
                Median(e.seconds) * 1e3, e.seconds.size(), e.entered, e.refused, e.other);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int probes = 400, writes = 300, passes = 600, rounds = 3;
    const std::optional<LineBenchArgs> args = ReadLineBenchArgs(
        argc, argv, {{"--probes", &probes}, {"--writes", &writes}, {"--passes", &passes}, {"--rounds", &rounds}});
    if (!args)
        return 0;
    const auto& [count, keep, admin] = *args;
    const std::optional<BenchLine> line =
        OpenBenchLine(admin, QStringLiteral("tamrisk_bench_entry_%1").arg(count), count, keep, LineRuns::Process);
    if (!line)
        return 1;
    const int units = count / 4;
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(line->location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return 1;
    }
    std::vector<RouteStep> route = {{"board", 3}, {"burn-in", 2}, {"fiscal", 3}, {"final", 3}};
    for (const char* product : {"FP-3", "FP-3-KZ"}) {
        if (!store.Routes().Set(product, route, {"bench", "bench", QDateTime::currentMSecsSinceEpoch()})) {
            std::fprintf(stderr, "cannot set the routes\n");
            return 1;
        }
    }
    QSqlDatabase db;
    if (!RecordStore::AddConnection(line->location, QStringLiteral("bench"), db) || !db.open())
        return 1;
    // What an earlier run of the bench left: the line's own runs stay as filled.
    if (!Exec(db, QStringLiteral("SET client_min_messages TO warning")) ||
        !Exec(db, QStringLiteral("DELETE FROM units_in_test")) || !Exec(db, QStringLiteral("DELETE FROM ended_runs")) ||
        !KeepUnitIndexes(db, 1))
        return 1;

    // 1. The entry as a process sees it, the store's way and the front ends' in turn.
    {
        Entries direct, threaded;
        UnitEntries entries(line->location);
        ConsoleHost host(std::cerr);
        OutOfReachWait wait;
        wait.limit = std::chrono::seconds(10);
        for (int p = 0; p < probes; ++p) {
            if (!EnterThroughStore(store, units, 1, direct))
                return 1;
            const EntryRequest request = Final(QRandomGenerator::global()->bounded(units));
            const Stopwatch watch;
            const UnitEntry entry = entries.Enter(host, request, wait);
            threaded.seconds.push_back(watch.wallSeconds());
            ++(entry.kind == UnitEntry::Kind::Entered   ? threaded.entered
               : entry.kind == UnitEntry::Kind::Refused ? threaded.refused
                                                        : threaded.other);
            if (entry.kind == UnitEntry::Kind::Entered && !entries.Leave(request, RecordOutcome::Aborted, "bench"))
                return 1;
        }
        std::printf("the line: %d runs of %d units, routes of %zu operations\n", count, units, route.size());
        PrintEntries("entry, the records store's Enter", direct);
        PrintEntries("entry, UnitEntries::Enter (its own thread)", threaded);
    }

    // 2. The indexes led by the unit: the entry without them, and what they cost a write.
    {
        struct Set {
            const char* name;
            std::size_t kept;
            std::vector<double> writes;
            Entries entries;
        };
        std::vector<Set> sets = {{"records_unit and records_unit_operation", 2, {}, {}},
                                 {"records_unit (the schema's)", 1, {}, {}},
                                 {"neither", 0, {}, {}}};
        const auto write = [&](Set& set) {
            RecordHeader header;
            header.kind = "run";
            header.station = "bench";
            header.operation = "board";
            header.product = "FP-3";
            for (int w = 0; w < writes; ++w) {
                header.id = NewId();
                header.unit = "NEW-" + header.id.substr(0, 8);
                header.startedMs = QDateTime::currentMSecsSinceEpoch();
                header.outcome.reset();
                const Stopwatch watch;
                const bool begun = static_cast<bool>(store.Begin(header));
                header.outcome = RecordOutcome::Pass;
                header.durationMs = 1;
                if (!begun || !store.Finish(header))
                    return false;
                set.writes.push_back(watch.wallSeconds());
            }
            return true;
        };
        // Rounds of writes taken with each set in turn, there and back, so that
        // a drift of the machine's speed tilts no ratio; the entry without an
        // index reads the whole table, so it is asked a few times only.
        for (int round = 0; round < rounds; ++round) {
            for (int k = 0; k < 2 * static_cast<int>(sets.size()); ++k) {
                Set& set = sets[k < 3 ? k : 5 - k];
                if (!KeepUnitIndexes(db, set.kept) || !write(set) ||
                    !EnterThroughStore(store, units, set.kept > 0 ? probes / rounds / 2 : 1, set.entries))
                    return 1;
            }
        }
        if (!KeepUnitIndexes(db, 1))
            return 1;
        for (const Set& set : sets)
            std::printf("indexes led by the unit: %s: the entry %.2f ms (median of %zu), a record's Begin+Finish "
                        "%.3f ms (median of %zu)\n",
                        set.name, Median(set.entries.seconds) * 1e3, set.entries.seconds.size(),
                        Median(set.writes) * 1e3, set.writes.size());
        std::printf("a record's write with records_unit over with neither: %.3f; with records_unit_operation too "
                    "over with records_unit: %.3f\n",
                    Median(sets[1].writes) / Median(sets[2].writes), Median(sets[0].writes) / Median(sets[1].writes));
    }

    // 3. A wire-paced run through tamrisk-cli with its unit's entry and without.
    {
        Simulator sim({"--baud", "115200"});
        QTemporaryDir dir;
        const QString scriptPath = dir.filePath("bench.inp");
        WriteBlockReadScript(scriptPath, "Final test", passes);
        // Units that passed board, burn-in and fiscal, one a run: every run with the entry enters.
        QSqlQuery ready(db);
        ready.prepare(QStringLiteral("SELECT unit FROM records WHERE started_ms >= ? AND operation <> 'final'"
                                     " GROUP BY unit HAVING COUNT(*) = 3 AND MIN(outcome) = 'pass'"
                                     " AND MAX(outcome) = 'pass' AND MIN(product) = 'FP-3'"));
        ready.addBindValue(line->endMs - 2000 * LineRunEveryMs);
        std::vector<std::string> readyUnits;
        if (ready.exec())
            while (ready.next())
                readyUnits.push_back(ready.value(0).toString().toStdString());
        if (readyUnits.size() < static_cast<std::size_t>(2 * rounds)) {
            std::fprintf(stderr, "too few units ready for final\n");
            return 1;
        }
        qputenv("TAMRISK_LOCAL_RECORDS", dir.filePath("local.sqlite").toLocal8Bit());
        const std::string logPath = dir.filePath("run.log").toStdString();
        std::vector<double> seconds[2];
        std::string order, failed;
        std::size_t next = 0;
        const auto run = [&](bool entered) {
            std::vector<std::string> argv = {TAMRISK_CLI_PATH, "run", "--port", sim.port(), "--speed", "115200",
                                             "--color", "never", "--records", line->location.toStdString(), "--unit",
                                             readyUnits[next++]};
            if (entered)
                argv.insert(argv.end(), {"--product", "FP-3", "--operation", "final"});
            argv.push_back(scriptPath.toStdString());
            const ChildRun child = Spawn(argv, logPath);
            const int status = WIFEXITED(child.status) ? WEXITSTATUS(child.status) : -1;
            if (status != 0)
                failed += " " + std::to_string(status) + (entered ? " (with)" : " (without)");
            seconds[entered].push_back(child.wallSeconds);
            char text[32];
            std::snprintf(text, sizeof text, " %s %.3f", entered ? "with" : "without", child.wallSeconds);
            order += text;
        };
        for (int round = 0; round < rounds; ++round)
            run(false), run(true), run(true), run(false);
        std::printf("tamrisk-cli run, %d passes of 2 block reads at 115200 bit/s, records sent on to the line:%s s%s%s\n",
                    passes, order.c_str(), failed.empty() ? "" : "; exit status", failed.c_str());
        // Each run with the entry over the run without it beside it: a drift of
        // the machine's speed between rounds tilts no pair.
        std::vector<double> pairs, extra;
        for (std::size_t i = 0; i < seconds[0].size(); ++i) {
            pairs.push_back(seconds[1][i] / seconds[0][i]);
            extra.push_back(seconds[1][i] - seconds[0][i]);
        }
        std::printf("a run with its unit's entry over one without: %.4f (medians of %d; at most 1.01); "
                    "median of the %zu pairs %.4f, %.3f s more\n",
                    Median(seconds[1]) / Median(seconds[0]), 2 * rounds, pairs.size(), Median(pairs), Median(extra));
    }
    return 0;
}
