#pragma once
// Files the operator gives as input (scripts, journal text files) read whole,
// within a limit, so that /dev/zero, a FIFO or a huge file cannot grow the
// station's memory without bound or block it.

#include <cstddef>
#include <optional>
#include <string>

namespace tamrisk {

// The largest input file read: 64 MiB, far above any script or journal text.
constexpr std::size_t MaxInputFileBytes = std::size_t{64} << 20;

// The whole content of the regular file at `path` (in the system's file name
// encoding). Empty, with `error` set to the reason, when it cannot be read, is
// not a regular file (a folder, a device, a FIFO) or holds more than
// MaxInputFileBytes; nothing waits for a FIFO's writer.
std::optional<std::string> ReadInputFile(const std::string& path, std::string& error);

}  // namespace tamrisk
