#include "recordwriter.h"

#include "audittrail.h"
#include "forwardqueue.h"
#include "recordrows.h"

#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <QSysInfo>

#include <cerrno>

#include <signal.h>
#include <unistd.h>

namespace tamrisk {

RecordWriter::RecordWriter(StoreConnection& connection) : m_c(connection) {}

namespace {

// An engineering run kept here, in the trail: by the person and at the station
// its record names, with the script it ran and what it ran on.
bool AppendEngineeringRun(StoreConnection& c, const RecordHeader& header, QSqlError& failure) {
    std::string ran = header.script;
    for (const auto& [label, value] : {std::pair{"product ", &header.product}, std::pair{"operation ", &header.operation},
                                       std::pair{"unit ", &header.unit}}) {
        if (!value->empty())
            ran += (ran.empty() ? "" : ", ") + std::string(label) + *value;
    }
    return AppendAudit(c, {"engineering run", header.id, std::nullopt, ran.empty() ? std::nullopt : std::optional(ran)},
                       header.startedMs,
                       header.operatorId.empty() ? header.operatorName : header.operatorId, header.station, failure);
}

}  // namespace

bool ProgramEnded(qint64 pid) {
    const auto process = static_cast<pid_t>(pid);
    return process != getpid() && kill(process, 0) != 0 && errno == ESRCH;
}

// `whole`: a record sent on from another database, with its outcome, skipped
// when its id is there already. Else a record in progress. Either way this
// program is its writer here.
bool RecordWriter::InsertHeader(const RecordHeader& header, bool whole, bool& inserted, QSqlError& failure) {
    QSqlQuery query(m_c.Db());
    query.prepare(QStringLiteral("INSERT INTO records (") + QLatin1String(HeaderColumns) +
                  QStringLiteral(", writer_host, writer_pid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)") +
                  (whole ? QStringLiteral(" ON CONFLICT (id) DO NOTHING") : QString()));
    for (const QVariant& value :
         {Utf8(header.id), Utf8(header.kind), Utf8(header.station), Utf8(header.operatorName), Utf8(header.version),
          Utf8(header.port), QVariant(header.speed), QVariant(header.startedMs), QVariant(header.durationMs),
          OutcomeValue(whole ? header.outcome : std::nullopt), Utf8(header.reason), Utf8(header.unit),
          Utf8(header.script), Utf8(header.scriptSha256), Utf8(header.lineRange), ExitValue(header.exitCode),
          Utf8(header.operation), Utf8(header.product), Utf8(header.operatorId), Utf8(header.computerLogin),
          ExitValue(header.releaseNumber), QVariant(header.engineering), Text(QSysInfo::machineHostName()), QVariant(static_cast<qint64>(getpid()))})
        query.addBindValue(value);
    if (!m_c.Run(query, failure))
        return false;
    inserted = query.numRowsAffected() > 0;
    return true;
}

StoreResult<void> RecordWriter::Begin(const RecordHeader& header) {
    return m_c.Write(
        [&](QSqlError& failure) {
            bool inserted = false;
            if (!InsertHeader(header, false, inserted, failure) ||
                !EnqueueForLine(m_c, header.id, m_forwardTo, failure))
                return false;
            // A record sent on to a line enters the line's trail when it arrives there.
            return !header.engineering || !m_forwardTo.isEmpty() || AppendEngineeringRun(m_c, header, failure);
        });
}

bool RecordWriter::NextSequence(const QString& table, const std::string& id, qint64& next, QSqlError& failure) {
    QSqlQuery query(m_c.Db());
    query.prepare(QStringLiteral("SELECT MAX(seq) FROM ") + table + QStringLiteral(" WHERE record_id = ?"));
    query.addBindValue(Utf8(id));
    if (!m_c.Run(query, failure) || !query.next()) {
        failure = query.lastError();
        return false;
    }
    next = query.value(0).isNull() ? 0 : query.value(0).toLongLong() + 1;
    return true;
}

bool RecordWriter::InsertBatch(const std::string& id, const RecordBatch& batch, QSqlError& failure) {
    const QVariant recordId = Utf8(id);
    // Many rows a statement: a busy run adds a step every transaction, and a
    // statement a row would cost it a noticeable share of its speed.
    constexpr std::size_t RowsPerStatement = 50;
    auto insertAll = [&](const QString& table, const QString& columns, std::size_t count, auto&& bind) {
        if (count == 0)
            return true;
        qint64 seq = 0;
        if (!NextSequence(table, id, seq, failure))
            return false;
        const int width = static_cast<int>(columns.count(u',')) + 3;
        const QString row = QStringLiteral("(?") + QString(QStringLiteral(", ?")).repeated(width - 1) + u')';
        QSqlQuery query(m_c.Db());
        std::size_t prepared = 0;  // rows of the statement prepared
        for (std::size_t first = 0; first < count; first += RowsPerStatement) {
            const std::size_t rows = std::min(RowsPerStatement, count - first);
            if (rows != prepared) {
                QStringList values;
                for (std::size_t r = 0; r < rows; ++r)
                    values.append(row);
                query.prepare(QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (record_id, seq, ") + columns +
                              QStringLiteral(") VALUES ") + values.join(u','));
                prepared = rows;
            }
            for (std::size_t r = 0; r < rows; ++r) {
                const int at = static_cast<int>(r) * width;
                query.bindValue(at, recordId);
                query.bindValue(at + 1, seq++);
                bind(query, first + r, at + 2);
            }
            if (!m_c.Run(query, failure))
                return false;
        }
        return true;
    };
    const bool inserted =
        insertAll(QStringLiteral("record_log_chunks"), QStringLiteral("last_t_ms, lines"), batch.log.size(),
                  [&](QSqlQuery& query, std::size_t i, int at) {
                      query.bindValue(at + 0, batch.log[i].lastMs);
                      query.bindValue(at + 1, Cp1251(batch.log[i].text));
                  }) &&
        insertAll(QStringLiteral("record_serials"), QStringLiteral("space, data, script_line, result"),
                  batch.serials.size(),
                  [&](QSqlQuery& query, std::size_t i, int at) {
                      const RecordSerial& serial = batch.serials[i];
                      query.bindValue(at + 0, Cp1251(serial.space));
                      query.bindValue(at + 1, Cp1251(serial.data));
                      query.bindValue(at + 2, serial.line);
                      query.bindValue(at + 3, QString::fromLatin1(SerialResultText(serial.result)));
                  }) &&
        insertAll(QStringLiteral("record_images"), QStringLiteral("kind, length, sha256, file"), batch.images.size(),
                  [&](QSqlQuery& query, std::size_t i, int at) {
                      const RecordImage& image = batch.images[i];
                      query.bindValue(at + 0, Utf8(image.kind));
                      query.bindValue(at + 1, image.length);
                      query.bindValue(at + 2, Utf8(image.sha256));
                      query.bindValue(at + 3, Utf8(image.file));
                  }) &&
        insertAll(QStringLiteral("record_step_chunks"), QStringLiteral("steps"), batch.steps.size(),
                  [&](QSqlQuery& query, std::size_t i, int at) { query.bindValue(at, Bytes(batch.steps[i].text)); }) &&
        insertAll(QStringLiteral("record_checks"), QLatin1String(CheckTableColumns), batch.checks.size(),
                  [&](QSqlQuery& query, std::size_t i, int at) { BindCheck(query, at, batch.checks[i]); });
    if (!inserted || batch.unit.empty())
        return inserted;
    QSqlQuery query(m_c.Db());
    query.prepare(QStringLiteral("UPDATE records SET unit = ? WHERE id = ?"));
    query.addBindValue(Utf8(batch.unit));
    query.addBindValue(recordId);
    return m_c.Run(query, failure);
}

StoreResult<void> RecordWriter::AppendBatch(const std::string& id, const RecordBatch& batch) {
    if (batch.Empty())
        return m_c.IsOpen() ? StoreResult<void>() : m_c.NotOpen();
    return m_c.Write([&](QSqlError& failure) { return InsertBatch(id, batch, failure); });
}

StoreResult<void> RecordWriter::AppendLog(const std::string& id, std::span<const RecordLogLine> lines) {
    RecordBatch batch;
    for (const RecordLogLine& line : lines)
        AddLogLine(batch.log, line);
    return AppendBatch(id, batch);
}

StoreResult<void> RecordWriter::AddSerials(const std::string& id, std::span<const RecordSerial> serials) {
    RecordBatch batch;
    batch.serials.assign(serials.begin(), serials.end());
    return AppendBatch(id, batch);
}

StoreResult<void> RecordWriter::AddImage(const std::string& id, const RecordImage& image) {
    RecordBatch batch;
    batch.images.push_back(image);
    return m_c.Write([&](QSqlError& failure) {
        return InsertBatch(id, batch, failure) && EnqueueForLine(m_c, id, m_forwardTo, failure);
    });
}

// The outcome is reported once this returns: a power cut must not take it back.
StoreResult<void> RecordWriter::Finish(const RecordHeader& header) {
    const bool durable = m_c.DurableCommits();
    if (!durable) {
        if (StoreResult<void> synced = m_c.SetDurableCommits(true); !synced)
            return synced;
    }
    StoreResult<void> written = m_c.Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_c.Db());
            query.prepare(
                QStringLiteral("UPDATE records SET outcome = ?, reason = ?, duration_ms = ?, unit = ?, exit_code = ?"
                               " WHERE id = ?"));
            for (const QVariant& value : {OutcomeValue(header.outcome), Utf8(header.reason),
                                          QVariant(header.durationMs), Utf8(header.unit), ExitValue(header.exitCode),
                                          Utf8(header.id)})
                query.addBindValue(value);
            return m_c.Run(query, failure);
        });
    if (!durable)
        (void)m_c.SetDurableCommits(false);  // the next writes are only as durable as before
    return written;
}

StoreResult<int> RecordWriter::Import(std::span<const Record> records) {
    int added = 0;
    StoreResult<void> written = m_c.Write(
        [&](QSqlError& failure) {
            added = 0;
            for (const Record& record : records) {
                bool inserted = false;
                if (!InsertHeader(record.header, true, inserted, failure))
                    return false;
                if (!inserted) {
                    // Images are only ever added, in order: those the line lacks are the last ones.
                    qint64 held = 0;
                    if (!NextSequence(QStringLiteral("record_images"), record.header.id, held, failure))
                        return false;
                    RecordBatch later;
                    if (held < static_cast<qint64>(record.images.size()))
                        later.images.assign(record.images.begin() + held, record.images.end());
                    if (!InsertBatch(record.header.id, later, failure))
                        return false;
                    continue;
                }
                RecordBatch batch;
                for (const RecordLogLine& line : record.log)
                    AddLogLine(batch.log, line);
                batch.serials = record.serials;
                batch.images = record.images;
                for (const RecordStep& step : record.steps)
                    AddStep(batch.steps, step);
                batch.checks = record.checks;
                if (!InsertBatch(record.header.id, batch, failure))
                    return false;
                if (record.header.engineering && !AppendEngineeringRun(m_c, record.header, failure))
                    return false;
                ++added;
            }
            return true;
        });
    if (!written)
        return written.error();
    return added;
}

StoreResult<int> RecordWriter::MarkAbandoned() {
    int marked = 0;
    StoreResult<void> written = m_c.Write(
        [&](QSqlError& failure) {
            marked = 0;
            QSqlQuery unfinished(m_c.Db());
            unfinished.prepare(
                QStringLiteral("SELECT id, writer_pid FROM records WHERE outcome IS NULL AND writer_host = ?"));
            unfinished.addBindValue(Text(QSysInfo::machineHostName()));
            if (!m_c.Run(unfinished, failure))
                return false;
            std::vector<QVariant> gone;
            while (unfinished.next()) {
                if (ProgramEnded(unfinished.value(1).toLongLong()))
                    gone.push_back(unfinished.value(0));
            }
            unfinished.finish();
            QSqlQuery abort(m_c.Db());
            abort.prepare(QStringLiteral(
                "UPDATE records SET outcome = ?, reason = ?,"
                " duration_ms = (SELECT COALESCE(MAX(last_t_ms), 0) FROM record_log_chunks WHERE record_id = records.id)"
                " WHERE id = ? AND outcome IS NULL"));
            for (const QVariant& id : gone) {
                abort.bindValue(0, QString::fromLatin1(OutcomeText(RecordOutcome::Aborted)));
                abort.bindValue(1, QString::fromLatin1(UnfinishedReason));
                abort.bindValue(2, id);
                if (!m_c.Run(abort, failure))
                    return false;
                marked += abort.numRowsAffected() > 0 ? 1 : 0;
            }
            return true;
        });
    if (!written)
        return written.error();
    return marked;
}

}  // namespace tamrisk
