#pragma once
// Headless Chromium driven over the DevTools protocol (a WebSocket), for tests
// that read a page as a person would once its scripts ran: one tab, navigated,
// asked JavaScript questions, photographed. Dialogs the page opens are
// dismissed and kept in Dialogs(), so a test can tell that none opened.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWebSocket>

#include <functional>
#include <optional>

namespace tamrisk::testing {

class CdpBrowser {
public:
    // Chromium as Debian installs it; empty when it is not installed.
    static QString Executable();

    // Starts the browser and opens a tab; Problem() says why when that failed.
    CdpBrowser();
    ~CdpBrowser();
    CdpBrowser(const CdpBrowser&) = delete;
    CdpBrowser& operator=(const CdpBrowser&) = delete;

    const QString& Problem() const { return m_problem; }

    // Sends `method` to the tab; its result, or empty (with Problem() set) on
    // an error or no answer within `timeoutMs`.
    std::optional<QJsonObject> Send(const QString& method, const QJsonObject& params = {}, int timeoutMs = 10000);
    // Opens `url` in the tab and waits until it has loaded.
    bool Navigate(const QString& url, int timeoutMs = 30000);
    // The value of `expression` (a promise's, awaited), or undefined (null
    // JSON) when it threw.
    QJsonValue Evaluate(const QString& expression);
    // Asks `expression` again every 50 ms until it is true; false after `timeoutMs`.
    bool WaitFor(const QString& expression, int timeoutMs);
    // A PNG of the tab as shown, `width` x `height` CSS pixels.
    QByteArray Screenshot(int width, int height);
    // The messages of the dialogs (alert, confirm, prompt) the pages opened.
    const QStringList& Dialogs() const { return m_dialogs; }

private:
    void OnMessage(const QString& text);

    QTemporaryDir m_profile;
    QProcess m_chromium;
    QWebSocket m_socket;
    QString m_session, m_problem;
    int m_nextId = 0;
    QJsonObject m_answer;
    int m_waitingFor = -1;
    bool m_answered = false;
    QStringList m_dialogs;
};

}  // namespace tamrisk::testing
