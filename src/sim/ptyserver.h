#pragma once
// tamrisk-sim's server: a printer model behind a pseudo-terminal, published as a
// link in the station's virtual ports folder (or at a chosen path).

#include <string>

#include "simoptions.h"

namespace tamrisk::sim {

struct ServerOptions {
    SimOptions model;
    std::string name;      // link name in the virtual ports folder; empty: first free SIM0..SIM99
    std::string linkPath;  // the link's full path instead of the ports folder; its folder must exist
    int delayMs = 0;       // wait before each answer, from the request's arrival
    int baud = 0;          // pace answers at this line speed (10 bits a byte); 0: unpaced
};

// Opens the pty, publishes its link, prints the link's path as one line on stdout
// and serves requests until SIGINT, SIGTERM or SIGHUP; then removes the link.
// Returns the process exit code: 0 after a signal, 1 when the pty or the link
// could not be set up (the reason is on stderr).
int RunServer(const ServerOptions& options);

}  // namespace tamrisk::sim
