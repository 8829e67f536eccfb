// What a printer, a script or a file name holds reaches tamrisk-cli's stderr
// escaped: a control sequence in it is shown, never obeyed by the terminal.

#include "frame.h"
#include "simprocess.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <pty.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tamrisk::testing {
namespace {

struct Reply {
    std::string data;
    StatusBytesArray status{};
};

// A printer on a pseudo-terminal of this process that answers every request
// with `reply(command)`: answers that tamrisk-sim never gives.
class PtyPrinter {
public:
    explicit PtyPrinter(std::function<Reply(int command)> reply) : m_reply(std::move(reply)) {
        char name[64] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
        m_path = name;
        m_thread = std::thread([this] { Serve(); });
    }
    ~PtyPrinter() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        // The slave stays open until here, so the master never sees a hang-up.
        ::close(m_slave);
        ::close(m_master);
    }
    const std::string& path() const { return m_path; }

private:
    void Serve() {
        std::string input;
        while (!m_stop) {
            pollfd ready{m_master, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0 || (ready.revents & POLLIN) == 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            input.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = input.find('\x03')) != std::string::npos; input.erase(0, end + 1)) {
                const std::size_t start = input.rfind('\x01', end);
                const auto request = start == std::string::npos ? std::nullopt
                                                                : DecodeRequestFrame(input.substr(start, end - start + 1));
                if (!request)
                    continue;
                const Reply reply = m_reply(request->command);
                const std::string frame = EncodeAnswerFrame(request->sequence, request->command, reply.data, reply.status);
                if (::write(m_master, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
                    return;
            }
        }
    }

    std::function<Reply(int)> m_reply;
    int m_master = -1, m_slave = -1;
    std::string m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Clears the screen, then sets the clipboard (OSC 52) and rings the bell.
const std::string kHostile = "\x1b[2J\x1b]52;c;SGVsbG8=\x07";
const std::string kShown = "\\x1B[2J\\x1B]52;c;SGVsbG8=\\x07";

TEST(CliEscaping, PrinterScriptAndFileNameTextsReachStderrEscaped) {
    SimProcess sim;  // a printer for the script, and the private environment
    ASSERT_TRUE(sim.started());
    // The readiness probe passes; every block read fails with the hostile answer.
    PtyPrinter printer([](int command) {
        return command == 121 ? Reply{kHostile, {0x21, 0, 0, 0, 0x20, 0}} : Reply{};
    });
    ASSERT_FALSE(printer.path().empty());
    QTemporaryDir dir;
    // A message line keeps control characters after its first 255 characters.
    const std::string padding(255, 'x');
    const QString script = dir.filePath("message.inp");
    ASSERT_TRUE(WriteFileBytes(script, QByteArray::fromStdString("^" + padding + kHostile + "\r\n")));
    const QString hostileName = dir.filePath(QString::fromStdString("a" + kHostile + ".inp"));

    struct Case {
        const char* path;
        QStringList args;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"a failed block's answer", {"read-code", "--port", QString::fromStdString(printer.path()), "-o",
                                     dir.filePath("image.bin")},
         "<- [21,00,00,00,20,00](0,0),\"" + kShown + "\"\n"},
        {"a message line", {"run", "--port", "SIM0", script}, "Message: " + padding + kShown + "\n"},
        {"a file name", {"run", "--port", "SIM0", hostileName},
         "cannot read " + dir.filePath("a").toStdString() + kShown + ".inp: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const CliRun run = sim.cli(c.args);
        EXPECT_NE(run.err.find(c.shown), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find_first_of("\x1b\x07"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace tamrisk::testing
