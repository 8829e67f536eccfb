#pragma once
// The raw copy of the electronic journal: 64 bytes per transaction from a
// start address, each block straight into the output file, until the printer
// answers without data, a transaction fails or a stop is requested.

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

class Host;
class Transactor;

// The start address typed by the operator: at most 9 characters of "0"-"9" and
// "A"-"F" (upper case only); empty is 0. Empty optional when invalid.
std::optional<std::uint64_t> ParseStartAddress(std::string_view text);

// "Address: %09LX   Read: %ld ": the next block's address and the bytes read.
std::string JournalProgressText(std::uint64_t nextAddress, std::int64_t bytesRead);

// The 64 bytes of a data answer ("P" and one character, then 128 digits):
// "A"-"F" count 10 to 15, any other character its code's low four bits.
// Empty optional when the answer carries fewer than 128 digits.
std::optional<std::string> DecodeJournalBlock(std::string_view answer);

enum class JournalCopyEnd {
    OpenFailed,   // the output file could not be made; nothing was sent
    EndOfData,    // the printer answered without data
    Failed,       // a transaction failed
    ShortAnswer,  // a data answer carried fewer than 128 digits (not written)
    Stopped,      // a stop was requested
    WriteFailed,  // the file could not be written; an existing file is unchanged
};

struct JournalCopyResult {
    JournalCopyEnd end = JournalCopyEnd::OpenFailed;
    std::uint64_t nextAddress = 0;
    std::int64_t bytesRead = 0;
    QString fileError;  // "<path>: <reason>" for OpenFailed and WriteFailed
};

struct JournalCopyOptions {
    std::uint64_t start = 0;
    // An existing file stays as it was when no block came (the window's way);
    // otherwise the file always holds exactly the blocks read.
    bool keepExistingWhenEmpty = true;
    // Tested before each block.
    const bool* stopRequested = nullptr;
    // Called with the progress text after each block.
    std::function<void(const std::string&)> progress;
};

// Copies the journal into `path`. The file holds exactly the blocks read, in
// order, and replaces the old one only when complete.
JournalCopyResult CopyJournalToFile(Transactor& transactor, Host& host, const QString& path,
                                    const JournalCopyOptions& options);

// A line for the operator on how the copy ended.
std::string DescribeJournalCopy(const JournalCopyResult& result);

}  // namespace tamrisk
