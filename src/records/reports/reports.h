#pragma once
// Reports over records, for people and for CI: JSON, CSV, JUnit XML and a
// record's HTML page (a source file each). Pure functions of the records handed in; they read no
// database and write no file. Every report is UTF-8: the Windows-1251 bytes of
// the log and the steps are decoded on the way.

#include "process.h"
#include "record.h"
#include "recordstore.h"

#include <QByteArray>
#include <QString>

#include <span>
#include <string>

namespace tamrisk {

// ISO 8601 in UTC with milliseconds, e.g. "2026-12-08T16:07:08.123Z".
std::string IsoUtcMs(qint64 msSinceEpoch);

// A JSON array with one object of header fields per record (`id`, `kind`,
// `station`, `operator`, `version`, `port`, `speed`, `started`, `duration_s`,
// `outcome`, `reason`, `unit`, `script`, `script_sha256`, `exit`, `lines`,
// `operation`, `product`), in the order given. `outcome` is null while the
// record is in progress, `exit` null when the program gave no exit status,
// `lines` (a run's line range, "4-9") null for a whole run, `operation` and
// `product` null where the record named none.
QByteArray HeadersJson(std::span<const RecordHeader> headers);
// One record as an object: the header fields, then `log` ([{"t_ms", "colour",
// "text"}]), `serials` ([{"space", "data", "line", "result"}]), `images`
// ([{"kind", "length", "sha256", "file"}]) and `steps` ([{"line", "command",
// "data", "status", "answer", "result", "attempts", "t_ms", "duration_ms"}] in
// the order sent; `line` null for none, `status` "21,00,00,00,00,3A" or null
// when no valid answer came; a bulk read's phase adds "transactions" and
// "failures"). A record that made checks adds `checks` ([{"name", "line",
// "field", "op", "expected", "low", "high", "units", "value", "result", "step"}]
// in the order made; null where a check has none; `result` "pass", "fail" or
// "error"; `step` the index in `steps` of the step it judged).
QByteArray RecordJson(const Record& record);
// A JSON array of whole records, each as RecordJson writes one.
QByteArray RecordsJson(std::span<const Record> records);

// The header fields as CSV: a header row with the JSON names (in that order),
// then one row a record; fields quoted as RFC 4180 says, lines ending in CR LF.
QByteArray HeadersCsv(std::span<const RecordHeader> headers);

// JUnit XML as Jenkins and GitLab read it: `testsuites` with one `testsuite`
// per record. A run's or command's suite has one `testcase` per step, named
// "line N: CMD,DATA" (N the script line, or a command's place): a refused,
// unanswered or badly answered step is a `failure` whose text names the status
// bits set ("No valid answer from the printer" without a valid answer), a step
// that sent nothing an `error`. A record without steps (from an older file) has
// a testcase per transaction of its log instead (a request line and its answer
// line): a red answer line is a `failure` whose text names the answer's set
// status bits; a request left without an answer is an `error`. A bulk read (a
// memory, the journal) is one testcase of its kind. An aborted operation, or an error before it could
// start, adds an `error`; a failed one without a failing transaction (a red
// line of its own) adds a `failure`, so a suite fails exactly when its record
// does. After them, a `testcase` per check, named by its name: a failed
// check a `failure`, one that could not be read an `error`, each with the
// check's message ("expected ..., got ..."). `system-out` holds the whole log.
QByteArray RecordsJUnit(std::span<const Record> records);

// One record as a page a person reads and prints: its header, verdict, checks,
// serial numbers, steps and log (each line in its colour), UTF-8 HTML with
// every text of the record escaped. It uses only the dashboard's style sheet
// (/dashboard.css) and links back to the line's page (/), as the dashboard
// serves it.
QByteArray RecordHtml(const Record& record);
// A page of the same look titled `title` that says `text` (both escaped) and
// links back to the line's page: what is shown where a record cannot be.
QByteArray MessageHtml(const QString& title, const QString& text);

// The claims on serial numbers, in the order given: a JSON array with one object
// per claim (`space`, `data`, `station`, `unit`, `claimed`, `record`), and CSV
// with those columns, quoted and ended as HeadersCsv's.
QByteArray ClaimsJson(std::span<const SerialClaimRow> claims);
QByteArray ClaimsCsv(std::span<const SerialClaimRow> claims);
// Products' routes: JSON, an object a product with its operations in order
// ({"product", "operations": [{"operation", "retest_limit"}]}); CSV, a row an
// operation (product, step from 1, operation, retest_limit).
QByteArray RoutesJson(std::span<const Route> routes);
QByteArray RoutesCsv(std::span<const Route> routes);
// The people who use the stations, in the order given, never a PIN's hash:
// JSON, an object a person (`id`, `name`, `role`, `disabled`, `failed_pins`,
// `locked_until` as `started` is written, null when no lock was ever set,
// `added`); CSV with those columns, `disabled` "true" or "false".
QByteArray OperatorsJson(std::span<const Operator> people);
QByteArray OperatorsCsv(std::span<const Operator> people);

// Checks as RecordQueries::Checks lists them, in the order given: a JSON array
// with one object a check (its keys as in RecordJson's `checks`, then `record`,
// `unit`, `station`, `started`), and CSV with the columns `record`, `started`,
// `unit`, `station`, `name`, `line`, `field`, `op`, `expected`, `low`, `high`,
// `units`, `value`, `result`, `step` (numbers as numbers, empty for none),
// quoted and ended as HeadersCsv's.
QByteArray ChecksJson(std::span<const CheckRow> checks);
QByteArray ChecksCsv(std::span<const CheckRow> checks);

// The line's numbers as one JSON object: `since`, `until` (as `started` is
// written), `station` (null for the whole line), the line's numbers (`units`,
// `runs`, `runs_without_unit`, `outcomes` {pass, fail, error, aborted,
// running}, `first_runs` (the same, of the units' first-ever runs),
// `first_pass_yield`, `final_yield`, `runs_per_unit` (null without a unit),
// `retested_units`), `stations` (a list of the same numbers with `station`,
// `last_record`, `usual_gap_s` (null when not known) and `silent`), `pareto`
// ([{"cause", "count"}]), `per_hour` ([{"hour", "station", "units"}]),
// `operation` and `product` (those asked for; null for any), `operations`
// ([{"product", "operation", "units", "runs", "first_runs", "first_pass_yield",
// "final_yield"}]; product null for none) and `products` ([{"product",
// "route", "rolled_throughput_yield"}]). Yields are null where there is none.
QByteArray StatsJson(const LineStats& stats);
// The same as CSV: a row for the line (station empty) and one a station, with
// the columns `station`, `units`, `runs`, `runs_without_unit`, `pass`, `fail`,
// `error`, `aborted`, `running`, `first_runs`, `first_pass`, `first_fail`,
// `first_error`, `first_aborted`, `first_pass_yield`, `final_yield`,
// `retested_units`, `runs_per_unit`, `last_record`, `silent`; quoted and ended
// as HeadersCsv's.
QByteArray StatsCsv(const LineStats& stats);

// The capability of numeric checks (see capability.h) as one JSON object:
// what was asked (`since`, `until`, `name`, `product`, `operation`, `station`;
// null for any), then `checks`, worst Cpk first, each with `name`, `units`,
// `lsl`, `usl` (null for a side without a limit), `lsl_strict`, `usl_strict`
// (the limit itself refused), `not_numbers` (values left out), and the figures
// of every value (`all`) and without the values of failed runs
// (`without_failed`): `n`, `mean`, `standard_deviation`, `minimum`, `maximum`,
// `average_moving_range`, `short_term_sigma`, `cp`, `cpk`, `cpk_low`,
// `cpk_high`, `pp`, `ppk`, `warning` (null from 30 values on), `outside`,
// `outside_share`, `marginal`, `lower_control_limit`, `upper_control_limit`
// (null where there is none) and `rule_breaks` ([{"index", "rule"}], `index`
// the value's place in time order, `rule` 1 or 2). Where the values were asked
// for, `values` lists them in time order: [{"started", "value", "record",
// "unit", "station", "failed"}] (`unit` null for none).
QByteArray CapabilityJson(const CapabilityReport& report);
// The same as CSV, a row a check with its set of limits, worst Cpk first:
// `name`, `units`, `lsl`, `usl`, `lsl_strict`, `usl_strict` ("true" or
// "false"), the figures of every value (`n`, `mean`, `standard_deviation`,
// `minimum`, `maximum`, `average_moving_range`, `short_term_sigma`, `cp`,
// `cpk`, `cpk_low`, `cpk_high`, `pp`, `ppk`, `outside`, `outside_share`,
// `marginal`, `lower_control_limit`, `upper_control_limit`, `rule_breaks` (how
// many), `warning`), `not_numbers`, then the same figures without the values
// of failed runs, each name led by `without_failed_`. Empty for none; quoted
// and ended as HeadersCsv's. The values themselves are JSON's alone.
QByteArray CapabilityCsv(const CapabilityReport& report);

// A unit's history, oldest first: a JSON array with one object an event
// (`record`, `kind`, `started`, `operation`, `product`, `station`, `operator`,
// `outcome`, `cause`; `operation`, `product` and `cause` null for none,
// `outcome` null while a run goes on).
QByteArray UnitHistoryJson(std::span<const UnitEvent> events);

// The work in progress, a row an operation of a product's route: a JSON array
// of objects (`product`, `operation`, `waiting`, `in_test`, `on_hold`), and CSV
// with those columns, quoted and ended as HeadersCsv's.
QByteArray WipJson(std::span<const WipCount> counts);
QByteArray WipCsv(std::span<const WipCount> counts);

// Entries of the audit trail in the order given: a JSON array with one object
// an entry (`seq`, `at` (as `started` is written), `who`, `station`, `login`,
// `action`, `subject`, `old`, `new`, `reason` (null where there is none),
// `previous_sha256`, `sha256`), and CSV with those columns (empty for none),
// quoted and ended as HeadersCsv's.
QByteArray AuditJson(std::span<const AuditEntry> entries);
QByteArray AuditCsv(std::span<const AuditEntry> entries);
// Script releases as ReleaseStore::List gives them, without their bytes: a
// JSON array of objects (`id`, `product`, `operation`, `number`,
// `script_name`, `script_sha256`, `vars_name`, `vars_sha256`, `released_by`,
// `released`, `station`, `approved_by`, `approved`, `revoked_by`, `revoked`,
// `revoke_reason`, `active`; times as `started` is written, null where not
// approved or revoked, `vars_name` and `vars_sha256` null without a variables
// file), and CSV with those columns (empty for null), quoted and ended as HeadersCsv's.
QByteArray ReleasesJson(std::span<const ScriptRelease> releases);
QByteArray ReleasesCsv(std::span<const ScriptRelease> releases);

}  // namespace tamrisk
