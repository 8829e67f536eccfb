#pragma once
// The records window's table: the headers of the records that match a filter,
// newest first, fetched a page at a time as the view scrolls to them, so a
// database of a hundred thousand records opens at once. Pages are read by the
// records reader on its own thread and added as they arrive; a page of a filter
// that has since changed is dropped.

#include "recordstore.h"
#include "recordsreader.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <optional>
#include <vector>

namespace tamrisk {

class RecordsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { StartedCol, KindCol, UnitCol, ScriptCol, OutcomeCol, DurationCol, StationCol, ColumnCount };
    // Records fetched at a time.
    static constexpr int PageRows = 200;

    // Reads through `reader`, which must outlive the model; nothing is read until
    // SetFilter.
    explicit RecordsModel(RecordsReader& reader, QObject* parent = nullptr);

    // The records listed from the next SetFilter on: a file or a database URL.
    void SetLocation(const QString& location) { m_location = location; }
    QString Location() const { return m_location; }
    // Empties the list and starts it again from its newest record under `filter`
    // (its limit and place are the model's own): the first page is read in the
    // background, then PageRead or FetchFailed.
    void SetFilter(const RecordStore::Filter& filter);
    // The header shown in `row`.
    const RecordHeader& Header(int row) const { return m_headers.at(static_cast<std::size_t>(row)); }
    // The filter that lists every record not fetched yet, newest first (after the
    // last row fetched, no limit); nothing when every record is listed.
    std::optional<RecordStore::Filter> Unfetched() const;
    // True when every record under the filter is listed (or a read failed).
    bool AtEnd() const { return m_atEnd; }
    // True while a page is being read.
    bool Reading() const { return m_reading; }
    // The store's reason when the last read failed, else empty.
    QString LastError() const { return m_error; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A page is being read.
    void ReadStarted();
    // A page was read and its rows added (none, at the end).
    void PageRead();
    // A read failed with the store's reason; nothing more is fetched under this filter.
    void FetchFailed(const QString& error);

private:
    void ReadPage();
    void PageArrived(quint64 generation, std::vector<RecordHeader> page, const QString& error);

    RecordsReader& m_reader;
    QString m_location;
    RecordStore::Filter m_filter;  // the next page's: after the last row fetched
    std::vector<RecordHeader> m_headers;
    bool m_atEnd = true;  // the last page held less than a page of rows
    bool m_reading = false;
    quint64 m_generation = 0;  // counts filters, so that a page of an earlier one is dropped
    QString m_error;
};

// An outcome's colour wherever it is shown: pass green, fail red, aborted and
// error dark red.
QColor OutcomeColour(RecordOutcome outcome);
// The local date and time of a start given in UTC milliseconds, to the second.
QString LocalStartText(qint64 startedMs);
// A duration in seconds with milliseconds, e.g. "12.345 s".
QString DurationText(qint64 durationMs);

}  // namespace tamrisk
