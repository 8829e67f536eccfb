#pragma once
// Records as a line's stations make them, for the benchmarks that need many:
// records about a minute apart over days, from three stations and four
// operators, mostly script runs of 15 log lines that send three serial numbers
// each (every serial number sent once), some commands and memory reads, with
// passes, failures, aborts and errors.

#include "record.h"
#include "recordstore.h"

#include <QString>

#include <string>

namespace tamrisk::bench {

// Serial numbers each script run sends.
constexpr int SerialsPerRun = 3;

// Serial number `number` as the runs send it: "DT" and six digits.
std::string SerialData(int number);

// Record `i` of a file, begun at `startedMs`: its header (a new id each call), and
// what its operation showed and sent.
void MakeRecord(int i, qint64 startedMs, RecordHeader& header, RecordBatch& batch);

// Adds `count` finished records to the records file at `path` (made when missing),
// the newest now; each queued for the line's database `forwardTo` unless it is empty.
// False, with the reason on stderr, when one cannot be written.
bool FillRecords(const QString& path, int count, const QString& forwardTo = {});

}  // namespace tamrisk::bench
