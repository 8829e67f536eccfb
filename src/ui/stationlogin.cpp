#include "stationlogin.h"

#include "login.h"
#include "stationrecords.h"
#include "storethread.h"
#include "tamriskfp.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QInputDialog>
#include <QTimer>

namespace tamrisk {

StationLogIn::StationLogIn(TTestForm& window, StationRecords& records)
    : m_window(window), m_records(records),
      m_idle(std::make_unique<IdleLogOut>([&window] { return window.ScriptRunning(); },
                                          [&window] { return window.Busy(); },
                                          [this] { LogOut(QStringLiteral("Logged out after %1 minutes without input")
                                                              .arg(m_idle->Limit().count())); })) {
    QObject::connect(&window.LogOutAction(), &QAction::triggered, &window, [this] { LogOut(); });
    QAction& idle = window.IdleLogOutAction();
    idle.setEnabled(false);
    QObject::connect(&idle, &QAction::triggered, &window, [this] {
        bool given = false;
        const int minutes = QInputDialog::getInt(
            &m_window, QStringLiteral("Idle Log-Out"),
            QStringLiteral("Minutes without keyboard or mouse before the person logged in is logged out:"),
            static_cast<int>(m_idle->Limit().count()), 1, static_cast<int>(IdleLogOut::MaxIdleMinutes.count()), 1,
            &given);
        if (given)
            m_idle->SetLimit(std::chrono::minutes(minutes));
    });
}

StationLogIn::~StationLogIn() = default;

bool StationLogIn::Start() {
    const QString location = m_records.LineQuestions();
    if (location.isEmpty())
        return true;  // records off or not kept: nobody to log in
    m_line = std::make_unique<StoreThread>(location, QStringLiteral("people"));
    const StoreResult<bool> any = m_line->Ask<bool>([](RecordStore& store) { return store.Operators().AnyOperators(); });
    if (any && !*any) {
        m_anyPeople = false;
        return true;
    }
    m_anyPeople = any ? std::optional(true) : std::nullopt;
    m_window.IdleLogOutAction().setEnabled(true);
    return AskLogIn(any ? QString() : LogInMessage(any.error()));
}

StoreResult<LogInOutcome> StationLogIn::Check(const std::string& id, const std::string& pin) {
    if (!m_anyPeople) {
        // The line was out of reach at the start: whether anybody logs in here is asked first.
        const StoreResult<bool> any =
            m_line->Ask<bool>([](RecordStore& store) { return store.Operators().AnyOperators(); });
        if (!any)
            return any.error();
        m_anyPeople = *any;
        if (!*any)
            return LogInOutcome{.verdict = LogInOutcome::Verdict::Accepted};
    }
    return m_line->Ask<LogInOutcome>([&](RecordStore& store) {
        return store.Operators().LogIn(id, pin, QDateTime::currentMSecsSinceEpoch());
    });
}

bool StationLogIn::AskLogIn(const QString& message) {
    if (!m_dialog) {
        m_dialog = std::make_unique<TLogInDlg>(
            [this](const std::string& id, const std::string& pin) { return Check(id, pin); }, &m_window);
    }
    m_dialog->Clear(message);
    if (m_dialog->exec() != QDialog::Accepted)
        return false;
    Apply(m_dialog->Person());
    return true;
}

void StationLogIn::Apply(const std::optional<Operator>& person) {
    m_person = person;
    m_window.SetPerson(person);
    m_records.SetPerson(person);
    if (person)
        m_idle->Start();
    else
        m_idle->Stop();
}

void StationLogIn::LogOut(const QString& why) {
    if (!m_person || m_window.ScriptRunning())
        return;
    Apply(std::nullopt);
    if (!AskLogIn(why)) {
        // Quit: the window closes once this call has returned to the events.
        QTimer::singleShot(0, &m_window, [this] { m_window.close(); });
    }
}

}  // namespace tamrisk
