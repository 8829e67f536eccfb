#pragma once
// Runs tamrisk-sim and tamrisk-cli as separate processes in a private runtime
// folder, so their virtual ports and saved settings touch nothing else.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace tamrisk::testing {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The path of the example `name` shipped in examples/.
QString Example(const char* name);

// The lines of a program's output, without their line ends.
std::vector<std::string> Lines(const std::string& text);

class SimProcess {
public:
    // Starts tamrisk-sim with `options` plus "--name SIM0"; waits for its port.
    explicit SimProcess(const QStringList& options = {});
    ~SimProcess();

    bool started() const { return !m_port.empty(); }
    // The published link of the simulated printer.
    const std::string& port() const { return m_port; }
    QProcessEnvironment environment() const { return m_env; }
    // Sets a variable of the programs' environment. Records are off unless a
    // test sets TAMRISK_RECORDS; the default records file is in the private folder.
    void setEnv(const QString& name, const QString& value) { m_env.insert(name, value); }

    // Runs tamrisk-cli with `args` in the same environment.
    CliRun cli(const QStringList& args, const QByteArray& input = {}) const;
    // Starts tamrisk-cli in `process` and returns without waiting.
    void startCli(QProcess& process, const QStringList& args) const;
    // Ends the simulator, as a pulled cable or a switched-off printer would.
    void stop();

private:
    QTemporaryDir m_runtime;
    QProcessEnvironment m_env;
    QProcess m_sim;
    std::string m_port;
};

}  // namespace tamrisk::testing
