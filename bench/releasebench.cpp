// Taking the active release of a product and operation from a line's
// PostgreSQL database that holds 1,000 releases (5 products, 4 operations, 50
// releases each; most approved, some revoked): the store's Releases().Active
// over its connection, and ActiveReleases::Take (the front ends' way, over a
// connection on a thread of its own), each the median of many, with the plan
// the server takes for the statement.
// Usage: bench_release [--probes N] [--postgresql ADMIN-URL]
//        (the URL of a role that may create databases; defaults to TAMRISK_TEST_POSTGRESQL)

#include "activerelease.h"
#include "benchsupport.h"
#include "recordstore.h"
#include "statsline.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlQuery>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr int Products = 5, Operations = 4, EachReleases = 50;
constexpr double LimitMs = 5.0;

std::string Product(int p) { return "FP-" + std::to_string(p + 1); }
std::string Operation(int o) {
    static const char* const names[] = {"board", "burn-in", "fiscal", "final"};
    return names[o];
}

double Median(const std::vector<double>& values) {
    return MedianOf(values, [](double v) { return v; });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int probes = 500;
    QString admin = qEnvironmentVariable("TAMRISK_TEST_POSTGRESQL");
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--probes"))
            probes = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--postgresql"))
            admin = QString::fromLocal8Bit(argv[++i]);
    }
    if (admin.isEmpty()) {
        std::printf("skipped: set TAMRISK_TEST_POSTGRESQL or give --postgresql URL\n");
        return 0;
    }
    const QString name = QStringLiteral("tamrisk_bench_releases");
    {
        QSqlDatabase db;
        if (!RecordStore::AddConnection(admin, QStringLiteral("admin"), db) || !db.open() ||
            !Exec(db, QStringLiteral("SET client_min_messages TO warning")) ||
            !Exec(db, QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)")) ||
            !Exec(db, QStringLiteral("CREATE DATABASE ") + name))
            return 1;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    const QString location = QString(admin).replace(QRegularExpression(QStringLiteral("^([a-z]+://[^/]*/)[^?]*")),
                                                    QStringLiteral("\\1") + name);
    RecordStore store;
    if (const StoreResult<void> opened = store.Open(location); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return 1;
    }
    // Released in turn over the products and operations, as a line's engineers
    // would; every release but each eleventh approved, each seventh approved one revoked.
    const std::string script = "@bench\r\n56,1\r\n?* = 0\r\n";
    qint64 at = 1'796'637'600'000;
    for (int r = 0; r < Products * Operations * EachReleases; ++r) {
        const std::string product = Product(r % Products), operation = Operation(r / Products % Operations);
        const StoreResult<ScriptRelease> made =
            store.Releases().Release({product, operation, "bench.txt", script, "", "", "eng", "bench", ++at});
        if (!made) {
            std::fprintf(stderr, "%s\n", qPrintable(made.error().Text()));
            return 1;
        }
        if (r % 11 == 10)
            continue;
        if (!store.Releases().Approve(made->id, "sup", ++at) ||
            (r % 7 == 3 && !store.Releases().Revoke(made->id, "sup", "bench", ++at))) {
            std::fprintf(stderr, "cannot approve or revoke release %lld\n", static_cast<long long>(made->id));
            return 1;
        }
    }
    {
        QSqlDatabase db;
        if (!RecordStore::AddConnection(location, QStringLiteral("plan"), db) || !db.open() ||
            !Exec(db, QStringLiteral("ANALYZE script_releases")))
            return 1;
        QSqlQuery plan(db);
        plan.exec(
            QStringLiteral("EXPLAIN SELECT id FROM script_releases WHERE product = 'FP-3' AND operation ="
                           " 'fiscal' AND approved_ms IS NOT NULL AND revoked_ms IS NULL ORDER BY number DESC"
                           " LIMIT 1"));
        std::printf("plan:\n");
        while (plan.next())
            std::printf("  %s\n", qPrintable(plan.value(0).toString()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plan"));

    std::vector<double> direct, threaded;
    ActiveReleases releases(RecordsRoute{location, {}});
    for (int p = 0; p < probes; ++p) {
        const int pick = static_cast<int>(QRandomGenerator::global()->bounded(Products * Operations));
        const std::string product = Product(pick % Products), operation = Operation(pick / Products);
        const Stopwatch first;
        const StoreResult<ScriptRelease> active = store.Releases().Active(product, operation);
        direct.push_back(first.wallSeconds() * 1000);
        const Stopwatch second;
        const StoreResult<TakenRelease> taken = releases.Take(product, operation);
        threaded.push_back(second.wallSeconds() * 1000);
        if (!active || !taken) {
            std::fprintf(stderr, "%s\n", qPrintable((active ? taken.error() : active.error()).Text()));
            return 1;
        }
    }
    const double directMs = Median(direct), threadedMs = Median(threaded);
    std::printf("releases in the table: %d (%d products, %d operations)\n", Products * Operations * EachReleases,
                Products, Operations);
    std::printf("active release, store over its connection: median %.3f ms of %d\n", directMs, probes);
    std::printf("active release, ActiveReleases::Take on its thread: median %.3f ms of %d\n", threadedMs, probes);
    std::printf("within %.0f ms: %s\n", LimitMs, threadedMs <= LimitMs && directMs <= LimitMs ? "yes" : "NO");
    return threadedMs <= LimitMs && directMs <= LimitMs ? 0 : 1;
}
