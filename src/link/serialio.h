#pragma once
// Byte-level access to one serial line. QSerialPort sits behind it in the
// station and the CLI; tests plug in a scripted line or the printer model.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tamrisk {

// How long a write of `bytes` may take at `baud` bit/s: the bytes' wire time
// (10 bits a byte) plus 1000 ms, so a long frame at a low speed is not cut off.
constexpr std::chrono::milliseconds WriteTimeout(std::size_t bytes, int baud) {
    const long long bps = baud > 0 ? baud : 9600;
    return std::chrono::milliseconds(1000 + (static_cast<long long>(bytes) * 10 * 1000 + bps - 1) / bps);
}

// The time `bytes` take to cross the line at `baud` bit/s (10 bits a byte, a
// byte's time in whole microseconds).
constexpr std::chrono::microseconds LineTime(std::size_t bytes, int baud) {
    return std::chrono::microseconds(10'000'000 / (baud > 0 ? baud : 9600) * static_cast<std::int64_t>(bytes));
}

class SerialIo {
public:
    virtual ~SerialIo() = default;

    // Opens `path` exclusively at `baud` bit/s, 8 data bits, no parity, 1 stop
    // bit, DTR off (a line that refuses DTR control still opens). False when the
    // device is absent, in use or not accessible.
    virtual bool open(const std::string& path, int baud) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Bytes received and not yet read; 0 when the query fails.
    virtual std::size_t bytesWaiting() = 0;
    // Reads one waiting byte; false when none could be read.
    virtual bool readByte(std::uint8_t& byte) = 0;
    // Writes `bytes` and returns once they have been handed to the line (or the
    // write time-out passed: the bytes' wire time at the line speed plus 1000 ms).
    // Returns the count written; when it is short, the rest has been dropped.
    virtual std::size_t writeAll(std::string_view bytes) = 0;
    // Waits until bytes are waiting or `timeout` has passed, without spinning.
    // The station's events may be processed meanwhile.
    virtual void waitForBytes(std::chrono::microseconds timeout) = 0;
    // Waits as waitForBytes does when `bytes` more are known to be on their
    // way (the rest of a frame whose length has come): a line that can let
    // them gather waits until the last of them may have come rather than
    // wake for each. Never waits past the moment the last one could be in.
    virtual void waitForRest(std::chrono::microseconds timeout, std::size_t bytes) {
        static_cast<void>(bytes);
        waitForBytes(timeout);
    }
    // Lets an answer expected whole within `time` gather: a line that can let
    // bytes gather sleeps that long, then takes the answer with one wake-up
    // rather than one for its first bytes and another for their rest. Other
    // lines return at once (their waits are woken by what comes).
    virtual void sleepFor(std::chrono::microseconds time) { static_cast<void>(time); }
    // The system's reason for the last failed open or for a lost device.
    virtual std::string errorText() const { return {}; }
    // Whether the last failed open was refused for lack of permission on the
    // device (not because another program holds it).
    virtual bool accessDenied() const { return false; }

    // Called once when the open device goes away (unplugged, its far end
    // ended); the line is closed by then. `reason` is the system's text.
    void setLostHandler(std::function<void(const std::string& reason)> handler) { m_lost = std::move(handler); }

protected:
    void reportLost(const std::string& reason) {
        if (m_lost)
            m_lost(reason);
    }

private:
    std::function<void(const std::string&)> m_lost;
};

}  // namespace tamrisk
