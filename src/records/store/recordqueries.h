#pragma once
// Questions asked of the records: the list of headers by a filter, page by
// page; a record found by the start of its id; whole records, in batches; the
// claims on serial numbers; the checks of answers across records. Read only.

#include "capability.h"
#include "linestats.h"
#include "record.h"
#include "storeconnection.h"
#include "unithistory.h"
#include "workinprogress.h"

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
    std::string operation{}, product{};    // UTF-8, exact; empty: any
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
    std::string operation{}, product{};     // of the record; UTF-8
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

// Found: `id` is the one record; Ambiguous: more than one starts so; NotFound: none does.
enum class Resolve { Found, Ambiguous, NotFound };

struct ResolvedId {
    Resolve resolve = Resolve::NotFound;
    std::string id;  // the one record found
};

class RecordQueries {
public:
    // How many records LoadMany reads with one set of queries.
    static constexpr std::size_t LoadBatch = 200;

    explicit RecordQueries(StoreConnection& connection);

    // Headers of the records that match, newest first. `serial`: the records that
    // sent that data.
    StoreResult<std::vector<RecordHeader>> List(const RecordFilter& filter);
    // The one record whose id starts with `prefix` (any case).
    StoreResult<ResolvedId> ResolveId(const std::string& prefix);
    // The whole record; a failure of kind NotFound when there is none.
    StoreResult<Record> Load(const std::string& id);
    // The whole records of `ids` in that order, read LoadBatch at a time; one
    // not there is left out.
    StoreResult<std::vector<Record>> LoadMany(std::span<const std::string> ids);
    // The claims that match, newest first (then by space and data, descending).
    StoreResult<std::vector<SerialClaimRow>> Claims(const ClaimFilter& filter);
    // The checks that match, newest record first, each record's in the order made.
    StoreResult<std::vector<CheckRow>> Checks(const CheckFilter& filter);

    // The line's numbers over a period (see linestats.h), read from the records
    // the tables hold.
    StoreResult<LineStats> Stats(const StatsQuery& query);
    // The capability of every numeric check of a period's runs (see capability.h).
    StoreResult<CapabilityReport> Capability(const CapabilityQuery& query);

    // Every run, refusal, hold and release of `unit` (UTF-8, exact) on the
    // records' line, oldest first (see unithistory.h).
    StoreResult<std::vector<UnitEvent>> History(const std::string& unit);
    // The work in progress (see workinprogress.h) of every product with a route,
    // or of `product` alone when given.
    StoreResult<std::vector<WipCount>> Wip(const std::string& product);

private:
    StoreResult<void> LoadBatchOf(std::span<const std::string> ids, std::vector<Record>& records);

    StoreConnection& m_c;
};

}  // namespace tamrisk
