#include "virtualports.h"

#include <cstdlib>
#include <unistd.h>

namespace tamrisk {

std::string VirtualPortsDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0')
        return std::string(runtime) + "/tamrisk/ports";
    return "/tmp/tamrisk-" + std::to_string(::getuid()) + "/ports";
}

}  // namespace tamrisk
