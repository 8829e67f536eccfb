#include "journalbinary.h"

#include "hexdigits.h"
#include "host.h"
#include "printercommands.h"
#include "savefile.h"
#include "transaction.h"

#include <QFileInfo>

#include <cstdio>

namespace tamrisk {

std::optional<std::uint64_t> ParseStartAddress(std::string_view text) {
    if (text.size() > 9)
        return std::nullopt;
    std::uint64_t address = 0;
    for (const char c : text) {
        // The address box takes upper-case digits only.
        const int digit = HexDigitValue(c);
        if (digit < 0 || (c >= 'a' && c <= 'f'))
            return std::nullopt;
        address = address * 16 + static_cast<std::uint64_t>(digit);
    }
    return address;
}

std::string JournalProgressText(std::uint64_t nextAddress, std::int64_t bytesRead) {
    char text[64];
    std::snprintf(text, sizeof text, "Address: %09llX   Read: %lld ", static_cast<unsigned long long>(nextAddress),
                  static_cast<long long>(bytesRead));
    return text;
}

std::optional<std::string> DecodeJournalBlock(std::string_view answer) {
    constexpr std::size_t Digits = 2 * MemoryBlockSize;
    if (answer.size() < 2 + Digits)
        return std::nullopt;
    const auto half = [](char c) {
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : static_cast<unsigned char>(c) & 0x0F;
    };
    std::string bytes(MemoryBlockSize, '\0');
    for (int k = 0; k < MemoryBlockSize; ++k)
        bytes[k] = static_cast<char>(half(answer[2 + 2 * k]) * 16 + half(answer[3 + 2 * k]));
    return bytes;
}

JournalCopyResult CopyJournalToFile(Transactor& transactor, Host& host, const QString& path,
                                    const JournalCopyOptions& options) {
    JournalCopyResult result;
    result.nextAddress = options.start;
    const bool existed = QFileInfo::exists(path);
    SaveFileWriter file(path);
    if (!file.Open()) {
        result.fileError = file.Error();
        return result;
    }
    TransactionState& line = transactor.State();
    result.end = JournalCopyEnd::Stopped;
    while (options.stopRequested == nullptr || !*options.stopRequested) {
        const ExecResult exec = transactor.ExecCommand(CmdJournal, JournalRawBlockData(result.nextAddress));
        // A failed transaction leaves an earlier answer in AnswerData: never taken as data.
        if (exec != ExecResult::ExecOk) {
            result.end = JournalCopyEnd::Failed;
            break;
        }
        if (line.AnswerData.empty() || line.AnswerData[0] != 'P') {
            result.end = JournalCopyEnd::EndOfData;
            break;
        }
        const auto block = DecodeJournalBlock(line.AnswerData);
        if (!block) {
            result.end = JournalCopyEnd::ShortAnswer;
            break;
        }
        if (!file.Write(*block)) {
            result.end = JournalCopyEnd::WriteFailed;
            result.fileError = file.Error();
            return result;
        }
        result.nextAddress += MemoryBlockSize;
        result.bytesRead += MemoryBlockSize;
        if (options.progress)
            options.progress(JournalProgressText(result.nextAddress, result.bytesRead));
        host.processEvents();
    }
    if (result.bytesRead == 0 && existed && options.keepExistingWhenEmpty) {
        file.Discard();
        return result;
    }
    if (!file.Commit()) {
        result.end = JournalCopyEnd::WriteFailed;
        result.fileError = file.Error();
    }
    return result;
}

std::string DescribeJournalCopy(const JournalCopyResult& result) {
    const std::string read = std::to_string(result.bytesRead) + " bytes read, next address " +
                             Hex(result.nextAddress, 9) + ", ";
    switch (result.end) {
    case JournalCopyEnd::OpenFailed: return "Can't open output file: " + result.fileError.toStdString();
    case JournalCopyEnd::EndOfData: return read + "the journal has no more data";
    case JournalCopyEnd::Failed: return read + "a transaction failed";
    case JournalCopyEnd::ShortAnswer: return read + "a data answer was short and was not written";
    case JournalCopyEnd::Stopped: return read + "stopped";
    case JournalCopyEnd::WriteFailed: return read + "Can't write output file: " + result.fileError.toStdString();
    }
    return read;
}

}  // namespace tamrisk
