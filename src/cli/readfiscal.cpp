// tamrisk-cli read-fiscal: the fiscal memory, 1024, 2048 or 4096 blocks of 64
// bytes as its first block says, into an image file and optionally a hex dump.

#include "clisession.h"
#include "memoryreadcli.h"
#include "memoryreader.h"

namespace tamrisk {

int ReadFiscalCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return MemoryReadCommandLine("read-fiscal", "fiscal-memory", FiscalMemoryRead, rest, out, err);
}

}  // namespace tamrisk
