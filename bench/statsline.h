#pragma once
// The line of the records benchmarks: a PostgreSQL database of many run
// records, a line of 20 stations, a run every 5 seconds on the line (about
// 17,000 a day), filled by the server itself (INSERT ... SELECT over
// generate_series) into a database of the bench's own. About 7% of runs fail
// (half by a check, half by a red step) and 2% each end in an error or are
// aborted. Its runs name no operation, and every tenth unit is tested again;
// or, as a line with a process, each unit runs the four operations of its
// product's route in turn (board, burn-in, fiscal, final), most units an
// FP-3 and every fifth an FP-3-KZ.

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <initializer_list>
#include <optional>
#include <utility>

namespace tamrisk::bench {

constexpr qint64 LineRunEveryMs = 5'000;  // on the whole line
constexpr int LineStations = 20;
// The writer of the line's runs: the records any other program adds are not its.
constexpr const char* LineWriterHost = "line-pc";

// Runs `sql` with `values` bound on `db`; false with the statement and its error on stderr.
bool Exec(QSqlDatabase& db, const QString& sql, const QVariantList& values = {});

enum class LineRuns { Stations, Process };

// The line in the database `name` on the server of `admin` (the URL of a role
// that may create databases), its schema made: filled with `count` runs, or
// with `keep` the one filled before with as many (kept only when whole).
struct BenchLine {
    QString location;  // its URL
    qint64 endMs = 0;  // the runs end here: the last whole hour when filled
};
std::optional<BenchLine> OpenBenchLine(const QString& admin, const QString& name, int count, bool keep, LineRuns runs);

// What the benchmarks of the line are given: --records N (the line's runs,
// 1,000,000 by default), --postgresql ADMIN-URL (TAMRISK_TEST_POSTGRESQL by
// default), --keep, and the whole numbers named in `numbers`, each set when
// given. None, after saying the bench is skipped, without a server's URL.
struct LineBenchArgs {
    int count = 1'000'000;
    bool keep = false;
    QString admin;
};
std::optional<LineBenchArgs> ReadLineBenchArgs(int argc, char** argv,
                                               std::initializer_list<std::pair<const char*, int*>> numbers);

}  // namespace tamrisk::bench
