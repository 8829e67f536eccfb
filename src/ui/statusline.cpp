#include "statusline.h"

#include "recordsmodel.h"
#include "stationrecords.h"

#include <QLabel>

#include <utility>

namespace tamrisk {

StatusLine::StatusLine(QLabel& label) : m_label(label), m_palette(label.palette()) {}

void StatusLine::Show(const QString& text, bool red) {
    QPalette palette = m_palette;
    if (red)
        palette.setColor(QPalette::WindowText, OutcomeColour(RecordOutcome::Fail));
    m_label.setPalette(palette);
    m_label.setText(text);
}

void StatusLine::ShowText(const QString& text) {
    Show(text);
    if (m_verdict == Verdict::Reason)
        m_verdict = Verdict::None;
}

void StatusLine::ShowOutcome(RecordOutcome outcome, const QString& reason) {
    const bool failed = outcome == RecordOutcome::Fail || outcome == RecordOutcome::Error;
    if (failed && !reason.isEmpty() && m_verdict != Verdict::RecordsNotKept) {
        if (m_verdict == Verdict::None)
            m_beforeReason = m_label.text();
        m_verdict = Verdict::Reason;
        Show(QStringLiteral("%1: %2").arg(OutcomeCaption(outcome), reason));
        m_label.setToolTip(m_label.text());  // the whole reason, where the panel cuts it
    } else if (outcome == RecordOutcome::Pass && m_verdict == Verdict::Reason) {
        m_verdict = Verdict::None;
        Show(std::exchange(m_beforeReason, QString()));
        m_label.setToolTip({});
    }
}

void StatusLine::ShowAlarm(const QString& text) {
    if (m_verdict == Verdict::RecordsNotKept)
        return;
    if (m_verdict == Verdict::None)
        m_beforeReason = m_label.text();
    m_verdict = Verdict::Reason;
    Show(text, true);
    m_label.setToolTip(text);
}

void StatusLine::ShowRecordsProblem(const QString& message) {
    Show(message);
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
