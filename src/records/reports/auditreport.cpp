// The audit trail as JSON and CSV, for the CLI and the dashboard alike.

#include "reportfields.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tamrisk {

namespace {

QJsonValue NullableText(const std::optional<std::string>& text) {
    return text ? QJsonValue(FromUtf8(*text)) : QJsonValue();
}

constexpr std::array<const char*, 12> AuditColumns = {"seq",     "at",  "who", "station", "login", "action",
                                                      "subject", "old", "new", "reason",  "previous_sha256",
                                                      "sha256"};

}  // namespace

QByteArray AuditJson(std::span<const AuditEntry> entries) {
    QJsonArray array;
    for (const AuditEntry& e : entries) {
        array.append(QJsonObject{{"seq", e.seq},
                                 {"at", FromUtf8(IsoUtcMs(e.atMs))},
                                 {"who", FromUtf8(e.who)},
                                 {"station", FromUtf8(e.station)},
                                 {"login", FromUtf8(e.login)},
                                 {"action", FromUtf8(e.change.action)},
                                 {"subject", FromUtf8(e.change.subject)},
                                 {"old", NullableText(e.change.oldValue)},
                                 {"new", NullableText(e.change.newValue)},
                                 {"reason", NullableText(e.change.reason)},
                                 {"previous_sha256", FromUtf8(e.previousSha256)},
                                 {"sha256", FromUtf8(e.sha256)}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray AuditCsv(std::span<const AuditEntry> entries) {
    QByteArray out;
    AppendCsvRow(out, std::span<const char* const>(AuditColumns));
    for (const AuditEntry& e : entries) {
        const std::array<std::string, AuditColumns.size()> fields = {
            std::to_string(e.seq),          IsoUtcMs(e.atMs),
            e.who,                          e.station,
            e.login,                        e.change.action,
            e.change.subject,               e.change.oldValue.value_or(""),
            e.change.newValue.value_or(""), e.change.reason.value_or(""),
            e.previousSha256,               e.sha256};
        AppendCsvRow(out, std::span<const std::string>(fields));
    }
    return out;
}

}  // namespace tamrisk
