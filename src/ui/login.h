#pragma once
// The log-in dialog (TLogInDlg, "Log In") of a station whose records hold
// people: the ID, typed or scanned (a scanner types it and Enter, which moves
// on to the PIN), the PIN (shown as dots; Enter logs in), Log In and Quit.
// The check is the caller's (the records' thread, waited for with the events
// processed); the dialog stays drawn meanwhile and tells why a log-in was
// refused. The PIN box is emptied after every try; the PIN is kept nowhere else.

#include "operatorstore.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TLogInDlg;
}

namespace tamrisk {

// What the dialog says of a log-in that was not accepted; empty for an accepted one.
QString LogInMessage(const StoreResult<LogInOutcome>& outcome);
// What it says when the records could not be asked.
QString LogInMessage(const StoreError& failure);

class TLogInDlg : public QDialog {
    Q_OBJECT
public:
    // Checks an ID and PIN: the outcome, or why it could not be checked. An
    // Accepted outcome without a person means nobody logs in here (the
    // records hold no people).
    using Check = std::function<StoreResult<LogInOutcome>(const std::string& id, const std::string& pin)>;

    explicit TLogInDlg(Check check, QWidget* parent = nullptr);
    ~TLogInDlg() override;

    // Empty boxes, `message` shown (a reason the dialog is back), the ID box focused.
    void Clear(const QString& message = {});
    // The person of the last accepted log-in; none when nobody logs in here.
    const std::optional<Operator>& Person() const { return m_person; }
    // True while a check is under way.
    bool Checking() const { return m_checking; }

public slots:
    // Refused while a check is under way: the answer is awaited first.
    void reject() override;

private slots:
    void LogInBtClick();

private:
    std::unique_ptr<Ui::TLogInDlg> ui;
    Check m_check;
    std::optional<Operator> m_person;
    bool m_checking = false;
};

}  // namespace tamrisk
