#pragma once
// Questions asked of the records: the list of headers by a filter, page by
// page; a record found by the start of its id; whole records, in batches; the
// claims on serial numbers; the checks of answers across records. Read only.

#include "linestats.h"
#include "record.h"
#include "storeconnection.h"

#include <QString>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tamrisk {

// A record's place in the list's order (newest first, then by id, descending).
struct ListPlace {
    qint64 startedMs = 0;
    std::string id;
};

struct RecordFilter {
    std::string unit{}, serial{}, kind{};  // UTF-8, exact; empty: any
    std::optional<RecordOutcome> outcome{};
    std::optional<qint64> sinceMs{};  // started at or after, UTC ms
    int limit = 20;                   // 0 or less: all
    // Only the records listed after this place: the next page after a page's last record.
    std::optional<ListPlace> after{};
};

// Which claims Claims lists: each given field matched exactly; empty: any.
struct ClaimFilter {
    std::string data{}, unit{}, station{};  // data Windows-1251, as claimed; unit and station UTF-8
    int limit = 20;                         // 0 or less: all
    std::string space{};                    // the number space, Windows-1251
};

// Which checks Checks lists: each given field matched exactly; empty: any.
struct CheckFilter {
    std::string name{}, unit{}, station{};  // UTF-8
    std::optional<CheckResult> result{};
    std::optional<qint64> sinceMs{}, untilMs{};  // the record started at or after, before; UTC ms
    int limit = 20;                              // checks; 0 or less: all
};

// A check as Checks lists it, with the record that made it.
struct CheckRow {
    RecordCheck made;
    std::string recordId, unit, station;  // UTF-8
    qint64 startedMs = 0;                 // the record's start, UTC ms
};

// The period and station that Stats works the line's numbers out for.
struct StatsQuery {
    qint64 sinceMs = 0, untilMs = 0;  // started at or after, before; UTC ms
    std::string station{};            // UTF-8, exact; empty: the whole line
};

// Found: `id` is the one record; Ambiguous: more than one starts so; NotFound:
// none does; Failed: the question could not be asked (`error` says why).
enum class Resolve { Found, Ambiguous, NotFound, Failed };

class RecordQueries {
public:
    // How many records LoadMany reads with one set of queries.
    static constexpr std::size_t LoadBatch = 200;

    explicit RecordQueries(StoreConnection& connection);

    // Headers of the records that match, newest first. `serial`: the records that
    // sent that data. Empty with `error` set on failure.
    std::vector<RecordHeader> List(const RecordFilter& filter, QString& error);
    // The one record whose id starts with `prefix` (any case).
    Resolve ResolveId(const std::string& prefix, std::string& id, QString& error);
    // The whole record; empty when there is none (NotFound) or on failure (`error` says which).
    std::optional<Record> Load(const std::string& id, QString& error);
    // The whole records of `ids` in that order, read LoadBatch at a time; one
    // not there is left out. Empty with `error` set on failure.
    std::vector<Record> LoadMany(std::span<const std::string> ids, QString& error);
    // The claims that match, newest first (then by space and data, descending).
    // Empty with `error` set on failure.
    std::vector<SerialClaimRow> Claims(const ClaimFilter& filter, QString& error);
    // The checks that match, newest record first, each record's in the order
    // made. Empty with `error` set on failure.
    std::vector<CheckRow> Checks(const CheckFilter& filter, QString& error);

    // The line's numbers over a period (see linestats.h), read from the records
    // the tables hold. Empty numbers with `error` set on failure.
    LineStats Stats(const StatsQuery& query, QString& error);

private:
    bool LoadBatchOf(std::span<const std::string> ids, std::vector<Record>& records, QString& error);

    StoreConnection& m_c;
};

}  // namespace tamrisk
