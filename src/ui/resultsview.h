#pragma once
// The results view's sink (FPData): lines appended through AppendResultLine
// wait in a batch and go into the read-only view together on a short timer or
// at the next read of the view, each line in its colour, in the order logged.

#include "batchedview.h"

class QPlainTextEdit;

namespace tamrisk {

class ResultsView : public BatchedView {
    Q_OBJECT
public:
    // `view` is the read-only QPlainTextEdit that shows the log.
    explicit ResultsView(QPlainTextEdit* view, QObject* parent = nullptr);

protected:
    void WriteLines(std::span<const ResultLine> lines) override;
    void Cleared() override;

private:
    qsizetype m_lines = 0;  // in the view; a text's own line breaks start more
};

}  // namespace tamrisk
