#pragma once
// The file of an export of records, as both front ends write it: the records of
// a list of headers in one format, whole records read in batches.

#include "outputformats.h"
#include "recordqueries.h"

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

namespace tamrisk {

// Told after each batch read: how many records of how many are read; false stops the export.
using ExportProgress = std::function<bool(std::size_t read, std::size_t all)>;

// The bytes of the file that exports the records of `headers`, in their order,
// in `format` (JUnit XML, JSON or CSV; CSV needs the headers alone). Whole
// records are read RecordQueries::LoadBatch at a time through `queries`, and
// `progress` (when given) is told after each batch; none when it stopped the
// export. A record no longer there is left out.
StoreResult<std::optional<QByteArray>> ExportRecords(RecordQueries& queries, std::span<const RecordHeader> headers,
                                                     RecordFormat format, const ExportProgress& progress = {});

}  // namespace tamrisk
