#pragma once
// The records window's table: the headers of the records that match a filter,
// newest first, fetched from the store a page at a time as the view scrolls to
// them, so a database of a hundred thousand records opens at once.

#include "recordstore.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <vector>

namespace tamrisk {

class RecordsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { StartedCol, KindCol, UnitCol, ScriptCol, OutcomeCol, DurationCol, StationCol, ColumnCount };
    // Records fetched at a time.
    static constexpr int PageRows = 200;

    // Lists from `store`, which must outlive the model; nothing is read until
    // SetFilter.
    explicit RecordsModel(RecordStore& store, QObject* parent = nullptr);

    // Starts the list again from its newest record under `filter` (its limit and
    // place are the model's own) and fetches the first page.
    void SetFilter(const RecordStore::Filter& filter);
    // The header shown in `row`.
    const RecordHeader& Header(int row) const { return m_headers.at(static_cast<std::size_t>(row)); }
    // The headers under the filter that the table has not fetched yet, all of them,
    // newest first, read from the store without adding them to the table; empty
    // with `error` set when the store fails.
    std::vector<RecordHeader> Unfetched(QString& error) const;
    // The store's reason when the last fetch failed, else empty.
    QString LastError() const { return m_error; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A fetch failed with the store's reason.
    void FetchFailed(const QString& error);

private:
    std::vector<RecordHeader> FetchPage();

    RecordStore& m_store;
    RecordStore::Filter m_filter;
    std::vector<RecordHeader> m_headers;
    bool m_atEnd = true;  // the last fetch returned less than a page
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
