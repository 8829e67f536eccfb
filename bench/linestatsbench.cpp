// The line's numbers over a PostgreSQL database of many run records (the
// line of statsline.h whose runs name no operation). Measured: the records
// store's Stats for the last whole day and for the last hour, `tamrisk-cli records stats` as a process, and with
// --dashboard the dashboard's /api/stats and its page; the median of several.
// Usage: bench_linestats [--records N] [--repeats N] [--postgresql ADMIN-URL] [--keep]
//        (the URL of a role that may create databases; defaults to TAMRISK_TEST_POSTGRESQL;
//        --keep reuses a database filled before with the same N)

#include "benchsupport.h"
#include "statsline.h"
#include "recordstore.h"
#include "reports.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr qint64 DayMs = 86'400'000;

// One GET of `path` from 127.0.0.1:`port`: the seconds to the whole answer, and its status line.
std::pair<double, QByteArray> Get(quint16 port, const QByteArray& path) {
    QElapsedTimer timer;
    timer.start();
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {0, "no connection"};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    // The answer is whole once its head and Content-Length bytes of body are in:
    // the server may keep the connection open.
    QByteArray answer;
    for (;;) {
        const qsizetype headEnd = answer.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            static const QRegularExpression lengthField(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                                        QRegularExpression::CaseInsensitiveOption);
            const auto length = lengthField.match(QString::fromLatin1(answer.left(headEnd + 2)));
            if (!length.hasMatch() || answer.size() >= headEnd + 4 + length.captured(1).toLongLong())
                break;
        }
        if (!socket.waitForReadyRead(30000))
            break;
        answer += socket.readAll();
    }
    return {timer.nsecsElapsed() / 1e9, answer.left(answer.indexOf('\r'))};
}

quint16 FreePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int repeats = 5;
    const std::optional<LineBenchArgs> args = ReadLineBenchArgs(argc, argv, {{"--repeats", &repeats}});
    if (!args)
        return 0;
    const auto& [count, keep, admin] = *args;
    const std::optional<BenchLine> benchLine = OpenBenchLine(
        admin, QStringLiteral("tamrisk_bench_stats_%1").arg(count), count, keep, LineRuns::Stations);
    if (!benchLine)
        return 1;
    const QString& location = benchLine->location;
    const qint64 endMs = benchLine->endMs;
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return 1;
    }

    struct Period {
        const char* name;
        StatsQuery query;
    };
    const std::vector<Period> periods = {{"last whole day", {endMs - 2 * DayMs, endMs - DayMs, ""}},
                                         {"last hour", {endMs - 3'600'000, endMs, ""}},
                                         {"one station, last whole day", {endMs - 2 * DayMs, endMs - DayMs, "st-07"}}};
    for (const Period& p : periods) {
        std::vector<double> seconds;
        StoreResult<LineStats> read = StoreError{};
        for (int r = 0; r < repeats; ++r) {
            const Stopwatch watch;
            read = store.Stats(p.query);
            seconds.push_back(watch.wallSeconds());
        }
        if (!read) {
            std::fprintf(stderr, "%s\n", qPrintable(read.error().Text()));
            return 1;
        }
        const LineStats& stats = *read;
        std::printf("Stats, %s: %d runs, %d units, %zu causes: %.3f s (median of %d; at most 1)\n", p.name,
                    stats.line.runs, stats.line.units, stats.pareto.size(), MedianOf(seconds, [](double s) { return s; }),
                    repeats);
    }

    QTemporaryDir dir;
    const std::string out = dir.filePath("out.json").toStdString();
    const std::string since = IsoUtcMs(endMs - 2 * DayMs), until = IsoUtcMs(endMs - DayMs);
    std::vector<ChildRun> cli;
    for (int r = 0; r < repeats; ++r)
        cli.push_back(Spawn({TAMRISK_CLI_PATH, "records", "stats", "--records", location.toStdString(), "--since", since,
                             "--until", until, "--format", "json"},
                            out));
    std::printf("tamrisk-cli records stats, last whole day: %.3f s (median of %d; at most 1)\n",
                MedianOf(cli, [](const ChildRun& run) { return run.wallSeconds; }), repeats);

    // The dashboard over the same database: its page, the newest records and the numbers.
    const quint16 port = FreePort();
    QProcess dashboard;
    dashboard.setProcessChannelMode(QProcess::ForwardedChannels);
    dashboard.start(QStringLiteral(TAMRISK_CLI_PATH),
                    {"dashboard", "--records", location, "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        QThread::msleep(50);
        up = Get(port, "/").second.contains("200");
    }
    if (!up) {
        std::printf("dashboard: did not answer\n");
        return 1;
    }
    const QByteArray apiDay = "/api/stats?since=" + QByteArray::fromStdString(since) +
                              "&until=" + QByteArray::fromStdString(until);
    for (const QByteArray& path : {QByteArray("/"), QByteArray("/api/records?limit=20"), QByteArray("/api/stats"), apiDay}) {
        std::vector<double> seconds;
        QByteArray status;
        for (int r = 0; r < repeats; ++r) {
            const auto [s, line] = Get(port, path);
            seconds.push_back(s);
            status = line;
        }
        // The first answer is the one a screen opening the page waits for; the
        // others may come from what the dashboard kept of it.
        std::printf("dashboard GET %s: first %.4f s, median of %d %.4f s (%s)\n", path.constData(), seconds.front(),
                    repeats, MedianOf(seconds, [](double s) { return s; }), status.constData());
    }
    dashboard.terminate();
    dashboard.waitForFinished(5000);
    return 0;
}
