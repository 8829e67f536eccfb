#include "entrystore.h"

#include "recordrows.h"
#include "recordwriter.h"

#include <QSqlQuery>
#include <QSysInfo>

#include <algorithm>

#include <unistd.h>

namespace tamrisk {

namespace {

// A unit's runs as the line knows them, each once, for the statements after
// it: its run records, and the ends its stations kept as they gave it back
// for the runs whose record has not reached these records yet (a station
// forwards its records later). Once a record is here, it is the one read.
// Binds the unit twice.
constexpr const char* UnitRunsSql =
    "WITH unit_runs AS (SELECT id AS record_id, operation, product, outcome, station, started_ms FROM records"
    " WHERE unit = ? AND kind = 'run'"
    " UNION ALL SELECT record_id, operation, product, outcome, station, started_ms FROM ended_runs AS e"
    " WHERE unit = ? AND NOT EXISTS (SELECT 1 FROM records AS r WHERE r.id = e.record_id)) ";

// `sql` reading the unit's runs as unit_runs.
QString WithUnitRuns(const char* sql) { return QLatin1String(UnitRunsSql) + QLatin1String(sql); }

// Everything an entry decides on, in one statement: a row per fact, its kind first.
constexpr const char* EntryFactsSql =
    "SELECT 'route', operation, '', '', '', CAST(retest_limit AS BIGINT), CAST(seq AS BIGINT)"
    " FROM routes WHERE product = ?"
    " UNION ALL SELECT 'first', product, '', '', '', 0, 0 FROM"
    " (SELECT product FROM unit_runs WHERE product <> '' ORDER BY started_ms LIMIT 1) AS first_run"
    " UNION ALL SELECT 'run', operation, outcome, station, record_id, started_ms, 0 FROM unit_runs"
    " WHERE outcome IS NOT NULL AND operation IN (SELECT operation FROM routes WHERE product = ?)"
    " UNION ALL SELECT 'hold', operation, reason, station, record_id, held_ms, 0 FROM unit_holds"
    " WHERE unit = ? AND released_ms IS NULL"
    " UNION ALL SELECT 'test', operation, station, port, record_id, entered_ms, 0 FROM units_in_test WHERE unit = ?";

// What a leaving run's hold decides on: the operation's limit, the unit's
// ended runs of it (the leaving one too), its last release and whether it is on hold.
constexpr const char* LeaveFactsSql =
    "SELECT 'limit', '', CAST(retest_limit AS BIGINT) FROM routes WHERE product = ? AND operation = ?"
    " UNION ALL SELECT 'run', outcome, started_ms FROM unit_runs WHERE operation = ? AND outcome IS NOT NULL"
    " UNION ALL SELECT 'released', '', MAX(released_ms) FROM unit_holds WHERE unit = ?"
    " UNION ALL SELECT 'held', '', COUNT(*) FROM unit_holds WHERE unit = ? AND released_ms IS NULL";

}  // namespace

EntryStore::EntryStore(StoreConnection& connection) : m_c(connection) {}

bool EntryStore::ReadFacts(const EntryRequest& request, EntryFacts& facts, QSqlError& failure) {
    const QVariant unit = Utf8(request.unit), product = Utf8(request.product);
    QSqlQuery query(m_c.Db());
    if (!m_c.Run(query, WithUnitRuns(EntryFactsSql), {unit, unit, product, product, unit, unit}, failure))
        return false;
    std::vector<std::pair<qint64, RouteStep>> route;
    while (query.next()) {
        const std::string kind = Utf8From(query.value(0));
        const auto text = [&](int i) { return Utf8From(query.value(i)); };
        const qint64 number = query.value(5).toLongLong();
        if (kind == "route") {
            route.emplace_back(query.value(6).toLongLong(), RouteStep{text(1), static_cast<int>(number)});
        } else if (kind == "first") {
            facts.firstProduct = text(1);
        } else if (kind == "run") {
            UnitRun run{text(1), request.product, text(3), text(4), number,
                        OutcomeFrom(query.value(2)).value_or(RecordOutcome::Error)};
            // The last ended run of each operation is kept.
            const auto known = std::find_if(facts.lastRuns.begin(), facts.lastRuns.end(),
                                            [&](const UnitRun& r) { return r.operation == run.operation; });
            if (known == facts.lastRuns.end())
                facts.lastRuns.push_back(std::move(run));
            else if (known->startedMs < run.startedMs)
                *known = std::move(run);
        } else if (kind == "hold") {
            facts.holds.push_back({text(4), text(1), {}, text(3), text(2), number});
        } else if (kind == "test") {
            facts.inTest = UnitInTest{text(4), text(2), text(3), text(1), {}, number};
        }
    }
    std::sort(route.begin(), route.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [seq, step] : route)
        facts.route.push_back(std::move(step));
    return true;
}

StoreResult<EntryFacts> EntryStore::Facts(const EntryRequest& request) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    EntryFacts facts;
    QSqlError failure;
    if (!ReadFacts(request, facts, failure))
        return m_c.Fail(failure);
    return facts;
}

StoreResult<EntryDecision> EntryStore::Enter(const EntryRequest& request) {
    if (request.product.empty() || request.operation.empty())
        return m_c.IsOpen() ? StoreResult<EntryDecision>(EntryDecision{EntryVerdict::NotChecked, {}}) : m_c.NotOpen();
    EntryDecision decision;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        // Taken first, so that the facts read after it see any other station's
        // entry of the unit: the key lets one in, the other waits for it and finds it.
        QSqlQuery take(m_c.Db());
        if (!m_c.Run(take,
                     QStringLiteral("INSERT INTO units_in_test (unit, record_id, station, port, operation, product,"
                                    " entered_ms, writer_host, writer_pid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                    " ON CONFLICT (unit) DO NOTHING"),
                     {Utf8(request.unit), Utf8(request.recordId), Utf8(request.station), Utf8(request.port),
                      Utf8(request.operation), Utf8(request.product), QVariant(request.enteredMs),
                      Text(QSysInfo::machineHostName()), QVariant(static_cast<qint64>(getpid()))},
                     failure))
            return false;
        const bool took = take.numRowsAffected() > 0;
        EntryFacts facts;
        if (!ReadFacts(request, facts, failure))
            return false;
        decision = DecideEntry(request, facts);
        if (decision.verdict == EntryVerdict::Entered || !took)
            return true;
        QSqlQuery giveBack(m_c.Db());
        return m_c.Run(giveBack, QStringLiteral("DELETE FROM units_in_test WHERE unit = ? AND record_id = ?"),
                       {Utf8(request.unit), Utf8(request.recordId)}, failure);
    });
    if (!written)
        return written.error();
    return decision;
}

StoreResult<std::optional<UnitHold>> EntryStore::Leave(const Leaving& leaving) {
    const EntryRequest& entry = leaving.entry;
    std::optional<UnitHold> hold;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        hold.reset();
        const QVariant unit = Utf8(entry.unit), operation = Utf8(entry.operation);
        QSqlQuery giveBack(m_c.Db());
        if (!m_c.Run(giveBack, QStringLiteral("DELETE FROM units_in_test WHERE unit = ? AND record_id = ?"),
                     {unit, Utf8(entry.recordId)}, failure))
            return false;
        // The run's end, kept here at once: its record may reach these records later.
        QSqlQuery ended(m_c.Db());
        if (!m_c.Run(ended,
                     QStringLiteral("INSERT INTO ended_runs (record_id, unit, operation, product, station, started_ms,"
                                    " outcome) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (record_id) DO NOTHING"),
                     {Utf8(entry.recordId), unit, operation, Utf8(entry.product), Utf8(entry.station),
                      QVariant(entry.enteredMs), OutcomeValue(leaving.outcome)},
                     failure))
            return false;
        if (leaving.outcome != RecordOutcome::Fail && leaving.outcome != RecordOutcome::Error)
            return true;
        QSqlQuery facts(m_c.Db());
        if (!m_c.Run(facts, WithUnitRuns(LeaveFactsSql),
                     {unit, unit, Utf8(entry.product), operation, operation, unit, unit}, failure))
            return false;
        std::optional<int> limit;
        qint64 releasedMs = 0;
        bool held = false;
        std::vector<UnitRun> runs;
        while (facts.next()) {
            const std::string kind = Utf8From(facts.value(0));
            const qint64 number = facts.value(2).toLongLong();
            if (kind == "limit")
                limit = static_cast<int>(number);
            else if (kind == "released")
                releasedMs = number;
            else if (kind == "held")
                held = number > 0;
            else if (kind == "run")
                runs.push_back({entry.operation, entry.product, {}, {}, number,
                                OutcomeFrom(facts.value(1)).value_or(RecordOutcome::Error)});
        }
        std::stable_sort(runs.begin(), runs.end(),
                         [](const UnitRun& a, const UnitRun& b) { return a.startedMs > b.startedMs; });
        const int failures = FailuresInRow(runs, releasedMs);
        if (!limit || held || failures < *limit)
            return true;
        hold = UnitHold{leaving.holdRecordId, entry.operation, leaving.heldBy, entry.station,
                        AutomaticHoldReason(entry.operation, failures, *limit), leaving.endedMs};
        QSqlQuery insert(m_c.Db());
        return m_c.Run(insert,
                       QStringLiteral("INSERT INTO unit_holds (record_id, unit, operation, held_ms, held_by, station,"
                                      " reason) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                       {Utf8(hold->recordId), unit, operation, QVariant(hold->heldMs), Utf8(hold->heldBy),
                        Utf8(hold->station), Utf8(hold->reason)},
                       failure);
    });
    if (!written)
        return written.error();
    return hold;
}

StoreResult<int> EntryStore::FreeAbandoned() {
    int freed = 0;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        freed = 0;
        QSqlQuery mine(m_c.Db());
        if (!m_c.Run(mine, QStringLiteral("SELECT unit, writer_pid FROM units_in_test WHERE writer_host = ?"),
                     {Text(QSysInfo::machineHostName())}, failure))
            return false;
        std::vector<std::pair<QVariant, QVariant>> gone;  // unit, writer's pid
        while (mine.next()) {
            if (ProgramEnded(mine.value(1).toLongLong()))
                gone.emplace_back(mine.value(0), mine.value(1));
        }
        mine.finish();
        QSqlQuery free(m_c.Db());
        free.prepare(QStringLiteral("DELETE FROM units_in_test WHERE unit = ? AND writer_host = ? AND writer_pid = ?"));
        for (const auto& [unit, pid] : gone) {
            free.bindValue(0, unit);
            free.bindValue(1, Text(QSysInfo::machineHostName()));
            free.bindValue(2, pid);
            if (!m_c.Run(free, failure))
                return false;
            freed += free.numRowsAffected() > 0 ? 1 : 0;
        }
        return true;
    });
    if (!written)
        return written.error();
    return freed;
}

}  // namespace tamrisk
