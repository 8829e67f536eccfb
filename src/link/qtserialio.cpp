#include "qtserialio.h"

#include "portlist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace tamrisk {

namespace {

#ifdef Q_OS_UNIX
// The process holding an flock on `device`, from the kernel's lock table.
std::optional<long> FlockHolder(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0)
        return std::nullopt;
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(info.st_dev), ::minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF"; waiters' lines carry "->".
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        if (fields >> number >> kind >> mode >> access >> pid >> file && kind == "FLOCK" && file == id)
            return pid;
    }
    return std::nullopt;
}

// The live process named in QSerialPort's lock file for `device`, looked for in
// the folders QSerialPort keeps it in.
std::optional<long> LockFileHolder(const std::string& device) {
    QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList folders{QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                              QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                              QStringLiteral("/tmp"), QStringLiteral("/var/tmp"),
                              QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),
                              QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString& folder : folders) {
        const QString path = folder + QLatin1String("/LCK..") + name;
        if (!QFileInfo::exists(path))
            continue;
        qint64 pid = 0;
        QString host, application;
        if (QLockFile(path).getLockInfo(&pid, &host, &application) && pid > 0 &&
            (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return static_cast<long>(pid);
    }
    return std::nullopt;
}

// Why the device refuses a further open (EBUSY: a program holds it
// exclusively; EACCES: no permission); 0 when it opens.
int OpenRefusal(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    return errno;
}
#endif

// Shorter rests of a frame are waited for byte by byte: a sleep this short
// would be mostly the system's own wake-up delay.
constexpr std::chrono::microseconds MinRestSleep{500};

std::string InUseText(const std::string& device, std::optional<long> pid) {
    return device + " is in use by " + (pid ? "process " + std::to_string(*pid) : std::string("another program"));
}

}  // namespace

QtSerialIo::QtSerialIo(Waiting waiting) : m_waiting(waiting) {
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_gapTimer, &QTimer::timeout, &m_waitLoop, &QEventLoop::quit);
    // A blocked wait turns no loop: quitting one would only wake the thread's
    // event dispatcher for nothing after every read.
    if (m_waiting == Waiting::EventLoop)
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
    // A line whose far end hung up reports read errors on every turn of the
    // event loop, which would spin until the time-out. A resource error has
    // stopped QSerialPort from reading; its text may be a stale errno (EAGAIN
    // after a read that found the end of the line), so the reason is found out
    // here.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    const bool hungUp = LineHungUp();
    if (error == QSerialPort::ReadError && !hungUp)
        return;
    m_lostReported = true;
    m_errorText = LossReason(hungUp);
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

std::string QtSerialIo::LossReason(bool hungUp) const {
    const bool removed = !QFileInfo::exists(QString::fromStdString(m_device));
    // A pseudo-terminal's node goes with its far end: that is a hang-up, not a removal.
    const bool pseudoTerminal = m_device.rfind("/dev/pts/", 0) == 0;
    if (removed && !pseudoTerminal)
        return m_device + " was removed";
    if (hungUp || removed)
        return "The device hung up (" + m_device + ")";
    return "The device stopped working (" + m_device + ")";
}

QtSerialIo::~QtSerialIo() { close(); }

bool QtSerialIo::open(const std::string& path, int baud) {
    close();
    // One device, one lock, whatever name reached it.
    m_device = RealDevice(path);
    m_port.setPortName(QString::fromStdString(m_device));
    m_accessDenied = false;
    if (!m_port.open(QIODevice::ReadWrite)) {
        // QSerialPort reports a device locked by another program as a
        // permission error; say who holds it instead.
        const bool permission = m_port.error() == QSerialPort::PermissionError;
        m_errorText = m_port.errorString().toStdString();
        m_port.clearError();
#ifdef Q_OS_UNIX
        if (permission) {
            std::optional<long> holder = FlockHolder(m_device);
            if (!holder)
                holder = LockFileHolder(m_device);
            const int refusal = OpenRefusal(m_device);
            if (holder || refusal == EBUSY)
                m_errorText = InUseText(m_device, holder);
            else
                m_accessDenied = refusal == EACCES || refusal == EPERM;
        }
#endif
        return false;
    }
#ifdef Q_OS_UNIX
    // The root user passes the exclusive-open flag; this lock holds for everyone.
    if (::flock(static_cast<int>(m_port.handle()), LOCK_EX | LOCK_NB) != 0) {
        m_errorText = InUseText(m_device, FlockHolder(m_device));
        m_port.close();
        m_port.clearError();
        return false;
    }
#endif
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
#ifdef Q_OS_UNIX
    if (m_waiting == Waiting::Blocked && m_port.bytesToWrite() == 0)
        return WriteDirect(bytes);
#endif
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

#ifdef Q_OS_UNIX
std::size_t QtSerialIo::WriteDirect(std::string_view bytes) {
    const int fd = static_cast<int>(m_port.handle());
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = WriteTimeout(bytes.size(), m_baud).count();
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t size = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (size > 0) {
            written += static_cast<std::size_t>(size);
            continue;
        }
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        // The driver's buffer is full: wait for room, at most the write time-out.
        const qint64 left = limitMs - clock.elapsed();
        pollfd room{fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&room, 1, static_cast<int>(left)) <= 0)
            break;
    }
    // The rest must not go out later and complete a frame that its sender has given up on.
    if (written < bytes.size())
        ::tcflush(fd, TCOFLUSH);
    return written;
}
#endif

void QtSerialIo::waitForRest(std::chrono::microseconds timeout, std::size_t bytes) {
    if (m_waiting != Waiting::Blocked || bytes < 2 || !m_port.isOpen() || m_port.bytesAvailable() > 0) {
        waitForBytes(timeout);
        return;
    }
    // What the line holds already is taken first, so that all `bytes` are
    // still to come: on a line that goes on sending, the last of them has
    // crossed within `bytes` byte times from now. A byte time more is slept,
    // for the port to hand the last bytes over (a UART gives its last few
    // after a pause), so that one wake-up takes the rest of the frame rather
    // than a second wait for its last bytes.
    m_port.waitForReadyRead(0);
    if (m_port.bytesAvailable() > 0 || !m_port.isOpen())
        return;
    const std::chrono::microseconds quiet = std::min(timeout, LineTime(bytes + 1, m_baud));
    if (quiet < MinRestSleep) {
        waitForBytes(timeout);
        return;
    }
    std::this_thread::sleep_for(quiet);
    waitForBytes(timeout - quiet);
}

void QtSerialIo::sleepFor(std::chrono::microseconds time) {
    if (m_waiting != Waiting::Blocked || time < MinRestSleep || !m_port.isOpen() || m_port.bytesAvailable() > 0)
        return;
    std::this_thread::sleep_for(time);
}

void QtSerialIo::waitForBytes(std::chrono::microseconds timeout) {
    if (!m_port.isOpen() || m_port.bytesAvailable() > 0 || timeout.count() <= 0)
        return;
    if (m_waiting == Waiting::Blocked || QCoreApplication::instance() == nullptr) {
        m_port.waitForReadyRead(static_cast<int>((timeout.count() + 999) / 1000));
        return;
    }
    m_gapTimer.start(static_cast<int>((timeout.count() + 999) / 1000));
    m_waitLoop.exec();
    m_gapTimer.stop();
}

}  // namespace tamrisk
