#pragma once
// The journal window's view (JnlData) over the window's JournalText: the lines
// appended to the text go into the read-only view in batches, decoded from
// Windows-1251, so a read of tens of thousands of lines stays as fast at its
// end as at its start. The view holds the text's lines one to a block, one
// character a byte, so a position in the view maps to a byte of the text.

#include "batchedview.h"

#include <cstddef>
#include <string_view>
#include <utility>

class QPlainTextEdit;

namespace tamrisk {

class JournalText;

class JournalView : public BatchedView {
    Q_OBJECT
public:
    // `text` is the window's text; `view` shows it.
    JournalView(const JournalText& text, QPlainTextEdit* view, QObject* parent = nullptr);

    // The line just appended to the text goes to the end of the view.
    void LineAdded() { AppendResultLine({}, ResultColour::Black); }
    // Empties the view and fills it anew from the whole text.
    void Reload();

    // The view's selection as byte offsets [start, end) into the text (after a
    // flush). A selection that crosses the end of a line holds its CR LF; one
    // that reaches the end of the view reaches the end of the text.
    std::pair<std::size_t, std::size_t> SelectedBytes();
    // Selects the bytes [start, end) of the text in the view.
    void SelectBytes(std::size_t start, std::size_t end);

protected:
    void WriteLines(std::span<const ResultLine> lines) override;
    void Cleared() override { m_shown = 0; }

private:
    int Position(std::size_t offset) const;
    std::size_t Offset(int position) const;

    const JournalText& m_text;
    std::size_t m_shown = 0;  // lines of the text in the view
};

}  // namespace tamrisk
