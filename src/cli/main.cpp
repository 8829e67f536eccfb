#include "cli.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    // Past a file size limit a write fails with EFBIG and is reported as any
    // failed write; by default the signal would end the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return tamrisk::CliMain(args, std::cout, std::cerr);
}
