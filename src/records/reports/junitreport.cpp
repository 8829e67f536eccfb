// The JUnit XML report: a testsuite per record, a testcase per transaction and per check.

#include "failurecause.h"
#include "reportfields.h"
#include "reports.h"
#include "resultlog.h"
#include "statusbits.h"
#include "textcodec.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>
#include <QXmlStreamWriter>

#include <algorithm>
#include <optional>

namespace tamrisk {

namespace {

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

// The captions of the status bits set in `status`, one a line.
QString StatusCaptions(const StatusBytesArray& status) {
    QStringList captions;
    for (const StatusBit& bit : StatusBitTable())
        if (bit.caption != nullptr && (status[static_cast<std::size_t>(bit.byte)] & (1u << bit.bit)) != 0)
            captions.append(QString::fromUtf8(bit.caption));
    // A failure with no status bit set is a link failure: the status was cleared.
    return captions.isEmpty() ? QStringLiteral("No valid answer from the printer") : captions.join(u'\n');
}

// The captions of the status bits an answer line reports set.
QString StatusCaptions(const RecordLogLine& answer) {
    StatusBytesArray status{};
    ReadAnswerLineStatus(answer.text, status);
    return StatusCaptions(status);
}

// What a failing step's testcase says it met: "refused [21,02,00,00,00,08]",
// "no-answer"; the answer's data after it in quotes when there is some.
QString StepFailure(const RecordStep& step) {
    QString text = FromUtf8(std::string(StepResultText(step.result)));
    if (step.status)
        text += QStringLiteral(" [%1]").arg(FromUtf8(StatusText(*step.status)));
    if (!step.answer.empty())
        text += QStringLiteral(" \"%1\"").arg(DecodeCp1251(step.answer));
    return text;
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
        return FromUtf8(header.reason);
    return OutcomeOrEmpty(header);
}

// The verdict of the operation as a whole, for a testcase that stands for it.
void SetOperationVerdict(TestCase& test, const Record& record) {
    const RecordHeader& header = record.header;
    test.type = OutcomeOrEmpty(header);
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

// A testcase per transaction of the log: a request line and its answer line.
std::vector<TestCase> LoggedCases(const Record& record, const QString& className) {
    std::vector<TestCase> cases;
    for (const LoggedTransaction& transaction : Transactions(record.log)) {
        const QString scriptLine = RequestScriptLine(*transaction.request);
        TestCase test(className, QStringLiteral("line %1: %2").arg(transaction.number).arg(scriptLine), 0);
        if (transaction.answer == nullptr) {
            test.verdict = Verdict::Error;
            test.type = QStringLiteral("no answer");
            test.message = record.header.reason.empty() ? QStringLiteral("The record ended before the answer")
                                                        : FromUtf8(record.header.reason);
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
    return cases;
}

// A testcase per step, named by the script line it was sent for, or a
// command's by its place among the steps.
std::vector<TestCase> StepCases(const Record& record, const QString& className) {
    std::vector<TestCase> cases;
    for (std::size_t i = 0; i < record.steps.size(); ++i) {
        const RecordStep& step = record.steps[i];
        const int number = step.line.value_or(static_cast<int>(i) + 1);
        TestCase test(className,
                      QStringLiteral("line %1: %2,%3").arg(number).arg(step.command).arg(DecodeCp1251(step.data)),
                      step.durationMs);
        switch (step.result) {
        case StepResult::Answered: break;
        case StepResult::Refused:
        case StepResult::NoAnswer:
        case StepResult::BadAnswer:
            test.verdict = Verdict::Failure;
            test.type = QStringLiteral("fail");
            test.message = StepFailure(step);
            test.text = StatusCaptions(step.status.value_or(StatusBytesArray{}));
            break;
        case StepResult::NotSent:
            // Nothing went out: the operation could not go on (a lost port, a cancel).
            test.verdict = Verdict::Error;
            test.type = QStringLiteral("not sent");
            test.message = record.header.reason.empty() ? QStringLiteral("Nothing was sent")
                                                        : FromUtf8(record.header.reason);
            break;
        }
        cases.push_back(test);
    }
    return cases;
}

// A testcase per check, named by its name; one that failed or could not be
// read says so with the check's message.
void AddCheckCases(std::vector<TestCase>& cases, const Record& record, const QString& className) {
    for (const RecordCheck& made : record.checks) {
        const CheckOutcome& check = made.check;
        TestCase test(className, FromUtf8(check.name), 0);
        if (check.result != CheckResult::Pass) {
            test.verdict = check.result == CheckResult::Fail ? Verdict::Failure : Verdict::Error;
            test.type = FromUtf8(std::string(CheckResultText(check.result)));
            test.message = FromUtf8(check.message);
        }
        cases.push_back(test);
    }
}

std::vector<TestCase> TestCases(const Record& record, const QString& className) {
    const RecordHeader& header = record.header;
    const QString kind = FromUtf8(header.kind);
    std::vector<TestCase> cases;
    if (IsBulkKind(header.kind)) {
        TestCase operation(className, kind, header.durationMs);
        SetOperationVerdict(operation, record);
        cases.push_back(operation);
        return cases;
    }
    // Records of older files have no steps: their transactions are read from the log.
    cases = record.steps.empty() ? LoggedCases(record, className) : StepCases(record, className);
    AddCheckCases(cases, record, className);
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

// The record's header as properties; a failed or errored run's also names its
// cause, as the line's numbers count it.
void WriteProperties(QXmlStreamWriter& xml, const Record& record) {
    const RecordHeader& header = record.header;
    const std::pair<const char*, QString> properties[] = {
        {"id", FromUtf8(header.id)},
        {"kind", FromUtf8(header.kind)},
        {"unit", FromUtf8(header.unit)},
        {"operator", FromUtf8(header.operatorName)},
        {"version", FromUtf8(header.version)},
        {"port", FromUtf8(header.port)},
        {"speed", QString::number(header.speed)},
        {"outcome", OutcomeOrEmpty(header)},
        {"reason", FromUtf8(header.reason)},
        {"script_sha256", FromUtf8(header.scriptSha256)},
        {"lines", FromUtf8(header.lineRange)},
    };
    const auto write = [&xml](const char* name, const QString& value) {
        xml.writeStartElement("property");
        xml.writeAttribute("name", QString::fromLatin1(name));
        xml.writeAttribute("value", XmlText(value));
        xml.writeEndElement();
    };
    xml.writeStartElement("properties");
    for (const auto& [name, value] : properties)
        write(name, value);
    // Named only by records of a line's process, so that the others read as they always did.
    for (const auto& [name, value] : {std::pair("operation", &header.operation), std::pair("product", &header.product)}) {
        if (!value->empty())
            write(name, FromUtf8(*value));
    }
    // Who ran it and what it ran, only where known and an engineering run's mark only on one, the same way.
    const auto runBy = RunByValues(header);
    for (std::size_t i = 0; i < RunByFields.size(); ++i) {
        if (!runBy[i].empty() && !(RunByFields[i].type == FieldType::Flag && runBy[i] == "false"))
            write(RunByFields[i].name, FromUtf8(runBy[i]));
    }
    if (header.kind == "run" && (header.outcome == RecordOutcome::Fail || header.outcome == RecordOutcome::Error))
        write("cause", FromUtf8(FailureCauseOf(record).Name(header.reason)));
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
    xml.writeAttribute("hostname", XmlText(FromUtf8(header.station)));
    WriteProperties(xml, record);
    for (const TestCase& test : cases)
        WriteTestCase(xml, test);
    // The log as the operation printed it, every line ended.
    QString log;
    for (const RecordLogLine& line : record.log)
        log += LogText(line) + u'\n';
    xml.writeTextElement("system-out", XmlText(log));
    xml.writeEndElement();
}

}  // namespace

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
        const QString name = header.script.empty() ? FromUtf8(header.kind) : QFileInfo(FromUtf8(header.script)).fileName();
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

}  // namespace tamrisk
