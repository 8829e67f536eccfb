#include "statusline.h"

#include "stationrecords.h"

#include <QLabel>

#include <utility>

namespace tamrisk {

void StatusLine::ShowText(const QString& text) {
    m_label.setText(text);
    if (m_verdict == Verdict::Reason)
        m_verdict = Verdict::None;
}

void StatusLine::ShowOutcome(RecordOutcome outcome, const QString& reason) {
    const bool failed = outcome == RecordOutcome::Fail || outcome == RecordOutcome::Error;
    if (failed && !reason.isEmpty() && m_verdict != Verdict::RecordsNotKept) {
        if (m_verdict == Verdict::None)
            m_beforeReason = m_label.text();
        m_verdict = Verdict::Reason;
        m_label.setText(QStringLiteral("%1: %2").arg(OutcomeCaption(outcome), reason));
        m_label.setToolTip(m_label.text());  // the whole reason, where the panel cuts it
    } else if (outcome == RecordOutcome::Pass && m_verdict == Verdict::Reason) {
        m_verdict = Verdict::None;
        m_label.setText(std::exchange(m_beforeReason, QString()));
        m_label.setToolTip({});
    }
}

void StatusLine::ShowRecordsProblem(const QString& message) {
    m_label.setText(message);
    m_verdict = Verdict::RecordsNotKept;
}

void StatusLine::ShowClaimWait(const std::string& text) {
    if (text.empty()) {
        if (m_beforeWait)
            m_label.setText(*std::exchange(m_beforeWait, std::nullopt));
        return;
    }
    if (!m_beforeWait)
        m_beforeWait = m_label.text();
    m_label.setText(QString::fromStdString(text));
}

}  // namespace tamrisk
