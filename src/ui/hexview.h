#pragma once
// The memory readers' hex dump (FlashData): dump lines (Windows-1251) wait in a
// batch and go into the read-only view together on a short timer or at the
// next read of the view, so a read of 16,384 lines stays as fast at its end as
// at its start while the operator sees the lines in address order.

#include "batchedview.h"

#include <string_view>

class QPlainTextEdit;

namespace tamrisk {

class HexView : public BatchedView {
    Q_OBJECT
public:
    // `view` is the read-only QPlainTextEdit that shows the dump.
    explicit HexView(QPlainTextEdit* view, QObject* parent = nullptr);

    void AppendLine(std::string_view line) { AppendResultLine(line, ResultColour::Black); }
    // Lines in the view (after a flush).
    int LineCount();

protected:
    void WriteLines(std::span<const ResultLine> lines) override;
};

}  // namespace tamrisk
