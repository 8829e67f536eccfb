#include "dashboardserver.h"

#include "recordslocation.h"
#include "recordstore.h"
#include "reports.h"
#include "statsperiod.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QPromise>
#include <QSemaphore>
#include <QTcpServer>
#include <QtConcurrent>

#include <charconv>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>

#ifndef TAMRISK_CHART_JS
#define TAMRISK_CHART_JS "/usr/share/javascript/chart.js/chart.min.js"
#endif

namespace tamrisk {

namespace {

using Status = QHttpServerResponse::StatusCode;
using Method = QHttpServerRequest::Method;

constexpr auto GetOrHead = Method::Get | Method::Head;

bool IsHead(const QHttpServerRequest& request) { return request.method() == Method::Head; }

const QByteArray JsonType = "application/json";
const QByteArray HtmlType = "text/html; charset=utf-8";

// The bytes of JSON as the records command with --format json prints them.
DashboardAnswer Json(QByteArray body, Status status = Status::Ok) { return {status, JsonType, std::move(body)}; }

DashboardAnswer JsonError(const QString& text, Status status) {
    return Json(QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson(QJsonDocument::Compact) + '\n', status);
}

DashboardAnswer Html(QByteArray body, Status status = Status::Ok) { return {status, HtmlType, std::move(body)}; }

// The `limit` of /api/records and /api/audit into `limit` when `params` give
// one: a whole decimal number from 1 to 1000, nothing before or after its
// digits; false for any other.
bool LimitFrom(const QUrlQuery& params, int& limit) {
    if (!params.hasQueryItem(QStringLiteral("limit")))
        return true;
    const std::string text = params.queryItemValue(QStringLiteral("limit")).toStdString();
    int given = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), given);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || given < 1 || given > 1000)
        return false;
    limit = given;
    return true;
}

// A failed read, its status by its kind.
DashboardAnswer ReadFailed(const StoreError& error, bool page) {
    const Status status = StoreHttpStatus(error);
    const QString text = QStringLiteral("cannot read records ") + error.Text();
    DashboardAnswer answer =
        page ? Html(MessageHtml(QStringLiteral("Records cannot be read"), text), status) : JsonError(text, status);
    answer.outOfReach = error.OutOfReach();
    return answer;
}

// A file compiled in.
DashboardAnswer Resource(const QString& name, const QByteArray& type) {
    QFile file(QStringLiteral(":/dashboard/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {Status::NotFound, "text/plain; charset=utf-8", "not found\n"};
    return {Status::Ok, type, file.readAll()};
}

// An answer at once, without a worker.
QFuture<QHttpServerResponse> Ready(const DashboardAnswer& answer, bool head) {
    QPromise<QHttpServerResponse> ready;
    ready.start();
    ready.addResult(DashboardResponse(answer, head));
    ready.finish();
    return ready.future();
}

// The worker thread's own store of the one location it reads.
struct WorkerStore {
    QString location;
    std::unique_ptr<RecordStore> store;
};
thread_local WorkerStore t_worker;

// The period, station, operation and product that `params` ask for, read as
// records stats reads its options; the problem with them, or empty.
std::string PeriodFrom(const QUrlQuery& params, qint64 nowMs, StatsQuery& query) {
    return ParseStatsQuery(
        [&params](const char* name) -> std::optional<std::string> {
            const QString key = QString::fromLatin1(name);
            if (!params.hasQueryItem(key))
                return std::nullopt;
            return params.queryItemValue(key, QUrl::FullyDecoded).toStdString();
        },
        nowMs, query, "");
}

DashboardAnswer StatsAnswer(RecordStore& store, const QUrlQuery& params, qint64 nowMs) {
    StatsQuery query;
    if (const std::string problem = PeriodFrom(params, nowMs, query); !problem.empty())
        return JsonError(QString::fromStdString(problem), Status::BadRequest);
    const StoreResult<LineStats> stats = store.Stats(query);
    if (!stats)
        return ReadFailed(stats.error(), false);
    return Json(StatsJson(*stats));
}

// The capability of the numeric checks of the period `params` ask for; with
// a `name`, that check's alone, with its values.
DashboardAnswer CapabilityAnswer(RecordStore& store, const QUrlQuery& params, qint64 nowMs, const std::string& name) {
    StatsQuery period;
    if (const std::string problem = PeriodFrom(params, nowMs, period); !problem.empty())
        return JsonError(QString::fromStdString(problem), Status::BadRequest);
    const CapabilityQuery query{period.sinceMs, period.untilMs, name, period.product, period.operation,
                                period.station, !name.empty()};
    const StoreResult<CapabilityReport> report = store.Capability(query);
    if (!report)
        return ReadFailed(report.error(), false);
    return Json(CapabilityJson(*report));
}

// Rows read from the store as the records command prints them with --format
// json: their JSON array and a line's end.
template <typename Row>
DashboardAnswer ListingAnswer(const StoreResult<std::vector<Row>>& rows, QByteArray (*json)(std::span<const Row>)) {
    if (!rows)
        return ReadFailed(rows.error(), false);
    return Json(json(*rows) + '\n');
}

// A unit's or a check's name as the last part of a path: unlike other
// arguments of a path it may hold a slash ("/units/<script>…</script>"), so it
// takes the rest of the path whatever it holds.
struct PathName {
    PathName() = default;
    PathName(const QString& name) : text(name) {}  // implicit: the router converts the path's text with it
    QString text;
};

// The record whose id starts with `prefix`, as JSON or as its page.
DashboardAnswer RecordAnswer(RecordStore& store, const QString& prefix, bool page) {
    const auto refuse = [page](const QString& title, const QString& text, Status status) {
        return page ? Html(MessageHtml(title, text), status) : JsonError(text, status);
    };
    const StoreResult<ResolvedId> resolved = store.ResolveId(prefix.toStdString());
    if (!resolved)
        return ReadFailed(resolved.error(), page);
    switch (resolved->resolve) {
    case Resolve::Found: break;
    case Resolve::Ambiguous:
        return refuse(QStringLiteral("More than one record"),
                      QStringLiteral("more than one record has an ID starting with %1; give more of it").arg(prefix),
                      Status::BadRequest);
    case Resolve::NotFound:
        return refuse(QStringLiteral("No such record"), QStringLiteral("no record has an ID starting with %1").arg(prefix),
                      Status::NotFound);
    }
    // Gone since its id was found: not found, as any other.
    const StoreResult<Record> record = store.Load(resolved->id);
    if (!record && record.error().kind == StoreError::Kind::NotFound)
        return refuse(QStringLiteral("No such record"), QStringLiteral("no record %1").arg(prefix), Status::NotFound);
    if (!record)
        return ReadFailed(record.error(), page);
    return page ? Html(RecordHtml(*record)) : Json(RecordJson(*record) + '\n');
}

}  // namespace

Status StoreHttpStatus(const StoreError& error) {
    switch (error.kind) {
    case StoreError::Kind::None: return Status::Ok;
    case StoreError::Kind::NotFound: return Status::NotFound;
    case StoreError::Kind::NotOpen:
    case StoreError::Kind::ConnectionLost:
    case StoreError::Kind::Busy:
    case StoreError::Kind::SchemaRefused: return Status::ServiceUnavailable;
    case StoreError::Kind::StatementFailed: return Status::InternalServerError;
    }
    return Status::InternalServerError;
}

QString InstalledChartJs() { return QStringLiteral(TAMRISK_CHART_JS); }

QHttpServerResponse DashboardResponse(const DashboardAnswer& answer, bool head) {
    // The server module writes a body as it is given, for HEAD too: none given.
    QHttpServerResponse response(answer.mimeType, head ? QByteArray() : answer.body, answer.status);
    response.addHeader("Content-Security-Policy", "default-src 'self'");
    response.addHeader("X-Content-Type-Options", "nosniff");
    response.addHeader("Referrer-Policy", "no-referrer");
    response.addHeader("Cache-Control", "no-store");
    return response;
}

DashboardServer::DashboardServer(QString location, QString chartPath)
    : m_location(std::move(location)), m_chartPath(std::move(chartPath)) {
    // Few threads, each holding its connection for the life of the server.
    m_pool.setMaxThreadCount(Workers);
    m_pool.setExpiryTimeout(-1);
    AddRoutes();
}

DashboardServer::~DashboardServer() {
    // Each worker closes its store on its own thread, now, after the questions
    // queued before: left to the end of the thread, the store would be torn
    // down by the thread's exit, which a thread pool's wait does not wait for,
    // while the program exits and unloads the database driver. Each task waits
    // until all have begun, so that every worker runs one.
    QSemaphore begun, go;
    for (int i = 0; i < Workers; ++i) {
        m_pool.start([&begun, &go] {
            t_worker.store.reset();
            begun.release();
            go.tryAcquire(1, 10000);
        });
    }
    begun.tryAcquire(Workers, 10000);
    go.release(Workers);
    m_pool.waitForDone();
}

bool DashboardServer::Listen(const QHostAddress& address, quint16 port, QString& error) {
    auto server = std::make_unique<QTcpServer>();
    if (!server->listen(address, port)) {
        error = server->errorString();
        return false;
    }
    m_port = server->serverPort();
    m_http.bind(server.release());
    return true;
}

DashboardAnswer DashboardServer::RunOnWorker(const Query& query) {
    WorkerStore& worker = t_worker;
    if (worker.location != m_location || !worker.store || !worker.store->IsOpen()) {
        worker.location = m_location;
        worker.store = std::make_unique<RecordStore>();
        const StoreResult<void> opened = worker.store->OpenToRead(m_location, RecordStore::Reading::ChangeNothing);
        if (!opened) {
            worker.store.reset();
            return JsonError(QStringLiteral("cannot open records ") + opened.error().Text(),
                             StoreHttpStatus(opened.error()));
        }
    }
    DashboardAnswer answer = query(*worker.store);
    // A connection lost is opened afresh on a later question.
    if (answer.outOfReach)
        worker.store.reset();
    return answer;
}

QFuture<QHttpServerResponse> DashboardServer::Ask(const QHttpServerRequest& request, const QString& shareKey,
                                                  Query query) {
    const bool head = IsHead(request);
    if (!shareKey.isEmpty()) {
        const QMutexLocker lock(&m_sharedLock);
        const auto kept = m_shared.constFind(shareKey);
        if (kept != m_shared.constEnd() && !kept->made.hasExpired(ShareAnswerMs))
            return Ready(kept->answer, head);
    }
    return QtConcurrent::run(&m_pool, [this, head, shareKey, query = std::move(query)] {
        DashboardAnswer answer = RunOnWorker(query);
        if (!shareKey.isEmpty()) {
            const QMutexLocker lock(&m_sharedLock);
            // Only the answers still shared are kept, however many questions were asked.
            m_shared.removeIf([](const auto& old) { return old.value().made.hasExpired(ShareAnswerMs); });
            Shared& kept = m_shared[shareKey];
            kept.made.start();
            kept.answer = answer;
        }
        return DashboardResponse(answer, head);
    });
}

void DashboardServer::AddRoutes() {
    // Registered before the routes that take one.
    m_http.router()->addConverter<PathName>(QLatin1String(".+"));
    const auto page = [](const QString& name, const QByteArray& type) {
        return [name, type](const QHttpServerRequest& request) {
            return DashboardResponse(Resource(name, type), IsHead(request));
        };
    };
    m_http.route("/", GetOrHead, page(QStringLiteral("index.html"), HtmlType));
    m_http.route("/dashboard.js", GetOrHead, page(QStringLiteral("dashboard.js"), "text/javascript; charset=utf-8"));
    m_http.route("/dashboard.css", GetOrHead, page(QStringLiteral("dashboard.css"), "text/css; charset=utf-8"));
    m_http.route("/chart.js", GetOrHead, [this](const QHttpServerRequest& request) {
        QFile file(m_chartPath);
        if (!file.open(QIODevice::ReadOnly)) {
            return DashboardResponse({Status::NotFound, "text/plain; charset=utf-8", "Chart.js is not installed\n"},
                                     IsHead(request));
        }
        return DashboardResponse({Status::Ok, "text/javascript; charset=utf-8", file.readAll()}, IsHead(request));
    });

    m_http.route("/api/stats", GetOrHead, [this](const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        return Ask(request, QStringLiteral("stats?") + params.toString(QUrl::FullyEncoded),
                   [params, nowMs](RecordStore& store) { return StatsAnswer(store, params, nowMs); });
    });
    // The capability of the period's numeric checks, and one check's with its
    // values, as records capability prints them; the check's page reads the
    // check's name from its own path and asks /api/checks/ for it.
    m_http.route("/api/capability", GetOrHead, [this](const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        return Ask(request, QStringLiteral("capability?") + params.toString(QUrl::FullyEncoded),
                   [params, nowMs](RecordStore& store) { return CapabilityAnswer(store, params, nowMs, {}); });
    });
    m_http.route("/api/checks/<arg>", GetOrHead, [this](const PathName& check, const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        const std::string name = check.text.toStdString();
        return Ask(request,
                   QStringLiteral("checks/") + QString::fromLatin1(QUrl::toPercentEncoding(check.text)) + u'?' +
                       params.toString(QUrl::FullyEncoded),
                   [params, nowMs, name](RecordStore& store) { return CapabilityAnswer(store, params, nowMs, name); });
    });
    m_http.route("/checks/<arg>", GetOrHead, [](const PathName&, const QHttpServerRequest& request) {
        return DashboardResponse(Resource(QStringLiteral("checks.html"), HtmlType), IsHead(request));
    });
    m_http.route("/checks.js", GetOrHead, page(QStringLiteral("checks.js"), "text/javascript; charset=utf-8"));
    m_http.route("/measures.js", GetOrHead, page(QStringLiteral("measures.js"), "text/javascript; charset=utf-8"));
    // A unit's history: the page reads the unit from its own path and asks /api/units/ for it.
    m_http.route("/units/<arg>", GetOrHead, [](const PathName&, const QHttpServerRequest& request) {
        return DashboardResponse(Resource(QStringLiteral("unit.html"), HtmlType), IsHead(request));
    });
    m_http.route("/unit.js", GetOrHead, page(QStringLiteral("unit.js"), "text/javascript; charset=utf-8"));

    m_http.route("/api/records", GetOrHead, [this](const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        RecordFilter filter;
        filter.limit = 20;
        if (!LimitFrom(params, filter.limit))
            return Ready(JsonError(QStringLiteral("limit takes a number of records from 1 to 1000"), Status::BadRequest),
                         IsHead(request));
        filter.unit = params.queryItemValue(QStringLiteral("unit"), QUrl::FullyDecoded).toStdString();
        return Ask(request, QStringLiteral("records?") + params.toString(QUrl::FullyEncoded),
                   [filter](RecordStore& store) { return ListingAnswer(store.List(filter), &HeadersJson); });
    });
    m_http.route("/api/records/<arg>", GetOrHead, [this](const QString& prefix, const QHttpServerRequest& request) {
        return Ask(request, {}, [prefix](RecordStore& store) { return RecordAnswer(store, prefix, false); });
    });
    m_http.route("/api/units/<arg>", GetOrHead, [this](const PathName& unit, const QHttpServerRequest& request) {
        const std::string name = unit.text.toStdString();
        return Ask(request, {}, [name](RecordStore& store) { return ListingAnswer(store.History(name), &UnitHistoryJson); });
    });
    m_http.route("/api/wip", GetOrHead, [this](const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        const std::string product = params.queryItemValue(QStringLiteral("product"), QUrl::FullyDecoded).toStdString();
        return Ask(request, QStringLiteral("wip?") + params.toString(QUrl::FullyEncoded),
                   [product](RecordStore& store) { return ListingAnswer(store.Wip(product), &WipJson); });
    });
    // The audit trail: its page, and its newest entries (?since= as audit list
    // takes --since, ?limit= from 1 to 1000; all by default) as audit list's JSON.
    m_http.route("/audit", GetOrHead, page(QStringLiteral("audit.html"), HtmlType));
    m_http.route("/audit.js", GetOrHead, page(QStringLiteral("audit.js"), "text/javascript; charset=utf-8"));
    m_http.route("/tablepage.js", GetOrHead, page(QStringLiteral("tablepage.js"), "text/javascript; charset=utf-8"));
    m_http.route("/api/audit", GetOrHead, [this](const QHttpServerRequest& request) {
        const QUrlQuery params = request.query();
        qint64 sinceMs = 0;
        int limit = 0;
        if (params.hasQueryItem(QStringLiteral("since"))) {
            const auto since = ParseRecordsTime(
                params.queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded).toStdString(), false);
            if (!since)
                return Ready(JsonError(QStringLiteral("since takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS"
                                                      " (UTC)"),
                                       Status::BadRequest),
                             IsHead(request));
            sinceMs = *since;
        }
        if (!LimitFrom(params, limit))
            return Ready(JsonError(QStringLiteral("limit takes a number of entries from 1 to 1000"), Status::BadRequest),
                         IsHead(request));
        return Ask(request, QStringLiteral("audit?") + params.toString(QUrl::FullyEncoded),
                   [sinceMs, limit](RecordStore& store) {
                       return ListingAnswer(store.Audit().List(sinceMs, limit), &AuditJson);
                   });
    });
    m_http.route("/records/<arg>", GetOrHead, [this](const QString& prefix, const QHttpServerRequest& request) {
        return Ask(request, {}, [prefix](RecordStore& store) { return RecordAnswer(store, prefix, true); });
    });

    m_http.setMissingHandler([](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        const Method method = request.method();
        if (method != Method::Get && method != Method::Head) {
            QHttpServerResponse refused = DashboardResponse(
                JsonError(QStringLiteral("the line's page only reads: GET and HEAD"), Status::MethodNotAllowed));
            refused.addHeader("Allow", "GET, HEAD");
            refused.write(std::move(responder));
            return;
        }
        DashboardResponse(
            Html(MessageHtml(QStringLiteral("Not found"), QStringLiteral("There is no page here.")), Status::NotFound))
            .write(std::move(responder));
    });
}

}  // namespace tamrisk
