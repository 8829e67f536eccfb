#include "reports.h"

#include "resultlog.h"
#include "statusbits.h"
#include "textcodec.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QXmlStreamWriter>

#include <algorithm>
#include <optional>

namespace tamrisk {

namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

// A log line's text as the view shows it: decoded, without the line end that
// some lines carry to leave an empty line after them.
QString LogText(const RecordLogLine& line) {
    std::string_view text = line.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return DecodeCp1251(text);
}

QString Seconds(qint64 ms) {
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 3);
}

// ---------------------------------------------------------------- JSON

QJsonObject HeaderObject(const RecordHeader& header) {
    QJsonObject object;
    object["id"] = Utf8(header.id);
    object["kind"] = Utf8(header.kind);
    object["station"] = Utf8(header.station);
    object["operator"] = Utf8(header.operatorName);
    object["version"] = Utf8(header.version);
    object["port"] = Utf8(header.port);
    object["speed"] = header.speed;
    object["started"] = Utf8(IsoUtcMs(header.startedMs));
    object["duration_s"] = static_cast<double>(header.durationMs) / 1000.0;
    object["outcome"] = header.outcome ? QJsonValue(Utf8(std::string(OutcomeText(*header.outcome)))) : QJsonValue();
    object["reason"] = Utf8(header.reason);
    object["unit"] = Utf8(header.unit);
    object["script"] = Utf8(header.script);
    object["script_sha256"] = Utf8(header.scriptSha256);
    object["exit"] = header.exitCode ? QJsonValue(*header.exitCode) : QJsonValue();
    return object;
}

QJsonObject RecordObject(const Record& record) {
    QJsonObject object = HeaderObject(record.header);
    QJsonArray log;
    for (const RecordLogLine& line : record.log)
        log.append(QJsonObject{{"t_ms", line.tMs},
                               {"colour", Utf8(std::string(ColourText(line.colour)))},
                               {"text", LogText(line)}});
    object["log"] = log;
    QJsonArray serials;
    for (const RecordSerial& serial : record.serials)
        serials.append(QJsonObject{{"space", DecodeCp1251(serial.space)},
                                   {"data", DecodeCp1251(serial.data)},
                                   {"line", serial.line},
                                   {"result", Utf8(std::string(SerialResultText(serial.result)))}});
    object["serials"] = serials;
    QJsonArray images;
    for (const RecordImage& image : record.images)
        images.append(QJsonObject{{"kind", Utf8(image.kind)},
                                  {"length", image.length},
                                  {"sha256", Utf8(image.sha256)},
                                  {"file", Utf8(image.file)}});
    object["images"] = images;
    return object;
}

// ---------------------------------------------------------------- CSV

// The header fields in the order of the CSV's columns, named as in JSON.
constexpr std::array<const char*, 15> CsvColumns = {
    "id",       "kind",    "station", "operator", "version", "port",   "speed",        "started",
    "duration_s", "outcome", "reason",  "unit",     "script",  "script_sha256", "exit"};

std::array<std::string, CsvColumns.size()> CsvFields(const RecordHeader& h) {
    return {h.id,
            h.kind,
            h.station,
            h.operatorName,
            h.version,
            h.port,
            std::to_string(h.speed),
            IsoUtcMs(h.startedMs),
            Seconds(h.durationMs).toStdString(),
            h.outcome ? std::string(OutcomeText(*h.outcome)) : std::string(),
            h.reason,
            h.unit,
            h.script,
            h.scriptSha256,
            h.exitCode ? std::to_string(*h.exitCode) : std::string()};
}

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

template <typename Fields>
void AppendCsvRow(QByteArray& out, const Fields& fields) {
    bool first = true;
    for (const auto& field : fields) {
        if (!first)
            out.append(',');
        first = false;
        AppendCsvField(out, field);
    }
    out.append("\r\n");
}

// A header row of `columns`, then the fields of each item.
template <typename Columns, typename Items, typename ToFields>
QByteArray CsvTable(const Columns& columns, const Items& items, ToFields toFields) {
    QByteArray out;
    AppendCsvRow(out, columns);
    for (const auto& item : items)
        AppendCsvRow(out, toFields(item));
    return out;
}

// ---------------------------------------------------------------- JUnit

// One transaction of the log: a request line and, unless the record ended
// first, the answer line that follows it.
struct LoggedTransaction {
    int number = 0;  // in the order sent, from 1
    const RecordLogLine* request = nullptr;
    const RecordLogLine* answer = nullptr;
};

bool IsRequestLine(const RecordLogLine& line) {
    return line.colour == ResultColour::Blue && line.text.starts_with("-> ");
}

bool IsAnswerLine(const RecordLogLine& line) {
    return line.text.starts_with("<- [");
}

// Each transaction is numbered by the script line it was sent for; one sent for
// no script line (a command) by its place among the transactions.
std::vector<LoggedTransaction> Transactions(const std::vector<RecordLogLine>& log) {
    std::vector<LoggedTransaction> found;
    for (const RecordLogLine& line : log) {
        if (IsRequestLine(line))
            found.push_back({line.scriptLine > 0 ? line.scriptLine : static_cast<int>(found.size()) + 1, &line,
                             nullptr});
        else if (IsAnswerLine(line) && !found.empty() && found.back().answer == nullptr)
            found.back().answer = &line;
    }
    return found;
}

// The script line a request line was sent for: "-> 91,\"DT000100\"" is "91,DT000100".
QString RequestScriptLine(const RecordLogLine& request) {
    const std::string_view text = std::string_view(request.text).substr(3);
    const std::size_t quote = text.find(",\"");
    if (quote == std::string_view::npos || text.size() < quote + 3 || text.back() != '"')
        return DecodeCp1251(text);
    return DecodeCp1251(std::string(text.substr(0, quote + 1)) +
                        std::string(text.substr(quote + 2, text.size() - quote - 3)));
}

// The captions of the status bits an answer line reports set, one a line.
QString StatusCaptions(const RecordLogLine& answer) {
    StatusBytesArray status{};
    ReadAnswerLineStatus(answer.text, status);
    QStringList captions;
    for (const StatusBit& bit : StatusBitTable())
        if (bit.caption != nullptr && (status[static_cast<std::size_t>(bit.byte)] & (1u << bit.bit)) != 0)
            captions.append(QString::fromUtf8(bit.caption));
    // A red answer with no status bit set is a link failure: the status was cleared.
    return captions.isEmpty() ? QStringLiteral("No valid answer from the printer") : captions.join(u'\n');
}

enum class Verdict { Pass, Failure, Error, Skipped };

struct TestCase {
    TestCase(QString className, QString name, qint64 timeMs)
        : className(std::move(className)), name(std::move(name)), timeMs(timeMs) {}
    QString className, name;
    qint64 timeMs = 0;
    Verdict verdict = Verdict::Pass;
    QString type, message, text;  // of a failure or an error
};

QString RedLines(const Record& record) {
    QStringList lines;
    for (const RecordLogLine& line : record.log)
        if (line.colour == ResultColour::Red)
            lines.append(LogText(line));
    return lines.join(u'\n');
}

QString ReasonOrOutcome(const RecordHeader& header) {
    if (!header.reason.empty())
        return Utf8(header.reason);
    return header.outcome ? Utf8(std::string(OutcomeText(*header.outcome))) : QString();
}

// The verdict of the operation as a whole, for a testcase that stands for it.
void SetOperationVerdict(TestCase& test, const Record& record) {
    const RecordHeader& header = record.header;
    test.type = header.outcome ? Utf8(std::string(OutcomeText(*header.outcome))) : QString();
    test.message = ReasonOrOutcome(header);
    if (!header.outcome) {
        test.verdict = Verdict::Skipped;
        test.message = QStringLiteral("in progress");
    } else if (*header.outcome == RecordOutcome::Fail) {
        test.verdict = Verdict::Failure;
        test.text = RedLines(record);
    } else if (*header.outcome != RecordOutcome::Pass) {
        test.verdict = Verdict::Error;
    }
}

std::vector<TestCase> TestCases(const Record& record, const QString& className) {
    const RecordHeader& header = record.header;
    const QString kind = Utf8(header.kind);
    std::vector<TestCase> cases;
    if (header.kind != "run" && header.kind != "command") {
        TestCase operation(className, kind, header.durationMs);
        SetOperationVerdict(operation, record);
        cases.push_back(operation);
        return cases;
    }
    for (const LoggedTransaction& transaction : Transactions(record.log)) {
        const QString scriptLine = RequestScriptLine(*transaction.request);
        TestCase test(className, QStringLiteral("line %1: %2").arg(transaction.number).arg(scriptLine), 0);
        if (transaction.answer == nullptr) {
            test.verdict = Verdict::Error;
            test.type = QStringLiteral("no answer");
            test.message = header.reason.empty() ? QStringLiteral("The record ended before the answer")
                                                 : Utf8(header.reason);
        } else {
            test.timeMs = std::max<qint64>(0, transaction.answer->tMs - transaction.request->tMs);
            if (transaction.answer->colour == ResultColour::Red) {
                test.verdict = Verdict::Failure;
                test.type = QStringLiteral("fail");
                test.message = LogText(*transaction.answer);
                test.text = StatusCaptions(*transaction.answer);
            }
        }
        cases.push_back(test);
    }
    // The operation's own verdict, where no transaction already carries it.
    const auto carried = [&cases](Verdict verdict) {
        return std::any_of(cases.begin(), cases.end(), [verdict](const TestCase& c) { return c.verdict == verdict; });
    };
    const std::optional<RecordOutcome> outcome = header.outcome;
    if (outcome && ((*outcome == RecordOutcome::Fail && !carried(Verdict::Failure)) ||
                    ((*outcome == RecordOutcome::Aborted || *outcome == RecordOutcome::Error) &&
                     !carried(Verdict::Error)))) {
        const qint64 lastMs = record.log.empty() ? 0 : record.log.back().tMs;
        TestCase operation(className, kind, std::max<qint64>(0, header.durationMs - lastMs));
        SetOperationVerdict(operation, record);
        cases.push_back(operation);
    }
    return cases;
}

// XML 1.0 cannot carry most control characters, which a printer's answer may
// hold: each becomes U+FFFD so that the report stays readable.
QString XmlText(QString text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

void WriteProperties(QXmlStreamWriter& xml, const RecordHeader& header) {
    const std::pair<const char*, QString> properties[] = {
        {"id", Utf8(header.id)},
        {"kind", Utf8(header.kind)},
        {"unit", Utf8(header.unit)},
        {"operator", Utf8(header.operatorName)},
        {"version", Utf8(header.version)},
        {"port", Utf8(header.port)},
        {"speed", QString::number(header.speed)},
        {"outcome", header.outcome ? Utf8(std::string(OutcomeText(*header.outcome))) : QString()},
        {"reason", Utf8(header.reason)},
        {"script_sha256", Utf8(header.scriptSha256)},
        {"lines", Utf8(header.lineRange)},
    };
    xml.writeStartElement("properties");
    for (const auto& [name, value] : properties) {
        xml.writeStartElement("property");
        xml.writeAttribute("name", QString::fromLatin1(name));
        xml.writeAttribute("value", XmlText(value));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

void WriteTestCase(QXmlStreamWriter& xml, const TestCase& test) {
    xml.writeStartElement("testcase");
    xml.writeAttribute("classname", XmlText(test.className));
    xml.writeAttribute("name", XmlText(test.name));
    xml.writeAttribute("time", Seconds(test.timeMs));
    switch (test.verdict) {
    case Verdict::Pass:
        break;
    case Verdict::Failure:
    case Verdict::Error:
        xml.writeStartElement(test.verdict == Verdict::Failure ? "failure" : "error");
        xml.writeAttribute("message", XmlText(test.message));
        xml.writeAttribute("type", XmlText(test.type));
        xml.writeCharacters(XmlText(test.text));
        xml.writeEndElement();
        break;
    case Verdict::Skipped:
        xml.writeStartElement("skipped");
        xml.writeAttribute("message", XmlText(test.message));
        xml.writeEndElement();
        break;
    }
    xml.writeEndElement();
}

struct Counts {
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    qint64 timeMs = 0;
    void Add(const Counts& other) {
        tests += other.tests;
        failures += other.failures;
        errors += other.errors;
        skipped += other.skipped;
        timeMs += other.timeMs;
    }
};

void WriteCounts(QXmlStreamWriter& xml, const Counts& counts) {
    xml.writeAttribute("tests", QString::number(counts.tests));
    xml.writeAttribute("failures", QString::number(counts.failures));
    xml.writeAttribute("errors", QString::number(counts.errors));
    xml.writeAttribute("skipped", QString::number(counts.skipped));
    xml.writeAttribute("time", Seconds(counts.timeMs));
}

Counts CountCases(const std::vector<TestCase>& cases, qint64 timeMs) {
    Counts counts;
    counts.tests = static_cast<int>(cases.size());
    for (const TestCase& test : cases) {
        counts.failures += test.verdict == Verdict::Failure ? 1 : 0;
        counts.errors += test.verdict == Verdict::Error ? 1 : 0;
        counts.skipped += test.verdict == Verdict::Skipped ? 1 : 0;
    }
    counts.timeMs = timeMs;
    return counts;
}

void WriteTestSuite(QXmlStreamWriter& xml, const Record& record, const std::vector<TestCase>& cases,
                    const QString& name, const Counts& counts) {
    const RecordHeader& header = record.header;
    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", XmlText(name));
    WriteCounts(xml, counts);
    // JUnit's timestamp has no zone and no fraction; it is UTC here.
    xml.writeAttribute("timestamp",
                       QDateTime::fromMSecsSinceEpoch(header.startedMs, Qt::UTC).toString(Qt::ISODate).chopped(1));
    xml.writeAttribute("hostname", XmlText(Utf8(header.station)));
    WriteProperties(xml, header);
    for (const TestCase& test : cases)
        WriteTestCase(xml, test);
    // The log as the operation printed it, every line ended.
    QString log;
    for (const RecordLogLine& line : record.log)
        log += LogText(line) + u'\n';
    xml.writeTextElement("system-out", XmlText(log));
    xml.writeEndElement();
}

template <typename Items, typename ToValue>
QByteArray JsonArray(const Items& items, ToValue toValue) {
    QJsonArray array;
    for (const auto& item : items)
        array.append(toValue(item));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

}  // namespace

std::string IsoUtcMs(qint64 msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC)
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

QByteArray HeadersJson(std::span<const RecordHeader> headers) {
    return JsonArray(headers, HeaderObject);
}

QByteArray RecordJson(const Record& record) {
    return QJsonDocument(RecordObject(record)).toJson(QJsonDocument::Indented);
}

QByteArray RecordsJson(std::span<const Record> records) {
    return JsonArray(records, RecordObject);
}

QByteArray HeadersCsv(std::span<const RecordHeader> headers) {
    return CsvTable(CsvColumns, headers, CsvFields);
}

QByteArray RecordsJUnit(std::span<const Record> records) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("testsuites");
    xml.writeAttribute("name", QStringLiteral("tamrisk"));
    struct Suite {
        const Record* record;
        QString name;
        std::vector<TestCase> cases;
        Counts counts;
    };
    std::vector<Suite> suites;
    Counts total;
    for (const Record& record : records) {
        const RecordHeader& header = record.header;
        const QString name = header.script.empty() ? Utf8(header.kind) : QFileInfo(Utf8(header.script)).fileName();
        std::vector<TestCase> cases = TestCases(record, name);
        const Counts counts = CountCases(cases, header.durationMs);
        total.Add(counts);
        suites.push_back({&record, name, std::move(cases), counts});
    }
    WriteCounts(xml, total);
    for (const Suite& suite : suites)
        WriteTestSuite(xml, *suite.record, suite.cases, suite.name, suite.counts);
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

namespace {

// The fields of a claim in the order of ClaimColumns, decoded to UTF-8.
constexpr std::array<const char*, 6> ClaimColumns = {"space", "data", "station", "unit", "claimed", "record"};

std::array<std::string, ClaimColumns.size()> ClaimFields(const SerialClaimRow& claim) {
    return {Cp1251ToUtf8(claim.space), Cp1251ToUtf8(claim.data), claim.station, claim.unit,
            IsoUtcMs(claim.claimedMs), claim.recordId};
}

}  // namespace

QByteArray ClaimsJson(std::span<const SerialClaimRow> claims) {
    return JsonArray(claims, [](const SerialClaimRow& claim) {
        QJsonObject object;
        const auto fields = ClaimFields(claim);
        for (std::size_t i = 0; i < fields.size(); ++i)
            object[QLatin1String(ClaimColumns[i])] = Utf8(fields[i]);
        return object;
    });
}

QByteArray ClaimsCsv(std::span<const SerialClaimRow> claims) {
    return CsvTable(ClaimColumns, claims, ClaimFields);
}

}  // namespace tamrisk
