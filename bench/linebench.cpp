// Serial numbers claimed on a line: tamrisk-cli run --unique-serials against
// tamrisk-sim printers over ptys, with the records in an SQLite file and in a
// PostgreSQL database.
//  - Eight runs at once on eight printers, each giving --units units a number from
//    one script (one incrementing line a unit, unpaced): units a second, the whole
//    line's, from the first start to the last end (with each program's start and
//    its sending of records at exit), and by the longest script execution time.
//  - One run of --single units with claims over the same without them (records
//    kept either way): the rates' ratio, runs alternated without, with, with,
//    without in each round, so that a drift of the machine's speed tilts neither.
//  - Forwarding, PostgreSQL only: --waiting records (made as a line's stations
//    make them) queued in the local file and sent to the line's database by
//    records sync's sending in this process: records a second; and the rate of a
//    run of --passes passes around two block reads with records on the line,
//    while its own forwarder sends that many waiting records, over its rate with
//    none waiting (from its script execution time; the sending at its exit is
//    not counted), at rest, loaded, loaded, at rest in each round, the median
//    of each taken (a machine shared with other work has its slow moments).
//  - The same, paced: one run of --paced units over a printer that answers at
//    115,200 bit/s (tamrisk-sim --baud 115200), with claims over without them
//    (records kept either way): the cost ratio of their script seconds, the
//    medians of --rounds rounds of without, with, with, without.
//  - Claims a second: --claims claims one after another on one connection, with
//    every commit synced to disk and without (RecordStore::SetDurableCommits).
// Each measurement gives numbers of a range of its own, so that none skips the
// numbers an earlier one claimed. Runs keep their local records in the
// benchmark's folder.
// Usage: bench_line [--units N] [--single N] [--paced N] [--claims N] [--waiting N] [--passes N] [--rounds N]
//                   [--postgresql URL] [--cli PATH]
//        (the URL defaults to TAMRISK_TEST_POSTGRESQL; without one PostgreSQL is skipped; --cli runs
//        another build's tamrisk-cli, to compare)

#include "benchrecords.h"
#include "benchsupport.h"
#include "printercommands.h"
#include "recordforwarder.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr int Printers = 8;

// Runs of one kind: their wall seconds summed, the first status that was not 0.
struct Runs {
    double seconds = 0;
    int count = 0, status = 0;
    void Add(double wallSeconds, int exitStatus) {
        seconds += wallSeconds;
        ++count;
        status = status != 0 ? status : exitStatus;
    }
    double Rate(int units) const { return count * units / seconds; }
};

// The printer paced as a real one on a serial line answers.
constexpr int PacedBaud = 115200;

class LineBench {
public:
    LineBench(QTemporaryDir& dir, QString cli) : m_dir(dir), m_cli(std::move(cli)) {
        for (int i = 0; i < Printers; ++i)
            m_sims.push_back(std::make_unique<Simulator>(QStringList{}));
        // The last printer, used by the paced runs alone.
        m_sims.push_back(std::make_unique<Simulator>(QStringList{"--baud", QString::number(PacedBaud)}));
    }
    static constexpr int Paced = Printers;

    // A script giving `units` units a number each, from a range no other script of this benchmark uses.
    QString Loop(int units) {
        const QString path = m_dir.filePath(QStringLiteral("loop%1.inp").arg(++m_scripts));
        const std::string prefix = {'Q', static_cast<char>('A' + m_scripts / 26 % 26), static_cast<char>('A' + m_scripts % 26)};
        const std::string text = "*" + std::to_string(units) + ",L\r\n+1;91," + prefix + "000100\r\n:L\r\n";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return path;
    }

    // A script of `passes` passes around two block reads.
    QString BlockReads(int passes) {
        const QString path = m_dir.filePath(QStringLiteral("reads.inp"));
        std::string text = "*" + std::to_string(passes) + ",Pass\r\n";
        text += "121," + CodeBlockData(0x0000) + "\r\n121," + CodeBlockData(0x0040) + "\r\n:Pass\r\n";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return path;
    }

    // tamrisk-cli run of `script` on printer `i`, records at `records`.
    QStringList Command(int i, const QString& records, bool claims, const QString& script) const {
        QStringList args = {"run", "--port", QString::fromStdString(m_sims[i]->port()), "--color", "never",
                            "--records", records};
        if (claims)
            args << "--unique-serials";
        return args << script;
    }

    // Runs `count` runs of `script` at once, one a printer from `first` on; adds their wall time, first
    // start to last end.
    void RunAtOnce(int count, const QString& records, bool claims, const QString& script, Runs& runs,
                   int first = 0) {
        std::vector<std::unique_ptr<QProcess>> processes;
        const Stopwatch watch;
        for (int i = first; i < first + count; ++i) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->setStandardOutputFile(m_dir.filePath(QStringLiteral("run%1.out").arg(i)));
            processes.back()->setStandardErrorFile(m_dir.filePath(QStringLiteral("run%1.err").arg(i)));
            processes.back()->start(m_cli, Command(i, records, claims, script));
        }
        int status = 0;
        for (const auto& process : processes) {
            process->waitForFinished(-1);
            const int code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
            status = status != 0 ? status : code;
        }
        runs.Add(watch.wallSeconds(), status);
    }

    // The seconds the script of the last run on printer `i` took, by its last line; 0 when it has none.
    double ScriptSeconds(int i) const {
        QFile out(m_dir.filePath(QStringLiteral("run%1.out").arg(i)));
        out.open(QIODevice::ReadOnly);
        static const QRegularExpression time(QStringLiteral("Script execution time ([0-9.]+) seconds"));
        QRegularExpressionMatch last;
        for (auto match = time.globalMatch(QString::fromUtf8(out.readAll())); match.hasNext();)
            last = match.next();
        return last.hasMatch() ? last.captured(1).toDouble() : 0;
    }

private:
    QTemporaryDir& m_dir;
    QString m_cli;
    std::vector<std::unique_ptr<Simulator>> m_sims;
    int m_scripts = 0;
};

struct ClaimRate {
    double perSecond = 0;
    QString problem;
};

// `count` claims made one after another on one connection to `records`, each
// commit synced to disk or not; numbers of a space of their own each time.
ClaimRate MeasureClaims(const QString& records, bool durable, int count) {
    // A space no earlier run of the benchmark used: the line's database keeps its claims.
    static int spaces = 0;
    const std::string space =
        "93,C" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "-" + std::to_string(++spaces) + "######";
    RecordStore store;
    StoreResult<void> opened = store.Open(records);
    if (opened)
        opened = store.SetDurableCommits(durable);
    if (!opened)
        return {0, opened.error().Text()};
    const Stopwatch watch;
    for (int i = 0; i < count; ++i) {
        const SerialClaimRow claim{space, std::to_string(i), "bench-claims", "bench", "bench", 0};
        const StoreResult<RecordStore::ClaimResult> claimed = store.Claim(claim);
        if (!claimed)
            return {0, claimed.error().Text()};
        if (*claimed != RecordStore::ClaimResult::Claimed)
            return {0, QStringLiteral("a number was taken")};
    }
    return {count / watch.wallSeconds(), {}};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int units = 300, single = 3000, paced = 300, claimCount = 1000, rounds = 2, waiting = 10000, passes = 10000;
    QString postgresql = qEnvironmentVariable("TAMRISK_TEST_POSTGRESQL");
    QString cli = QStringLiteral(TAMRISK_CLI_PATH);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--units"))
            units = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--single"))
            single = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--waiting"))
            waiting = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--postgresql"))
            postgresql = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--paced"))
            paced = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--claims"))
            claimCount = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--cli"))
            cli = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir dir;
    // The records a run keeps before sending them to the line stay in this folder.
    const QString local = dir.filePath("local.sqlite");
    qputenv("TAMRISK_LOCAL_RECORDS", local.toLocal8Bit());
    LineBench bench(dir, cli);

    std::vector<std::pair<const char*, QString>> databases = {{"SQLite", dir.filePath("line.sqlite")}};
    if (postgresql.isEmpty())
        std::printf("PostgreSQL: skipped (set TAMRISK_TEST_POSTGRESQL or give --postgresql URL)\n");
    else
        databases.emplace_back("PostgreSQL", postgresql);

    for (const auto& [name, records] : databases) {
        Runs line;
        double scripts = 0;  // the longest script's seconds of each line of runs, summed
        for (int round = 0; round < rounds; ++round) {
            bench.RunAtOnce(Printers, records, true, bench.Loop(units), line);
            double longest = 0;
            for (int i = 0; i < Printers; ++i)
                longest = std::max(longest, bench.ScriptSeconds(i));
            scripts += longest;
        }
        std::printf("%s: %d runs at once with --unique-serials, %d units each (exit status %d): %.0f units/s"
                    " first start to last exit (%.3f s a line of runs), %.0f units/s by the longest script\n",
                    name, Printers, units, line.status, line.Rate(Printers * units), line.seconds / line.count,
                    rounds * Printers * units / scripts);

        Runs without, with;
        for (int round = 0; round < rounds; ++round) {
            bench.RunAtOnce(1, records, false, bench.Loop(single), without);
            bench.RunAtOnce(1, records, true, bench.Loop(single), with);
            bench.RunAtOnce(1, records, true, bench.Loop(single), with);
            bench.RunAtOnce(1, records, false, bench.Loop(single), without);
        }
        std::printf("%s: one run of %d units (exit status %d, %d): %.0f units/s with claims, %.0f without:"
                    " with / without = %.3f\n",
                    name, single, with.status, without.status, with.Rate(single), without.Rate(single),
                    with.Rate(single) / without.Rate(single));

        std::vector<double> pacedWith, pacedWithout;  // script seconds
        Runs pacedRuns;
        auto pacedRun = [&](bool claims) {
            bench.RunAtOnce(1, records, claims, bench.Loop(paced), pacedRuns, LineBench::Paced);
            (claims ? pacedWith : pacedWithout).push_back(bench.ScriptSeconds(LineBench::Paced));
        };
        for (int round = 0; round < rounds; ++round)
            pacedRun(false), pacedRun(true), pacedRun(true), pacedRun(false);
        const auto median = [](const std::vector<double>& seconds) { return MedianOf(seconds, [](double t) { return t; }); };
        std::printf("%s: one run of %d units paced at %d bit/s (exit status %d): %.3f s with claims, %.3f without"
                    " (medians): with / without = %.3f (at most %s)\n",
                    name, paced, PacedBaud, pacedRuns.status, median(pacedWith), median(pacedWithout),
                    median(pacedWith) / median(pacedWithout), std::strcmp(name, "SQLite") == 0 ? "1.02" : "1.03");

        for (const bool durable : {false, true}) {
            const ClaimRate rate = MeasureClaims(records, durable, claimCount);
            std::printf("%s: %d claims one after another, commits %s: %.0f claims/s%s%s\n", name, claimCount,
                        durable ? "synced to disk" : "not synced (WAL's NORMAL)", rate.perSecond,
                        rate.problem.isEmpty() ? "" : "; ", qPrintable(rate.problem));
        }
    }
    if (postgresql.isEmpty())
        return 0;

    // Whatever the runs above left waiting goes first: the waiting records are the benchmark's alone.
    RecordForwarder::SendWaiting(local, postgresql, QDeadlineTimer(QDeadlineTimer::Forever));
    auto fill = [&] {
        if (!FillRecords(local, waiting, postgresql))
            std::exit(1);
    };
    double sendSeconds = 0;
    int sent = 0;
    QString problem;
    std::vector<double> rest, loaded;  // script seconds of each run
    int status = 0;                    // the first run's that was not 0
    std::string seconds;               // each run's script seconds in order
    const QString reads = bench.BlockReads(passes);
    auto run = [&](bool load) {
        if (load)
            fill();
        Runs once;
        bench.RunAtOnce(1, postgresql, false, reads, once);
        const double script = bench.ScriptSeconds(0);
        (load ? loaded : rest).push_back(script);
        status = status != 0 ? status : once.status;
        char text[40];
        std::snprintf(text, sizeof text, " %s %.2f", load ? "loaded" : "rest", script);
        seconds += text;
        // What the run did not send before it ended is sent now, so that none waits at rest.
        RecordForwarder::SendWaiting(local, postgresql, QDeadlineTimer(QDeadlineTimer::Forever));
    };
    for (int round = 0; round < rounds; ++round) {
        fill();
        const Stopwatch watch;
        const RecordForwarder::SyncResult result =
            RecordForwarder::SendWaiting(local, postgresql, QDeadlineTimer(QDeadlineTimer::Forever));
        sendSeconds += watch.wallSeconds();
        sent += result.sent;
        problem = result.problem.isEmpty() ? problem : result.problem;
        run(false), run(true), run(true), run(false);
    }
    std::printf("PostgreSQL forwarding: %d x %d waiting records sent in %.3f s: %.0f records/s%s%s\n", rounds,
                waiting, sendSeconds, sent / sendSeconds, problem.isEmpty() ? "" : "; ", qPrintable(problem));
    const long transactions = 2L * passes;
    const double restRate = transactions / MedianOf(rest, [](double t) { return t; });
    const double loadedRate = transactions / MedianOf(loaded, [](double t) { return t; });
    std::printf("PostgreSQL run of %ld block reads, records on the line, script seconds%s (exit status %d):"
                " %.0f transactions/s with %d records being sent, %.0f at rest (medians): loaded / rest = %.3f"
                " (at least 0.95)\n",
                transactions, seconds.c_str(), status, loadedRate, waiting, restRate, loadedRate / restRate);
    return 0;
}
