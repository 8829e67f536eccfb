#include "recordsmodel.h"

#include "duration.h"
#include "reportfields.h"

#include <QDateTime>
#include <QPointer>

namespace tamrisk {

QColor OutcomeColour(RecordOutcome outcome) {
    switch (outcome) {
    case RecordOutcome::Pass: {
        const Rgb green = ColourRgb(ResultColour::Green);
        return QColor(green.red, green.green, green.blue);
    }
    case RecordOutcome::Fail: {
        const Rgb red = ColourRgb(ResultColour::Red);
        return QColor(red.red, red.green, red.blue);
    }
    case RecordOutcome::Aborted:
    case RecordOutcome::Error:
        break;
    }
    return QColor(0x8B, 0x00, 0x00);
}

QString LocalStartText(qint64 startedMs) {
    return QDateTime::fromMSecsSinceEpoch(startedMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DurationText(qint64 durationMs) {
    return QString::fromStdString(FormatSeconds(std::chrono::milliseconds(durationMs), 3)) + QStringLiteral(" s");
}

RecordsModel::RecordsModel(RecordsReader& reader, QObject* parent) : QAbstractTableModel(parent), m_reader(reader) {}

void RecordsModel::SetFilter(const RecordStore::Filter& filter) {
    beginResetModel();
    ++m_generation;
    m_filter = filter;
    m_filter.limit = PageRows;
    m_filter.after.reset();
    m_headers.clear();
    m_atEnd = false;
    m_error.clear();
    endResetModel();
    ReadPage();
}

void RecordsModel::ReadPage() {
    m_reading = true;
    emit ReadStarted();
    m_reader.Post(m_location, [self = QPointer(this), generation = m_generation, filter = m_filter](
                                  RecordStore& store, StoreError& failure) -> RecordsReader::Reply {
        StoreResult<std::vector<RecordHeader>> read = store.Queries().List(filter);
        failure = read.error();
        std::vector<RecordHeader> page = read ? std::move(*read) : std::vector<RecordHeader>();
        return [self, generation, page = std::move(page), error = failure.Text()]() mutable {
            if (self)
                self->PageArrived(generation, std::move(page), error);
        };
    });
}

void RecordsModel::PageArrived(quint64 generation, std::vector<RecordHeader> page, const QString& error) {
    if (generation != m_generation)
        return;
    m_reading = false;
    m_error = error;
    if (!error.isEmpty()) {
        m_atEnd = true;
        emit FetchFailed(error);
        return;
    }
    m_atEnd = page.size() < static_cast<std::size_t>(PageRows);
    if (!page.empty()) {
        m_filter.after = RecordStore::ListPlace{page.back().startedMs, page.back().id};
        const int first = static_cast<int>(m_headers.size());
        beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
        m_headers.insert(m_headers.end(), std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
        endInsertRows();
    }
    emit PageRead();
}

std::optional<RecordStore::Filter> RecordsModel::Unfetched() const {
    if (m_atEnd)
        return std::nullopt;
    RecordStore::Filter rest = m_filter;
    rest.limit = 0;
    return rest;
}

int RecordsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

int RecordsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

bool RecordsModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_atEnd && !m_reading;
}

void RecordsModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent))
        ReadPage();
}

QVariant RecordsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RecordHeader& header = Header(index.row());
    if (role == Qt::ForegroundRole && index.column() == OutcomeCol && header.outcome)
        return OutcomeColour(*header.outcome);
    if (role == Qt::ToolTipRole && index.column() == KindCol && header.engineering)
        return QStringLiteral("An engineering run: counted in no yield");
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case StartedCol:
        return LocalStartText(header.startedMs);
    case KindCol:
        return FromUtf8(KindShown(header.kind, header.engineering));
    case UnitCol:
        return FromUtf8(header.unit);
    case ScriptCol:
        return FromUtf8(header.script);
    case OutcomeCol:
        // A record still being written, or one whose program is still running.
        return header.outcome ? FromUtf8(std::string(OutcomeText(*header.outcome))) : QStringLiteral("-");
    case DurationCol:
        return header.outcome ? DurationText(header.durationMs) : QString();
    case StationCol:
        return FromUtf8(header.station);
    default:
        return {};
    }
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[ColumnCount] = {"Started", "Kind", "Unit", "Script", "Outcome", "Duration",
                                                    "Station"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

}  // namespace tamrisk
