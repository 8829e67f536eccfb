// The line's numbers read from the tables: the period's runs with their
// headers, which units were tested before the period, each station's newest
// record, and the cause of every failed run. ComputeLineStats does the sums
// and leaves engineering runs out; what is decided here in SQL (tested before,
// the causes) leaves them out itself.

#include "recordqueries.h"
#include "routestore.h"

#include "failurecause.h"
#include "recordrows.h"

#include <QSqlQuery>

#include <algorithm>
#include <map>
#include <set>

namespace tamrisk {

namespace {

// How many record ids one statement names when the step chunks are read.
constexpr std::size_t IdsAStatement = 200;

}  // namespace

StoreResult<LineStats> RecordQueries::Stats(const StatsQuery& query) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    const QVariantList period = {query.sinceMs, query.untilMs};
    StoreError error;  // the failure of the last select
    auto select = [&](QSqlQuery& q, const QString& sql, QVariantList values) {
        StoreResult<void> selected = m_c.Select(q, sql, std::move(values), 0);
        error = selected.error();
        return bool(selected);
    };

    std::vector<StatsRun> runs;
    // The fail and error runs counted: record id -> the run's place in `runs` and its reason.
    std::map<std::string, std::pair<std::size_t, std::string>> failed;
    {
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral(
                        "SELECT id, station, unit, started_ms, outcome, reason, operation, product, engineering"
                        " FROM records WHERE kind = 'run' AND started_ms >= ? AND started_ms < ?"),
                    period))
            return error;
        while (q.next()) {
            StatsRun run;
            run.id = Utf8From(q.value(0));
            run.station = Utf8From(q.value(1));
            run.unit = Utf8From(q.value(2));
            run.startedMs = q.value(3).toLongLong();
            run.outcome = OutcomeFrom(q.value(4));
            run.operation = Utf8From(q.value(6));
            run.product = Utf8From(q.value(7));
            run.engineering = q.value(8).toBool();
            if (!run.engineering && (run.outcome == RecordOutcome::Fail || run.outcome == RecordOutcome::Error))
                failed.emplace(run.id, std::pair(runs.size(), Utf8From(q.value(5))));
            runs.push_back(std::move(run));
        }
    }

    // Units with a run (not an engineering run) before the period: the index on (unit, started_ms)
    // answers each of the period's units. "LIMIT 1 OFFSET 0" keeps PostgreSQL
    // from turning the question into a join that reads every earlier record
    // (the README's figures of the line's numbers show what it saves).
    std::set<std::string> testedBefore;
    {
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral("SELECT u.unit FROM (SELECT DISTINCT unit FROM records WHERE kind = 'run'"
                                   " AND unit <> '' AND NOT engineering AND started_ms >= ? AND started_ms < ?) u"
                                   " WHERE EXISTS (SELECT 1 FROM records p WHERE p.unit = u.unit AND p.kind = 'run'"
                                   " AND NOT p.engineering AND p.started_ms < ? LIMIT 1 OFFSET 0)"),
                    {query.sinceMs, query.untilMs, query.sinceMs}))
            return error;
        while (q.next())
            testedBefore.insert(Utf8From(q.value(0)));
    }
    // The same for each unit's operations: which of them it ran before the period.
    std::set<std::pair<std::string, std::string>> operationTestedBefore;
    {
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral("SELECT u.unit, u.operation FROM (SELECT DISTINCT unit, operation FROM records"
                                   " WHERE kind = 'run' AND unit <> '' AND operation <> '' AND NOT engineering"
                                   " AND started_ms >= ? AND started_ms < ?) u WHERE EXISTS (SELECT 1 FROM records p"
                                   " WHERE p.unit = u.unit AND p.kind = 'run' AND p.operation = u.operation"
                                   " AND NOT p.engineering AND p.started_ms < ? LIMIT 1 OFFSET 0)"),
                    {query.sinceMs, query.untilMs, query.sinceMs}))
            return error;
        while (q.next())
            operationTestedBefore.emplace(Utf8From(q.value(0)), Utf8From(q.value(1)));
    }
    for (StatsRun& run : runs) {
        run.testedBefore = testedBefore.count(run.unit) > 0;
        run.operationTestedBefore = operationTestedBefore.count({run.unit, run.operation}) > 0;
    }

    std::vector<StationLast> last;
    {
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral("SELECT station, MAX(started_ms) FROM records"
                                   " WHERE started_ms >= ? AND started_ms < ? GROUP BY station"),
                    period))
            return error;
        while (q.next())
            last.push_back({Utf8From(q.value(0)), q.value(1).toLongLong()});
    }

    // The failed runs' causes, told their checks in order, then, for those no
    // check caused, their steps.
    std::map<std::string, FailureCause> causes;
    {
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral("SELECT c.record_id, c.name, c.result FROM record_checks c"
                                   " JOIN records r ON r.id = c.record_id"
                                   " WHERE r.kind = 'run' AND r.outcome IN ('fail', 'error') AND NOT r.engineering"
                                   " AND r.started_ms >= ? AND r.started_ms < ? ORDER BY c.record_id, c.seq"),
                    period))
            return error;
        while (q.next()) {
            CheckOutcome check;
            check.name = Utf8From(q.value(1));
            check.result = CheckResultFromText(Utf8From(q.value(2))).value_or(CheckResult::Error);
            causes[Utf8From(q.value(0))].Check(check);
        }
    }
    // The step chunks of the others, read in order, each run's only until its red step.
    std::vector<std::string> unnamed;
    for (const auto& [id, at] : failed) {
        if (!causes[id].CausingCheck())
            unnamed.push_back(id);
    }
    for (std::size_t from = 0; from < unnamed.size(); from += IdsAStatement) {
        const std::size_t count = std::min(IdsAStatement, unnamed.size() - from);
        QVariantList ids;
        for (std::size_t i = 0; i < count; ++i)
            ids.push_back(Utf8(unnamed[from + i]));
        QSqlQuery q(m_c.Db());
        if (!select(q,
                    QStringLiteral("SELECT record_id, steps FROM record_step_chunks WHERE record_id IN (") +
                        Placeholders(count) +
                        QStringLiteral(") ORDER BY record_id, seq"),
                    ids))
            return error;
        while (q.next()) {
            const std::string id = Utf8From(q.value(0));
            FailureCause& cause = causes[id];
            if (cause.HasRedStep())
                continue;
            std::vector<RecordStep> steps;
            if (!ReadStepChunk(BytesFrom(q.value(1)), steps)) {
                return m_c.Fail(StoreError::Kind::StatementFailed, QStringLiteral("the steps of record ") +
                                                                       QString::fromStdString(id) +
                                                                       QStringLiteral(" cannot be read"));
            }
            for (const RecordStep& step : steps)
                cause.Step(step);
        }
    }
    for (const auto& [id, run] : failed)
        runs[run.first].cause = causes[id].Name(run.second);
    StoreResult<std::vector<Route>> routes = RouteStore(m_c).Routes();
    if (!routes)
        return routes.error();
    return ComputeLineStats(std::move(runs), last, query, *routes);
}

}  // namespace tamrisk
