#include "cdpbrowser.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace tamrisk::testing {

namespace {

// Runs the event loop until `done` or `timeoutMs` pass; `done` at the end.
bool Spin(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(10);
    for (QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired();)
        loop.exec();
    return done();
}

}  // namespace

QString CdpBrowser::Executable() { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }

CdpBrowser::CdpBrowser() {
    const QString program = Executable();
    if (program.isEmpty()) {
        m_problem = QStringLiteral("chromium is not installed");
        return;
    }
    m_chromium.setProcessChannelMode(QProcess::MergedChannels);
    m_chromium.start(program, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                               QStringLiteral("--disable-gpu"), QStringLiteral("--remote-debugging-port=0"),
                               QStringLiteral("--user-data-dir=") + m_profile.path(),
                               QStringLiteral("--no-first-run"), QStringLiteral("--lang=en-US"),
                               QStringLiteral("about:blank")});
    // The browser writes its port and the browser's path here once it listens.
    QFile active(m_profile.filePath(QStringLiteral("DevToolsActivePort")));
    QStringList lines;
    Spin(
        [&] {
            if (active.open(QIODevice::ReadOnly)) {
                lines = QString::fromUtf8(active.readAll()).split(u'\n', Qt::SkipEmptyParts);
                active.close();
            }
            return lines.size() >= 2 || m_chromium.state() == QProcess::NotRunning;
        },
        30000);
    if (lines.size() < 2) {
        m_problem = QStringLiteral("chromium did not start: ") + QString::fromUtf8(m_chromium.readAll());
        return;
    }
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& text) { OnMessage(text); });
    m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(lines[0], lines[1])));
    if (!Spin([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000)) {
        m_problem = QStringLiteral("cannot reach chromium's DevTools: ") + m_socket.errorString();
        return;
    }
    // A tab of its own, its messages in one session on the browser's socket.
    const auto target = Send(QStringLiteral("Target.createTarget"), {{"url", "about:blank"}});
    if (!target)
        return;
    const auto attached = Send(QStringLiteral("Target.attachToTarget"),
                               {{"targetId", target->value("targetId")}, {"flatten", true}});
    if (!attached)
        return;
    m_session = attached->value("sessionId").toString();
    if (!Send(QStringLiteral("Page.enable")) || !Send(QStringLiteral("Runtime.enable")))
        return;
}

CdpBrowser::~CdpBrowser() {
    // Closed as a person would close it, so that its helper processes end with
    // it rather than write into its profile after the browser has gone.
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.sendTextMessage(QStringLiteral("{\"id\":%1,\"method\":\"Browser.close\"}").arg(++m_nextId));
        m_socket.flush();
    }
    if (m_chromium.state() != QProcess::NotRunning && !m_chromium.waitForFinished(10000)) {
        m_chromium.terminate();
        if (!m_chromium.waitForFinished(5000))
            m_chromium.kill();
        m_chromium.waitForFinished(5000);
    }
    m_socket.close();
    // A helper may still be on its way out.
    Spin([this] { return m_profile.remove(); }, 5000);
}

void CdpBrowser::OnMessage(const QString& text) {
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QStringLiteral("id"))) {
        if (message.value("id").toInt() == m_waitingFor) {
            m_answer = message;
            m_answered = true;
        }
        return;
    }
    if (message.value("method").toString() == QLatin1String("Page.javascriptDialogOpening")) {
        m_dialogs << message.value("params").toObject().value("message").toString();
        // Answered without waiting: the page goes on as if a person closed it.
        QJsonObject close{{"id", ++m_nextId},
                          {"method", "Page.handleJavaScriptDialog"},
                          {"params", QJsonObject{{"accept", true}}}};
        if (!m_session.isEmpty())
            close.insert("sessionId", m_session);
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(close).toJson(QJsonDocument::Compact)));
    }
}

std::optional<QJsonObject> CdpBrowser::Send(const QString& method, const QJsonObject& params, int timeoutMs) {
    QJsonObject message{{"id", ++m_nextId}, {"method", method}, {"params", params}};
    if (!m_session.isEmpty())
        message.insert("sessionId", m_session);
    m_waitingFor = m_nextId;
    m_answered = false;
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    if (!Spin([this] { return m_answered; }, timeoutMs)) {
        m_problem = method + QStringLiteral(": no answer");
        return std::nullopt;
    }
    if (m_answer.contains(QStringLiteral("error"))) {
        m_problem = method + QStringLiteral(": ") +
                    QString::fromUtf8(QJsonDocument(m_answer.value("error").toObject()).toJson(QJsonDocument::Compact));
        return std::nullopt;
    }
    return m_answer.value("result").toObject();
}

bool CdpBrowser::Navigate(const QString& url, int timeoutMs) {
    if (!Send(QStringLiteral("Page.navigate"), {{"url", url}}, timeoutMs))
        return false;
    return WaitFor(QStringLiteral("document.readyState === 'complete' && location.href === %1")
                       .arg(QString::fromUtf8(QJsonDocument(QJsonArray{url}).toJson(QJsonDocument::Compact)).mid(1).chopped(1)),
                   timeoutMs);
}

QJsonValue CdpBrowser::Evaluate(const QString& expression) {
    const auto result = Send(QStringLiteral("Runtime.evaluate"),
                             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (!result || result->contains(QStringLiteral("exceptionDetails")))
        return QJsonValue();
    return result->value("result").toObject().value("value");
}

bool CdpBrowser::WaitFor(const QString& expression, int timeoutMs) {
    for (QDeadlineTimer deadline(timeoutMs);;) {
        if (Evaluate(expression).toBool())
            return true;
        if (deadline.hasExpired())
            return false;
        Spin([] { return false; }, 50);
    }
}

QByteArray CdpBrowser::Screenshot(int width, int height) {
    if (!Send(QStringLiteral("Emulation.setDeviceMetricsOverride"),
              {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}}))
        return {};
    // Charts follow the new size on the next frame.
    Spin([] { return false; }, 300);
    const auto shot = Send(QStringLiteral("Page.captureScreenshot"), {{"format", "png"}, {"captureBeyondViewport", true}});
    return shot ? QByteArray::fromBase64(shot->value("data").toString().toLatin1()) : QByteArray();
}

}  // namespace tamrisk::testing
