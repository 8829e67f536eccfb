#pragma once
// tamrisk-sim's command line.

#include <QStringList>

#include <string>

#include "ptyserver.h"

namespace tamrisk::sim {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Error;
    ServerOptions options;
    std::string text;  // the help text for Help, "tamrisk-sim <version>" for Version, the reason for Error
};

// Parses the arguments, the program's name first. Never exits the process.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace tamrisk::sim
