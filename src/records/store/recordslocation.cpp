#include "recordslocation.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <cstdlib>

namespace tamrisk {

namespace {

// How long a connection to a PostgreSQL server is waited for, in seconds.
constexpr int ConnectTimeoutS = 5;

QString FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value ? QString::fromLocal8Bit(value) : QString();
}

}  // namespace

QString DefaultRecordsLocation() {
    // Named here, not after the running program, so that the station and tamrisk-cli share one file.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Tamrisk/records.sqlite");
}

bool IsPostgresqlLocation(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

QString ShownLocation(const QString& location) {
    // A password written into a URL is refused, and not repeated in the message.
    static const QRegularExpression userPassword(QStringLiteral("^(postgres(?:ql)?://[^:@/?]*):[^@/?]*@"));
    static const QRegularExpression passwordSetting(QStringLiteral("([?&]password=)[^&]*"));
    return !IsPostgresqlLocation(location) ? location
                                           : QString(location)
                                                 .replace(userPassword, QStringLiteral("\\1:***@"))
                                                 .replace(passwordSetting, QStringLiteral("\\1***"));
}

std::optional<DatabaseTarget> ParseLocation(const QString& location, QString& reason) {
    DatabaseTarget target;
    if (!IsPostgresqlLocation(location)) {
        target.file = location;
        return target;
    }
    target.postgresql = true;
    // scheme://[user[:password]@][host][:port]/database[?key=value&...]
    static const QRegularExpression url(QStringLiteral(
        "^postgres(?:ql)?://(?:([^@/?]*)@)?(\\[[^\\]/?]*\\]|[^:/?]*)(?::([0-9]+))?/([^/?]+)(?:\\?(.*))?$"));
    const QRegularExpressionMatch parts = url.match(location);
    if (!parts.hasMatch()) {
        reason = QStringLiteral("not a PostgreSQL URL (postgresql://USER@HOST[:PORT]/DB)");
        return std::nullopt;
    }
    const auto decoded = [](const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); };
    const QString noPassword = QStringLiteral(
        "a password is not taken from the URL: put it in ~/.pgpass or PGPASSWORD");
    if (parts.captured(1).contains(u':')) {
        reason = noPassword;
        return std::nullopt;
    }
    target.host = decoded(parts.captured(2));
    if (target.host.startsWith(u'['))
        target.host = target.host.mid(1, target.host.size() - 2);
    target.port = parts.captured(3).isEmpty() ? -1 : parts.captured(3).toInt();
    target.database = decoded(parts.captured(4));
    target.user = decoded(parts.captured(1));
    // Further libpq settings (sslmode=require and the like) pass on as they are.
    // A server that went away mid-statement is given up in seconds too: TCP
    // keepalives and a bound on unacknowledged data find a dead network, and the
    // server ends a statement that waits longer than a minute (on a lock, say).
    target.options = {QStringLiteral("connect_timeout=%1").arg(ConnectTimeoutS),
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
            return std::nullopt;
        }
        if (key == QLatin1String("host")) {
            target.host = value;
        } else if (key == QLatin1String("port")) {
            bool number = false;
            target.port = value.toInt(&number);
            if (!number) {
                reason = QStringLiteral("the port is not a number: ") + value;
                return std::nullopt;
            }
        } else if (plainKey.match(key).hasMatch() && takenValue.match(value).hasMatch()) {
            target.options.push_back(key + u'=' + quoted(value));
        } else {
            reason = QStringLiteral("the URL's setting cannot be taken: ") + pair;
            return std::nullopt;
        }
    }
    return target;
}

QString ChooseRecordsLocation(const std::optional<std::string>& choice) {
    QString location;
    if (choice)
        location = QString::fromStdString(*choice);
    else
        location = FromEnvironment("TAMRISK_RECORDS");
    if (location.isEmpty() && !choice)
        return DefaultRecordsLocation();
    return location == QLatin1String("off") ? QString() : location;
}

QString LocalRecordsLocation() {
    const QString local = FromEnvironment("TAMRISK_LOCAL_RECORDS");
    return local.isEmpty() ? DefaultRecordsLocation() : local;
}

StoreResult<std::optional<RecordsRoute>> RouteRecords(const QString& chosen) {
    if (chosen.isEmpty())
        return std::optional<RecordsRoute>();
    if (!IsPostgresqlLocation(chosen))
        return std::optional(RecordsRoute{chosen, {}});
    // A URL the line's database would refuse is told now, not at each sending.
    QString reason;
    if (!ParseLocation(chosen, reason))
        return StoreError{StoreError::Kind::NotOpen, ShownLocation(chosen), reason};
    return std::optional(RecordsRoute{LocalRecordsLocation(), chosen});
}

}  // namespace tamrisk
