#include "storeconnection.h"

#include "answerwatch.h"
#include "record.h"
#include "recordslocation.h"

#include <QSqlQuery>

#include <atomic>

#include <sys/socket.h>

namespace tamrisk {

namespace {

// How many times a whole write transaction is tried when it still finds the database busy.
constexpr int WriteAttempts = 3;

}  // namespace

StoreResult<void> AddConnection(const QString& location, const QString& name, QSqlDatabase& db) {
    QString reason;
    const std::optional<DatabaseTarget> target = ParseLocation(location, reason);
    if (target && DialectFor(*target).AddConnection(*target, name, db, reason))
        return {};
    return StoreError{StoreError::Kind::NotOpen, {}, reason};
}

StoreConnection::Watching::Watching(StoreConnection& connection) : m_connection(connection) {
    if (m_connection.m_watching++ > 0 || !m_connection.m_overUnixSocket)
        return;
    m_connection.m_unanswered = false;
    m_connection.m_watch = std::make_unique<AnswerWatch>(m_connection.Dialect().Socket(m_connection.m_db),
                                                         m_connection.m_answerLimit);
}

StoreConnection::Watching::~Watching() {
    if (--m_connection.m_watching > 0 || !m_connection.m_watch)
        return;
    m_connection.m_unanswered = m_connection.m_watch->Fired();
    m_connection.m_watch.reset();
}

StoreConnection::StoreConnection() : m_dialect(&DialectFor(DatabaseTarget{})) {
    static std::atomic<unsigned> connections{0};
    m_name = QStringLiteral("tamrisk-records-%1").arg(++connections);
    SetActor(LoginName(), DefaultStationName());
}

StoreConnection::~StoreConnection() {
    if (m_db.isValid())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

StoreResult<void> StoreConnection::Connect(const QString& location) {
    m_open = false;
    m_durable = false;
    m_location = location;
    m_openError = {};
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QString reason;
    const std::optional<DatabaseTarget> target = ParseLocation(location, reason);
    if (!target || !DialectFor(*target).AddConnection(*target, m_name, m_db, reason))
        return Fail(StoreError::Kind::NotOpen, reason);
    m_dialect = &DialectFor(*target);
    bool outOfReach = false;
    if (!m_dialect->BeforeOpen(m_db, reason, outOfReach))
        return Fail(outOfReach ? StoreError::Kind::ConnectionLost : StoreError::Kind::NotOpen, reason);
    m_overUnixSocket = false;
    if (!m_db.open())
        return Fail(m_db.lastError(), StoreError::Kind::NotOpen);
    // Asked of the socket itself: an empty host may mean a socket folder or PGHOST's server.
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int socket = m_dialect->Socket(m_db);
    m_overUnixSocket = socket >= 0 && getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                       address.ss_family == AF_UNIX;
    return {};
}

void StoreConnection::Close(StoreError error) {
    m_open = false;
    if (error.kind == StoreError::Kind::None)
        error.kind = StoreError::Kind::NotOpen;
    if (error.location.isEmpty())
        error.location = ShownLocation(m_location);
    m_openError = error;
    if (m_db.isOpen())
        m_db.close();
}

StoreError StoreConnection::Fail(StoreError::Kind kind, const QString& reason) const {
    return {kind, ShownLocation(m_location), reason};
}

StoreError StoreConnection::Fail(const QSqlError& failure, StoreError::Kind kind) const {
    QString reason = m_dialect->Reason(failure);
    if (m_unanswered || (m_watch && m_watch->Fired()))
        reason = QStringLiteral("the server did not answer for %1 s: connection closed (%2)")
                     .arg(static_cast<double>(m_answerLimit.count()) / 1000.0)
                     .arg(reason);
    if (m_dialect->IsOutOfReach(failure, m_db.isOpen()))
        kind = StoreError::Kind::ConnectionLost;
    else if (m_dialect->IsBusy(failure))
        kind = StoreError::Kind::Busy;
    // A failure of the database names the location as given (a URL with a password is never opened).
    return {kind, m_location, reason};
}

StoreError StoreConnection::NotOpen() const {
    return m_openError.Failed()
               ? m_openError
               : StoreError{StoreError::Kind::NotOpen, {}, QStringLiteral("the records database is not open")};
}

bool StoreConnection::Exec(const QString& sql, QSqlError& failure) {
    if (m_watch)
        m_watch->Progress();
    QSqlQuery query(m_db);
    if (query.exec(sql))
        return true;
    failure = query.lastError();
    return false;
}

bool StoreConnection::Run(QSqlQuery& query, QSqlError& failure) {
    if (m_watch)
        m_watch->Progress();
    if (query.exec())
        return true;
    failure = query.lastError();
    return false;
}

bool StoreConnection::Run(QSqlQuery& query, const QString& sql, const QVariantList& values, QSqlError& failure) {
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    return Run(query, failure);
}

StoreResult<void> StoreConnection::Select(QSqlQuery& query, QString sql, QVariantList values, int limit) {
    if (limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        values.push_back(limit);
    }
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    QSqlError failure;
    if (Run(query, failure))
        return {};
    return Fail(failure);
}

StoreResult<void> StoreConnection::Write(const std::function<bool(QSqlError&)>& body) {
    if (!m_open)
        return NotOpen();
    const Watching watching(*this);
    const SqlDialect::Exec exec = [this](const QString& sql, QSqlError& failure) { return Exec(sql, failure); };
    QSqlError failure;
    for (int attempt = 0; attempt < WriteAttempts; ++attempt) {
        const bool begun = m_dialect->Begin(m_db, exec, failure);
        if (begun && body(failure) && m_dialect->Commit(m_db, exec, failure))
            return {};
        if (begun)
            m_dialect->Rollback(m_db, exec);
        if (!m_dialect->IsBusy(failure))
            break;
    }
    StoreError error = Fail(failure);
    error.refused = m_dialect->IsRefusal(failure);
    return error;
}

StoreResult<void> StoreConnection::SetDurableCommits(bool on) {
    if (!m_open)
        return NotOpen();
    QSqlError failure;
    if (!m_dialect->SetDurable(on, [this](const QString& sql, QSqlError& f) { return Exec(sql, f); }, failure))
        return Fail(failure);
    m_durable = on;
    return {};
}

}  // namespace tamrisk
