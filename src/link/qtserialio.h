#pragma once
// SerialIo over QSerialPort. Waiting is a nested event loop woken by the
// port's readyRead or by a precise single-shot timer, so a silent printer costs
// no CPU and the station's windows keep running during the wait.

#include "serialio.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <string>

namespace tamrisk {

class QtSerialIo : public SerialIo {
public:
    QtSerialIo();
    ~QtSerialIo() override;

    bool open(const std::string& path, int baud) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesWaiting() override;
    bool readByte(std::uint8_t& byte) override;
    std::size_t writeAll(std::string_view bytes) override;
    void waitForBytes(std::chrono::microseconds timeout) override;
    std::string errorText() const override { return m_errorText; }

private:
    void OnError(QSerialPort::SerialPortError error);
    // The far end hung up (poll reports it), so read errors mean the line is gone.
    bool LineHungUp();

    QSerialPort m_port;
    int m_baud = 9600;
    bool m_lostReported = false;
    std::string m_errorText;
    QEventLoop m_waitLoop;
    QTimer m_gapTimer;
};

}  // namespace tamrisk
