// tamrisk-cli read-code: the printer's program memory, 3072 blocks of 64 bytes
// from address 0, into an image file and optionally a hex dump on stdout.

#include "clisession.h"
#include "memoryreadcli.h"
#include "memoryreader.h"

namespace tamrisk {

int ReadCodeCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return MemoryReadCommandLine("read-code", "code-memory", CodeMemoryRead, rest, out, err);
}

}  // namespace tamrisk
