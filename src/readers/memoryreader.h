#pragma once
// The code and fiscal memory reads: two readiness probes, then one 64-byte
// block per transaction from address 0 into the shared memory image, a hex
// dump of four lines a block, and after a failed or short block one tail read
// of 48 bytes. The windows and tamrisk-cli run the same engine; what they
// show goes through an observer.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tamrisk {

class Host;
class Transactor;

// The bytes of the last read in address order from 0, and how many are stored.
struct MemoryImage {
    static constexpr std::int32_t Capacity = 262144;  // 4096 blocks of 64

    std::array<char, Capacity> bytes{};
    std::int32_t length = 0;

    std::string_view View() const { return {bytes.data(), static_cast<std::size_t>(length)}; }
    // Appends as much of `data` as fits.
    void Append(std::string_view data);
};

// Shared by both memory windows for the whole run (they are modal, so one at a time).
struct MemoryReaderState {
    MemoryImage Image;
    bool ReadCancelled = false;  // set by Cancel; tested before each block
};

// What differs between the two memories.
struct MemoryReadConfig {
    int command;                                // 121 or 116
    std::string (*blockData)(std::uint32_t);    // "%04X,64" or "%05X,64"
    int blockCount;                             // blocks to read, before the first block says otherwise
    bool sizeFromFirstBlock;                    // byte 8 of the image sets the block count
    bool clearCancelAfterProbes;                // Cancel only becomes possible once both probes passed
};

extern const MemoryReadConfig CodeMemoryRead;    // 3072 blocks, 196,608 bytes
extern const MemoryReadConfig FiscalMemoryRead;  // 1024, 2048 or 4096 blocks

// Block count of the fiscal memory from byte 8 of its image: "5" 1024, "6" 2048, else 4096.
int FiscalBlockCount(unsigned char byte8);

// Progress bar value 0..255 after block `i`: i / (blockCount / 256), 255 at the last block.
int ReadProgress(int i, int blockCount);

enum class MemoryReadEnd {
    Refused,        // a readiness probe failed; nothing read
    Complete,       // every block was read
    FailedBlock,    // a block's transaction failed (status dialog shown)
    ShortAnswer,    // a block answer held fewer than 128 characters
    InvalidAnswer,  // a block answer's first 128 characters held a pair that is not hexadecimal
    Cancelled,      // ReadCancelled was seen before a block
};

struct MemoryReadResult {
    MemoryReadEnd end = MemoryReadEnd::Refused;
    int blocksRead = 0;   // whole blocks stored
    int blockCount = 0;   // the final block count
    bool tailRead = false;     // the tail request was sent
    int tailBytes = 0;         // bytes the tail stored
};

// Receives what a read shows as it goes.
class MemoryReadObserver {
public:
    virtual ~MemoryReadObserver() = default;
    // Both probes passed and the blocks begin.
    virtual void ProbesPassed() {}
    // A block's transaction failed; returns when the operator has seen its status.
    virtual void BlockFailed() {}
    // One dump line (Windows-1251), in address order.
    virtual void HexLine(const std::string& line) = 0;
    virtual void Progress(int value) { (void)value; }
};

// One complete read into `state.Image` (emptied once the probes passed).
MemoryReadResult ReadMemory(Transactor& transactor, Host& host, const MemoryReadConfig& config,
                            MemoryReaderState& state, MemoryReadObserver& observer);

// A line for the operator on how a read ended, e.g. "196608 bytes read, every block".
std::string DescribeMemoryRead(const MemoryReadResult& result, std::int32_t bytes);

}  // namespace tamrisk
