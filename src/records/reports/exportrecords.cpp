#include "exportrecords.h"

#include "reports.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tamrisk {

StoreResult<std::optional<QByteArray>> ExportRecords(RecordQueries& queries, std::span<const RecordHeader> headers,
                                                     RecordFormat format, const ExportProgress& progress) {
    if (format == RecordFormat::Csv)
        return std::optional(HeadersCsv(headers));
    std::vector<Record> records;
    records.reserve(headers.size());
    std::vector<std::string> ids;
    for (std::size_t from = 0; from < headers.size(); from += RecordQueries::LoadBatch) {
        const std::size_t count = std::min(RecordQueries::LoadBatch, headers.size() - from);
        ids.clear();
        for (const RecordHeader& header : headers.subspan(from, count))
            ids.push_back(header.id);
        StoreResult<std::vector<Record>> batch = queries.LoadMany(ids);
        if (!batch)
            return batch.error();
        std::move(batch->begin(), batch->end(), std::back_inserter(records));
        if (progress && !progress(from + count, headers.size()))
            return std::optional<QByteArray>();
    }
    return std::optional(format == RecordFormat::JUnit ? RecordsJUnit(records) : RecordsJson(records));
}

}  // namespace tamrisk
