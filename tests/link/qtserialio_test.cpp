#include "qtserialio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace tamrisk {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal pair: the far end (master) held here, the line's device
// named by `device`.
struct Pty {
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            device = name;
            ::close(slave);
        }
    }
    ~Pty() { HangUp(); }
    void HangUp() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    int master = -1;
    std::string device;
};

// A pty whose device this process can lock. A number that another test's
// program still holds a lock on (its pty gone, the number given out again) is
// passed over for the next; the passed-over ones stay open meanwhile, so that
// each new one has another number.
struct LockablePty {
    LockablePty() {
        for (int tries = 0; tries < 5; ++tries) {
            held.push_back(std::make_unique<Pty>());
            QtSerialIo probe;
            if (held.back()->device.empty() || probe.open(held.back()->device, 9600))
                break;
        }
    }
    Pty& operator*() { return *held.back(); }
    std::vector<std::unique_ptr<Pty>> held;
};

struct QtApp {
    int argc = 1;
    char name[8] = "test";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
};

// The far end goes away while the line is idle, while a transaction waits in
// the event loop and while one waits blocked (a socket's thread): each way the
// reason names what happened and the device.
TEST(QtSerialIo, ALostDeviceIsNamedTheSameIdleAndWaiting) {
    QtApp app;
    for (const auto& [waiting, mode] :
         {std::pair{false, QtSerialIo::Waiting::EventLoop}, std::pair{true, QtSerialIo::Waiting::EventLoop},
          std::pair{true, QtSerialIo::Waiting::Blocked}}) {
        SCOPED_TRACE(mode == QtSerialIo::Waiting::Blocked ? "blocked" : "event loop");
        LockablePty lockable;
        Pty& pty = *lockable;
        ASSERT_FALSE(pty.device.empty());
        QtSerialIo io(mode);
        std::string reason;
        int losses = 0;
        io.setLostHandler([&](const std::string& text) {
            reason = text;
            ++losses;
        });
        ASSERT_TRUE(io.open(pty.device, 9600)) << io.errorText();
        pty.HangUp();
        QElapsedTimer clock;
        clock.start();
        while (losses == 0 && clock.elapsed() < 2000) {
            if (waiting)
                io.waitForBytes(100ms);
            else
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        EXPECT_EQ(losses, 1) << waiting;
        EXPECT_EQ(reason, "The device hung up (" + pty.device + ")") << waiting;
        EXPECT_FALSE(io.isOpen()) << waiting;
    }
}

// Either way of waiting, for the first byte or for the rest of a frame,
// returns once bytes have come, with them waiting, and after its time-out on
// a silent line, with none.
TEST(QtSerialIo, AWaitEndsWithTheBytesThatCameOrAtItsTimeOut) {
    QtApp app;
    const std::string answer =
        "\x01"
        "an answer of twenty\x03";
    for (const QtSerialIo::Waiting mode : {QtSerialIo::Waiting::EventLoop, QtSerialIo::Waiting::Blocked}) {
        for (const bool rest : {false, true}) {
            SCOPED_TRACE(std::string(mode == QtSerialIo::Waiting::Blocked ? "blocked" : "event loop") +
                         (rest ? ", the rest of a frame" : ", the first byte"));
            const auto wait = [&](QtSerialIo& io, std::chrono::microseconds timeout, std::size_t toCome) {
                if (rest)
                    io.waitForRest(timeout, toCome);
                else
                    io.waitForBytes(timeout);
            };
            LockablePty lockable;
            Pty& pty = *lockable;
            ASSERT_FALSE(pty.device.empty());
            QtSerialIo io(mode);
            ASSERT_TRUE(io.open(pty.device, 9600)) << io.errorText();
            QElapsedTimer clock;
            clock.start();
            wait(io, 100ms, answer.size());
            EXPECT_GE(clock.elapsed(), 99);
            EXPECT_EQ(io.bytesWaiting(), 0u);

            ASSERT_EQ(::write(pty.master, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
            std::string read;
            clock.restart();
            while (read.size() < answer.size() && clock.elapsed() < 5000) {
                wait(io, 1s, answer.size() - read.size());
                for (std::uint8_t byte = 0; io.readByte(byte);)
                    read.push_back(static_cast<char>(byte));
            }
            EXPECT_EQ(read, answer);
            EXPECT_TRUE(io.isOpen());
        }
    }
}

// One device has one lock whatever name reached it: the pty's own path and a
// link to it (as tamrisk-sim publishes) conflict in either order. The locks
// are the system's: a pty number that another test's program still holds a
// lock on is passed over for the next (LockablePty).
TEST(QtSerialIo, ALinkAndItsDeviceShareOneLock) {
    QtApp app;
    LockablePty lockable;
    const Pty& pty = *lockable;
    ASSERT_FALSE(pty.device.empty());
    QTemporaryDir dir;
    const std::string link = dir.filePath("SIM0").toStdString();
    ASSERT_EQ(::symlink(pty.device.c_str(), link.c_str()), 0);
    const std::string inUse = pty.device + " is in use by process " + std::to_string(::getpid());
    for (const auto& [first, second] : {std::pair{link, pty.device}, std::pair{pty.device, link}}) {
        QtSerialIo holder;
        QtSerialIo other;
        ASSERT_TRUE(holder.open(first, 9600)) << holder.errorText();
        EXPECT_FALSE(other.open(second, 9600)) << second;
        EXPECT_EQ(other.errorText(), inUse) << second;
        EXPECT_FALSE(other.isOpen());
        holder.close();
        EXPECT_TRUE(other.open(second, 9600)) << other.errorText();
    }
}

}  // namespace
}  // namespace tamrisk
