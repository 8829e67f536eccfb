#pragma once
// One operation's record, written as the operation goes: the header when it
// starts, its lines, serial numbers, images and steps in batches at most a
// quarter of a second apart (and at the end), the outcome when it ends. A program killed
// mid-run leaves its record with the lines up to the last batch.
//
// Keeping the record never changes what the operation shows, its exit status or
// its files: every line reaches the operation's own sink unchanged and in order,
// and a store that fails is told to the operator once, after which the record is
// no longer written. Nor does it slow the operation: the record is written by a
// thread of its own, over a connection of its own to the store's file, in the
// order it was kept; the operation's thread only hands it over. Operations that
// run side by side (a rack's sockets) may share one such thread and connection.

#include "host.h"
#include "linesink.h"
#include "record.h"
#include "recordslocation.h"
#include "recordwriter.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tamrisk {

class RecordsWriterThread;
// A writer thread and connection to the route's local file that the records of
// operations running side by side share, so that records begun together neither
// open the file each nor wait for each other's locks on it. Each record is still
// written in its own order and fails on its own.
std::shared_ptr<RecordsWriterThread> SharedRecordsWriter(const RecordsRoute& route);

class Recorder {
public:
    // Longest a kept line, serial number, image or step waits before it is written.
    static constexpr std::chrono::milliseconds BatchInterval{250};

    // Writes into the route's file, queueing each record for its line's database;
    // without a route (records are off) the recorder only forwards lines.
    // `tellOnce` receives "<file>: <reason>" of the first store failure.
    // `shared` (from SharedRecordsWriter for the same route) writes the record
    // instead of a thread and connection of the record's own.
    Recorder(std::optional<RecordsRoute> route, Host& host, std::function<void(const QString&)> tellOnce,
             std::shared_ptr<RecordsWriterThread> shared = nullptr);
    // A record still in progress is finished as aborted.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Begins the record: sets a fresh id when `header` has none, the start (now,
    // UTC) when it has none, and writes the header.
    void Start(RecordHeader header);
    // A sink that forwards every line to `inner` and keeps it, with its time from
    // the start, while the record is in progress. Lives as long as the recorder.
    ResultSink& Tee(ResultSink& inner);
    // Writes what is kept when the last write was BatchInterval ago or more; the
    // front end's timer calls it so that a quiet operation's lines are not held.
    void Tick();
    // The script line running from now on (0: none), which the lines kept after
    // it carry.
    void SetScriptLine(int line) { m_scriptLine = line; }
    // A serial number sent; the first one's data becomes the unit when none was given.
    void Serial(RecordSerial serial);
    void Image(RecordImage image);
    // A transaction (or a phase of a bulk read) with the printer, written with the
    // next batch; kept in the whole record too.
    void Step(const RecordStep& step);
    // A check of an answer, written with the next batch; kept in the whole record too.
    void Check(const RecordCheck& check);
    // Milliseconds from the record's start to `at` on the host's clock.
    qint64 MsSinceStart(Host::Clock::time_point at) const;
    // Writes what is kept and the outcome, reason, duration and exit status, and
    // waits until the record is written. Nothing before Start or after the first call.
    void Finish(RecordOutcome outcome, std::string reason, std::optional<int> exitCode);
    // Waits until everything handed over so far is written (or failed, which is
    // then told), so that a reader of the store sees the record as kept so far.
    void Settle();

    // Keeps the whole record in memory too, whether or not a store takes it, for a
    // report when the operation ends. Call before Start.
    void KeepWhole() { m_keepWhole = true; }
    // The record so far: its header and, with KeepWhole, every line, serial number,
    // image, step and check since Start. A record in progress has no outcome yet and its
    // duration up to now.
    Record Snapshot() const;

    const RecordHeader& Header() const { return m_header; }
    // True between Start and Finish while the store takes the record.
    bool Recording() const { return m_recording; }

private:
    class TeeSink : public ResultSink {
    public:
        explicit TeeSink(Recorder& recorder) : m_recorder(recorder) {}
        void AppendResultLine(std::string_view text, ResultColour colour) override;
        void Flush() override;
        ResultSink* inner = nullptr;

    private:
        Recorder& m_recorder;
    };

    qint64 ElapsedMs() const;
    bool InProgress() const { return !m_header.id.empty() && !m_header.outcome; }
    class Writer;

    void Keep(qint64 tMs, ResultColour colour, std::string_view text);
    void Kept();
    void WriteBatch();
    // Tells a failure of the writer, once.
    void CheckWriter();
    void Failed(const QString& error);

    std::optional<RecordsRoute> m_route;
    std::shared_ptr<RecordsWriterThread> m_shared;
    std::unique_ptr<Writer> m_writer;
    Host& m_host;
    std::function<void(const QString&)> m_tellOnce;
    TeeSink m_tee{*this};
    RecordHeader m_header;
    RecordBatch m_pending;
    Record m_whole;  // with KeepWhole: everything since Start (its header unused)
    Host::Clock::time_point m_started{};
    Host::Clock::time_point m_lastWrite{};
    int m_scriptLine = 0;
    bool m_recording = false;
    bool m_told = false;
    bool m_keepWhole = false;
};

}  // namespace tamrisk
