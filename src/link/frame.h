#pragma once
// The printer's framed request/answer protocol as pure functions: building
// frames, collecting answer bytes and testing a collected answer. No I/O here;
// the printer simulator shares this file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

constexpr std::uint8_t FrameStart = 0x01;
constexpr std::uint8_t FrameEnd = 0x03;
constexpr std::uint8_t StatusSeparator = 0x04;
constexpr std::uint8_t DataEnd = 0x05;
constexpr std::uint8_t Syn = 0x16;

constexpr std::uint8_t FirstSequence = 0x20;
constexpr std::uint8_t LastSequence = 0x7E;

constexpr std::size_t MaxRequestData = 219;  // LEN = n + 0x24 fits one byte
constexpr std::size_t MaxAnswerData = 212;   // LEN = m + 0x2B fits one byte
constexpr std::size_t ReceiveLimit = 256;    // bytes one reception stores at most

using StatusBytesArray = std::array<std::uint8_t, 6>;
// Large enough for every index the answer test reads (at most 16 + 212).
using ReceiveBufferArray = std::array<std::uint8_t, ReceiveLimit>;

// The sequence byte that follows `sequence`: 0x20..0x7E, wrapping to 0x20.
std::uint8_t NextSequence(std::uint8_t sequence);

// Appends the 16-bit `sum` as four digit bytes 0x30 + nibble, most significant first.
void AppendChecksum(std::string& out, std::uint16_t sum);
// Reads four digit bytes back: value = value * 16 + ((byte - 0x30) mod 256).
// Works on unsigned arithmetic so any byte values give a defined result.
std::uint32_t ReadChecksum(const std::uint8_t* digits);

// Request frame: 01 LEN SEQ CMD data 05 checksum(4) 03, LEN = n + 0x24.
// The command goes out as its low byte. The caller refuses data longer than
// MaxRequestData; beyond it LEN wraps modulo 256 as the wire format dictates.
std::string EncodeRequestFrame(std::uint8_t sequence, int command, std::string_view data);

// Answer frame: 01 LEN SEQ CMD data 04 status(6) 05 checksum(4) 03, LEN = m + 0x2B.
// Data longer than MaxAnswerData is cut to it.
std::string EncodeAnswerFrame(std::uint8_t sequence, std::uint8_t command, std::string_view data,
                              const StatusBytesArray& status);

// A request frame taken apart (the simulator's side of the wire).
struct RequestFrame {
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    std::string data;
};
// Decodes one complete request frame (from its 0x01 through its 0x03).
// Empty when the length, markers or checksum do not agree.
std::optional<RequestFrame> DecodeRequestFrame(std::string_view frame);

// Collects answer bytes as the station's receiver does: a SYN restarts the frame
// at position 0 and is counted, an 0x01 restarts it too, an 0x03 ends it (stored
// as 0), and at most ReceiveLimit bytes are stored.
class AnswerReceiver {
public:
    enum class Step { More, Ended, Full };

    // Zeroes the buffer, the position and the SYN count.
    void Reset();
    // Takes one byte. Ended: an 0x03 closed the frame; Full: ReceiveLimit bytes
    // without an 0x03; More: keep collecting.
    Step Push(std::uint8_t byte);

    const ReceiveBufferArray& Buffer() const { return m_buffer; }
    std::size_t Position() const { return m_position; }
    // Bytes of the answer frame still to come through its 0x03, as its LEN
    // byte gives them; 0 before the LEN byte or when what is collected does
    // not start as an answer frame.
    std::size_t BytesToCome() const;
    int SynCount() const { return m_synCount; }

private:
    ReceiveBufferArray m_buffer{};
    std::size_t m_position = 0;
    int m_synCount = 0;
};

// Outcome of the nine answer tests, run in order on a collected buffer.
struct AnswerCheck {
    bool passed = false;      // all nine tests passed
    int failedTest = 0;       // 1..9, the first test that failed; 0 when passed
    bool dataCopied = false;  // tests 1-4 passed: `data` holds the answer's data field
    bool statusCopied = false;  // tests 1-5 passed: `status` holds the status bytes
    std::string data;         // up to the first zero byte, as zero-terminated text reads it
    StatusBytesArray status{};
};
AnswerCheck TestAnswerFrame(const ReceiveBufferArray& r, std::uint8_t sequence, int command);

}  // namespace tamrisk
