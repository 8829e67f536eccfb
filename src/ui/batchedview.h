#pragma once
// A read-only text view fed through a line sink: lines wait in a batch and go
// into the view together on a short timer or at the next read of the view, so
// tens of thousands of lines cost one document edit and one repaint a batch,
// and the view stays as fast at its end as at its start.

#include "linesink.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <span>

class QPlainTextEdit;

namespace tamrisk {

class BatchedView : public QObject, public BatchingSink {
    Q_OBJECT
public:
    // `view` is the read-only QPlainTextEdit that shows the lines.
    explicit BatchedView(QPlainTextEdit* view, QObject* parent = nullptr);

    // Milliseconds a batch waits at most before it goes into the view.
    static constexpr int FlushIntervalMs = 100;

    // The view's text (after a flush), lines separated by '\n'.
    QString Text();
    // Empties the view and drops lines not yet shown.
    void Clear();

    // Told after each batch has gone into the view: its lines and the time
    // that took (what the view costs the work that feeds it).
    std::function<void(std::size_t lines, std::chrono::nanoseconds spent)> batchWritten;

protected:
    // Puts a batch (never empty) at the end of the view.
    virtual void WriteLines(std::span<const ResultLine> lines) = 0;
    // The view has been emptied.
    virtual void Cleared() {}

    QPlainTextEdit* m_view;

private:
    void BatchStarted() override;
    void WriteBatch(std::span<const ResultLine> lines) final;

    QTimer m_timer;
    bool m_dropping = false;  // Clear drops the waiting lines
};

}  // namespace tamrisk
