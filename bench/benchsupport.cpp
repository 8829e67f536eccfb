#include "benchsupport.h"

#include "printercommands.h"
#include "qtserialio.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <iostream>
#include <stdexcept>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamrisk::bench {

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

}  // namespace

Simulator::Simulator(const QStringList& options) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(TAMRISK_SIM_PATH, QStringList{"--link", m_dir.filePath("BENCH")} + options);
    if (!m_process.waitForStarted(5000))
        throw std::runtime_error("tamrisk-sim did not start");
    while (!m_process.canReadLine() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(5000);
    m_port = m_process.readLine().trimmed().toStdString();
    if (m_port.empty())
        throw std::runtime_error("tamrisk-sim published no port");
}

std::chrono::duration<double> Simulator::cpuTime() const {
    // Fields 14 and 15 of /proc/PID/stat, after the command's closing parenthesis.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return std::chrono::duration<double>(0);
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::chrono::duration<double>(0);
    const double ticks = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong());
    return std::chrono::duration<double>(ticks / static_cast<double>(::sysconf(_SC_CLK_TCK)));
}

Simulator::~Simulator() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

BenchStation::BenchStation(const std::string& port, int baud)
    : host(std::cerr, [] { QCoreApplication::processEvents(); }),
      core(host, std::make_unique<QtSerialIo>()),
      transactor(core.transactor),
      state(core.state) {
    if (!core.ConnectPath(port, baud))
        throw std::runtime_error("cannot open " + port);
}

bool WriteBlockReadScript(const QString& path, const std::string& title, int passes) {
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return false;
    std::string text = "@" + title + "\r\n*" + std::to_string(passes) + ",Pass\r\n";
    text += "121," + CodeBlockData(0x0000) + "\r\n121," + CodeBlockData(0x0040) + "\r\n:Pass\r\n";
    return script.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

ChildRun Spawn(const std::vector<std::string>& argv, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ChildRun run;
    const Stopwatch watch;
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        return run;
    rusage usage{};
    ::wait4(pid, &run.status, 0, &usage);
    run.wallSeconds = watch.wallSeconds();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

qint64 RecordsFileBytes(const QString& path) {
    const QString connection = QStringLiteral("bench-records-size");
    bool checkpointed = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        checkpointed = db.open() && QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    QSqlDatabase::removeDatabase(connection);
    if (!checkpointed)
        return -1;
    // A log another connection still holds open is counted with the file.
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

long PeakMemoryKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::chrono::duration<double> ProcessCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::chrono::duration<double>(Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
}

Stopwatch::Stopwatch() : wallStart(std::chrono::steady_clock::now()), cpuStart(ProcessCpuTime()) {}

double Stopwatch::wallSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
}

double Stopwatch::cpuSeconds() const { return (ProcessCpuTime() - cpuStart).count(); }

void BatchLog::Add(std::size_t lines, std::chrono::nanoseconds spent) {
    batches.emplace_back(lines, std::chrono::duration<double>(spent).count());
}

double BatchLog::Seconds() const {
    double seconds = 0;
    for (const auto& batch : batches)
        seconds += batch.second;
    return seconds;
}

std::pair<double, double> BatchLog::EdgeSeconds(std::size_t total, std::size_t edge) const {
    double first = 0, last = 0;
    std::size_t seen = 0;
    for (const auto& [lines, seconds] : batches)
        for (std::size_t k = 0; k < lines; ++k, ++seen) {
            if (seen < edge)
                first += seconds / static_cast<double>(lines);
            else if (seen + edge >= total)
                last += seconds / static_cast<double>(lines);
        }
    return {first, last};
}

}  // namespace tamrisk::bench
