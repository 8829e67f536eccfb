#include "simprocess.h"

#include <sstream>

namespace tamrisk::testing {

QString Example(const char* name) { return QString(TAMRISK_EXAMPLES_DIR) + "/" + name; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

SimProcess::SimProcess(const QStringList& options) {
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    m_env.insert("XDG_CONFIG_HOME", m_runtime.filePath("config"));
    m_env.insert("XDG_DATA_HOME", m_runtime.filePath("data"));
    m_env.insert("TAMRISK_RECORDS", "off");
    m_env.remove("NO_COLOR");
    m_sim.setProcessEnvironment(m_env);
    m_sim.start(TAMRISK_SIM_PATH, QStringList{"--name", "SIM0"} + options);
    if (!m_sim.waitForStarted(5000))
        return;
    // The simulator prints its port on one line once it is ready.
    while (!m_sim.canReadLine() && m_sim.state() == QProcess::Running)
        m_sim.waitForReadyRead(5000);
    m_port = m_sim.readLine().trimmed().toStdString();
}

SimProcess::~SimProcess() {
    if (m_sim.state() != QProcess::NotRunning) {
        m_sim.terminate();
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
        m_sim.waitForFinished(3000);
    }
}

void SimProcess::startCli(QProcess& process, const QStringList& args) const {
    process.setProcessEnvironment(m_env);
    process.start(TAMRISK_CLI_PATH, args);
    process.waitForStarted(5000);
}

void SimProcess::stop() {
    m_sim.kill();
    m_sim.waitForFinished(3000);
}

CliRun SimProcess::cli(const QStringList& args, const QByteArray& input) const {
    QProcess process;
    startCli(process, args);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    CliRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

}  // namespace tamrisk::testing
