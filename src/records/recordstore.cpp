#include "recordstore.h"

#include "textcodec.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <span>
#include <tuple>

#include <signal.h>
#include <unistd.h>

namespace tamrisk {

namespace {

// How long one statement waits for a busy database, and how many times a whole
// write transaction is tried when it still finds the database busy.
constexpr int BusyTimeoutMs = 5000;
constexpr int WriteAttempts = 3;
// How long a connection to a PostgreSQL server is waited for, in seconds.
constexpr int ConnectTimeoutS = 5;
// The PostgreSQL advisory lock that lets one program at a time create or upgrade
// the schema ("tamrisk" in ASCII).
constexpr qint64 SchemaLockKey = 0x74616d7269736bLL;

// The schema, one step per version: step N takes a database of version N-1 to N.
// Plain SQL that SQLite and PostgreSQL both take (TEXT, INTEGER, BIGINT).
// A step may convert rows in C++ between its statements and those after.
struct SchemaStep {
    int version;
    std::vector<const char*> statements;
    bool (*convert)(QSqlDatabase& db, QSqlError& failure) = nullptr;
    std::vector<const char*> after = {};
};

bool ConvertLogRowsToChunks(QSqlDatabase& db, QSqlError& failure);

const std::vector<SchemaStep>& SchemaSteps() {
    static const std::vector<SchemaStep> steps = {
        {1,
         {
             "CREATE TABLE schema_version (version INTEGER NOT NULL)",
             "CREATE TABLE records ("
             " id TEXT PRIMARY KEY, kind TEXT NOT NULL, station TEXT NOT NULL, operator_name TEXT NOT NULL,"
             " program_version TEXT NOT NULL, port TEXT NOT NULL, speed INTEGER NOT NULL,"
             " started_ms BIGINT NOT NULL, duration_ms BIGINT NOT NULL, outcome TEXT, reason TEXT NOT NULL,"
             " unit TEXT NOT NULL, script TEXT NOT NULL, script_sha256 TEXT NOT NULL, line_range TEXT NOT NULL,"
             " exit_code INTEGER, writer_host TEXT NOT NULL, writer_pid INTEGER NOT NULL)",
             "CREATE INDEX records_started ON records (started_ms DESC)",
             "CREATE INDEX records_unit ON records (unit, started_ms)",
             "CREATE INDEX records_outcome ON records (outcome, started_ms)",
             "CREATE TABLE record_log ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, t_ms BIGINT NOT NULL,"
             " colour TEXT NOT NULL, line_text TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
             "CREATE TABLE record_serials ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, space TEXT NOT NULL,"
             " data TEXT NOT NULL, script_line INTEGER NOT NULL, result TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
             "CREATE INDEX record_serials_data ON record_serials (data)",
             "CREATE TABLE record_images ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, kind TEXT NOT NULL,"
             " length BIGINT NOT NULL, sha256 TEXT NOT NULL, file TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
         }},
        // The script line each log line was shown for, so that a report can name it.
        {2, {"ALTER TABLE record_log ADD COLUMN script_line INTEGER NOT NULL DEFAULT 0"}},
        // Log lines kept in chunks of many lines a row: a row a line cost a busy
        // run a fifth of its speed.
        {3,
         {"CREATE TABLE record_log_chunks ("
          " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, last_t_ms BIGINT NOT NULL,"
          " lines TEXT NOT NULL, PRIMARY KEY (record_id, seq))"},
         ConvertLogRowsToChunks,
         {"DROP TABLE record_log"}},
        // Every number claimed before it was sent, by whichever record, station and unit:
        // the key lets each one out once.
        {4,
         {"CREATE TABLE serial_claims ("
          " space TEXT NOT NULL, data TEXT NOT NULL, record_id TEXT NOT NULL, station TEXT NOT NULL,"
          " unit TEXT NOT NULL, claimed_ms BIGINT NOT NULL, PRIMARY KEY (space, data))"}},
        // The records of a station's local file still to be sent on to the line's
        // database, in the order they were begun.
        {5,
         {"CREATE TABLE forward_queue ("
          " seq BIGINT NOT NULL PRIMARY KEY, record_id TEXT NOT NULL, destination TEXT NOT NULL)",
          "CREATE INDEX forward_queue_destination ON forward_queue (destination, seq)"}},
    };
    return steps;
}

constexpr const char* HeaderColumns =
    "id, kind, station, operator_name, program_version, port, speed, started_ms, duration_ms, outcome, reason,"
    " unit, script, script_sha256, line_range, exit_code";

// A bound text is never NULL: the columns hold "" for nothing.
QVariant Text(const QString& text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

QVariant Utf8(const std::string& text) {
    return Text(QString::fromStdString(text));
}

QVariant Cp1251(const std::string& bytes) {
    return Text(DecodeCp1251(bytes));
}

std::string Cp1251From(const QVariant& value) {
    const QString text = value.toString();
    if (auto bytes = EncodeCp1251(text))
        return *std::move(bytes);
    return text.toStdString();
}

std::string Utf8From(const QVariant& value) {
    return value.toString().toStdString();
}

RecordHeader ReadHeader(const QSqlQuery& query) {
    RecordHeader header;
    header.id = Utf8From(query.value(0));
    header.kind = Utf8From(query.value(1));
    header.station = Utf8From(query.value(2));
    header.operatorName = Utf8From(query.value(3));
    header.version = Utf8From(query.value(4));
    header.port = Utf8From(query.value(5));
    header.speed = query.value(6).toInt();
    header.startedMs = query.value(7).toLongLong();
    header.durationMs = query.value(8).toLongLong();
    if (!query.value(9).isNull())
        header.outcome = OutcomeFromText(Utf8From(query.value(9)));
    header.reason = Utf8From(query.value(10));
    header.unit = Utf8From(query.value(11));
    header.script = Utf8From(query.value(12));
    header.scriptSha256 = Utf8From(query.value(13));
    header.lineRange = Utf8From(query.value(14));
    if (!query.value(15).isNull())
        header.exitCode = query.value(15).toInt();
    return header;
}

QVariant OutcomeValue(const std::optional<RecordOutcome>& outcome) {
    return outcome ? QVariant(QString::fromLatin1(OutcomeText(*outcome))) : QVariant(QMetaType::fromType<QString>());
}

QVariant ExitValue(const std::optional<int>& exitCode) {
    return exitCode ? QVariant(*exitCode) : QVariant(QMetaType::fromType<int>());
}

// The log rows of the second schema become chunks, a record's lines in order.
bool ConvertLogRowsToChunks(QSqlDatabase& db, QSqlError& failure) {
    QSqlQuery rows(db);
    // PostgreSQL's driver drops the rest of a forward-only result when the
    // connection runs another statement.
    rows.setForwardOnly(db.driverName() == QLatin1String("QSQLITE"));
    if (!rows.exec(QStringLiteral(
            "SELECT record_id, t_ms, colour, line_text, script_line FROM record_log ORDER BY record_id, seq"))) {
        failure = rows.lastError();
        return false;
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO record_log_chunks (record_id, seq, last_t_ms, lines) VALUES (?, ?, ?, ?)"));
    QVariant recordId;
    std::vector<RecordLogChunk> log;
    const auto write = [&] {
        qint64 seq = 0;
        for (const RecordLogChunk& chunk : log) {
            insert.bindValue(0, recordId);
            insert.bindValue(1, seq++);
            insert.bindValue(2, chunk.lastMs);
            insert.bindValue(3, Cp1251(chunk.text));
            if (!insert.exec()) {
                failure = insert.lastError();
                return false;
            }
        }
        log.clear();
        return true;
    };
    while (rows.next()) {
        if (rows.value(0) != recordId && !write())
            return false;
        recordId = rows.value(0);
        AddLogLine(log, rows.value(1).toLongLong(),
                   ColourFromText(Utf8From(rows.value(2))).value_or(ResultColour::Black), rows.value(4).toInt(),
                   Cp1251From(rows.value(3)));
    }
    return write();
}

}  // namespace

RecordStore::RecordStore() {
    static std::atomic<unsigned> connections{0};
    m_connection = QStringLiteral("tamrisk-records-%1").arg(++connections);
}

RecordStore::~RecordStore() {
    m_claimInsert.reset();
    if (m_db.isValid())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

QString RecordStore::DefaultLocation() {
    // Named here, not after the running program, so that the station and tamrisk-cli share one file.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Tamrisk/records.sqlite");
}

bool RecordStore::IsSqlite() const {
    return m_db.driverName() == QLatin1String("QSQLITE");
}

// SQLite: the database busy or a table locked. PostgreSQL: a serialization
// failure or a deadlock, which the server resolves by failing one transaction.
bool RecordStore::IsBusy(const QSqlError& failure) const {
    const QString code = failure.nativeErrorCode();
    if (!IsSqlite())
        return code == QLatin1String("40001") || code == QLatin1String("40P01");
    bool number = false;
    const int value = code.toInt(&number);
    constexpr int SqliteBusy = 5, SqliteLocked = 6;
    return number && ((value & 0xff) == SqliteBusy || (value & 0xff) == SqliteLocked);
}

bool RecordStore::IsPostgresqlLocation(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

bool RecordStore::AddConnection(const QString& location, const QString& name, QSqlDatabase& db, QString& reason) {
    if (!IsPostgresqlLocation(location)) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            reason = QStringLiteral("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
            return false;
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(location);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
        return true;
    }
    // scheme://[user[:password]@][host][:port]/database[?key=value&...]
    static const QRegularExpression url(QStringLiteral(
        "^postgres(?:ql)?://(?:([^@/?]*)@)?(\\[[^\\]/?]*\\]|[^:/?]*)(?::([0-9]+))?/([^/?]+)(?:\\?(.*))?$"));
    const QRegularExpressionMatch parts = url.match(location);
    if (!parts.hasMatch()) {
        reason = QStringLiteral("not a PostgreSQL URL (postgresql://USER@HOST[:PORT]/DB)");
        return false;
    }
    const auto decoded = [](const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); };
    const QString noPassword = QStringLiteral(
        "a password is not taken from the URL: put it in ~/.pgpass or PGPASSWORD");
    if (parts.captured(1).contains(u':')) {
        reason = noPassword;
        return false;
    }
    QString host = decoded(parts.captured(2));
    if (host.startsWith(u'['))
        host = host.mid(1, host.size() - 2);
    int port = parts.captured(3).isEmpty() ? -1 : parts.captured(3).toInt();
    // Further libpq settings (sslmode=require and the like) pass on as they are.
    // A server that went away mid-statement is given up in seconds too: TCP
    // keepalives and a bound on unacknowledged data find a dead network, and the
    // server ends a statement that waits longer than a minute (on a lock, say).
    QStringList options = {QStringLiteral("connect_timeout=%1").arg(ConnectTimeoutS),
                           QStringLiteral("keepalives_idle=10"), QStringLiteral("keepalives_interval=5"),
                           QStringLiteral("keepalives_count=3"), QStringLiteral("tcp_user_timeout=15000"),
                           QStringLiteral("options='-c statement_timeout=60000'")};
    static const QRegularExpression plainKey(QStringLiteral("^[a-z_]+$"));
    static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9_./+-]*$"));
    for (const QString& pair : parts.captured(5).split(u'&', Qt::SkipEmptyParts)) {
        const QString key = decoded(pair.section(u'=', 0, 0));
        const QString value = decoded(pair.section(u'=', 1));
        if (key == QLatin1String("password")) {
            reason = noPassword;
            return false;
        }
        if (key == QLatin1String("host")) {
            host = value;
        } else if (key == QLatin1String("port")) {
            bool number = false;
            port = value.toInt(&number);
            if (!number) {
                reason = QStringLiteral("the port is not a number: ") + value;
                return false;
            }
        } else if (plainKey.match(key).hasMatch() && plainValue.match(value).hasMatch()) {
            options.push_back(key + u'=' + value);
        } else {
            reason = QStringLiteral("the URL's setting cannot be taken: ") + pair;
            return false;
        }
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        reason = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return false;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(decoded(parts.captured(4)));
    db.setUserName(decoded(parts.captured(1)));
    db.setConnectOptions(options.join(u';'));
    return true;
}

bool RecordStore::Fail(const QSqlError& failure, QString& error) const {
    // libpq's own failures (refused, lost, timed out) carry no SQLSTATE; the
    // server says 08xxx for a connection failure and 57P01..57P03 while it shuts
    // down or starts. An error made here (NoError) is never one, but a connection
    // found broken is, whatever error the driver kept (a commit on a lost
    // connection fails without one of its own).
    const QString code = failure.nativeErrorCode();
    m_outOfReach = failure.type() == QSqlError::ConnectionError ||
                   (!IsSqlite() && (!m_db.isOpen() || (failure.type() != QSqlError::NoError &&
                                                       (code.isEmpty() || code.startsWith(QLatin1String("08")) ||
                                                        code == QLatin1String("57P01") ||
                                                        code == QLatin1String("57P02") ||
                                                        code == QLatin1String("57P03")))));
    QString reason = failure.databaseText().isEmpty() ? failure.text() : failure.databaseText();
    // PostgreSQL's messages end in a line end and may run over several lines.
    if (!IsSqlite())
        reason = reason.simplified();
    error = m_location + QStringLiteral(": ") + reason;
    return false;
}

bool RecordStore::NotOpen(QString& error) const {
    error = m_openError.isEmpty() ? QStringLiteral("the records database is not open") : m_openError;
    return false;
}

bool RecordStore::Exec(const QString& sql, QSqlError& failure) {
    QSqlQuery query(m_db);
    if (query.exec(sql))
        return true;
    failure = query.lastError();
    return false;
}

bool RecordStore::Run(QSqlQuery& query, QSqlError& failure) {
    if (query.exec())
        return true;
    failure = query.lastError();
    return false;
}

// SQLite takes the write lock at BEGIN IMMEDIATE, so that a transaction that
// reads before it writes waits for other writers instead of failing half way.
bool RecordStore::Write(const std::function<bool(QSqlError&)>& body, QString& error) {
    if (!m_open)
        return NotOpen(error);
    QSqlError failure;
    for (int attempt = 0; attempt < WriteAttempts; ++attempt) {
        const bool begun = IsSqlite() ? Exec(QStringLiteral("BEGIN IMMEDIATE"), failure) : m_db.transaction();
        if (!begun && !IsSqlite())
            failure = m_db.lastError();
        if (begun && body(failure)) {
            if (IsSqlite() ? Exec(QStringLiteral("COMMIT"), failure) : m_db.commit())
                return true;
            if (!IsSqlite())
                failure = m_db.lastError();
        }
        if (begun) {
            QSqlError ignored;
            IsSqlite() ? Exec(QStringLiteral("ROLLBACK"), ignored) : m_db.rollback();
        }
        if (!IsBusy(failure))
            break;
    }
    return Fail(failure, error);
}

QString RecordStore::ShownLocation(const QString& location) {
    // A password written into a URL is refused, and not repeated in the message.
    static const QRegularExpression userPassword(QStringLiteral("^(postgres(?:ql)?://[^:@/?]*):[^@/?]*@"));
    static const QRegularExpression passwordSetting(QStringLiteral("([?&]password=)[^&]*"));
    return !IsPostgresqlLocation(location) ? location
                                           : QString(location)
                                                 .replace(userPassword, QStringLiteral("\\1:***@"))
                                                 .replace(passwordSetting, QStringLiteral("\\1***"));
}

bool RecordStore::Open(const QString& location, QString& error) {
    m_open = false;
    m_outOfReach = false;
    m_durable = false;
    m_location = location;
    m_openError.clear();
    m_claimInsert.reset();
    const QString shown = ShownLocation(location);
    auto refuse = [&](const QString& reason) {
        m_openError = shown + QStringLiteral(": ") + reason;
        error = m_openError;
        if (m_db.isOpen())
            m_db.close();
        return false;
    };
    auto refuseSql = [&](const QSqlError& failure) {
        QString message;
        Fail(failure, message);
        return refuse(message.mid(m_location.size() + 2));
    };

    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
    QString reason;
    if (!AddConnection(location, m_connection, m_db, reason))
        return refuse(reason);
    const QFileInfo file(location);
    // A folder that cannot be made may be a share not mounted yet: out of reach.
    if (IsSqlite() && !QDir().mkpath(file.absolutePath())) {
        m_outOfReach = true;
        return refuse(QStringLiteral("cannot make the folder ") + file.absolutePath());
    }
    if (!m_db.open())
        return refuseSql(m_db.lastError());

    // Reading the version reads the file's header: a file that is not a database,
    // another program's database or a newer one is refused before anything is
    // written to it (switching to WAL writes the header).
    QSqlError failure;
    if (!ReadSchemaVersion(m_schemaVersion, failure))
        return refuseSql(failure);
    if (m_schemaVersion < 0)
        return refuse(QStringLiteral("not a records database (it holds other tables)"));
    if (m_schemaVersion > CurrentSchemaVersion)
        return refuse(QStringLiteral("records of a newer program (schema version %1; this program knows %2)")
                          .arg(m_schemaVersion)
                          .arg(CurrentSchemaVersion));
    if (IsSqlite()) {
        // Switching a new file to WAL takes it for a moment alone, and SQLite
        // answers busy at once rather than waiting: programs that make the file
        // together try again for as long as a busy database is waited for.
        bool wal = false;
        for (QDeadlineTimer busy(BusyTimeoutMs); !wal;) {
            wal = Exec(QStringLiteral("PRAGMA journal_mode=WAL"), failure);
            if (wal || !IsBusy(failure) || busy.hasExpired())
                break;
            QThread::msleep(10);
        }
        if (!wal || !Exec(QStringLiteral("PRAGMA synchronous=NORMAL"), failure))
            return refuseSql(failure);
    }
    m_open = true;
    if (m_schemaVersion < CurrentSchemaVersion && !Upgrade(error)) {
        m_open = false;
        return refuse(error.mid(m_location.size() + 2));
    }
    return true;
}

// 0 for an empty database, -1 for one that holds tables but no schema version.
bool RecordStore::ReadSchemaVersion(int& version, QSqlError& failure) {
    // QSqlDatabase::tables() hides a failure: a file that is not a database must say so.
    // On PostgreSQL: every table, view or other relation of the schema the records
    // go to, also those this role may not read.
    QStringList tables;
    QSqlQuery list(m_db);
    if (!list.exec(IsSqlite() ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")
                              : QStringLiteral("SELECT c.relname FROM pg_catalog.pg_class c"
                                               " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                                               " WHERE n.nspname = current_schema()"
                                               " AND c.relkind IN ('r', 'p', 'v', 'm', 'f')"))) {
        failure = list.lastError();
        return false;
    }
    while (list.next())
        tables.push_back(list.value(0).toString());
    if (!tables.contains(QStringLiteral("schema_version"))) {
        version = tables.isEmpty() ? 0 : -1;
        return true;
    }
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        failure = query.lastError();
        return false;
    }
    version = query.value(0).toInt();
    return true;
}

// Another program may have upgraded the database since it was read: the version
// is read again inside the transaction that upgrades. SQLite's write lock lets
// one program at a time in; on PostgreSQL an advisory lock held until the end of
// the transaction does.
bool RecordStore::Upgrade(QString& error) {
    int upgradedTo = 0;
    const bool written = Write(
        [&](QSqlError& failure) {
            if (!IsSqlite() && !Exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLockKey), failure))
                return false;
            int version = 0;
            if (!ReadSchemaVersion(version, failure))
                return false;
            if (version < 0 || version > CurrentSchemaVersion) {
                failure = QSqlError(QString(), QStringLiteral("the schema changed while it was being upgraded"));
                return false;
            }
            const int from = version;
            for (const SchemaStep& step : SchemaSteps()) {
                if (step.version <= version)
                    continue;
                for (const char* statement : step.statements) {
                    if (!Exec(QString::fromLatin1(statement), failure))
                        return false;
                }
                if (step.convert != nullptr && !step.convert(m_db, failure))
                    return false;
                for (const char* statement : step.after) {
                    if (!Exec(QString::fromLatin1(statement), failure))
                        return false;
                }
                version = step.version;
            }
            QSqlQuery query(m_db);
            query.prepare(from == 0 ? QStringLiteral("INSERT INTO schema_version (version) VALUES (?)")
                                    : QStringLiteral("UPDATE schema_version SET version = ?"));
            query.addBindValue(version);
            upgradedTo = version;
            return Run(query, failure);
        },
        error);
    if (written)
        m_schemaVersion = upgradedTo;
    return written;
}

// `whole`: a record sent on from another database, with its outcome, skipped
// when its id is there already. Else a record in progress. Either way this
// program is its writer here.
bool RecordStore::InsertHeader(const RecordHeader& header, bool whole, bool& inserted, QSqlError& failure) {
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO records (") + QLatin1String(HeaderColumns) +
                  QStringLiteral(", writer_host, writer_pid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)") +
                  (whole ? QStringLiteral(" ON CONFLICT (id) DO NOTHING") : QString()));
    for (const QVariant& value :
         {Utf8(header.id), Utf8(header.kind), Utf8(header.station), Utf8(header.operatorName), Utf8(header.version),
          Utf8(header.port), QVariant(header.speed), QVariant(header.startedMs), QVariant(header.durationMs),
          OutcomeValue(whole ? header.outcome : std::nullopt), Utf8(header.reason), Utf8(header.unit),
          Utf8(header.script), Utf8(header.scriptSha256), Utf8(header.lineRange), ExitValue(header.exitCode),
          Text(QSysInfo::machineHostName()), QVariant(static_cast<qint64>(getpid()))})
        query.addBindValue(value);
    if (!Run(query, failure))
        return false;
    inserted = query.numRowsAffected() > 0;
    return true;
}

bool RecordStore::Begin(const RecordHeader& header, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            bool inserted = false;
            if (!InsertHeader(header, false, inserted, failure))
                return false;
            if (m_forwardTo.isEmpty())
                return true;
            QSqlQuery queue(m_db);
            queue.prepare(QStringLiteral("INSERT INTO forward_queue (seq, record_id, destination)"
                                         " SELECT COALESCE(MAX(seq), 0) + 1, ?, ? FROM forward_queue"));
            queue.addBindValue(Utf8(header.id));
            queue.addBindValue(Text(m_forwardTo));
            return Run(queue, failure);
        },
        error);
}

bool RecordStore::NextSequence(const QString& table, const std::string& id, qint64& next, QSqlError& failure) {
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT MAX(seq) FROM ") + table + QStringLiteral(" WHERE record_id = ?"));
    query.addBindValue(Utf8(id));
    if (!Run(query, failure) || !query.next()) {
        failure = query.lastError();
        return false;
    }
    next = query.value(0).isNull() ? 0 : query.value(0).toLongLong() + 1;
    return true;
}

bool RecordStore::InsertBatch(const std::string& id, const RecordBatch& batch, QSqlError& failure) {
    const QVariant recordId = Utf8(id);
    auto insertAll = [&](const QString& table, const QString& columns, std::size_t count, auto&& bind) {
        if (count == 0)
            return true;
        qint64 seq = 0;
        if (!NextSequence(table, id, seq, failure))
            return false;
        const QString marks = QString(QStringLiteral(", ?")).repeated(static_cast<int>(columns.count(u',')) + 1);
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (record_id, seq, ") + columns +
                      QStringLiteral(") VALUES (?, ?") + marks + QStringLiteral(")"));
        for (std::size_t i = 0; i < count; ++i) {
            query.bindValue(0, recordId);
            query.bindValue(1, seq++);
            bind(query, i);
            if (!Run(query, failure))
                return false;
        }
        return true;
    };
    const bool inserted =
        insertAll(QStringLiteral("record_log_chunks"), QStringLiteral("last_t_ms, lines"), batch.log.size(),
                  [&](QSqlQuery& query, std::size_t i) {
                      query.bindValue(2, batch.log[i].lastMs);
                      query.bindValue(3, Cp1251(batch.log[i].text));
                  }) &&
        insertAll(QStringLiteral("record_serials"), QStringLiteral("space, data, script_line, result"),
                  batch.serials.size(),
                  [&](QSqlQuery& query, std::size_t i) {
                      const RecordSerial& serial = batch.serials[i];
                      query.bindValue(2, Cp1251(serial.space));
                      query.bindValue(3, Cp1251(serial.data));
                      query.bindValue(4, serial.line);
                      query.bindValue(5, QString::fromLatin1(SerialResultText(serial.result)));
                  }) &&
        insertAll(QStringLiteral("record_images"), QStringLiteral("kind, length, sha256, file"), batch.images.size(),
                  [&](QSqlQuery& query, std::size_t i) {
                      const RecordImage& image = batch.images[i];
                      query.bindValue(2, Utf8(image.kind));
                      query.bindValue(3, image.length);
                      query.bindValue(4, Utf8(image.sha256));
                      query.bindValue(5, Utf8(image.file));
                  });
    if (!inserted || batch.unit.empty())
        return inserted;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE records SET unit = ? WHERE id = ?"));
    query.addBindValue(Utf8(batch.unit));
    query.addBindValue(recordId);
    return Run(query, failure);
}

bool RecordStore::AppendBatch(const std::string& id, const RecordBatch& batch, QString& error) {
    if (batch.Empty())
        return m_open || NotOpen(error);
    return Write([&](QSqlError& failure) { return InsertBatch(id, batch, failure); }, error);
}

bool RecordStore::AppendLog(const std::string& id, std::span<const RecordLogLine> lines, QString& error) {
    RecordBatch batch;
    for (const RecordLogLine& line : lines)
        AddLogLine(batch.log, line);
    return AppendBatch(id, batch, error);
}

bool RecordStore::AddSerials(const std::string& id, std::span<const RecordSerial> serials, QString& error) {
    RecordBatch batch;
    batch.serials.assign(serials.begin(), serials.end());
    return AppendBatch(id, batch, error);
}

bool RecordStore::AddImage(const std::string& id, const RecordImage& image, QString& error) {
    RecordBatch batch;
    batch.images.push_back(image);
    return AppendBatch(id, batch, error);
}

bool RecordStore::SetDurableCommits(bool on, QString& error) {
    if (!m_open)
        return NotOpen(error);
    QSqlError failure;
    if (IsSqlite() && !Exec(on ? QStringLiteral("PRAGMA synchronous=FULL") : QStringLiteral("PRAGMA synchronous=NORMAL"),
                            failure))
        return Fail(failure, error);
    m_durable = on;
    return true;
}

// The outcome is reported once this returns: a power cut must not take it back.
bool RecordStore::Finish(const RecordHeader& header, QString& error) {
    const bool durable = m_durable;
    if (!durable && !SetDurableCommits(true, error))
        return false;
    const bool written = Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(
                QStringLiteral("UPDATE records SET outcome = ?, reason = ?, duration_ms = ?, unit = ?, exit_code = ?"
                               " WHERE id = ?"));
            for (const QVariant& value : {OutcomeValue(header.outcome), Utf8(header.reason),
                                          QVariant(header.durationMs), Utf8(header.unit), ExitValue(header.exitCode),
                                          Utf8(header.id)})
                query.addBindValue(value);
            return Run(query, failure);
        },
        error);
    QString ignored;  // the next writes are only as durable as before
    if (!durable)
        SetDurableCommits(false, ignored);
    return written;
}

int RecordStore::Waiting(const QString& line, QString& error) {
    if (!m_open) {
        NotOpen(error);
        return -1;
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM forward_queue WHERE destination = ?"));
    query.addBindValue(Text(line));
    if (!query.exec() || !query.next()) {
        Fail(query.lastError(), error);
        return -1;
    }
    return query.value(0).toInt();
}

std::vector<Record> RecordStore::Sendable(const QString& line, int limit, QString& error) {
    std::vector<Record> records;
    if (!m_open) {
        NotOpen(error);
        return records;
    }
    std::vector<std::string> ids;
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT q.record_id FROM forward_queue q JOIN records r ON r.id = q.record_id"
                                     " WHERE q.destination = ? AND r.outcome IS NOT NULL ORDER BY q.seq LIMIT ?"));
        query.addBindValue(Text(line));
        query.addBindValue(limit);
        QSqlError failure;
        if (!Run(query, failure)) {
            Fail(failure, error);
            return records;
        }
        while (query.next())
            ids.push_back(Utf8From(query.value(0)));
    }
    for (const std::string& id : ids) {
        std::optional<Record> record = Load(id, error);
        if (!record)
            return {};
        records.push_back(*std::move(record));
    }
    return records;
}

bool RecordStore::Unqueue(const QString& line, std::span<const Record> records, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral("DELETE FROM forward_queue WHERE destination = ? AND record_id = ?"));
            for (const Record& record : records) {
                query.bindValue(0, Text(line));
                query.bindValue(1, Utf8(record.header.id));
                if (!Run(query, failure))
                    return false;
            }
            return true;
        },
        error);
}

bool RecordStore::Import(std::span<const Record> records, int& added, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            added = 0;
            for (const Record& record : records) {
                bool inserted = false;
                if (!InsertHeader(record.header, true, inserted, failure))
                    return false;
                if (!inserted)
                    continue;
                RecordBatch batch;
                for (const RecordLogLine& line : record.log)
                    AddLogLine(batch.log, line);
                batch.serials = record.serials;
                batch.images = record.images;
                if (!InsertBatch(record.header.id, batch, failure))
                    return false;
                ++added;
            }
            return true;
        },
        error);
}

// One statement against the key (space, data): the first claim inserts the row,
// any later one, of any program or station, finds it there and inserts nothing.
// Two claims at once cannot both win, and the loser's transaction stays sound.
// A first claim is that statement alone, committed on its own and prepared once
// a connection: one round trip to a server rather than five.
RecordStore::ClaimResult RecordStore::Claim(const SerialClaimRow& claim, QString& error, bool again) {
    bool taken = false;
    const auto insert = [&](QSqlError& failure) {
        if (!m_claimInsert) {
            m_claimInsert = std::make_unique<QSqlQuery>(m_db);
            if (!m_claimInsert->prepare(
                    QStringLiteral("INSERT INTO serial_claims (space, data, record_id, station, unit, claimed_ms)"
                                   " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (space, data) DO NOTHING"))) {
                failure = m_claimInsert->lastError();
                m_claimInsert.reset();
                return false;
            }
        }
        int i = 0;
        for (const QVariant& value : {Cp1251(claim.space), Cp1251(claim.data), Utf8(claim.recordId),
                                      Utf8(claim.station), Utf8(claim.unit), QVariant(claim.claimedMs)})
            m_claimInsert->bindValue(i++, value);
        if (!Run(*m_claimInsert, failure))
            return false;
        taken = m_claimInsert->numRowsAffected() == 0;
        m_claimInsert->finish();
        return true;
    };
    if (!again) {
        if (!m_open) {
            NotOpen(error);
            return ClaimResult::Failed;
        }
        QSqlError failure;
        if (insert(failure))
            return taken ? ClaimResult::Taken : ClaimResult::Claimed;
        // A busy database is waited for as every write waits, in a transaction of its own.
        if (!IsBusy(failure)) {
            Fail(failure, error);
            return m_outOfReach ? ClaimResult::Unreachable : ClaimResult::Failed;
        }
    }
    const bool written = Write(
        [&](QSqlError& failure) {
            if (!insert(failure))
                return false;
            if (!taken || !again)
                return true;
            QSqlQuery owner(m_db);
            owner.prepare(QStringLiteral("SELECT record_id FROM serial_claims WHERE space = ? AND data = ?"));
            owner.addBindValue(Cp1251(claim.space));
            owner.addBindValue(Cp1251(claim.data));
            if (!Run(owner, failure))
                return false;
            taken = !owner.next() || owner.value(0).toString().toStdString() != claim.recordId;
            return true;
        },
        error);
    if (!written)
        return m_outOfReach ? ClaimResult::Unreachable : ClaimResult::Failed;
    return taken ? ClaimResult::Taken : ClaimResult::Claimed;
}

bool RecordStore::Release(const std::string& space, const std::string& data, const std::string& recordId,
                          QString& error) {
    return Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral("DELETE FROM serial_claims WHERE space = ? AND data = ? AND record_id = ?"));
            for (const QVariant& value : {Cp1251(space), Cp1251(data), Utf8(recordId)})
                query.addBindValue(value);
            return Run(query, failure);
        },
        error);
}

int RecordStore::MarkAbandoned(QString& error) {
    int marked = 0;
    const bool written = Write(
        [&](QSqlError& failure) {
            marked = 0;
            QSqlQuery unfinished(m_db);
            unfinished.prepare(
                QStringLiteral("SELECT id, writer_pid FROM records WHERE outcome IS NULL AND writer_host = ?"));
            unfinished.addBindValue(Text(QSysInfo::machineHostName()));
            if (!Run(unfinished, failure))
                return false;
            std::vector<QVariant> gone;
            while (unfinished.next()) {
                const auto pid = static_cast<pid_t>(unfinished.value(1).toLongLong());
                if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH)
                    gone.push_back(unfinished.value(0));
            }
            unfinished.finish();
            QSqlQuery abort(m_db);
            abort.prepare(QStringLiteral(
                "UPDATE records SET outcome = ?, reason = ?,"
                " duration_ms = (SELECT COALESCE(MAX(last_t_ms), 0) FROM record_log_chunks WHERE record_id = records.id)"
                " WHERE id = ? AND outcome IS NULL"));
            for (const QVariant& id : gone) {
                abort.bindValue(0, QString::fromLatin1(OutcomeText(RecordOutcome::Aborted)));
                abort.bindValue(1, QString::fromLatin1(UnfinishedReason));
                abort.bindValue(2, id);
                if (!Run(abort, failure))
                    return false;
                marked += abort.numRowsAffected() > 0 ? 1 : 0;
            }
            return true;
        },
        error);
    return written ? marked : -1;
}

bool RecordStore::Select(QSqlQuery& query, QString sql, QVariantList values, int limit, QString& error) {
    if (limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        values.push_back(limit);
    }
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    QSqlError failure;
    return Run(query, failure) || Fail(failure, error);
}

std::vector<RecordHeader> RecordStore::List(const Filter& filter, QString& error) {
    std::vector<RecordHeader> headers;
    if (!m_open) {
        NotOpen(error);
        return headers;
    }
    QString sql = QStringLiteral("SELECT ") + QLatin1String(HeaderColumns) + QStringLiteral(" FROM records WHERE 1 = 1");
    QVariantList values;
    auto where = [&](bool given, const char* condition, const QVariant& value) {
        if (!given)
            return;
        sql += QStringLiteral(" AND ") + QLatin1String(condition);
        values.push_back(value);
    };
    where(!filter.unit.empty(), "unit = ?", Utf8(filter.unit));
    where(!filter.kind.empty(), "kind = ?", Utf8(filter.kind));
    where(filter.outcome.has_value(), "outcome = ?", OutcomeValue(filter.outcome));
    where(filter.sinceMs.has_value(), "started_ms >= ?", QVariant(filter.sinceMs.value_or(0)));
    where(!filter.serial.empty(), "id IN (SELECT record_id FROM record_serials WHERE data = ?)",
          Utf8(filter.serial));
    if (filter.after) {
        // Written so that the started_ms index bounds the scan.
        sql += QStringLiteral(" AND started_ms <= ? AND (started_ms < ? OR id < ?)");
        values << filter.after->startedMs << filter.after->startedMs << Utf8(filter.after->id);
    }
    QSqlQuery query(m_db);
    if (!Select(query, sql + QStringLiteral(" ORDER BY started_ms DESC, id DESC"), values, filter.limit, error))
        return headers;
    while (query.next())
        headers.push_back(ReadHeader(query));
    return headers;
}

RecordStore::Resolve RecordStore::ResolveId(const std::string& prefix, std::string& id, QString& error) {
    if (!m_open) {
        NotOpen(error);
        return Resolve::NotFound;
    }
    const QString start = QString::fromStdString(prefix).toLower();
    const bool uuidLike = std::all_of(start.begin(), start.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || c == u'-';
    });
    if (start.isEmpty() || !uuidLike)
        return Resolve::NotFound;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // SQLite's LIKE ignores the case of ASCII letters; PostgreSQL's ILIKE does.
    query.prepare(IsSqlite() ? QStringLiteral("SELECT id FROM records WHERE id LIKE ? ORDER BY id LIMIT 2")
                             : QStringLiteral("SELECT id FROM records WHERE id ILIKE ? ORDER BY id LIMIT 2"));
    query.addBindValue(start + u'%');
    QSqlError failure;
    if (!Run(query, failure)) {
        Fail(failure, error);
        return Resolve::NotFound;
    }
    if (!query.next())
        return Resolve::NotFound;
    id = Utf8From(query.value(0));
    return query.next() ? Resolve::Ambiguous : Resolve::Found;
}

std::optional<Record> RecordStore::Load(const std::string& id, QString& error) {
    if (!m_open) {
        NotOpen(error);
        return std::nullopt;
    }
    QSqlError failure;
    // The four results are read side by side: forward-only only where the driver
    // keeps them all (SQLite; PostgreSQL's driver would drop the earlier ones).
    auto select = [&](QSqlQuery& query, const QString& sql) {
        query.setForwardOnly(IsSqlite());
        query.prepare(sql);
        query.addBindValue(Utf8(id));
        return Run(query, failure);
    };
    Record record;
    QSqlQuery header(m_db), log(m_db), serials(m_db), images(m_db);
    if (!select(header, QStringLiteral("SELECT ") + QLatin1String(HeaderColumns) +
                            QStringLiteral(" FROM records WHERE id = ?")) ||
        !select(log, QStringLiteral("SELECT lines FROM record_log_chunks WHERE record_id = ? ORDER BY seq")) ||
        !select(serials, QStringLiteral("SELECT space, data, script_line, result FROM record_serials"
                                        " WHERE record_id = ? ORDER BY seq")) ||
        !select(images, QStringLiteral("SELECT kind, length, sha256, file FROM record_images"
                                       " WHERE record_id = ? ORDER BY seq"))) {
        Fail(failure, error);
        return std::nullopt;
    }
    if (!header.next()) {
        error = m_location + QStringLiteral(": no record ") + QString::fromStdString(id);
        return std::nullopt;
    }
    record.header = ReadHeader(header);
    while (log.next()) {
        if (!ReadLogChunk(Cp1251From(log.value(0)), record.log)) {
            error = m_location + QStringLiteral(": the log of record ") + QString::fromStdString(id) +
                    QStringLiteral(" cannot be read");
            return std::nullopt;
        }
    }
    while (serials.next()) {
        record.serials.push_back({Cp1251From(serials.value(0)), Cp1251From(serials.value(1)), serials.value(2).toInt(),
                                  SerialResultFromText(Utf8From(serials.value(3))).value_or(SerialResult::Unknown)});
    }
    while (images.next()) {
        record.images.push_back({Utf8From(images.value(0)), images.value(1).toLongLong(), Utf8From(images.value(2)),
                                 Utf8From(images.value(3))});
    }
    return record;
}

std::vector<SerialClaimRow> RecordStore::Claims(const ClaimFilter& filter, QString& error) {
    std::vector<SerialClaimRow> claims;
    if (!m_open) {
        NotOpen(error);
        return claims;
    }
    QString sql = QStringLiteral("SELECT space, data, record_id, station, unit, claimed_ms FROM serial_claims WHERE 1 = 1");
    QVariantList values;
    for (const auto& [given, column, value] :
         {std::tuple(!filter.space.empty(), "space", Cp1251(filter.space)),
          std::tuple(!filter.data.empty(), "data", Cp1251(filter.data)),
          std::tuple(!filter.unit.empty(), "unit", Utf8(filter.unit)),
          std::tuple(!filter.station.empty(), "station", Utf8(filter.station))}) {
        if (!given)
            continue;
        sql += QStringLiteral(" AND ") + QLatin1String(column) + QStringLiteral(" = ?");
        values.push_back(value);
    }
    QSqlQuery query(m_db);
    if (!Select(query, sql + QStringLiteral(" ORDER BY claimed_ms DESC, space DESC, data DESC"), values, filter.limit,
                error))
        return claims;
    while (query.next()) {
        claims.push_back({Cp1251From(query.value(0)), Cp1251From(query.value(1)), Utf8From(query.value(2)),
                          Utf8From(query.value(3)), Utf8From(query.value(4)), query.value(5).toLongLong()});
    }
    return claims;
}

}  // namespace tamrisk
