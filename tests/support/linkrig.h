#pragma once
// The station's link over a fake line: one port, opened, with the fake host,
// the transaction state and a transactor, as every window and runner sees them.

#include "fakehost.h"
#include "seriallink.h"
#include "transaction.h"

#include <memory>
#include <utility>

namespace tamrisk::testing {

template <class Io>
struct LinkRig {
    template <class... IoArgs>
    explicit LinkRig(IoArgs&&... ioArgs) {
        auto line = std::make_unique<Io>(host, std::forward<IoArgs>(ioArgs)...);
        io = line.get();
        link = std::make_unique<SerialLink>(host, std::move(line),
                                            [] { return std::vector<PortEntry>{{"SIM0", "/dev/pts/9"}}; });
        link->EnumeratePorts();
        link->OpenPort(0, "9600");
        transactor = std::make_unique<Transactor>(*link, host, state);
    }

    FakeHost host;
    Io* io = nullptr;
    std::unique_ptr<SerialLink> link;
    TransactionState state;
    std::unique_ptr<Transactor> transactor;
};

}  // namespace tamrisk::testing
