// Each program's --help and its manual page list the same options (the long
// forms) and, for tamrisk-cli, the same commands, so that neither changes
// without the other. The programs are run as they are built, without a display.

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using Names = std::set<std::string>;

// Capture 1 of every match of `pattern` in `text`.
Names Matches(const QString& text, const QString& pattern) {
    Names names;
    const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    for (auto it = expression.globalMatch(text); it.hasNext();)
        names.insert(it.next().captured(1).toStdString());
    return names;
}

// What is in `a` but not in `b`, for a readable failure.
std::string Missing(const Names& a, const Names& b) {
    std::string text;
    for (const std::string& name : a)
        if (!b.count(name))
            text += name + ' ';
    return text;
}

const QString LongOption = QStringLiteral("(?<![\\w-])(--[a-z][a-z0-9-]*)");

// The options the page defines: the long forms on the term lines of its lists
// (a line of the source that starts with a bold option, `*--port* _PORT_`).
Names PageOptions(const QString& source) {
    Names names;
    for (const QString& line : source.split(u'\n'))
        if (line.startsWith(QLatin1String("*-")))
            names.merge(Matches(line, LongOption));
    return names;
}

TEST(ManPages, ListTheOptionsAndCommandsOfHelp) {
    const struct {
        const char* program;
        const char* page;
        // A command of the program as its usage and the page's synopsis name it; empty: none.
        QString helpCommand, pageCommand;
    } cases[] = {
        {TAMRISK_STATION_PATH, "tamrisk", {}, {}},
        {TAMRISK_SIM_PATH, "tamrisk-sim", {}, {}},
        {TAMRISK_CLI_PATH, "tamrisk-cli", QStringLiteral("^(?:usage:)? *tamrisk-cli ([a-z][a-z0-9-]*(?: [a-z][a-z0-9-]*)?)"),
         QStringLiteral("^\\*tamrisk-cli ([a-z][a-z0-9 -]*[a-z0-9])\\*")},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(display);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QString::fromUtf8(c.program), {QStringLiteral("--help")});
        ASSERT_TRUE(process.waitForFinished(30'000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const QString help = QString::fromUtf8(process.readAllStandardOutput());

        QFile file(QStringLiteral(TAMRISK_MAN_SOURCE_DIR "/%1.1.scd").arg(QLatin1String(c.page)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const QString page = QString::fromUtf8(file.readAll());

        const Names helpOptions = Matches(help, LongOption);
        const Names pageOptions = PageOptions(page);
        // Every program has --version: an empty or broken extraction would agree with anything.
        EXPECT_TRUE(helpOptions.count("--version")) << help.toStdString();
        EXPECT_EQ(helpOptions, pageOptions) << "in --help only: " << Missing(helpOptions, pageOptions)
                                            << "\nin the page only: " << Missing(pageOptions, helpOptions);

        if (c.helpCommand.isEmpty())
            continue;
        const Names helpCommands = Matches(help, c.helpCommand);
        const Names pageCommands = Matches(page, c.pageCommand);
        EXPECT_TRUE(helpCommands.count("journal read")) << help.toStdString();
        EXPECT_EQ(helpCommands, pageCommands) << "in --help only: " << Missing(helpCommands, pageCommands)
                                              << "\nin the page only: " << Missing(pageCommands, helpCommands);
    }
}

}  // namespace
