// The CSV reports: record headers, serial-number claims and checks, a row each.

#include "reportfields.h"
#include "reports.h"

namespace tamrisk {

namespace {

// The header fields in the order of the CSV's columns, named as in JSON; a
// column added later goes at the end, so that the others keep their places.
constexpr std::array<const char*, 18> CsvColumns = {
    "id",         "kind",    "station", "operator", "version",       "port", "speed", "started",   "duration_s",
    "outcome",    "reason",  "unit",    "script",   "script_sha256", "exit", "lines", "operation", "product"};

std::array<std::string, CsvColumns.size()> CsvFields(const RecordHeader& h) {
    return {h.id,
            h.kind,
            h.station,
            h.operatorName,
            h.version,
            h.port,
            std::to_string(h.speed),
            IsoUtcMs(h.startedMs),
            Seconds(h.durationMs).toStdString(),
            OutcomeOrEmpty(h).toStdString(),
            h.reason,
            h.unit,
            h.script,
            h.scriptSha256,
            h.exitCode ? std::to_string(*h.exitCode) : std::string(),
            h.lineRange,
            h.operation,
            h.product};
}

// A header row of `columns`, then the fields of each item.
template <typename Columns, typename Items, typename ToFields>
QByteArray CsvTable(const Columns& columns, const Items& items, ToFields toFields) {
    QByteArray out;
    AppendCsvRow(out, std::span<const char* const>(columns));
    for (const auto& item : items) {
        const auto fields = toFields(item);
        AppendCsvRow(out, std::span<const std::string>(fields));
    }
    return out;
}

}  // namespace

QByteArray HeadersCsv(std::span<const RecordHeader> headers) { return CsvTable(CsvColumns, headers, CsvFields); }

QByteArray ClaimsCsv(std::span<const SerialClaimRow> claims) { return CsvTable(ClaimColumns, claims, ClaimFields); }

QByteArray ChecksCsv(std::span<const CheckRow> checks) { return CsvTable(CheckReportColumns, checks, CheckFields); }

QByteArray WipCsv(std::span<const WipCount> counts) {
    return CsvTable(WipColumns, counts, WipFields);
}

QByteArray RoutesCsv(std::span<const Route> routes) {
    std::vector<std::array<std::string, 4>> rows;
    for (const Route& route : routes) {
        for (std::size_t i = 0; i < route.steps.size(); ++i)
            rows.push_back({route.product, std::to_string(i + 1), route.steps[i].operation,
                            std::to_string(route.steps[i].retestLimit)});
    }
    constexpr std::array<const char*, 4> columns = {"product", "step", "operation", "retest_limit"};
    return CsvTable(columns, rows, [](const std::array<std::string, 4>& row) { return row; });
}

QByteArray ReleasesCsv(std::span<const ScriptRelease> releases) {
    constexpr std::array<const char*, 17> columns = {"id",          "product",       "operation", "number",
                                                     "script_name", "script_sha256", "vars_name", "vars_sha256",
                                                     "released_by", "released",      "station",   "approved_by",
                                                     "approved",    "revoked_by",    "revoked",   "revoke_reason",
                                                     "active"};
    const auto time = [](const std::optional<qint64>& ms) { return ms ? IsoUtcMs(*ms) : std::string(); };
    return CsvTable(columns, releases, [&](const ScriptRelease& r) {
        return std::array<std::string, columns.size()>{std::to_string(r.id),
                                                       r.product,
                                                       r.operation,
                                                       std::to_string(r.number),
                                                       r.scriptName,
                                                       r.scriptSha256,
                                                       r.varsName,
                                                       r.varsSha256,
                                                       r.releasedBy,
                                                       IsoUtcMs(r.releasedMs),
                                                       r.station,
                                                       r.approvedBy.value_or(""),
                                                       time(r.approvedMs),
                                                       r.revokedBy.value_or(""),
                                                       time(r.revokedMs),
                                                       r.revokeReason.value_or(""),
                                                       r.active ? "true" : "false"};
    });
}

}  // namespace tamrisk
