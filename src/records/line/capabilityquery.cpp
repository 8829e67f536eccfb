// The values of the numeric checks of a period's runs, read from the checks'
// table with their runs, for ComputeCapabilities. Engineering runs are left out.

#include "recordqueries.h"

#include "answercheck.h"
#include "recordrows.h"

#include <QSqlQuery>

namespace tamrisk {

StoreResult<CapabilityReport> RecordQueries::Capability(const CapabilityQuery& query) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    Conditions c{QStringLiteral("SELECT c.name, c.op, c.low, c.high, c.units, c.value, c.seq, r.id, r.unit, r.station,"
                                " r.started_ms, r.outcome FROM record_checks c JOIN records r ON r.id = c.record_id"
                                " WHERE r.kind = 'run' AND NOT r.engineering AND r.started_ms >= ? AND r.started_ms < ?"
                                " AND c.op IN ('<', '<=', '>', '>=', 'in')"),
                 {query.sinceMs, query.untilMs}};
    c.Where(!query.name.empty(), "c.name = ?", Utf8(query.name));
    c.Where(!query.product.empty(), "r.product = ?", Utf8(query.product));
    c.Where(!query.operation.empty(), "r.operation = ?", Utf8(query.operation));
    c.Where(!query.station.empty(), "r.station = ?", Utf8(query.station));
    QSqlQuery q(m_c.Db());
    q.setForwardOnly(true);
    if (StoreResult<void> selected = m_c.Select(q, c.sql, c.values, 0); !selected)
        return selected.error();
    std::vector<MeasuredCheck> checks;
    while (q.next()) {
        MeasuredCheck check;
        check.name = Utf8From(q.value(0));
        const std::optional<CheckOperator> op = CheckOperatorFromText(Utf8From(q.value(1)));
        if (!q.value(2).isNull())
            check.limits.low = q.value(2).toDouble();
        if (!q.value(3).isNull())
            check.limits.high = q.value(3).toDouble();
        check.limits.lowStrict = op == CheckOperator::Greater;
        check.limits.highStrict = op == CheckOperator::Less;
        check.limits.units = Utf8From(q.value(4));
        if (!q.value(5).isNull())
            check.value = ReadCheckNumber(Utf8From(q.value(5)));
        check.seq = q.value(6).toInt();
        check.run.recordId = Utf8From(q.value(7));
        check.run.unit = Utf8From(q.value(8));
        check.run.station = Utf8From(q.value(9));
        check.run.startedMs = q.value(10).toLongLong();
        const std::optional<RecordOutcome> outcome = OutcomeFrom(q.value(11));
        check.run.runFailed = outcome == RecordOutcome::Fail || outcome == RecordOutcome::Error;
        checks.push_back(std::move(check));
    }
    return CapabilityReport{query, ComputeCapabilities(std::move(checks), query.values)};
}

}  // namespace tamrisk
