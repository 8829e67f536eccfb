#pragma once
// What the simulated printer's electronic journal holds: documents of Windows-1251
// text lines grouped under Z-reports, and the record of every Z-report the
// printer has made with the SHA-1 digest it recorded for that day's journal.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simtypes.h"

namespace tamrisk::sim {

struct JournalDocument {
    std::uint32_t number = 0;        // document number, counted from 1 over the printer's life
    std::vector<std::string> lines;  // Windows-1251 text without line ends; never empty
};

struct ZReportRecord {
    std::uint32_t number = 0;          // Z-report number, from 1
    std::uint32_t documentNumber = 0;  // the Z-report's own document (the last of its day)
    std::uint32_t firstDocument = 0;   // the first document of its day
    SimDateTime madeAt;
    std::string recordedSha1;  // 40 upper-case hex digits, of the day's journal text when the report was made
};

struct JournalBook {
    std::vector<ZReportRecord> zReports;     // every Z-report made, numbers 1..n in order
    std::vector<JournalDocument> documents;  // the documents the journal still holds, in order
};

// The shape of a generated journal. The default gives Z-reports 1 and 2 made before
// this journal was installed (recorded, without journal data), Z-reports 3 to 8 with
// their days in the journal, Z-report 5 with one line altered after its digest was
// recorded, and two documents after the last Z-report.
struct JournalLayout {
    std::uint64_t seed = 0x5A4D4B;
    int zReportsBeforeJournal = 2;
    int zReportsInJournal = 6;
    int tamperedZReport = 5;  // 0: none
    int openDocuments = 2;
};

// Builds the journal deterministically from `layout`. Cyrillic text goes through
// Qt's Windows-1251 encoder; every line fits a journal answer (at most 210 bytes)
// and holds no control byte.
JournalBook BuildJournalBook(const JournalLayout& layout);

// The journal text of `lines`: every line followed by CR LF.
std::string JournalText(const std::vector<std::string>& lines);

// SHA-1 of `bytes` as 40 upper-case hexadecimal digits.
std::string Sha1Hex(std::string_view bytes);

}  // namespace tamrisk::sim
