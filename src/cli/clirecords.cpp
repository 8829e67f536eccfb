#include "clirecords.h"

#include "clisession.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <ostream>

namespace tamrisk {

namespace {

std::string Sha256Hex(QCryptographicHash& hash) { return hash.result().toHex().toStdString(); }

// A record is read later and elsewhere: the file it names must not depend on the folder it was made in.
std::string AbsolutePath(const std::string& file) {
    return QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString();
}

}  // namespace

std::set<std::string> WithRecordOptions(std::set<std::string> withValue) {
    withValue.insert({"records", "unit"});
    return withValue;
}

QString RecordsLocation(const ParsedArgs& args) {
    std::string location;
    if (const auto given = args.value("records")) {
        location = *given;
    } else if (const char* environment = std::getenv("TAMRISK_RECORDS"); environment != nullptr && *environment) {
        location = environment;
    } else {
        return RecordStore::DefaultLocation();
    }
    return location == "off" ? QString() : QString::fromStdString(location);
}

std::unique_ptr<RecordStore> OpenRecords(const QString& location, const std::function<void(const QString&)>& tell) {
    auto store = std::make_unique<RecordStore>();
    QString error;
    if (!store->Open(location, error) || store->MarkAbandoned(error) < 0) {
        tell(error);
        return nullptr;
    }
    return store;
}

void TellRecordsNotKept(std::ostream& err, const QString& problem) {
    CliError(err, "records not kept: " + problem.toStdString());
}

CliRecord::CliRecord(const ParsedArgs& args, std::string kind, Host& host, std::ostream& err)
    : m_store(OpenChosen(args, err)),
      // A file that fails later is told here; one that failed to open was told above.
      m_recorder(m_store.get(), host, [&err](const QString& problem) { TellRecordsNotKept(err, problem); }),
      m_header(NewRecordHeader(std::move(kind))) {
    m_header.unit = args.value("unit").value_or("");
}

std::unique_ptr<RecordStore> CliRecord::OpenChosen(const ParsedArgs& args, std::ostream& err) {
    const QString location = RecordsLocation(args);
    if (location.isEmpty())
        return nullptr;
    return OpenRecords(location, [&err](const QString& problem) { TellRecordsNotKept(err, problem); });
}

CliRecord::~CliRecord() = default;

void CliRecord::SetPort(const ParsedArgs& args, const CliSession& session) {
    const std::string& opened = session.openedPort;
    const std::string given = args.value("port").value_or(opened);
    m_header.port = opened.empty() || opened == given ? given : given + " (" + opened + ")";
    m_header.speed = session.openedSpeed;
}

void CliRecord::Start() {
    if (m_started)
        return;
    m_started = true;
    m_recorder.Start(m_header);
    // Lines are written when the command lets events through, also while it
    // waits for the printer, so that a killed program leaves the lines so far.
    if (QCoreApplication::instance() != nullptr && m_recorder.Recording()) {
        m_timer.emplace();
        m_timer->setInterval(Recorder::BatchInterval);
        QObject::connect(&*m_timer, &QTimer::timeout, [this] { m_recorder.Tick(); });
        m_timer->start();
    }
}

ResultSink& CliRecord::Tee(ResultSink& inner) {
    m_watch.next = &m_recorder.Tee(inner);
    return m_watch;
}

ResultSink& CliRecord::Keep() { return Tee(m_nothing); }

void CliRecord::Watch::AppendResultLine(std::string_view text, ResultColour colour) {
    if (colour == ResultColour::Red) {
        m_record.m_lastRed = Cp1251ToUtf8(text);
        if (m_record.m_firstRed.empty())
            m_record.m_firstRed = m_record.m_lastRed;
    }
    next->AppendResultLine(text, colour);
}

void CliRecord::Watch::Flush() { next->Flush(); }

void CliRecord::Image(std::string_view bytes, const std::string& file) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    m_recorder.Image({m_header.kind, static_cast<qint64>(bytes.size()), Sha256Hex(hash), AbsolutePath(file)});
}

void CliRecord::ImageOfFile(const std::string& file) {
    QFile image(QString::fromStdString(file));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!m_recorder.Recording() || !image.open(QIODevice::ReadOnly) || !hash.addData(&image))
        return;
    m_recorder.Image({m_header.kind, image.size(), Sha256Hex(hash), AbsolutePath(file)});
}

Record CliRecord::Ending(RecordOutcome outcome, const std::string& reason, int exitCode) {
    // A command that could not start has its header only once started, as Finish does.
    Start();
    Record record = m_recorder.Snapshot();
    record.header.outcome = outcome;
    record.header.reason = reason;
    record.header.exitCode = exitCode;
    return record;
}

int CliRecord::Finish(RecordOutcome outcome, std::string reason, int exitCode) {
    Start();
    m_timer.reset();
    m_recorder.Finish(outcome, std::move(reason), exitCode);
    return exitCode;
}

}  // namespace tamrisk
