// tamrisk-cli ports: the port list in the order the station shows it; with
// --long, what tells the adapters apart.

#include "cli.h"
#include "clisession.h"
#include "qtserialio.h"
#include "terminalsink.h"

#include <memory>
#include <ostream>

namespace tamrisk {

int PortsCommand(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const bool details = rest == std::vector<std::string>{"--long"};
    if (!rest.empty() && !details)
        return UsageError(err, "ports takes no arguments but --long");
    ConsoleHost host(err);
    SerialLink link(host, std::make_unique<QtSerialIo>());
    link.EnumeratePorts();
    for (int i = 0; i < static_cast<int>(link.PortList.size()); ++i) {
        if (!details) {
            out << link.PortList[static_cast<std::size_t>(i)] << '\n';
            continue;
        }
        // A tab or a line end in what an adapter reports must not shift the columns.
        const PortEntry port = link.PortAt(i);
        out << EscapeControls(port.name) << '\t' << EscapeControls(port.description) << '\t'
            << EscapeControls(port.manufacturer) << '\t' << EscapeControls(port.serialNumber) << '\t'
            << EscapeControls(port.stablePath) << '\n';
    }
    return CliOk;
}

}  // namespace tamrisk
