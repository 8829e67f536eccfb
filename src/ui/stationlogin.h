#pragma once
// People at the station. Where the line's records (RecordsRoute::Claims(),
// where every station's questions go) hold people, the station opens with the
// log-in dialog and works for the person logged in: their name and role in the
// status line, what the role may not use greyed out, the records and the
// stores' changes naming them. Log Out, or the idle log-out, brings the dialog
// back; Quit there closes the station. The records are asked on a thread of
// their own, waited for with the events processed, so the windows stay drawn
// while an Argon2id hash is checked or a line is waited for. Where the records
// hold nobody, nobody logs in and the station works as it always has.

#include "idlelogout.h"
#include "operatorstore.h"

#include <QString>

#include <memory>
#include <optional>

namespace tamrisk {

class StationRecords;
class StoreThread;
class TLogInDlg;
class TTestForm;

class StationLogIn {
public:
    // For `window` and its `records` (opened before Start).
    StationLogIn(TTestForm& window, StationRecords& records);
    ~StationLogIn();
    StationLogIn(const StationLogIn&) = delete;
    StationLogIn& operator=(const StationLogIn&) = delete;

    // Asks the records whether they hold people; when they do, or cannot tell
    // (the line out of reach, said in the dialog), the log-in dialog until
    // someone logs in. False when Quit was chosen there.
    bool Start();
    // Logs the person out and shows the dialog again (with `why`, when given);
    // Quit there closes the window.
    void LogOut(const QString& why = {});
    // The person logged in; none where nobody logs in (or between two people).
    const std::optional<Operator>& Person() const { return m_person; }
    IdleLogOut& Idle() { return *m_idle; }
    // The dialog, while it is there (it is made by the first log-in).
    TLogInDlg* Dialog() const { return m_dialog.get(); }

private:
    // Shows the dialog with `message` until someone logs in (true) or Quit (false).
    bool AskLogIn(const QString& message);
    // Makes `person` the one the window, the records and the idle log-out work for.
    void Apply(const std::optional<Operator>& person);
    StoreResult<LogInOutcome> Check(const std::string& id, const std::string& pin);

    TTestForm& m_window;
    StationRecords& m_records;
    std::unique_ptr<StoreThread> m_line;  // the people's questions; made by Start where records are kept
    std::unique_ptr<TLogInDlg> m_dialog;
    std::unique_ptr<IdleLogOut> m_idle;
    std::optional<Operator> m_person;
    std::optional<bool> m_anyPeople;  // unknown until the records answered
};

}  // namespace tamrisk
