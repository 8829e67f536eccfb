#pragma once
// The station's core over a fake line: one port, connected, with the fake
// host, as every window and runner sees it.

#include "fakehost.h"
#include "station.h"

#include <memory>
#include <utility>

namespace tamrisk::testing {

template <class Io>
struct LinkRig {
    template <class... IoArgs>
    explicit LinkRig(IoArgs&&... ioArgs)
        : station(MakeStation(host, io, std::forward<IoArgs>(ioArgs)...)),
          link(&station->link),
          state(station->state),
          transactor(&station->transactor) {
        link->EnumeratePorts();
        station->Connect(0);
    }

    FakeHost host;
    Io* io = nullptr;
    std::unique_ptr<Station> station;
    SerialLink* link;
    TransactionState& state;
    Transactor* transactor;

private:
    template <class... IoArgs>
    static std::unique_ptr<Station> MakeStation(FakeHost& host, Io*& io, IoArgs&&... ioArgs) {
        auto line = std::make_unique<Io>(host, std::forward<IoArgs>(ioArgs)...);
        io = line.get();
        return std::make_unique<Station>(host, std::move(line),
                                         [] { return std::vector<PortEntry>{{"SIM0", "/dev/pts/9"}}; });
    }
};

}  // namespace tamrisk::testing
