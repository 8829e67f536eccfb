#pragma once
// Writing records: a record's header when it begins, its log lines, serial
// numbers, images, steps and checks in batches, its outcome when it ends; whole records
// sent on from a station's file; records left unfinished by ended programs.
// Every write is one transaction of the connection; a failure is its LastError.

#include "record.h"
#include "storeconnection.h"

#include <QString>

#include <span>
#include <string>
#include <vector>

namespace tamrisk {

// What one write adds to a record: log lines, serial numbers, images, steps and checks, and the
// unit's identity when it became known while the record was being written.
struct RecordBatch {
    std::vector<RecordLogChunk> log;  // lines in order, as AddLogLine adds them
    std::vector<RecordSerial> serials;
    std::vector<RecordImage> images;
    std::vector<RecordStepChunk> steps;  // in the order sent, as AddStep adds them
    std::vector<RecordCheck> checks;     // in the order made, after those added before
    std::string unit;  // set only when it changes; empty: unchanged
    bool Empty() const {
        return log.empty() && serials.empty() && images.empty() && steps.empty() && checks.empty() && unit.empty();
    }
};

// True when the program of this computer with process id `pid` (a record's
// writer) no longer runs; never for this program.
bool ProgramEnded(qint64 pid);

class RecordWriter {
public:
    explicit RecordWriter(StoreConnection& connection);

    // The line's database that the records begun from now on are queued for, to be
    // sent on by a RecordForwarder (empty: none, the default).
    void SetForwardTo(const QString& line) { m_forwardTo = line; }
    const QString& ForwardTo() const { return m_forwardTo; }

    // Inserts the header of a record in progress (its outcome is ignored), with
    // this computer's host name and this process's id as its writer; with
    // ForwardTo set, queues the record for that line in the same transaction.
    StoreResult<void> Begin(const RecordHeader& header);
    // Adds to record `id` in one transaction; log lines, serial numbers and steps
    // keep the order given after those added before.
    StoreResult<void> AppendBatch(const std::string& id, const RecordBatch& batch);
    StoreResult<void> AppendLog(const std::string& id, std::span<const RecordLogLine> lines);
    StoreResult<void> AddSerials(const std::string& id, std::span<const RecordSerial> serials);
    // With ForwardTo set, also queues the record again for that line, so that an
    // image added after the record was sent follows it.
    StoreResult<void> AddImage(const std::string& id, const RecordImage& image);
    // Writes the header's outcome, reason, duration, unit and exit status; the
    // commit is synced to disk before it returns.
    StoreResult<void> Finish(const RecordHeader& header);
    // Inserts each record whole in one transaction; a record whose id is there
    // already gets only the images it lacks (saved after it was sent), so that a
    // record sent twice arrives once. How many records were inserted.
    StoreResult<int> Import(std::span<const Record> records);
    // Records left in progress by a process of this computer that no longer exists
    // become aborted with UnfinishedReason, their duration the time of their last
    // kept line. How many.
    StoreResult<int> MarkAbandoned();

private:
    bool InsertBatch(const std::string& id, const RecordBatch& batch, QSqlError& failure);
    bool NextSequence(const QString& table, const std::string& id, qint64& next, QSqlError& failure);
    // `whole`: a record sent on from another database, with its outcome, skipped
    // when its id is there already; else a record in progress.
    bool InsertHeader(const RecordHeader& header, bool whole, bool& inserted, QSqlError& failure);

    StoreConnection& m_c;
    QString m_forwardTo;
};

}  // namespace tamrisk
