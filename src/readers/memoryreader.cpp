#include "memoryreader.h"

#include "hexdump.h"
#include "host.h"
#include "printercommands.h"
#include "transaction.h"

#include <algorithm>

namespace tamrisk {

const MemoryReadConfig CodeMemoryRead{CmdReadCodeMemory, CodeBlockData, 3072, false, false};
const MemoryReadConfig FiscalMemoryRead{CmdReadFiscalMemory, FiscalBlockData, 2048, true, true};

void MemoryImage::Append(std::string_view data) {
    const auto room = static_cast<std::size_t>(Capacity - length);
    const std::size_t count = std::min(room, data.size());
    std::copy_n(data.data(), count, bytes.data() + length);
    length += static_cast<std::int32_t>(count);
}

int FiscalBlockCount(unsigned char byte8) {
    switch (byte8) {
    case '5': return 1024;
    case '6': return 2048;
    default: return 4096;
    }
}

int ReadProgress(int i, int blockCount) {
    if (i >= blockCount - 1)
        return 255;
    const int perStep = std::max(1, blockCount / 256);
    return std::min(255, i / perStep);
}

namespace {

// The failure test; a transaction refused because another one runs has failed too.
bool Failed(ExecResult result, const TransactionState& state) {
    return result == ExecResult::ExecBusy || (state.StatusFlags & FailureMask) != 0;
}

void EmitLines(MemoryReadObserver& observer, std::uint32_t address, std::string_view hex, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += HexLineBytes) {
        const std::string_view lineBytes = bytes.substr(at, HexLineBytes);
        observer.HexLine(FormatHexLine(address + static_cast<std::uint32_t>(at),
                                       hex.substr(2 * at, 2 * lineBytes.size()), lineBytes));
    }
}

// The tail's bytes: only what this transaction's own answer holds, up to the
// first pair that is not hexadecimal, at most 48.
std::string TailBytes(std::string_view answer) {
    std::string bytes;
    for (int k = 0; k < MemoryTailSize && static_cast<std::size_t>(2 * k + 1) < answer.size(); ++k) {
        const int high = HexDigitValue(answer[2 * k]);
        const int low = HexDigitValue(answer[2 * k + 1]);
        if (high < 0 || low < 0)
            break;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

}  // namespace

MemoryReadResult ReadMemory(Transactor& transactor, Host& host, const MemoryReadConfig& config,
                            MemoryReaderState& state, MemoryReadObserver& observer) {
    TransactionState& line = transactor.State();
    MemoryReadResult result;
    result.blockCount = config.blockCount;
    if (!config.clearCancelAfterProbes)
        state.ReadCancelled = false;
    for (int probe = 0; probe < 2; ++probe) {
        if (Failed(transactor.ExecCommand(CmdReadiness, {}), line))
            return result;  // Refused
    }
    if (config.clearCancelAfterProbes)
        state.ReadCancelled = false;
    observer.ProbesPassed();

    state.Image.length = 0;
    int i = 0;
    result.end = MemoryReadEnd::Complete;
    while (i < result.blockCount) {
        if (state.ReadCancelled) {
            result.end = MemoryReadEnd::Cancelled;
            break;
        }
        const auto address = static_cast<std::uint32_t>(i) * MemoryBlockSize;
        const ExecResult exec = transactor.ExecCommand(config.command, config.blockData(address));
        host.processEvents();
        if (Failed(exec, line)) {
            observer.BlockFailed();
            result.end = MemoryReadEnd::FailedBlock;
            break;
        }
        const std::string_view hex = std::string_view(line.AnswerData).substr(0, 2 * MemoryBlockSize);
        if (hex.size() < 2 * MemoryBlockSize) {
            result.end = MemoryReadEnd::ShortAnswer;
            break;
        }
        const auto bytes = DecodeHexBytes(hex, MemoryBlockSize);
        if (!bytes) {
            result.end = MemoryReadEnd::InvalidAnswer;
            break;
        }
        state.Image.Append(*bytes);
        if (i == 0 && config.sizeFromFirstBlock)
            result.blockCount = FiscalBlockCount(static_cast<unsigned char>((*bytes)[8]));
        EmitLines(observer, address, hex, *bytes);
        observer.Progress(ReadProgress(i, result.blockCount));
        ++i;
    }
    result.blocksRead = i;

    if (i < result.blockCount && result.end != MemoryReadEnd::Cancelled) {
        const auto address = static_cast<std::uint32_t>(i) * MemoryBlockSize;
        const ExecResult exec = transactor.ExecCommand(config.command, MemoryTailData(address));
        host.processEvents();
        result.tailRead = true;
        const bool fiscalRefusal = Failed(exec, line) && (line.StatusFlags & CommonFiscalErrorFlag) != 0;
        // Without an answer of its own, AnswerData still holds an earlier one.
        if (exec == ExecResult::ExecOk && !fiscalRefusal) {
            const std::string hex = line.AnswerData.substr(0, 2 * MemoryTailSize);
            const std::string bytes = TailBytes(hex);
            if (!bytes.empty()) {
                state.Image.Append(bytes);
                result.tailBytes = static_cast<int>(bytes.size());
                EmitLines(observer, address, hex, bytes);
                observer.Progress(ReadProgress(i, result.blockCount));
            }
        }
    }
    return result;
}

std::string DescribeMemoryRead(const MemoryReadResult& result, std::int32_t bytes) {
    std::string text = std::to_string(bytes) + (bytes == 1 ? " byte read, " : " bytes read, ");
    const std::string block = "block " + std::to_string(result.blocksRead) + " of " +
                              std::to_string(result.blockCount);
    switch (result.end) {
    case MemoryReadEnd::Refused: return "Nothing read: the printer refused the readiness probe";
    case MemoryReadEnd::Complete: return text + "every block";
    case MemoryReadEnd::FailedBlock: text += "the read of " + block + " failed"; break;
    case MemoryReadEnd::ShortAnswer: text += "the answer to " + block + " was short"; break;
    case MemoryReadEnd::InvalidAnswer: text += "the answer to " + block + " was not hexadecimal"; break;
    case MemoryReadEnd::Cancelled: return text + "cancelled";
    }
    if (result.tailRead)
        text += result.tailBytes > 0 ? ", the tail brought " + std::to_string(result.tailBytes) + " bytes"
                                     : ", the tail brought nothing";
    return text;
}

}  // namespace tamrisk
