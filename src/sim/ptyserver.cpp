#include "ptyserver.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "outputschedule.h"
#include "printermodel.h"
#include "virtualports.h"

namespace tamrisk::sim {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signo) {
    g_stopSignal = signo;
}

// While nobody holds the pty's other side the master reports a hang-up at once;
// look again after this long instead of spinning.
constexpr auto HangupRetry = std::chrono::milliseconds(100);

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int* out() { return &m_fd; }

private:
    int m_fd;
};

void Complain(const std::string& what) {
    std::fprintf(stderr, "tamrisk-sim: %s\n", what.c_str());
}

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Creates `path` and the folders above it (mode 0700). A folder of our own under
// /tmp must belong to us and not be a link, or another user could redirect it.
bool MakeFolders(const std::string& path, std::string& error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Reason("cannot create " + part);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    const std::string tmpOwn = "/tmp/tamrisk-" + std::to_string(::getuid());
    if (path.starts_with(tmpOwn + "/")) {
        struct stat info {};
        if (::lstat(tmpOwn.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
            error = tmpOwn + " is not a folder of this user";
            return false;
        }
    }
    return true;
}

// True when `path` is a link whose target is gone, left by a simulator that ended.
bool IsDanglingLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ::access(path.c_str(), F_OK) != 0;
}

// Links `target` at `link`, replacing a link that is already there; refuses to
// replace anything that is not a link. The new link appears in one step.
bool ReplaceLink(const std::string& target, const std::string& link, std::string& error) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = link + " exists and is not a link";
        return false;
    }
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = Reason("cannot create link " + temporary);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        error = Reason("cannot create link " + link);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The first of SIM0..SIM99 in `folder` that is free or left dangling, claimed by
// linking `target` there; empty when all are taken.
std::string ClaimFreeName(const std::string& folder, const std::string& target, std::string& error) {
    for (int i = 0; i < 100; ++i) {
        const std::string link = folder + "/SIM" + std::to_string(i);
        if (IsDanglingLink(link))
            ::unlink(link.c_str());
        // symlink() fails on an existing name, so two simulators starting together
        // cannot both take it.
        if (::symlink(target.c_str(), link.c_str()) == 0)
            return link;
        if (errno != EEXIST) {
            error = Reason("cannot create link " + link);
            return {};
        }
    }
    error = "no free name SIM0..SIM99 in " + folder;
    return {};
}

void RemoveOwnLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    const ssize_t size = ::readlink(link.c_str(), buffer, sizeof buffer);
    // Another simulator may have taken the name over since; leave its link alone.
    if (size > 0 && std::string(buffer, static_cast<std::size_t>(size)) == target)
        ::unlink(link.c_str());
}

timespec ToTimespec(std::chrono::nanoseconds span) {
    if (span.count() < 0)
        span = std::chrono::nanoseconds(0);
    return timespec{static_cast<time_t>(span.count() / 1'000'000'000),
                    static_cast<long>(span.count() % 1'000'000'000)};
}

class Server {
public:
    explicit Server(const ServerOptions& options)
        : m_options(options),
          m_model(options.model),
          m_schedule(std::chrono::milliseconds(options.delayMs), options.baud) {}

    ~Server() {
        if (!m_link.empty())
            RemoveOwnLink(m_link, m_slavePath);
    }

    bool Open() {
        if (::openpty(m_master.out(), m_slave.out(), nullptr, nullptr, nullptr) != 0) {
            Complain(Reason("cannot open a pty"));
            return false;
        }
        // The station expects a plain 8-bit line: no echo, no line editing, no
        // translation. The server keeps its own slave descriptor open, so the
        // station can close and reopen the port without the master hanging up.
        termios settings {};
        ::tcgetattr(m_slave.get(), &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(m_slave.get(), TCSANOW, &settings);
        ::fcntl(m_master.get(), F_SETFL, ::fcntl(m_master.get(), F_GETFL) | O_NONBLOCK);
        ::fcntl(m_master.get(), F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave.get(), F_SETFD, FD_CLOEXEC);
        const char* name = ::ptsname(m_master.get());
        if (name == nullptr) {
            Complain(Reason("cannot name the pty"));
            return false;
        }
        m_slavePath = name;
        return true;
    }

    bool Publish() {
        std::string error;
        if (!m_options.linkPath.empty()) {
            if (ReplaceLink(m_slavePath, m_options.linkPath, error))
                m_link = m_options.linkPath;
        } else {
            const std::string folder = VirtualPortsDir();
            if (MakeFolders(folder, error)) {
                if (!m_options.name.empty()) {
                    if (ReplaceLink(m_slavePath, folder + "/" + m_options.name, error))
                        m_link = folder + "/" + m_options.name;
                } else {
                    m_link = ClaimFreeName(folder, m_slavePath, error);
                }
            }
        }
        if (m_link.empty()) {
            Complain(error);
            return false;
        }
        std::fprintf(stderr, "tamrisk-sim: printer on %s, published as %s\n", m_slavePath.c_str(),
                     m_link.c_str());
        std::printf("%s\n", m_link.c_str());
        std::fflush(stdout);
        return true;
    }

    // Serves until a stop signal; signals are blocked outside the wait so they
    // cannot slip in between the flag test and the wait.
    void Run(const sigset_t& waitMask) {
        while (g_stopSignal == 0) {
            const auto now = OutputSchedule::Clock::now();
            m_unwritten += m_schedule.TakeDue(now);
            if (!m_hungUp)
                Write();

            pollfd fd{m_master.get(), POLLIN, 0};
            if (!m_unwritten.empty())
                fd.events |= POLLOUT;
            timespec timeout{};
            const timespec* wait = nullptr;
            if (m_hungUp) {
                timeout = ToTimespec(HangupRetry);
                wait = &timeout;
            } else if (m_unwritten.empty()) {
                if (const auto due = m_schedule.NextWake()) {
                    timeout = ToTimespec(*due - now);
                    wait = &timeout;
                }
            }
            const int ready = ::ppoll(&fd, m_hungUp ? 0 : 1, wait, &waitMask);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                Complain(Reason("poll"));
                return;
            }
            if (m_hungUp) {
                m_hungUp = false;  // look again
                continue;
            }
            if (fd.revents & POLLIN)
                Read();
            else if (fd.revents & (POLLHUP | POLLERR))
                HangUp();
        }
    }

private:
    void Read() {
        char buffer[4096];
        std::size_t received = 0;
        for (;;) {
            const ssize_t size = ::read(m_master.get(), buffer, sizeof buffer);
            if (size > 0) {
                m_model.Receive(std::string_view(buffer, static_cast<std::size_t>(size)));
                received += static_cast<std::size_t>(size);
                continue;
            }
            if (size < 0 && errno == EINTR)
                continue;
            if (size == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                HangUp();
            break;
        }
        // A pty hands the request over at once; on a paced line it arrives only
        // when its last byte has crossed, so answers are counted from then.
        const auto now = OutputSchedule::Clock::now();
        m_requestEndsAt = std::max(m_requestEndsAt, now) + m_schedule.ByteTime() * static_cast<long long>(received);
        for (std::string& answer : m_model.TakeAnswers())
            m_schedule.Add(std::move(answer), m_requestEndsAt);
    }

    void Write() {
        while (!m_unwritten.empty()) {
            const ssize_t size = ::write(m_master.get(), m_unwritten.data(), m_unwritten.size());
            if (size > 0) {
                m_unwritten.erase(0, static_cast<std::size_t>(size));
                continue;
            }
            if (size < 0 && errno == EINTR)
                continue;
            if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                HangUp();
            return;
        }
    }

    // Nobody is on the line: what was on its way has no reader any more.
    void HangUp() {
        m_hungUp = true;
        m_unwritten.clear();
        m_schedule.Clear();
        m_model.DiscardInput();
    }

    const ServerOptions& m_options;
    PrinterModel m_model;
    OutputSchedule m_schedule;
    OutputSchedule::Clock::time_point m_requestEndsAt{};
    FileDescriptor m_master;
    FileDescriptor m_slave;
    std::string m_slavePath;
    std::string m_link;
    std::string m_unwritten;  // due bytes the pty has not taken yet
    bool m_hungUp = false;
};

}  // namespace

int RunServer(const ServerOptions& options) {
    // Block the stop signals except inside ppoll, where they end the wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t waitMask;
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Server server(options);
    if (!server.Open() || !server.Publish())
        return 1;
    server.Run(waitMask);
    return 0;
}

}  // namespace tamrisk::sim
