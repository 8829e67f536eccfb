#include "frame.h"

#include <cstring>

namespace tamrisk {

std::uint8_t NextSequence(std::uint8_t sequence) {
    const std::uint8_t next = static_cast<std::uint8_t>(sequence + 1);
    return (next > LastSequence || next < FirstSequence) ? FirstSequence : next;
}

void AppendChecksum(std::string& out, std::uint16_t sum) {
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(static_cast<char>(((sum >> shift) & 0x0F) | 0x30));
}

std::uint32_t ReadChecksum(const std::uint8_t* digits) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value * 16 + static_cast<std::uint8_t>(digits[i] - 0x30);
    return value;
}

namespace {

std::uint16_t SumBytes(std::string_view bytes) {
    std::uint32_t sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return static_cast<std::uint16_t>(sum);
}

}  // namespace

std::string EncodeRequestFrame(std::uint8_t sequence, int command, std::string_view data) {
    std::string frame;
    frame.reserve(data.size() + 10);
    frame.push_back(static_cast<char>(FrameStart));
    frame.push_back(static_cast<char>((data.size() + 0x24) & 0xFF));
    frame.push_back(static_cast<char>(sequence));
    frame.push_back(static_cast<char>(command & 0xFF));
    frame.append(data);
    frame.push_back(static_cast<char>(DataEnd));
    AppendChecksum(frame, SumBytes(std::string_view(frame).substr(1)));
    frame.push_back(static_cast<char>(FrameEnd));
    return frame;
}

std::string EncodeAnswerFrame(std::uint8_t sequence, std::uint8_t command, std::string_view data,
                              const StatusBytesArray& status) {
    if (data.size() > MaxAnswerData)
        data = data.substr(0, MaxAnswerData);
    std::string frame;
    frame.reserve(data.size() + 17);
    frame.push_back(static_cast<char>(FrameStart));
    frame.push_back(static_cast<char>(data.size() + 0x2B));
    frame.push_back(static_cast<char>(sequence));
    frame.push_back(static_cast<char>(command));
    frame.append(data);
    frame.push_back(static_cast<char>(StatusSeparator));
    for (std::uint8_t s : status)
        frame.push_back(static_cast<char>(s));
    frame.push_back(static_cast<char>(DataEnd));
    AppendChecksum(frame, SumBytes(std::string_view(frame).substr(1)));
    frame.push_back(static_cast<char>(FrameEnd));
    return frame;
}

std::optional<RequestFrame> DecodeRequestFrame(std::string_view frame) {
    if (frame.size() < 10 || static_cast<std::uint8_t>(frame.front()) != FrameStart ||
        static_cast<std::uint8_t>(frame.back()) != FrameEnd)
        return std::nullopt;
    const std::size_t n = frame.size() - 10;
    if (static_cast<std::uint8_t>(frame[1]) != ((n + 0x24) & 0xFF) ||
        static_cast<std::uint8_t>(frame[4 + n]) != DataEnd)
        return std::nullopt;
    const auto* digits = reinterpret_cast<const std::uint8_t*>(frame.data()) + 5 + n;
    if (ReadChecksum(digits) != SumBytes(frame.substr(1, 4 + n)))
        return std::nullopt;
    return RequestFrame{static_cast<std::uint8_t>(frame[2]), static_cast<std::uint8_t>(frame[3]),
                        std::string(frame.substr(4, n))};
}

void AnswerReceiver::Reset() {
    m_buffer.fill(0);
    m_position = 0;
    m_synCount = 0;
}

std::size_t AnswerReceiver::BytesToCome() const {
    if (m_position < 2 || m_buffer[0] != FrameStart || m_buffer[1] < 0x2B)
        return 0;
    // 01 LEN SEQ CMD data(m) 04 status(6) 05 checksum(4) 03: m + 17 bytes.
    const std::size_t whole = (m_buffer[1] - 0x2Bu) + 17;
    return whole > m_position ? whole - m_position : 0;
}

AnswerReceiver::Step AnswerReceiver::Push(std::uint8_t byte) {
    if (byte == Syn) {
        m_position = 0;
        ++m_synCount;
    }
    if (byte == FrameStart)
        m_position = 0;
    if (byte == FrameEnd) {
        m_buffer[m_position] = 0;
        return Step::Ended;
    }
    m_buffer[m_position] = byte;
    ++m_position;
    return m_position >= ReceiveLimit ? Step::Full : Step::More;
}

AnswerCheck TestAnswerFrame(const ReceiveBufferArray& r, std::uint8_t sequence, int command) {
    AnswerCheck check;
    auto fail = [&check](int test) {
        check.failedTest = test;
        return check;
    };
    if (r[0] != FrameStart)
        return fail(1);
    if (r[1] < 0x2B)
        return fail(2);
    const std::size_t m = r[1] - 0x2Bu;  // at most 212, so every index below stays < 229
    if (r[2] != sequence)
        return fail(3);
    if (static_cast<int>(r[3]) != command)
        return fail(4);
    const auto* data = reinterpret_cast<const char*>(r.data() + 4);
    check.data.assign(data, strnlen(data, m));
    check.dataCopied = true;
    if (r[4 + m] != StatusSeparator)
        return fail(5);
    std::memcpy(check.status.data(), r.data() + 5 + m, check.status.size());
    check.statusCopied = true;
    if (r[11 + m] != DataEnd)
        return fail(7);
    std::uint32_t sum = 0;
    for (std::size_t i = 1; i <= 11 + m; ++i)
        sum += r[i];
    if (sum != ReadChecksum(r.data() + 12 + m))
        return fail(8);
    if (r[16 + m] != 0)
        return fail(9);
    check.passed = true;
    return check;
}

}  // namespace tamrisk
