#include "inputfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamrisk {

namespace {

// Closes the descriptor however the read ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string TooLarge() { return "larger than 64 MiB, the limit for an input file"; }

}  // namespace

std::optional<std::string> ReadInputFile(const std::string& path, std::string& error) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "a folder, not a file" : "not a regular file";
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(info.st_size) > MaxInputFileBytes) {
        error = TooLarge();
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t length = 0;
    // Read to the end, one byte past the limit at most: the file may grow meanwhile.
    for (;;) {
        if (length == bytes.size()) {
            if (bytes.size() > MaxInputFileBytes) {
                error = TooLarge();
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() + 65536, MaxInputFileBytes + 1));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + length, bytes.size() - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        length += static_cast<std::size_t>(n);
    }
    bytes.resize(length);
    return bytes;
}

}  // namespace tamrisk
