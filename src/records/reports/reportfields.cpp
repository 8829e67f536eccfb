#include "reportfields.h"

#include "duration.h"
#include "reports.h"
#include "textcodec.h"

#include <QDateTime>

#include <charconv>
#include <cmath>

namespace tamrisk {

namespace {

void AppendCsvField(QByteArray& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field.data(), static_cast<qsizetype>(field.size()));
        return;
    }
    out.append('"');
    for (const char c : field) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

template <typename Field>
void AppendFields(QByteArray& out, std::span<Field> fields) {
    bool first = true;
    for (const auto& field : fields) {
        if (!first)
            out.append(',');
        first = false;
        AppendCsvField(out, field);
    }
    out.append("\r\n");
}

}  // namespace

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

QJsonValue NumberOrNull(const std::optional<double>& number) { return number ? QJsonValue(*number) : QJsonValue(); }

QJsonValue TextOrNull(const std::string& text) { return text.empty() ? QJsonValue() : QJsonValue(FromUtf8(text)); }

QJsonValue TextOrNull(const std::optional<std::string>& text) {
    return text ? QJsonValue(FromUtf8(*text)) : QJsonValue();
}

QString LogText(const RecordLogLine& line) {
    std::string_view text = line.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return DecodeCp1251(text);
}

QString Seconds(qint64 ms) { return QString::fromStdString(FormatSeconds(std::chrono::milliseconds(ms), 3)); }

QString OutcomeOrEmpty(const RecordHeader& header) {
    return header.outcome ? FromUtf8(std::string(OutcomeText(*header.outcome))) : QString();
}

std::array<std::string, RunByFields.size()> RunByValues(const RecordHeader& header) {
    return {header.operatorId, header.computerLogin,
            header.releaseNumber ? std::to_string(*header.releaseNumber) : std::string(),
            header.engineering ? "true" : "false"};
}

std::string KindShown(const std::string& kind, bool engineering) {
    return engineering ? kind + " (engineering)" : kind;
}

std::string OperatorShown(const RecordHeader& header) {
    std::string text = header.operatorName;
    if (!header.operatorId.empty())
        text = text.empty() ? header.operatorId : text + " (" + header.operatorId + ")";
    if (!header.computerLogin.empty() && header.computerLogin != header.operatorName)
        text += (text.empty() ? "login " : ", login ") + header.computerLogin;
    return text;
}

void AppendCsvRow(QByteArray& out, std::span<const std::string> fields) { AppendFields(out, fields); }

void AppendCsvRow(QByteArray& out, std::span<const char* const> fields) { AppendFields(out, fields); }

std::string IsoUtcMs(qint64 msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

std::array<std::string, ClaimColumns.size()> ClaimFields(const SerialClaimRow& claim) {
    return {Cp1251ToUtf8(claim.space), Cp1251ToUtf8(claim.data), claim.station, claim.unit,
            IsoUtcMs(claim.claimedMs), claim.recordId};
}

std::string NumberText(double number) {
    constexpr double Whole = 1e15;  // beyond it a double holds no fraction worth writing
    if (std::isfinite(number) && std::abs(number) < Whole && number == std::trunc(number))
        return std::to_string(static_cast<long long>(number));
    std::array<char, 32> text{};
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), number);
    return ec == std::errc() ? std::string(text.data(), end) : std::string();
}

std::array<std::string, WipColumns.size()> WipFields(const WipCount& count) {
    return {count.product, count.operation, std::to_string(count.waiting), std::to_string(count.inTest),
            std::to_string(count.onHold)};
}

std::array<std::string, CheckReportColumns.size()> CheckFields(const CheckRow& row) {
    const CheckOutcome& check = row.made.check;
    const auto number = [](const std::optional<double>& n) { return n ? NumberText(*n) : std::string(); };
    return {row.recordId,
            IsoUtcMs(row.startedMs),
            row.unit,
            row.station,
            check.name,
            std::to_string(check.line),
            check.field,
            std::string(CheckOperatorText(check.op)),
            check.expected.value_or(""),
            number(check.low),
            number(check.high),
            check.units,
            check.value.value_or(""),
            std::string(CheckResultText(check.result)),
            row.made.step ? std::to_string(*row.made.step) : std::string()};
}

}  // namespace tamrisk
