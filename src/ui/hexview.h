#pragma once
// The memory readers' hex dump (FlashData): dump lines (Windows-1251) wait in a
// batch and go into the read-only view together on a short timer or at the
// next read of the view, so a read of 16,384 lines stays as fast at its end as
// at its start while the operator sees the lines in address order.

#include "linesink.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string_view>

class QPlainTextEdit;

namespace tamrisk {

class HexView : public QObject, public BatchingSink {
    Q_OBJECT
public:
    // `view` is the read-only QPlainTextEdit that shows the dump.
    explicit HexView(QPlainTextEdit* view, QObject* parent = nullptr);

    // Milliseconds a batch waits at most before it goes into the view.
    static constexpr int FlushIntervalMs = 100;

    void AppendLine(std::string_view line) { AppendResultLine(line, ResultColour::Black); }
    // The view's text (after a flush), lines separated by '\n'.
    QString Text();
    // Lines in the view (after a flush).
    int LineCount();
    // Empties the view and drops lines not yet shown.
    void Clear();

    // Told after each batch has gone into the view: its lines and the time
    // that took (what the view costs a read).
    std::function<void(std::size_t lines, std::chrono::nanoseconds spent)> batchWritten;

protected:
    void BatchStarted() override;
    void WriteBatch(std::span<const ResultLine> lines) override;

private:
    QPlainTextEdit* m_view;
    QTimer m_timer;
    bool m_dropping = false;  // Clear drops the waiting lines
};

}  // namespace tamrisk
