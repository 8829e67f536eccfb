// tamrisk-sim: a fiscal printer behind a pseudo-terminal.

#include <QCoreApplication>

#include <cstdio>

#include "commandline.h"
#include "ptyserver.h"

int main(int argc, char* argv[]) {
    // Only for the arguments and the program name in --help; the server runs its
    // own poll loop, not Qt's event loop.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("tamrisk-sim");

    const tamrisk::sim::CommandLine commandLine =
        tamrisk::sim::ParseCommandLine(QCoreApplication::arguments());
    switch (commandLine.action) {
    case tamrisk::sim::CommandLine::Action::Help:
    case tamrisk::sim::CommandLine::Action::Version:
        std::fputs(commandLine.text.c_str(), stdout);
        return 0;
    case tamrisk::sim::CommandLine::Action::Error:
        std::fprintf(stderr, "tamrisk-sim: %s\nTry 'tamrisk-sim --help'.\n", commandLine.text.c_str());
        return 2;
    case tamrisk::sim::CommandLine::Action::Run:
        break;
    }
    return tamrisk::sim::RunServer(commandLine.options);
}
