#include "testfiles.h"

#include <QFile>

namespace tamrisk::testing {

QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool WriteFileBytes(const QString& path, QByteArrayView bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes.data(), bytes.size()) == bytes.size();
    return file.flush() && written;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(std::size_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = m_saved;
    small.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &small);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_savedHandler);
}

}  // namespace tamrisk::testing
