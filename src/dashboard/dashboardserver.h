#pragma once
// The line's web page and its JSON API over one records location, read only:
// the page, its script and style (compiled in), Chart.js from where Debian
// installs it, a record's printable page, a unit's history (/units/UNIT), and
// /api/stats, /api/records, /api/records/ID, /api/units/UNIT and /api/wip; the
// audit trail's page (/audit) and its entries (/api/audit); the numeric checks'
// capability (/api/capability), a check's page (/checks/NAME) and its figures
// with its values (/api/checks/NAME). Every query runs on
// a small pool of worker threads, each with a store of its own (a database connection belongs to its thread); the
// thread that serves requests never waits on the database.

#include "storeerror.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QMutex>
#include <QString>
#include <QThreadPool>
#include <QUrlQuery>

#include <functional>
#include <memory>

namespace tamrisk {

class RecordStore;

// An answer made on a worker thread, turned into a response on its way out.
struct DashboardAnswer {
    QHttpServerResponse::StatusCode status = QHttpServerResponse::StatusCode::Ok;
    QByteArray mimeType;
    QByteArray body;
    bool outOfReach = false;  // the database was out of reach: the worker connects afresh
};

// The HTTP status of a failed operation of the records store, by its kind: a
// record not found 404; the records out of reach, busy, not there or refused 503;
// a statement the database failed 500.
QHttpServerResponse::StatusCode StoreHttpStatus(const StoreError& error);

// Chart.js where the build was told it is installed (by default where
// Debian's libjs-chart.js installs it).
QString InstalledChartJs();

class DashboardServer {
public:
    // How long an answer to the same question is shared between the screens
    // that ask it, in ms.
    static constexpr qint64 ShareAnswerMs = 500;
    // The worker threads that ask the database.
    static constexpr int Workers = 2;

    // Serves the records at `location`; Chart.js is read from `chartPath`.
    DashboardServer(QString location, QString chartPath);
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // Listens on `address`:`port` (0: a free port). False with the reason in
    // `error` when it cannot.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    // The port listened on; 0 before Listen.
    quint16 Port() const { return m_port; }

private:
    using Query = std::function<DashboardAnswer(RecordStore&)>;

    // Runs `query` for `request` on a worker thread over that thread's store;
    // an answer kept for `shareKey` (when not empty) less than ShareAnswerMs
    // ago serves instead.
    QFuture<QHttpServerResponse> Ask(const QHttpServerRequest& request, const QString& shareKey, Query query);
    DashboardAnswer RunOnWorker(const Query& query);
    void AddRoutes();

    QString m_location, m_chartPath;
    QHttpServer m_http;
    QThreadPool m_pool;
    quint16 m_port = 0;

    struct Shared {
        QElapsedTimer made;
        DashboardAnswer answer;
    };
    QMutex m_sharedLock;
    QHash<QString, Shared> m_shared;
};

// The response for `answer`, with the headers every answer of the page carries
// (its content only from itself, no type guessed, nothing kept by caches);
// without its body for a HEAD request.
QHttpServerResponse DashboardResponse(const DashboardAnswer& answer, bool head = false);

}  // namespace tamrisk
