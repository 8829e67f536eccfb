#pragma once
// The main window's status line (StatusPn) and what it shows: the window's own
// text (the script file loaded or saved last), a failed or erroneous run's
// reason over it until a run passes, a claim's wait over either while the wait
// lasts, a unit refused entry or put on hold (in red, as a reason is kept),
// and the message that records are not kept, which no later run's reason covers.

#include "record.h"

#include <QPalette>
#include <QString>

#include <optional>
#include <string>

class QLabel;

namespace tamrisk {

class StatusLine {
public:
    // What the line tells of runs.
    enum class Verdict {
        None,            // no reason shown
        Reason,          // a failed run's reason, until a run passes
        RecordsNotKept,  // records are not kept: no run's reason is shown any more
    };

    explicit StatusLine(QLabel& label);

    // The window's own text; a reason shown is forgotten, not restored later.
    void ShowText(const QString& text);
    // A run's outcome: a failed or erroneous run with a reason shows
    // "CAPTION: reason" (the whole of it also as the tooltip); a pass shows
    // again what the line said before the first reason.
    void ShowOutcome(RecordOutcome outcome, const QString& reason);
    // What the line's process says of the unit, in red, kept as a failed run's
    // reason is: "REFUSED: reason" for a unit refused entry, or the hold a run made.
    void ShowAlarm(const QString& text);
    // The one message that records are not kept.
    void ShowRecordsProblem(const QString& message);
    // A claim's wait: its text while it lasts; empty when it is over, which
    // shows again what the line said before the wait.
    void ShowClaimWait(const std::string& text);

    Verdict Current() const { return m_verdict; }

private:
    // Shows `text` in the line's own colour, or in red.
    void Show(const QString& text, bool red = false);

    QLabel& m_label;
    QPalette m_palette;                    // the line's own colours
    Verdict m_verdict = Verdict::None;
    QString m_beforeReason;                // the text a pass shows again, in Reason
    std::optional<QString> m_beforeWait;   // the text the end of a wait shows again
};

}  // namespace tamrisk
