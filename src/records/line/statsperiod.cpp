#include "statsperiod.h"

#include "recordqueries.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <tuple>

namespace tamrisk {

std::optional<qint64> ParseRecordsTime(const std::string& text, bool dayEnd, bool local) {
    const QString given = QString::fromStdString(text);
    // A day alone reads as a time too (its midnight), and a time as its day:
    // told apart by length.
    const QDate day = given.size() == 10 ? QDate::fromString(given, Qt::ISODate) : QDate();
    QDateTime when = day.isValid() ? QDateTime(dayEnd ? day.addDays(1) : day, QTime(0, 0))
                                   : QDateTime::fromString(given, Qt::ISODateWithMs);
    if (!when.isValid())
        return std::nullopt;
    if (when.timeSpec() == Qt::LocalTime && !local)
        when.setTimeZone(QTimeZone::utc());
    return when.toMSecsSinceEpoch();
}

std::string ParseStatsQuery(const std::function<std::optional<std::string>(const char*)>& value, qint64 nowMs,
                            StatsQuery& query, const std::string& prefix) {
    query.sinceMs = QDateTime(QDateTime::fromMSecsSinceEpoch(nowMs).date(), QTime(0, 0)).toMSecsSinceEpoch();
    query.untilMs = nowMs;
    for (const auto& [name, dayEnd, bound] :
         {std::tuple("since", false, &query.sinceMs), std::tuple("until", true, &query.untilMs)}) {
        if (const auto text = value(name)) {
            const auto ms = ParseRecordsTime(*text, dayEnd, true);
            if (!ms)
                return prefix + name + " takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS (local time unless it ends in Z)";
            *bound = *ms;
        }
    }
    if (query.untilMs <= query.sinceMs)
        return "the period ends before it begins";
    query.station = value("station").value_or("");
    query.operation = value("operation").value_or("");
    query.product = value("product").value_or("");
    return {};
}

}  // namespace tamrisk
