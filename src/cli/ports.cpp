// tamrisk-cli ports: the port list in the order the station shows it.

#include "cli.h"
#include "clisession.h"
#include "qtserialio.h"

#include <memory>
#include <ostream>

namespace tamrisk {

int PortsCommand(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (!rest.empty())
        return UsageError(err, "ports takes no arguments");
    ConsoleHost host(err);
    SerialLink link(host, std::make_unique<QtSerialIo>());
    link.EnumeratePorts();
    for (const std::string& name : link.PortList)
        out << name << '\n';
    return CliOk;
}

}  // namespace tamrisk
