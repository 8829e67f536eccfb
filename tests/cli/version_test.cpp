// Every program prints the one version the build's project() sets, and the
// station does so without a display.

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

TEST(ProgramVersion, EveryProgramPrintsTheProjectVersion) {
    const struct {
        const char* program;
        const char* name;
        QStringList args;
    } cases[] = {
        {TAMRISK_STATION_PATH, "tamrisk", {"--version"}},
        {TAMRISK_STATION_PATH, "tamrisk", {"--port", "SIM0", "--version"}},
        {TAMRISK_CLI_PATH, "tamrisk-cli", {"--version"}},
        {TAMRISK_SIM_PATH, "tamrisk-sim", {"--version"}},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(display);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.args.join(' ').toStdString());
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(c.program, c.args);
        ASSERT_TRUE(process.waitForFinished(30'000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(process.readAllStandardOutput().toStdString(),
                  std::string(c.name) + " " + TAMRISK_PROJECT_VERSION + "\n");
        EXPECT_EQ(process.readAllStandardError().toStdString(), "");
    }
}

}  // namespace
