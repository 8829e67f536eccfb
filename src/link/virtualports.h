#pragma once
// The folder where tamrisk-sim publishes its virtual ports as links and where
// the station lists them from.

#include <string>

namespace tamrisk {

// $XDG_RUNTIME_DIR/tamrisk/ports, or /tmp/tamrisk-<uid>/ports when the variable
// is unset or empty.
std::string VirtualPortsDir();

}  // namespace tamrisk
