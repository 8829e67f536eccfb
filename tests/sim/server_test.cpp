// tamrisk-sim itself, on a real pty: started as a process, found through the
// link path it prints, spoken to with POSIX calls.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "frame.h"
#include "simtesting.h"

namespace tamrisk::sim {
namespace {

constexpr int WaitMs = 3000;  // upper bound for anything the simulator should do at once

class SimProcess {
public:
    ~SimProcess() { Stop(); }

    // Starts tamrisk-sim with `arguments` and `environment` (NAME=VALUE) added to
    // ours; returns the line it prints, empty if none came.
    std::string Start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
        int out[2];
        if (::pipe(out) != 0)
            return {};
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            for (const std::string& variable : environment)
                ::putenv(const_cast<char*>(variable.c_str()));
            std::vector<char*> argv{const_cast<char*>(TAMRISK_SIM_BINARY)};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        pollfd fd{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&fd, 1, WaitMs) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        return line;
    }

    // SIGTERM, then the exit status (-1 if it did not end in time, when it is killed).
    int Stop() {
        if (m_pid <= 0)
            return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int waited = 0; waited < WaitMs; waited += 10) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::poll(nullptr, 0, 10);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return -1;
    }

private:
    pid_t m_pid = -1;
};

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/tamrisk-simtest-XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(m_path); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Sends one request and collects the answer as the station does.
testing::Exchange Ask(int fd, std::uint8_t sequence, int command, std::string_view data) {
    const std::string request = EncodeRequestFrame(sequence, command, data);
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string answer;
    pollfd p{fd, POLLIN, 0};
    char buffer[256];
    while (answer.find(static_cast<char>(FrameEnd)) == std::string::npos && ::poll(&p, 1, WaitMs) == 1) {
        const ssize_t size = ::read(fd, buffer, sizeof buffer);
        if (size <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(size));
    }
    return testing::Collect(answer, sequence, command);
}

bool IsLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

TEST(ServerTest, AnswersOnThePtyAcrossReopeningAndRemovesItsLink) {
    TempFolder folder;
    const std::string link = folder.path() + "/PRINTER";
    SimProcess sim;
    ASSERT_EQ(sim.Start({"--link", link, "--syn", "2"}), link);
    ASSERT_TRUE(IsLink(link));

    std::uint8_t sequence = FirstSequence;
    for (int opening = 0; opening < 2; ++opening) {
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        for (int request = 0; request < 2; ++request, sequence = NextSequence(sequence)) {
            const auto exchange = Ask(fd, sequence, 74, "");
            EXPECT_TRUE(exchange.check.passed) << "opening " << opening << " failed test " << exchange.check.failedTest;
            EXPECT_EQ(exchange.check.data, "P");
            EXPECT_EQ(exchange.synCount, 2);
        }
        ::close(fd);
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(IsLink(link));
}

TEST(ServerTest, PublishesUnderTheFirstFreeNameInThePortsFolder) {
    TempFolder folder;
    const std::string ports = folder.path() + "/tamrisk/ports";
    std::filesystem::create_directories(ports);
    ASSERT_EQ(::symlink("/dev/null", (ports + "/SIM0").c_str()), 0);                       // in use
    ASSERT_EQ(::symlink((folder.path() + "/gone").c_str(), (ports + "/SIM1").c_str()), 0);  // left behind

    SimProcess sim;
    const std::string link = sim.Start({}, {"XDG_RUNTIME_DIR=" + folder.path()});
    EXPECT_EQ(link, ports + "/SIM1");
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(Ask(fd, 0x40, 116, "00000,64").check.passed);
    ::close(fd);

    SimProcess named;
    EXPECT_EQ(named.Start({"--name", "SIM0"}, {"XDG_RUNTIME_DIR=" + folder.path()}), ports + "/SIM0");

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(named.Stop(), 0);
    EXPECT_FALSE(IsLink(ports + "/SIM0"));
    EXPECT_FALSE(IsLink(ports + "/SIM1"));
}

}  // namespace
}  // namespace tamrisk::sim
