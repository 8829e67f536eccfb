#include "socketrun.h"

#include "host.h"
#include "operationrecord.h"
#include "qtserialio.h"
#include "scriptrunner.h"
#include "serialclaims.h"
#include "station.h"
#include "stationrecords.h"
#include "textcodec.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>
#include <utility>

namespace tamrisk {

// The run's Host: the thread's own events, questions and prompts carried to
// the window and waited for, other messages told without waiting.
class SocketRun::Host : public tamrisk::Host {
public:
    explicit Host(SocketRun& run) : m_run(run) {}

    Station* station = nullptr;
    // The last message told (UTF-8): why a run that was not run did not.
    std::string lastTold;

    void processEvents() override {
        // A cancel from the window stays asked for: a run clears CancelRequest as it starts.
        if (m_run.m_cancel.load() && station != nullptr)
            station->state.CancelRequest = true;
        const Clock::time_point at = now();
        if (at - m_lastEvents < EventsInterval)
            return;
        m_lastEvents = at;
        // This thread's events: the record's batches, the store's answers.
        QCoreApplication::processEvents();
    }
    void showMessage(const std::string& text, const std::string& caption) override {
        showMessageDetail(text, caption, {});
    }
    // Texts are the station's 8-bit text, a detail the system's UTF-8; told as UTF-8.
    void showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) override {
        // A script's message line waits for the operator, in the socket's panel.
        if (caption == "Message") {
            m_run.Ask(text, caption, false);
            return;
        }
        lastTold = Cp1251ToUtf8(text) + (detail.empty() ? "" : ": " + detail);
        m_run.Tell(lastTold);
    }
    bool askYesNo(const std::string& text, const std::string& caption) override {
        return m_run.Ask(text, caption, true);
    }
    Clock::time_point now() override { return Clock::now(); }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    // This thread draws nothing and waits for its printer blocked: its events
    // (the record's timer, the port's notifiers) need no turn more often than
    // the link's wait slice. Every 2 ms, as the window's thread runs them, cost
    // a socket a turn of its event loop twice a transaction.
    static constexpr std::chrono::milliseconds EventsInterval{50};
    SocketRun& m_run;
    Clock::time_point m_lastEvents{};
};

// The runner's sink: every line goes to the window.
class SocketRun::Sink : public ResultSink {
public:
    explicit Sink(SocketRun& run) : m_run(run) {}
    void AppendResultLine(std::string_view text, ResultColour colour) override { m_run.AddLine(text, colour); }

private:
    SocketRun& m_run;
};

SocketRun::SocketRun(int socket, StationRecords* records, SocketRunView view, QObject* parent)
    : QObject(parent), m_socket(socket), m_records(records), m_view(std::move(view)), m_linesTimer(new QTimer(this)) {
    m_linesTimer->setInterval(LinesIntervalMs);
    connect(m_linesTimer, &QTimer::timeout, this, [this] { HandOverLines(); });
}

SocketRun::~SocketRun() {
    if (m_thread == nullptr)
        return;
    Cancel(true);
    m_thread->wait();
    delete m_thread;
}

bool SocketRun::Start(SocketRunRequest request) {
    if (m_thread != nullptr)
        return false;
    m_cancel = false;
    m_closing = false;
    m_line = 0;
    m_thread = QThread::create([this, request = std::move(request)]() mutable { Body(std::move(request)); });
    m_thread->setObjectName(QStringLiteral("socket %1").arg(m_socket));
    m_linesTimer->start();
    m_thread->start();
    return true;
}

void SocketRun::Cancel(bool closing) {
    if (closing)
        m_closing = true;
    {
        const std::lock_guard lock(m_answerMutex);
        m_cancel = true;
    }
    m_answered.notify_all();
}

void SocketRun::Answer(bool yes) {
    {
        const std::lock_guard lock(m_answerMutex);
        if (!m_asking)
            return;
        m_answer = yes;
    }
    m_answered.notify_all();
}

void SocketRun::Post(std::function<void()> job) { QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection); }

bool SocketRun::Ask(const std::string& text, const std::string& caption, bool yesNo) {
    {
        const std::lock_guard lock(m_answerMutex);
        m_answer.reset();
        m_asking = true;
    }
    Post([this, text, caption, yesNo] {
        // The log shows what led to the question before it is asked.
        HandOverLines();
        if (m_view.asked)
            m_view.asked(text, caption, yesNo);
    });
    bool answer = false;
    for (;;) {
        std::unique_lock lock(m_answerMutex);
        if (m_answered.wait_for(lock, std::chrono::milliseconds(20),
                                [this] { return m_answer.has_value() || m_cancel.load(); })) {
            answer = m_answer.value_or(false);
            m_answer.reset();
            m_asking = false;
            break;
        }
        lock.unlock();
        // The record's batches go on being written while the question waits.
        QCoreApplication::processEvents();
    }
    Post([this] {
        if (m_view.asked)
            m_view.asked({}, {}, false);
    });
    return answer;
}

void SocketRun::AddLine(std::string_view text, ResultColour colour) {
    const std::lock_guard lock(m_linesMutex);
    m_pendingLines.push_back({std::string(text), colour});
}

void SocketRun::HandOverLines() {
    std::vector<ResultLine> batch;
    {
        const std::lock_guard lock(m_linesMutex);
        batch.swap(m_pendingLines);
    }
    if (m_view.lines && !batch.empty())
        m_view.lines(std::move(batch));
}

void SocketRun::Tell(std::string text) {
    Post([this, text = std::move(text)] {
        if (m_view.told)
            m_view.told(text);
    });
}

void SocketRun::ShowConnection(bool open, bool lost) {
    Post([this, open, lost] {
        if (m_view.connection)
            m_view.connection(open, lost);
    });
}

void SocketRun::Ended(std::optional<RunEnded> ended, std::optional<std::vector<std::string>> advanced) {
    Post([this, ended = std::move(ended), advanced = std::move(advanced)] {
        if (m_thread != nullptr) {
            m_thread->wait();
            delete m_thread;
            m_thread = nullptr;
        }
        m_linesTimer->stop();
        HandOverLines();
        if (m_view.ended)
            m_view.ended(ended, advanced);
    });
}

void SocketRun::Body(SocketRunRequest request) {
    Host host(*this);
    // The port list is the window's: this station opens its port by path.
    // This thread shows nothing: its waits for the printer block rather than turn an event loop.
    Station station(host, std::make_unique<QtSerialIo>(QtSerialIo::Waiting::Blocked),
                    [] { return std::vector<PortEntry>{}; });
    host.station = &station;
    station.link.PortIndex = -1;
    station.link.GivenPortPath = request.port;
    if (!station.ConnectPath(request.port, request.speedBps)) {
        Ended(RunEnded{RecordOutcome::Error, host.lastTold, false}, std::nullopt);
        return;
    }
    ShowConnection(true, false);
    const Notifier::Subscription lost = station.OnConnectionLost([this] { ShowConnection(false, true); });

    Sink sink(*this);
    ScriptRunControl control(station, sink, [this] { return m_closing.load(); });
    // Claims keep the state of their own run: each socket has its own.
    std::unique_ptr<SerialClaims> claims;
    if (m_records != nullptr && !m_records->ClaimsLocation().isEmpty())
        claims = std::make_unique<SerialClaims>(m_records->ClaimsLocation());
    request.script.unit = request.unit;
    control.SetRecordBegun([&](StationRecords& records) {
        std::unique_ptr<OperationRecord> record = records.Begin("run", station, claims.get());
        record->Header().unit = request.unit;
        return record;
    });
    // The entry's waits and alarms (UTF-8) show under the tile; the end of a wait needs nothing shown.
    control.SetEntryShown({.waiting =
                               [this](const std::string& text) {
                                   if (!text.empty())
                                       Tell(text);
                               },
                           .alarm = [this](const QString& text) { Tell(text.toStdString()); }});
    ScriptRunHooks hooks;
    hooks.lineStarting = [this](int line) { m_line = line; };
    control.Runner().SetHooks(std::move(hooks));
    std::optional<RunEnded> ended = control.Run(request.script, nullptr, m_records, [](bool) {});
    if (!ended && !host.lastTold.empty())
        ended = RunEnded{RecordOutcome::Error, host.lastTold, false};
    std::optional<std::vector<std::string>> advanced;
    if (request.script.selection && request.script.selection->Changed())
        advanced = request.script.selection->Lines();
    const bool wasConnected = station.Connected;
    station.Disconnect();
    if (wasConnected)
        ShowConnection(false, false);
    Ended(std::move(ended), std::move(advanced));
}

}  // namespace tamrisk
