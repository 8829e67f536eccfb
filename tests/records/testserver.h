#pragma once
// A PostgreSQL server of a test's own (scripts/test-postgres.sh), which the test
// may halt, resume or reconfigure without disturbing the tests that share the
// suite's server. Tests that use it skip where the suite's server is not made by
// that script (TAMRISK_TEST_POSTGRESQL_DIR unset).

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace tamrisk::testing {

class PrivateServer {
public:
    enum class Listen { Socket, SocketAndTls };

    // Starts the server; with SocketAndTls it takes TLS connections on 127.0.0.1
    // too, with a certificate of an authority of its own.
    explicit PrivateServer(Listen listen = Listen::Socket) {
        QStringList args = {QStringLiteral("start")};
        if (listen == Listen::SocketAndTls)
            args << QStringLiteral("--tls");
        const QString exports = Script(args);
        static const QRegularExpression value(QStringLiteral("export (TAMRISK_TEST_POSTGRESQL\\w*)='([^']*)'"));
        for (auto match = value.globalMatch(exports); match.hasNext();) {
            const auto found = match.next();
            const QString name = found.captured(1);
            (name == QLatin1String("TAMRISK_TEST_POSTGRESQL")       ? m_url
             : name == QLatin1String("TAMRISK_TEST_POSTGRESQL_TLS") ? m_tlsUrl
             : name == QLatin1String("TAMRISK_TEST_POSTGRESQL_CA")  ? m_authority
                                                                    : m_folder) = found.captured(2);
        }
    }
    ~PrivateServer() {
        if (!m_folder.isEmpty())
            Script({"stop", m_folder});
    }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // The database of the role `tamrisk` (which may make roles) over the Unix socket.
    QString Url() const { return m_url; }
    // The same over TCP to 127.0.0.1, without TLS settings; empty without SocketAndTls.
    QString TlsUrl() const { return m_tlsUrl; }
    // The certificate of the authority that signed the server's.
    QString Authority() const { return m_authority; }
    void Halt() { Script({"halt", m_folder}); }
    void Resume() { Script({"resume", m_folder}); }

private:
    // Runs scripts/test-postgres.sh with `args`; its stdout.
    QString Script(const QStringList& args) {
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        script.start(QStringLiteral(TAMRISK_TEST_POSTGRES_SCRIPT), args);
        const bool ended = script.waitForFinished(60000);
        EXPECT_TRUE(ended && script.exitCode() == 0) << "test-postgres.sh " << args.join(' ').toStdString();
        return QString::fromUtf8(script.readAllStandardOutput());
    }

    QString m_url, m_tlsUrl, m_authority, m_folder;
};

}  // namespace tamrisk::testing
