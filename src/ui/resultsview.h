#pragma once
// The results view's sink (FPData): lines appended through AppendResultLine
// wait in a batch and go into the read-only view together on a short timer or
// at the next read of the view, each line in its colour, in the order logged.

#include "linesink.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

namespace tamrisk {

class ResultsView : public QObject, public BatchingSink {
    Q_OBJECT
public:
    // `view` is the read-only QPlainTextEdit that shows the log.
    explicit ResultsView(QPlainTextEdit* view, QObject* parent = nullptr);

    // Milliseconds a batch waits at most before it goes into the view.
    static constexpr int FlushIntervalMs = 100;

    // The view's text (after a flush), lines separated by '\n'.
    QString Text();
    // Empties the view and drops lines not yet shown.
    void Clear();

protected:
    void BatchStarted() override;
    void WriteBatch(std::span<const ResultLine> lines) override;

private:
    QPlainTextEdit* m_view;
    QTimer m_timer;
    qsizetype m_lines = 0;  // in the view; a text's own line breaks start more
    bool m_dropping = false;  // Clear drops the waiting lines
};

}  // namespace tamrisk
