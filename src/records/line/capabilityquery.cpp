// The values of the numeric checks of a period's runs, for
// ComputeCapabilities: the period's runs first (by the index on started_ms),
// then their checks by their records' keys, a batch of runs a statement.
// Joined in one statement, PostgreSQL reads the whole checks' table into a
// hash instead of probing it run by run (a day of a line of a million runs
// with five checks each: 1.6 s against 0.1 s). Engineering runs are left out.

#include "recordqueries.h"

#include "answercheck.h"
#include "recordrows.h"

#include <QSqlQuery>

#include <algorithm>
#include <unordered_map>

namespace tamrisk {

namespace {

// How many runs' checks one statement reads.
constexpr std::size_t RunsAStatement = 500;

}  // namespace

StoreResult<CapabilityReport> RecordQueries::Capability(const CapabilityQuery& query) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    Conditions c{QStringLiteral("SELECT id, unit, station, started_ms, outcome FROM records"
                                " WHERE kind = 'run' AND NOT engineering AND started_ms >= ? AND started_ms < ?"),
                 {query.sinceMs, query.untilMs}};
    c.Where(!query.product.empty(), "product = ?", Utf8(query.product));
    c.Where(!query.operation.empty(), "operation = ?", Utf8(query.operation));
    c.Where(!query.station.empty(), "station = ?", Utf8(query.station));
    const auto select = [this](QSqlQuery& q, const Conditions& statement) {
        q.setForwardOnly(true);
        return m_c.Select(q, statement.sql, statement.values, 0);
    };
    std::vector<MeasuredValue> runs;
    std::unordered_map<std::string, std::size_t> runOf;  // record id -> its place in runs
    {
        QSqlQuery q(m_c.Db());
        if (StoreResult<void> selected = select(q, c); !selected)
            return selected.error();
        while (q.next()) {
            MeasuredValue run;
            run.recordId = Utf8From(q.value(0));
            run.unit = Utf8From(q.value(1));
            run.station = Utf8From(q.value(2));
            run.startedMs = q.value(3).toLongLong();
            const std::optional<RecordOutcome> outcome = OutcomeFrom(q.value(4));
            run.runFailed = outcome == RecordOutcome::Fail || outcome == RecordOutcome::Error;
            runOf.emplace(run.recordId, runs.size());
            runs.push_back(std::move(run));
        }
    }
    std::vector<MeasuredCheck> checks;
    for (std::size_t from = 0; from < runs.size(); from += RunsAStatement) {
        const std::size_t count = std::min(RunsAStatement, runs.size() - from);
        Conditions batch{QStringLiteral("SELECT record_id, name, op, low, high, units, value, seq FROM record_checks"
                                        " WHERE op IN ('<', '<=', '>', '>=', 'in') AND record_id IN (") +
                             Placeholders(count) + u')',
                         {}};
        for (std::size_t i = 0; i < count; ++i)
            batch.values.push_back(Utf8(runs[from + i].recordId));
        batch.Where(!query.name.empty(), "name = ?", Utf8(query.name));
        QSqlQuery q(m_c.Db());
        if (StoreResult<void> selected = select(q, batch); !selected)
            return selected.error();
        while (q.next()) {
            MeasuredCheck check;
            check.run = runs[runOf.at(Utf8From(q.value(0)))];
            check.name = Utf8From(q.value(1));
            const std::optional<CheckOperator> op = CheckOperatorFromText(Utf8From(q.value(2)));
            if (!q.value(3).isNull())
                check.limits.low = q.value(3).toDouble();
            if (!q.value(4).isNull())
                check.limits.high = q.value(4).toDouble();
            check.limits.lowStrict = op == CheckOperator::Greater;
            check.limits.highStrict = op == CheckOperator::Less;
            check.limits.units = Utf8From(q.value(5));
            if (!q.value(6).isNull())
                check.value = ReadCheckNumber(Utf8From(q.value(6)));
            check.seq = q.value(7).toInt();
            checks.push_back(std::move(check));
        }
    }
    return CapabilityReport{query, ComputeCapabilities(std::move(checks), query.values)};
}

}  // namespace tamrisk
