#pragma once
// SerialIo over QSerialPort. Waiting is a nested event loop woken by the
// port's readyRead or by a precise single-shot timer, so a silent printer costs
// no CPU and the station's windows keep running during the wait. A thread that
// shows no window (a socket's run in the socket window) waits blocked in the
// port's own wait instead: a byte received costs it a poll and a read, not a
// turn of the event loop with a timer started and stopped.
//
// A port is opened by its real device (links followed), and every Tamrisk
// program takes an exclusive advisory lock (flock) on the device beside
// QSerialPort's own lock file, so two programs never drive one device, whatever
// name reached it and even as root.

#include "serialio.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <string>

namespace tamrisk {

class QtSerialIo : public SerialIo {
public:
    // How waitForBytes waits: in a nested event loop (the thread's events
    // processed meanwhile), or blocked in the port's own wait (none processed).
    enum class Waiting { EventLoop, Blocked };

    explicit QtSerialIo(Waiting waiting = Waiting::EventLoop);
    ~QtSerialIo() override;

    // Opens the device `path` resolves to. A device another program (or another
    // open here) holds fails with "<device> is in use by process <pid>" (or "by
    // another program" when no lock names the holder) as errorText().
    bool open(const std::string& path, int baud) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesWaiting() override;
    bool readByte(std::uint8_t& byte) override;
    std::size_t writeAll(std::string_view bytes) override;
    void waitForBytes(std::chrono::microseconds timeout) override;
    // Blocked: sleeps while the rest of a frame crosses the line at its speed,
    // then waits for its last bytes. In the event loop: as waitForBytes.
    void waitForRest(std::chrono::microseconds timeout, std::size_t bytes) override;
    // Sleeps in Blocked mode while nothing has come; at once otherwise.
    void sleepFor(std::chrono::microseconds time) override;
    std::string errorText() const override { return m_errorText; }
    bool accessDenied() const override { return m_accessDenied; }

private:
    void OnError(QSerialPort::SerialPortError error);
    // The far end hung up (poll reports it), so read errors mean the line is gone.
    bool LineHungUp();
    // What happened to the device that went away, with its name; never a
    // transient system error.
    std::string LossReason(bool hungUp) const;
    // A blocked wait's thread writes to the device itself: Qt's write buffer
    // would cost it a poll to hand the bytes over, and a drain a wait until the
    // far end took them, each a switch of threads per request; the wait for
    // the answer covers the request's time on the line. Returns the count
    // written within the write time-out; the rest is dropped.
    std::size_t WriteDirect(std::string_view bytes);

    QSerialPort m_port;
    const Waiting m_waiting;
    std::string m_device;  // the real device of the open port
    int m_baud = 9600;
    bool m_lostReported = false;
    bool m_accessDenied = false;
    std::string m_errorText;
    QEventLoop m_waitLoop;
    QTimer m_gapTimer;
};

}  // namespace tamrisk
