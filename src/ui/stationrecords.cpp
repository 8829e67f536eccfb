#include "stationrecords.h"

#include "activerelease.h"
#include "filedialog.h"
#include "recordforwarder.h"
#include "recordsmodel.h"
#include "recordsreader.h"
#include "settings.h"
#include "station.h"
#include "unitentries.h"

#include <algorithm>
#include <cstdlib>
#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <QWidget>

namespace tamrisk {

namespace {

bool OnWindowThread() {
    return QCoreApplication::instance() == nullptr || QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

StationRecords::StationRecords(Station& station, QWidget* window) : m_station(station), m_window(window) {
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    const QString choice = settings->value(QLatin1String(RecordsSetting)).toString();
    // The environment chooses for this session over the saved setting.
    const char* environment = std::getenv("TAMRISK_RECORDS");
    const bool fromEnvironment = environment != nullptr && *environment;
    m_location = ChooseRecordsLocation(fromEnvironment || choice.isEmpty() ? std::nullopt
                                                                           : std::optional(choice.toStdString()));
    StoreResult<std::optional<RecordsRoute>> route = RouteRecords(m_location);
    if (!route)
        m_routeProblem = route.error().Text();
    m_route = route ? std::move(*route) : std::nullopt;
    const QString name = settings->value(QLatin1String(StationNameSetting)).toString();
    m_stationName = name.isEmpty() ? DefaultStationName() : name.toStdString();
    m_uniqueSerials = settings->value(QLatin1String(UniqueSerialsSetting), false).toBool();
    const qlonglong wait =
        settings->value(QLatin1String(ClaimWaitSetting), static_cast<qlonglong>(DefaultClaimWait.count())).toLongLong();
    m_claimWait = std::chrono::seconds(std::clamp<qlonglong>(wait, 0, MaxClaimWait.count()));
}

void StationRecords::SetClaimWait(std::chrono::seconds wait) {
    m_claimWait = std::clamp(wait, std::chrono::seconds(0), MaxClaimWait);
    OpenSettingsStore()->setValue(QLatin1String(ClaimWaitSetting), static_cast<qlonglong>(m_claimWait.count()));
}

StationRecords::~StationRecords() {
    // First, while the forwarder the replies nudge is still there (replies not run are dropped).
    m_lateWrites.reset();
}

void StationRecords::SetUniqueSerials(bool on) {
    m_uniqueSerials = on;
    OpenSettingsStore()->setValue(QLatin1String(UniqueSerialsSetting), on);
}

void StationRecords::Open() {
    if (m_opened)
        return;
    m_opened = true;
    if (!m_routeProblem.isEmpty())
        TellOnce(m_routeProblem);
    if (m_route)
        m_store = OpenRecords(*m_route, [this](const QString& problem) { TellOnce(problem); });
    // Only SQLite opens the records file: a script or journal loaded from it, or
    // a file saved over it, would drop the station's locks on it.
    if (m_store)
        KeepFromFileDialogs(m_store->Location());
    if (m_store)
        m_lateWrites = std::make_unique<RecordsReader>(RecordsReader::AtEnd::RunWaiting);
    if (m_store && !LineLocation().isEmpty()) {
        m_forwarder = std::make_unique<RecordForwarder>(m_route->local, m_route->line);
        m_forwarder->Start();
    }
    // Without records no claim is made: a run that asks for one sends nothing.
    m_claims = std::make_unique<SerialClaims>(m_store ? m_route->Claims() : QString());
    if (m_store) {
        m_entries = std::make_unique<UnitEntries>(m_route->Claims());
        m_releases = std::make_unique<ActiveReleases>(*m_route);
    }
    SetPerson(m_person);
}

QString StationRecords::LineQuestions() const { return m_store ? m_route->Claims() : QString(); }

void StationRecords::SetPerson(const std::optional<Operator>& person) {
    {
        const std::lock_guard lock(m_personMutex);
        m_person = person;
    }
    const std::string who = person ? person->id : LoginName();
    if (m_store)
        m_store->SetActor(who, m_stationName);
    if (m_entries)
        m_entries->SetActor(who, m_stationName);
}

void StationRecords::NamePerson(RecordHeader& header) const {
    header.station = m_stationName;
    const std::lock_guard lock(m_personMutex);
    if (m_person) {
        header.operatorId = m_person->id;
        header.operatorName = m_person->name;
    }
}

void StationRecords::AddRecord(const RecordHeader& given) {
    Open();
    OperationRecord record(m_store ? m_route : std::nullopt, m_station.host,
                           [this](const QString& problem) { TellOnce(problem); }, given.kind);
    RecordHeader& header = record.Header();
    header.id = given.id.empty() ? header.id : given.id;
    NamePerson(header);
    header.unit = given.unit;
    header.operation = given.operation;
    header.product = given.product;
    record.Start();
    record.Finish(given.outcome.value_or(RecordOutcome::Pass), given.reason);
    if (m_forwarder)
        m_forwarder->Nudge();
}

std::unique_ptr<OperationRecord> StationRecords::Begin(std::string kind) {
    Open();
    std::unique_ptr<OperationRecord> record = Begin(std::move(kind), m_station, m_claims.get(), nullptr);
    if (unit)
        record->Header().unit = unit();
    return record;
}

std::unique_ptr<OperationRecord> StationRecords::Begin(std::string kind, Station& station, SerialClaims* claims) {
    std::shared_ptr<RecordsWriterThread> writer;
    if (m_store) {
        const std::lock_guard lock(m_runsWriterMutex);
        if (!m_runsWriter)
            m_runsWriter = SharedRecordsWriter(*m_route);
        writer = m_runsWriter;
    }
    return Begin(std::move(kind), station, claims, std::move(writer));
}

std::unique_ptr<OperationRecord> StationRecords::Begin(std::string kind, Station& station, SerialClaims* claims,
                                                       std::shared_ptr<RecordsWriterThread> writer) {
    auto record = std::make_unique<OperationRecord>(m_store ? m_route : std::nullopt, station.host,
                                                    [this](const QString& problem) { TellOnce(problem); },
                                                    std::move(kind), std::move(writer));
    record->WatchTransactions(station.transactor);
    // Only a script run asks for claims; other operations send no serial numbers.
    record->SetUniqueSerials(m_uniqueSerials ? claims : nullptr);
    RecordHeader& header = record->Header();
    NamePerson(header);
    if (station.Connected) {
        const int index = station.link.PortIndex;
        header.port = index >= 0 && index < static_cast<int>(station.link.PortList.size())
                          ? station.link.PortAt(index).path
                          : station.link.GivenPortPath;
        header.speed = station.link.LineSpeed;
    }
    return record;
}

QString StationRecords::LocalLocation() const {
    if (m_route)
        return m_route->local;
    // A line's URL that cannot be taken still names where its records would be written first.
    return LineLocation().isEmpty() ? m_location : LocalRecordsLocation();
}

QString StationRecords::LineLocation() const {
    return IsLineLocation(m_location) ? m_location : QString();
}

void StationRecords::Finish(OperationRecord& record, RecordOutcome outcome, std::string reason) {
    const QString shown = QString::fromStdString(reason);
    record.Finish(outcome, std::move(reason));
    if (m_forwarder)
        m_forwarder->Nudge();
    if (outcomeShown && OnWindowThread())
        outcomeShown(outcome, shown);
}

void StationRecords::ImageSaved(const std::string& id, std::string kind, std::string_view bytes,
                                const QString& file) {
    if (m_lateWrites == nullptr || id.empty())
        return;
    // The image's hash is taken here, while the bytes are the window's.
    m_lateWrites->Post(m_route->local, [this, id, image = ImageOf(std::move(kind), bytes, file.toStdString()),
                                        line = m_route->line](RecordStore& store, StoreError& failure) {
        // The record went on to the line before: the image is queued to follow it.
        store.Writer().SetForwardTo(line);
        const StoreResult<void> written = store.Writer().AddImage(id, image);
        failure = written.error();
        const bool added = written.has_value();
        return RecordsReader::Reply([this, added, error = failure.Text()] {
            if (!added)
                TellOnce(error);
            else if (m_forwarder)
                m_forwarder->Nudge();
        });
    });
}

bool StationRecords::Writing() const { return m_lateWrites != nullptr && m_lateWrites->Pending() > 0; }

void StationRecords::TellOnce(const QString& problem) {
    // A socket's run finds it on its own thread; the window tells it.
    if (!OnWindowThread()) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this, problem] { TellOnce(problem); },
                                  Qt::QueuedConnection);
        return;
    }
    if (m_told)
        return;
    m_told = true;
    const QString message = QStringLiteral("Records not kept: ") + problem;
    if (problemShown)
        problemShown(message);
    // Not modal: the operation that found the problem goes on while the box is up.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Records"), message, QMessageBox::Ok, m_window);
    box->setObjectName(QStringLiteral("RecordsProblemBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

QString OutcomeCaption(RecordOutcome outcome) {
    return QString::fromLatin1(OutcomeText(outcome)).toUpper();
}

}  // namespace tamrisk
