// The HTML report: a record's page as a person reads and prints it, and a page
// of the same look with a short message. Every text that came from the
// database is escaped on the way in.

#include "duration.h"
#include "failurecause.h"
#include "reportfields.h"
#include "reports.h"
#include "textcodec.h"

#include <QStringList>

#include <chrono>
#include <string>

namespace tamrisk {

namespace {

// Text from the database (UTF-8) as HTML text.
QString Text(const std::string& utf8) { return QString::fromStdString(utf8).toHtmlEscaped(); }
// Bytes of the wire or the log (Windows-1251) as HTML text.
QString Wire(const std::string& bytes) { return Text(Cp1251ToUtf8(bytes)); }
QString Text(const QString& text) { return text.toHtmlEscaped(); }

QString Page(const QString& title, const QString& bodyClass, const QString& body) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<title>%1</title>\n<link rel=\"stylesheet\" href=\"/dashboard.css\">\n</head>\n"
                          "<body class=\"%2\">\n<nav class=\"back\"><a href=\"/\">&larr; The line</a></nav>\n%3"
                          "</body>\n</html>\n")
        .arg(Text(title), bodyClass, body);
}

QString Row(const QStringList& cells, const QString& rowClass = {}) {
    QString row = rowClass.isEmpty() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"%1\">").arg(rowClass);
    for (const QString& cell : cells)
        row += QStringLiteral("<td>") + cell + QStringLiteral("</td>");
    return row + QStringLiteral("</tr>\n");
}

QString Table(const QStringList& heads, const QString& rows, const QString& tableClass) {
    QString head;
    for (const QString& name : heads)
        head += QStringLiteral("<th>") + name + QStringLiteral("</th>");
    return QStringLiteral("<table class=\"%1\"><thead><tr>%2</tr></thead>\n<tbody>\n%3</tbody></table>\n")
        .arg(tableClass, head, rows);
}

QString Seconds(qint64 ms) {
    return QString::fromStdString(FormatSeconds(std::chrono::milliseconds(ms), 3)) + QStringLiteral(" s");
}

QString HeaderList(const RecordHeader& header) {
    QString items;
    const auto item = [&items](const char* name, const QString& value) {
        if (!value.isEmpty())
            items += QStringLiteral("<dt>%1</dt><dd>%2</dd>\n").arg(QLatin1String(name), value);
    };
    item("Unit", Text(header.unit));
    item("Product", Text(header.product));
    item("Operation", Text(header.operation));
    item("Station", Text(header.station));
    item("Operator", Text(OperatorShown(header)));
    item("Kind", Text(KindShown(header.kind, header.engineering)));
    item("Release", header.releaseNumber ? QString::number(*header.releaseNumber) : QString());
    item("Started (UTC)", Text(IsoUtcMs(header.startedMs)));
    item("Duration", Seconds(header.durationMs));
    item("Script", Text(header.script));
    item("Lines", Text(header.lineRange));
    item("Script SHA-256", Text(header.scriptSha256));
    item("Port", Text(header.port));
    item("Speed", header.speed > 0 ? QString::number(header.speed) : QString());
    item("Program", Text(header.version));
    item("Exit status", header.exitCode ? QString::number(*header.exitCode) : QString());
    item("Record", Text(header.id));
    return QStringLiteral("<dl class=\"header\">\n") + items + QStringLiteral("</dl>\n");
}

QString VerdictHtml(const RecordHeader& header) {
    const QString outcome =
        header.outcome ? QString::fromLatin1(OutcomeText(*header.outcome)) : QStringLiteral("running");
    QString verdict = QStringLiteral("<p class=\"verdict outcome-%1\"><span class=\"word\">%2</span>")
                          .arg(outcome, outcome.toUpper());
    if (!header.reason.empty())
        verdict += QStringLiteral(" <span class=\"reason\">%1</span>").arg(Text(header.reason));
    if (header.engineering)
        verdict += QStringLiteral(" <span class=\"engineering\">engineering run: counted in no yield</span>");
    return verdict + QStringLiteral("</p>\n");
}

// The record's checks; the one that caused a failed run to fail is marked "cause".
QString Checks(const Record& record) {
    const std::vector<RecordCheck>& checks = record.checks;
    if (checks.empty())
        return {};
    const bool failed = record.header.outcome == RecordOutcome::Fail || record.header.outcome == RecordOutcome::Error;
    // None marked: one past the last.
    const std::size_t cause =
        failed ? FailureCauseOf(record).CausingCheckIndex().value_or(checks.size()) : checks.size();
    QString rows;
    for (std::size_t i = 0; i < checks.size(); ++i) {
        const CheckOutcome& check = checks[i].check;
        const QString result = QString::fromLatin1(CheckResultText(check.result));
        rows += Row({Text(check.name), QString::number(check.line), Text(check.field),
                     Text(std::string(CheckOperatorText(check.op))), Text(CheckExpectedValue(check)),
                     check.value ? Text(CheckFoundValue(check)) : QStringLiteral("&mdash;"),
                     QStringLiteral("<span class=\"result\">%1</span>").arg(result), Text(check.message)},
                    QStringLiteral("check-") + result + (cause == i ? QStringLiteral(" cause") : QString()));
    }
    return QStringLiteral("<h2>Checks</h2>\n") +
           Table({"Check", "Line", "Field", "Op", "Expected", "Found", "Result", "Message"}, rows,
                 QStringLiteral("checks"));
}

QString Serials(const std::vector<RecordSerial>& serials) {
    if (serials.empty())
        return {};
    QString rows;
    for (const RecordSerial& serial : serials) {
        rows += Row({QString::number(serial.line), Wire(serial.space), Wire(serial.data),
                     QString::fromLatin1(SerialResultText(serial.result))});
    }
    return QStringLiteral("<h2>Serial numbers</h2>\n") +
           Table({"Line", "Number space", "Sent", "Result"}, rows, QStringLiteral("serials"));
}

QString Steps(const std::vector<RecordStep>& steps) {
    if (steps.empty())
        return {};
    QString rows;
    for (const RecordStep& step : steps) {
        const QString result = QString::fromLatin1(StepResultText(step.result));
        QString attempts = QString::number(step.attempts);
        if (step.transactions > 1)
            attempts = QStringLiteral("%1 transactions, %2 failed").arg(step.transactions).arg(step.failures);
        rows += Row({step.line ? QString::number(*step.line) : QString(), QString::number(step.command),
                     Wire(step.data), step.status ? Text(StatusText(*step.status)) : QStringLiteral("&mdash;"),
                     Wire(step.answer), result, attempts, Seconds(step.tMs), Seconds(step.durationMs)},
                    QStringLiteral("step-") + result);
    }
    return QStringLiteral("<h2>Steps</h2>\n") +
           Table({"Line", "Command", "Data", "Status", "Answer", "Result", "Attempts", "At", "Took"}, rows,
                 QStringLiteral("steps"));
}

QString Log(const std::vector<RecordLogLine>& log) {
    QString lines;
    for (const RecordLogLine& line : log) {
        lines += QStringLiteral("<span class=\"c-%1\">%2</span>\n")
                     .arg(QString::fromLatin1(ColourText(line.colour)), Wire(line.text));
    }
    return QStringLiteral("<h2>Log</h2>\n<pre class=\"log\">") + lines + QStringLiteral("</pre>\n");
}

}  // namespace

QByteArray RecordHtml(const Record& record) {
    const RecordHeader& header = record.header;
    const QString title = (header.unit.empty() ? QString::fromStdString(header.kind)
                                               : QString::fromStdString(header.unit)) +
                          QStringLiteral(" — ") + QString::fromStdString(IsoUtcMs(header.startedMs));
    QString body = QStringLiteral("<main class=\"record\">\n<h1>%1</h1>\n").arg(Text(title));
    body += VerdictHtml(header) + HeaderList(header) + Checks(record) + Serials(record.serials) + Steps(record.steps) +
            Log(record.log) + QStringLiteral("</main>\n");
    return Page(title, QStringLiteral("paper"), body).toUtf8();
}

QByteArray MessageHtml(const QString& title, const QString& text) {
    return Page(title, QStringLiteral("paper"),
                QStringLiteral("<main class=\"message\">\n<h1>%1</h1>\n<p>%2</p>\n</main>\n").arg(Text(title), Text(text)))
        .toUtf8();
}

}  // namespace tamrisk
