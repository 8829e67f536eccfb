#include "qtserialio.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#endif

namespace tamrisk {

QtSerialIo::QtSerialIo() {
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_gapTimer, &QTimer::timeout, &m_waitLoop, &QEventLoop::quit);
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_waitLoop, &QEventLoop::quit);
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_waitLoop,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

void QtSerialIo::OnError(QSerialPort::SerialPortError error) {
    // The device went away (an adapter pulled out, the far end of a pty ended):
    // a wait must not hang until its time-out, and the port is closed so it can
    // be opened again once the device is back.
    if (!m_port.isOpen() || m_lostReported)
        return;
    std::string reason;
    if (error == QSerialPort::ResourceError) {
        reason = m_port.errorString().toStdString();
    } else if (error == QSerialPort::ReadError && LineHungUp()) {
        // A line whose far end hung up reports read errors on every turn of
        // the event loop, which would spin until the time-out.
        reason = "The device hung up";
    } else {
        return;
    }
    m_lostReported = true;
    m_errorText = reason;
    m_waitLoop.quit();
    close();
    reportLost(m_errorText);
}

bool QtSerialIo::LineHungUp() {
#ifdef Q_OS_UNIX
    pollfd fd{static_cast<int>(m_port.handle()), POLLIN, 0};
    return ::poll(&fd, 1, 0) == 1 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

QtSerialIo::~QtSerialIo() { close(); }

bool QtSerialIo::open(const std::string& path, int baud) {
    close();
    m_port.setPortName(QString::fromStdString(path));
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_errorText = m_port.errorString().toStdString();
        m_port.clearError();
        return false;
    }
    m_errorText.clear();
    m_lostReported = false;
    m_baud = baud > 0 ? baud : 9600;
    m_port.setBaudRate(baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // A pseudo-terminal refuses modem-line control; the line works without it.
    m_port.setDataTerminalReady(false);
    // Whatever a printer sent before this connect belongs to no transaction of ours.
    m_port.clear(QSerialPort::AllDirections);
    m_port.clearError();
    return true;
}

void QtSerialIo::close() {
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool QtSerialIo::isOpen() const { return m_port.isOpen(); }

std::size_t QtSerialIo::bytesWaiting() {
    const qint64 n = m_port.bytesAvailable();
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool QtSerialIo::readByte(std::uint8_t& byte) {
    char c = 0;
    if (!m_port.getChar(&c))
        return false;
    byte = static_cast<std::uint8_t>(c);
    return true;
}

std::size_t QtSerialIo::writeAll(std::string_view bytes) {
    if (!m_port.isOpen())
        return 0;
    const qint64 queued = m_port.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (queued < 0)
        return 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = WriteTimeout(bytes.size(), m_baud).count();
    while (m_port.bytesToWrite() > 0) {
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0 || !m_port.waitForBytesWritten(static_cast<int>(left)))
            break;
    }
    const qint64 unsent = m_port.bytesToWrite();
    if (queued < static_cast<qint64>(bytes.size()) || unsent > 0) {
        // The rest must not go out later and complete a frame that its sender
        // has given up on.
        m_port.clear(QSerialPort::Output);
        return static_cast<std::size_t>(queued - unsent);
    }
#ifdef Q_OS_UNIX
    // Return only once the line has transmitted what the driver holds.
    ::tcdrain(static_cast<int>(m_port.handle()));
#endif
    return bytes.size();
}

void QtSerialIo::waitForBytes(std::chrono::microseconds timeout) {
    if (!m_port.isOpen() || m_port.bytesAvailable() > 0 || timeout.count() <= 0)
        return;
    if (QCoreApplication::instance() == nullptr) {
        m_port.waitForReadyRead(static_cast<int>((timeout.count() + 999) / 1000));
        return;
    }
    m_gapTimer.start(static_cast<int>((timeout.count() + 999) / 1000));
    m_waitLoop.exec();
    m_gapTimer.stop();
}

}  // namespace tamrisk
