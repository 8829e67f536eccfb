#include "recordstore.h"

#include "answerwatch.h"
#include "textcodec.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QSqlDriver>
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

#include <libpq-fe.h>
#include <signal.h>
#include <sys/socket.h>
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
// Where the two databases must differ, a step adds statements run on one of them only.
struct SchemaStep {
    int version;
    std::vector<const char*> statements;
    bool (*convert)(QSqlDatabase& db, QSqlError& failure) = nullptr;
    std::vector<const char*> after = {};
    std::vector<const char*> onlySqlite = {};
    std::vector<const char*> onlyPostgresql = {};
};

bool ConvertLogRowsToChunks(QSqlDatabase& db, QSqlError& failure);

// The steps' table, its byte columns of the database's own type.
#define STEP_COLUMNS(BYTES)                                                                                        \
    " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, script_line INTEGER,"                \
    " command INTEGER NOT NULL, data " BYTES " NOT NULL, status TEXT, answer " BYTES " NOT NULL,"                \
    " result TEXT NOT NULL, attempts INTEGER NOT NULL, t_ms BIGINT NOT NULL, duration_ms BIGINT NOT NULL,"       \
    " transactions INTEGER NOT NULL, failures INTEGER NOT NULL, PRIMARY KEY (record_id, seq)"

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
        // The login that made each claim. On a line's database a login may give back
        // only its own claims: row-level security lets every login read and add
        // claims, and delete only those it made (the owner, who sets the line up, is
        // not bound). A records file has no logins.
        {.version = 6,
         .statements = {},
         .onlySqlite = {"ALTER TABLE serial_claims ADD COLUMN claimed_by TEXT NOT NULL DEFAULT ''"},
         .onlyPostgresql =
             {"ALTER TABLE serial_claims ADD COLUMN claimed_by TEXT NOT NULL DEFAULT current_user",
              "ALTER TABLE serial_claims ENABLE ROW LEVEL SECURITY",
              "CREATE POLICY serial_claims_read ON serial_claims FOR SELECT USING (true)",
              "CREATE POLICY serial_claims_add ON serial_claims FOR INSERT WITH CHECK (claimed_by = current_user)",
              "CREATE POLICY serial_claims_give_back ON serial_claims FOR DELETE USING (claimed_by = current_user)"}},
        // A record the line's database refused is set aside with the line's
        // reason (NULL: it waits to be sent), so that those behind it go on.
        {7, {"ALTER TABLE forward_queue ADD COLUMN set_aside TEXT"}},
        // Every transaction of a record as a step. Data and answers are the bytes
        // of the wire, which may hold any byte (a NUL too): kept as bytes.
        {.version = 8,
         .statements = {},
         .onlySqlite = {"CREATE TABLE record_steps (" STEP_COLUMNS("BLOB") ")"},
         .onlyPostgresql = {"CREATE TABLE record_steps (" STEP_COLUMNS("BYTEA") ")"}},
    };
    return steps;
}

// What the logins of a line's database may do with each table of the schema. A
// station adds records (a record is its row in `records` and its rows in every
// record_ table), adds claims and gives back claims (row-level security keeps
// that to its own), and reads everything: it looks up the next row numbers of a
// record and the claims of a number space. Nothing here lets it change or
// delete a record. A reader only reads.
// Every table the schema makes is listed: a table added by a later step needs
// its line here as well, or GrantLogins refuses to set up the line.
struct TableGrant {
    const char* table;
    const char* station;  // the privileges of a station's login; a reader's is SELECT
};

const std::vector<TableGrant>& LineGrants() {
    static const std::vector<TableGrant> grants = {
        {"schema_version", "SELECT"},
        {"records", "SELECT, INSERT"},
        {"record_log_chunks", "SELECT, INSERT"},
        {"record_serials", "SELECT, INSERT"},
        {"record_images", "SELECT, INSERT"},
        {"record_steps", "SELECT, INSERT"},
        {"serial_claims", "SELECT, INSERT, DELETE"},
        // A station's queue is kept in its local file; on the line it stays empty.
        {"forward_queue", "SELECT"},
    };
    return grants;
}

// `name` as a quoted SQL identifier of PostgreSQL.
QString QuotedName(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
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

QVariant Bytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string BytesFrom(const QVariant& value) {
    return value.toByteArray().toStdString();
}

// Binds the columns of `step` from `first` on, in the table's order.
void BindStep(QSqlQuery& query, int first, const RecordStep& step) {
    int i = first;
    for (const QVariant& value :
         {step.line ? QVariant(*step.line) : QVariant(QMetaType::fromType<int>()), QVariant(step.command),
          Bytes(step.data),
          step.status ? QVariant(QString::fromLatin1(StatusText(*step.status))) : QVariant(QMetaType::fromType<QString>()),
          Bytes(step.answer), QVariant(QString::fromLatin1(StepResultText(step.result))), QVariant(step.attempts),
          QVariant(step.tMs), QVariant(step.durationMs), QVariant(step.transactions), QVariant(step.failures)})
        query.bindValue(i++, value);
}

constexpr const char* StepColumns =
    "script_line, command, data, status, answer, result, attempts, t_ms, duration_ms, transactions, failures";

// A step read with StepColumns from column `first` on.
RecordStep ReadStep(const QSqlQuery& query, int first) {
    RecordStep step;
    const auto value = [&](int i) { return query.value(first + i); };
    if (!value(0).isNull())
        step.line = value(0).toInt();
    step.command = value(1).toInt();
    step.data = BytesFrom(value(2));
    if (!value(3).isNull())
        step.status = StatusFromText(value(3).toString().toStdString());
    step.answer = BytesFrom(value(4));
    step.result = StepResultFromText(Utf8From(value(5))).value_or(StepResult::NotSent);
    step.attempts = value(6).toInt();
    step.tMs = value(7).toLongLong();
    step.durationMs = value(8).toLongLong();
    step.transactions = value(9).toInt();
    step.failures = value(10).toInt();
    return step;
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

// The socket of an open PostgreSQL connection; -1 for none.
int PostgresqlSocket(const QSqlDatabase& db) {
    const QVariant handle = db.driver() != nullptr ? db.driver()->handle() : QVariant();
    // Qt's driver names the type after libpq's struct (pg_conn*); its documentation, PGconn*.
    const QByteArray type = handle.isValid() ? QByteArray(handle.typeName()) : QByteArray();
    if (type != "pg_conn*" && type != "PGconn*")
        return -1;
    PGconn* const connection = *static_cast<PGconn* const*>(handle.constData());
    // A connection that failed has dropped its socket: its number may be another file's now.
    return connection != nullptr && PQstatus(connection) == CONNECTION_OK ? PQsocket(connection) : -1;
}

}  // namespace

RecordStore::Watching::Watching(RecordStore& store) : m_store(store) {
    if (m_store.m_watching++ > 0 || !m_store.m_overUnixSocket)
        return;
    m_store.m_unanswered = false;
    m_store.m_watch = std::make_unique<AnswerWatch>(PostgresqlSocket(m_store.m_db), m_store.m_answerLimit);
}

RecordStore::Watching::~Watching() {
    if (--m_store.m_watching > 0 || !m_store.m_watch)
        return;
    m_store.m_unanswered = m_store.m_watch->Fired();
    m_store.m_watch.reset();
}

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

// PostgreSQL's insufficient_privilege: the login may not do what was asked.
bool RecordStore::IsDenied(const QSqlError& failure) const {
    return !IsSqlite() && failure.nativeErrorCode() == QLatin1String("42501");
}

// What the database refuses for the values written, whenever they are written
// again. SQLite: a constraint (a trigger's RAISE too), a value too big or of the
// wrong type. PostgreSQL, by the class of its SQLSTATE: data exceptions (a value
// too long or out of range), integrity constraints, triggered data changes,
// check options and PL/pgSQL's RAISE. A lost connection (08), a server shutting
// down (57), out of resources (53), a transaction rolled back (40), a lock not
// available (55), a missing table or right (42) and the like may pass.
bool RecordStore::IsRefusal(const QSqlError& failure) const {
    const QString code = failure.nativeErrorCode();
    if (!IsSqlite()) {
        const QString sqlClass = code.left(2);
        return code.size() == 5 && (sqlClass == QLatin1String("22") || sqlClass == QLatin1String("23") ||
                                    sqlClass == QLatin1String("27") || sqlClass == QLatin1String("44") ||
                                    sqlClass == QLatin1String("P0"));
    }
    bool number = false;
    const int value = code.toInt(&number);
    constexpr int SqliteTooBig = 18, SqliteConstraint = 19, SqliteMismatch = 20;
    return number && ((value & 0xff) == SqliteTooBig || (value & 0xff) == SqliteConstraint ||
                      (value & 0xff) == SqliteMismatch);
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
    // A value goes to libpq quoted, so that a file's path (sslrootcert=PATH) may
    // hold spaces, quotes and backslashes; Qt turns every ';' of the settings
    // into a space, so a value with one is refused rather than changed.
    static const QRegularExpression plainKey(QStringLiteral("^[a-z_]+$"));
    static const QRegularExpression takenValue(QStringLiteral("^[^;\\x00-\\x1f\\x7f]*$"));
    const auto quoted = [](QString value) {
        value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
        return u'\'' + value + u'\'';
    };
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
        } else if (plainKey.match(key).hasMatch() && takenValue.match(value).hasMatch()) {
            options.push_back(key + u'=' + quoted(value));
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
    if (m_unanswered || (m_watch && m_watch->Fired()))
        reason = QStringLiteral("the server did not answer for %1 s: connection closed (%2)")
                     .arg(static_cast<double>(m_answerLimit.count()) / 1000.0)
                     .arg(reason);
    error = m_location + QStringLiteral(": ") + reason;
    return false;
}

bool RecordStore::NotOpen(QString& error) const {
    error = m_openError.isEmpty() ? QStringLiteral("the records database is not open") : m_openError;
    return false;
}

bool RecordStore::Exec(const QString& sql, QSqlError& failure) {
    if (m_watch)
        m_watch->Progress();
    QSqlQuery query(m_db);
    if (query.exec(sql))
        return true;
    failure = query.lastError();
    return false;
}

bool RecordStore::Run(QSqlQuery& query, QSqlError& failure) {
    if (m_watch)
        m_watch->Progress();
    if (query.exec())
        return true;
    failure = query.lastError();
    return false;
}

// SQLite takes the write lock at BEGIN IMMEDIATE, so that a transaction that
// reads before it writes waits for other writers instead of failing half way.
bool RecordStore::Write(const std::function<bool(QSqlError&)>& body, QString& error) {
    m_refused = false;
    if (!m_open)
        return NotOpen(error);
    const Watching watching(*this);
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
    m_refused = IsRefusal(failure);
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
        if (IsDenied(failure))
            message += QStringLiteral(
                " (the database's owner grants the line's logins their rights with"
                " `tamrisk-cli records setup`)");
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
    m_overUnixSocket = false;
    if (!m_db.open())
        return refuseSql(m_db.lastError());
    // Asked of the socket itself: an empty host may mean a socket folder or PGHOST's server.
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int socket = PostgresqlSocket(m_db);
    m_overUnixSocket = socket >= 0 && getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                       address.ss_family == AF_UNIX;
    const Watching watching(*this);

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
    bool denied = false;
    if (m_schemaVersion < CurrentSchemaVersion && !Upgrade(error, denied)) {
        m_open = false;
        // A station's login may use the line's schema but not make it: the owner does.
        if (denied && m_schemaVersion == 0)
            return refuse(QStringLiteral("the line's database has no records schema: run `tamrisk-cli records setup`"));
        if (denied)
            return refuse(QStringLiteral("the line's records schema is of an older program (version %1, this program"
                                         " writes %2): run `tamrisk-cli records setup`")
                              .arg(m_schemaVersion)
                              .arg(CurrentSchemaVersion));
        return refuse(error.mid(m_location.size() + 2));
    }
    return true;
}

bool RecordStore::GrantLogins(const QStringList& stationRoles, const QStringList& readerRoles, QString& error) {
    if (m_open && IsSqlite()) {
        error = m_location + QStringLiteral(": a records file has no logins to grant to (a line's database is a"
                                            " postgresql:// URL)");
        return false;
    }
    return Write(
        [&](QSqlError& failure) {
            QStringList tables;
            if (!ListTables(tables, failure))
                return false;
            for (const QString& table : tables) {
                const bool listed = std::any_of(LineGrants().begin(), LineGrants().end(), [&](const TableGrant& grant) {
                    return table == QLatin1String(grant.table);
                });
                if (!listed) {
                    failure = QSqlError(QString(), QStringLiteral("the table ") + table +
                                                       QStringLiteral(" has no rights listed for the line's logins"));
                    return false;
                }
            }
            // PostgreSQL only warns when a login that owns nothing grants nothing.
            QSqlQuery owned(m_db);
            if (!owned.exec(QStringLiteral("SELECT COUNT(*) FROM pg_catalog.pg_class c"
                                           " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                                           " WHERE n.nspname = current_schema() AND c.relkind = 'r'"
                                           " AND NOT pg_has_role(c.relowner, 'USAGE')")) ||
                !owned.next()) {
                failure = owned.lastError();
                return false;
            }
            if (owned.value(0).toInt() > 0) {
                failure = QSqlError(QString(), QStringLiteral("only the owner of the records schema may grant its rights"
                                                              " (this login is not)"));
                return false;
            }
            QSqlQuery names(m_db);
            if (!names.exec(QStringLiteral("SELECT current_database(), current_schema()")) || !names.next()) {
                failure = names.lastError();
                return false;
            }
            const QString database = QuotedName(names.value(0).toString());
            const QString schema = QuotedName(names.value(1).toString());
            auto grant = [&](const QString& role, bool station) {
                const QString to = QStringLiteral(" TO ") + QuotedName(role);
                if (!Exec(QStringLiteral("GRANT CONNECT ON DATABASE ") + database + to, failure) ||
                    !Exec(QStringLiteral("GRANT USAGE ON SCHEMA ") + schema + to, failure))
                    return false;
                for (const TableGrant& table : LineGrants()) {
                    const QString rights = station ? QLatin1String(table.station) : QStringLiteral("SELECT");
                    const QString on = QStringLiteral(" ON ") + QLatin1String(table.table);
                    if (!Exec(QStringLiteral("GRANT ") + rights + on + to, failure))
                        return false;
                }
                return true;
            };
            return std::all_of(stationRoles.begin(), stationRoles.end(),
                               [&](const QString& role) { return grant(role, true); }) &&
                   std::all_of(readerRoles.begin(), readerRoles.end(),
                               [&](const QString& role) { return grant(role, false); });
        },
        error);
}

// 0 for an empty database, -1 for one that holds tables but no schema version.
// QSqlDatabase::tables() hides a failure: a file that is not a database must say so.
// On PostgreSQL: every table, view or other relation of the schema the records
// go to, also those this role may not read.
bool RecordStore::ListTables(QStringList& tables, QSqlError& failure) {
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
    return true;
}

bool RecordStore::ReadSchemaVersion(int& version, QSqlError& failure) {
    QStringList tables;
    if (!ListTables(tables, failure))
        return false;
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
bool RecordStore::Upgrade(QString& error, bool& denied) {
    int upgradedTo = 0;
    denied = false;
    const auto make = [&](const char* statement, QSqlError& failure) {
        if (Exec(QString::fromLatin1(statement), failure))
            return true;
        denied = IsDenied(failure);
        return false;
    };
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
                    if (!make(statement, failure))
                        return false;
                }
                if (step.convert != nullptr && !step.convert(m_db, failure))
                    return false;
                for (const auto* statements : {&step.after, IsSqlite() ? &step.onlySqlite : &step.onlyPostgresql}) {
                    for (const char* statement : *statements) {
                        if (!make(statement, failure))
                            return false;
                    }
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
            return InsertHeader(header, false, inserted, failure) && QueueForLine(header.id, failure);
        },
        error);
}

// Queues record `id` for the line at the end of the queue; nothing without one.
// A record may be queued more than once (an image added while it was being
// sent): it is sent once for all its entries.
bool RecordStore::QueueForLine(const std::string& id, QSqlError& failure) {
    if (m_forwardTo.isEmpty())
        return true;
    QSqlQuery queue(m_db);
    queue.prepare(QStringLiteral("INSERT INTO forward_queue (seq, record_id, destination)"
                                 " SELECT COALESCE(MAX(seq), 0) + 1, ?, ? FROM forward_queue"));
    queue.addBindValue(Utf8(id));
    queue.addBindValue(Text(m_forwardTo));
    return Run(queue, failure);
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
                  }) &&
        insertAll(QStringLiteral("record_steps"),
                  QLatin1String(StepColumns),
                  batch.steps.size(), [&](QSqlQuery& query, std::size_t i) { BindStep(query, 2, batch.steps[i]); });
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
    return Write([&](QSqlError& failure) { return InsertBatch(id, batch, failure) && QueueForLine(id, failure); },
                 error);
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
    const Watching watching(*this);
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "SELECT COUNT(DISTINCT record_id) FROM forward_queue WHERE destination = ? AND set_aside IS NULL"));
    query.addBindValue(Text(line));
    if (!query.exec() || !query.next()) {
        Fail(query.lastError(), error);
        return -1;
    }
    return query.value(0).toInt();
}

QueuedBatch RecordStore::Sendable(const QString& line, int limit, QString& error) {
    QueuedBatch batch;
    if (!m_open) {
        NotOpen(error);
        return batch;
    }
    const Watching watching(*this);
    std::vector<std::string> ids;
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT q.record_id, MAX(q.seq) FROM forward_queue q JOIN records r ON r.id = q.record_id"
                                     " WHERE q.destination = ? AND q.set_aside IS NULL AND r.outcome IS NOT NULL"
                                     " GROUP BY q.record_id ORDER BY MIN(q.seq) LIMIT ?"));
        query.addBindValue(Text(line));
        query.addBindValue(limit);
        QSqlError failure;
        if (!Run(query, failure)) {
            Fail(failure, error);
            return batch;
        }
        while (query.next()) {
            ids.push_back(Utf8From(query.value(0)));
            batch.lastSeq = std::max(batch.lastSeq, query.value(1).toLongLong());
        }
    }
    for (const std::string& id : ids) {
        std::optional<Record> record = Load(id, error);
        if (!record)
            return {};
        batch.records.push_back(*std::move(record));
    }
    return batch;
}

// Only the entries read: one queued while the batch was being sent (an image
// added) stays, and the record goes again.
bool RecordStore::Unqueue(const QString& line, const QueuedBatch& batch, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral("DELETE FROM forward_queue WHERE destination = ? AND record_id = ? AND seq <= ?"));
            for (const Record& record : batch.records) {
                query.bindValue(0, Text(line));
                query.bindValue(1, Utf8(record.header.id));
                query.bindValue(2, batch.lastSeq);
                if (!Run(query, failure))
                    return false;
            }
            return true;
        },
        error);
}

bool RecordStore::SetAside(const QString& line, const QueuedBatch& batch, const QString& reason, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral(
                "UPDATE forward_queue SET set_aside = ? WHERE destination = ? AND record_id = ? AND seq <= ?"));
            for (const Record& record : batch.records) {
                query.bindValue(0, Text(reason));
                query.bindValue(1, Text(line));
                query.bindValue(2, Utf8(record.header.id));
                query.bindValue(3, batch.lastSeq);
                if (!Run(query, failure))
                    return false;
            }
            return true;
        },
        error);
}

std::vector<SetAsideRecord> RecordStore::SetAsideRecords(const QString& line, QString& error) {
    std::vector<SetAsideRecord> records;
    if (!m_open) {
        NotOpen(error);
        return records;
    }
    const Watching watching(*this);
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT q.record_id, r.unit, MAX(q.set_aside) FROM forward_queue q"
                                 " JOIN records r ON r.id = q.record_id"
                                 " WHERE q.destination = ? AND q.set_aside IS NOT NULL"
                                 " GROUP BY q.record_id, r.unit ORDER BY MIN(q.seq)"));
    query.addBindValue(Text(line));
    QSqlError failure;
    if (!Run(query, failure)) {
        Fail(failure, error);
        return records;
    }
    while (query.next())
        records.push_back({Utf8From(query.value(0)), Utf8From(query.value(1)), query.value(2).toString()});
    return records;
}

bool RecordStore::RetrySetAside(const QString& line, QString& error) {
    return Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral(
                "UPDATE forward_queue SET set_aside = NULL WHERE destination = ? AND set_aside IS NOT NULL"));
            query.addBindValue(Text(line));
            return Run(query, failure);
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
                if (!inserted) {
                    // Images are only ever added, in order: those the line lacks are the last ones.
                    qint64 held = 0;
                    if (!NextSequence(QStringLiteral("record_images"), record.header.id, held, failure))
                        return false;
                    RecordBatch later;
                    if (held < static_cast<qint64>(record.images.size()))
                        later.images.assign(record.images.begin() + held, record.images.end());
                    if (!InsertBatch(record.header.id, later, failure))
                        return false;
                    continue;
                }
                RecordBatch batch;
                for (const RecordLogLine& line : record.log)
                    AddLogLine(batch.log, line);
                batch.serials = record.serials;
                batch.images = record.images;
                batch.steps = record.steps;
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
        const Watching watching(*this);
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
    const Watching watching(*this);
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
    const Watching watching(*this);
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
    const Watching watching(*this);
    QSqlError failure;
    // The five results are read side by side: forward-only only where the driver
    // keeps them all (SQLite; PostgreSQL's driver would drop the earlier ones).
    auto select = [&](QSqlQuery& query, const QString& sql) {
        query.setForwardOnly(IsSqlite());
        query.prepare(sql);
        query.addBindValue(Utf8(id));
        return Run(query, failure);
    };
    Record record;
    QSqlQuery header(m_db), log(m_db), serials(m_db), images(m_db), steps(m_db);
    if (!select(header, QStringLiteral("SELECT ") + QLatin1String(HeaderColumns) +
                            QStringLiteral(" FROM records WHERE id = ?")) ||
        !select(log, QStringLiteral("SELECT lines FROM record_log_chunks WHERE record_id = ? ORDER BY seq")) ||
        !select(serials, QStringLiteral("SELECT space, data, script_line, result FROM record_serials"
                                        " WHERE record_id = ? ORDER BY seq")) ||
        !select(images, QStringLiteral("SELECT kind, length, sha256, file FROM record_images"
                                       " WHERE record_id = ? ORDER BY seq")) ||
        !select(steps, QStringLiteral("SELECT ") + QLatin1String(StepColumns) +
                           QStringLiteral(" FROM record_steps WHERE record_id = ? ORDER BY seq"))) {
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
    while (steps.next())
        record.steps.push_back(ReadStep(steps, 0));
    return record;
}

std::vector<SerialClaimRow> RecordStore::Claims(const ClaimFilter& filter, QString& error) {
    std::vector<SerialClaimRow> claims;
    if (!m_open) {
        NotOpen(error);
        return claims;
    }
    const Watching watching(*this);
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
