// tamrisk-cli dashboard: serves the line's web page over the records until
// SIGINT or SIGTERM.

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "dashboardserver.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <optional>
#include <ostream>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tamrisk {

namespace {

constexpr const char* DefaultListen = "127.0.0.1:8080";

// A stop signal written to a socket that the event loop watches, so that the
// server ends between requests.
int g_stopWriter = -1;

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopWriter, &byte, 1);
}

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};

// "ADDRESS:PORT", the address an IPv4 or a bracketed IPv6 address or
// "localhost", the port 0 (any free one) to 65535.
std::optional<ListenAddress> ParseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto port = ParseWholeNumber(text.substr(colon + 1), 0, 65535);
    if (!port)
        return std::nullopt;
    ListenAddress listen;
    listen.port = static_cast<quint16>(*port);
    if (host == "localhost")
        listen.address = QHostAddress(QHostAddress::LocalHost);
    else if (!listen.address.setAddress(QString::fromStdString(host)))
        return std::nullopt;
    return listen;
}

}  // namespace

int DashboardCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "listen"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "dashboard takes no argument besides its options");
    const std::string listenText = args.value("listen").value_or(DefaultListen);
    const std::optional<ListenAddress> listen = ParseListen(listenText);
    if (!listen)
        return UsageError(err, "--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8080 or [::1]:8080");

    const QString location = RecordsLocation(args);
    if (location.isEmpty()) {
        CliError(err, "records are off");
        return CliUsage;
    }
    // Refused at once when there is nothing to show; a database out of reach
    // is served all the same, the page saying so until it comes back.
    {
        RecordStore store;
        const StoreResult<void> opened = store.OpenToRead(location, RecordStore::Reading::ChangeNothing);
        if (!opened && !opened.error().OutOfReach())
            return StoreFailed(err, "cannot open records", opened.error());
    }

    int stopPair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPair) != 0) {
        CliError(err, "cannot watch for stop signals");
        return CliUsage;
    }
    g_stopWriter = stopPair[0];
    ::fcntl(stopPair[0], F_SETFL, O_NONBLOCK);
    QSocketNotifier stopNotifier(stopPair[1], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A browser that goes away mid-answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    int status = CliOk;
    {
        DashboardServer server(location, InstalledChartJs());
        QString error;
        if (!server.Listen(listen->address, listen->port, error)) {
            CliError(err, "cannot listen on " + listenText + ": " + error.toStdString());
            status = CliUsage;
        } else {
            const QString host = listen->address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QStringLiteral("[%1]").arg(listen->address.toString())
                                     : listen->address.toString();
            out << "serving the records at " << RecordStore::ShownLocation(location).toStdString() << " on http://"
                << host.toStdString() << ':' << server.Port() << "/" << std::endl;
            QCoreApplication::exec();
        }
    }
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    g_stopWriter = -1;
    ::close(stopPair[0]);
    ::close(stopPair[1]);
    return status;
}

}  // namespace tamrisk
