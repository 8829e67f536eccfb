#pragma once
// What an operator refused a serial device for lack of permission must do to
// get it: on Linux, be in the group that owns the device and log in again.

#include <string>

namespace tamrisk {

// What the system says about a device's group and the user's place in it.
struct PortAccessFacts {
    std::string device;         // the device a port name or link leads to
    std::string group;          // the group that owns it; empty when it cannot be read
    bool memberOfGroup = false;  // the user is in that group in the user database
    bool groupActive = false;    // this session (the process) has that group
    unsigned mode = 0;           // the device's permission bits
};

// Reads the facts for `path` (links followed): its owning group by stat and
// getgrgid, the user's groups from the user database and from this process.
PortAccessFacts ReadPortAccessFacts(const std::string& path);

// The advice, one or two lines: add the user to the device's group
// ("sudo usermod -aG <group> $USER") and log in again; only log in again when
// the user is in the group but this session is not; ask the administrator
// when the group cannot be read or already has the user without giving access.
std::string PortAccessAdvice(const PortAccessFacts& facts);

// PortAccessAdvice(ReadPortAccessFacts(path)).
std::string PortAccessAdvice(const std::string& path);

}  // namespace tamrisk
