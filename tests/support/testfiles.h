#pragma once
// Files as the tests see them: a whole file's bytes read or written in one call,
// and a file-size limit that makes writes fail part way and restores itself.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sys/resource.h>

#include <csignal>
#include <cstddef>

namespace tamrisk::testing {

// The whole of the file at `path`, or "(unreadable)" when it cannot be opened,
// so that a missing file never compares equal to an empty one.
QByteArray ReadFileBytes(const QString& path);

// Makes the file at `path` hold exactly `bytes`, replacing what it held;
// false when it cannot be opened or not every byte was written.
[[nodiscard]] bool WriteFileBytes(const QString& path, QByteArrayView bytes);

// While it lives, a write that would take a file of this process past `bytes`
// fails with EFBIG (for root as for anyone) instead of raising SIGXFSZ; the
// limit and the signal's handling are restored when it goes out of scope.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(std::size_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};

}  // namespace tamrisk::testing
