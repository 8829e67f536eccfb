#pragma once
// The period, station, operation and product the line's numbers are asked for,
// read from the text a front end was given: tamrisk-cli's options (--since,
// --until, --station, --operation, --product) and the dashboard's query string
// (since, until, station, operation, product) read it one way.

#include <QtGlobal>

#include <functional>
#include <optional>
#include <string>

namespace tamrisk {

struct StatsQuery;

// A time as records are asked for: "YYYY-MM-DD", or with a time
// "YYYY-MM-DDTHH:MM[:SS[.mmm]]", UTC (local time with `local`) unless it names
// its zone (Z, +02:00); ms since the epoch. A day alone is its start, or with `dayEnd` the start of the
// next day, so that --until takes in the whole day. Empty for other text.
std::optional<qint64> ParseRecordsTime(const std::string& text, bool dayEnd, bool local = false);

// The period, station, operation and product of the line's numbers from
// `value` (the text given for "since", "until", "station", "operation" and
// "product", or none): a date or date and time as
// ParseRecordsTime reads it, but local time unless it names its zone; by
// default from local midnight today until `nowMs`. The usage problem (naming
// the parameter after `prefix`: "--" for an option), or empty.
std::string ParseStatsQuery(const std::function<std::optional<std::string>(const char*)>& value, qint64 nowMs,
                            StatsQuery& query, const std::string& prefix);

}  // namespace tamrisk
