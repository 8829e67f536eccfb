#include "journalview.h"

#include "journaltext.h"
#include "textcodec.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tamrisk {

JournalView::JournalView(const JournalText& text, QPlainTextEdit* view, QObject* parent)
    : BatchedView(view, parent), m_text(text) {
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void JournalView::Reload() {
    Clear();
    for (std::size_t i = 0; i < m_text.LineCount(); ++i)
        LineAdded();
}

void JournalView::WriteLines(std::span<const ResultLine> lines) {
    // The batch's lines are the text's next ones, taken whole from the text.
    std::string bytes;
    const std::size_t end = std::min(m_shown + lines.size(), m_text.LineCount());
    for (std::size_t i = m_shown; i < end; ++i) {
        if (i > m_shown)
            bytes += '\n';
        bytes += m_text.Line(i);
    }
    QString text = DecodeCp1251(bytes);
    // A line end inside a printer's line would split its block in the view and
    // shift every position after it: shown as a blank.
    qsizetype at = 0;
    for (std::size_t i = m_shown; i < end; ++i) {
        const qsizetype length = static_cast<qsizetype>(m_text.Line(i).size());
        for (qsizetype k = at; k < at + length; ++k)
            if (text[k] == u'\r' || text[k] == u'\n')
                text[k] = u' ';
        at += length + 1;
    }
    m_shown = end;
    // One append for the whole batch: one repaint rather than one a line.
    m_view->appendPlainText(text);
}

int JournalView::Position(std::size_t offset) const {
    if (m_text.Empty())
        return 0;
    if (offset >= m_text.Bytes().size())
        return m_view->document()->characterCount() - 1;
    const std::size_t line = m_text.LineAt(offset);
    const std::size_t column = std::min(offset - m_text.LineStart(line), m_text.Line(line).size());
    return m_view->document()->findBlockByNumber(static_cast<int>(line)).position() + static_cast<int>(column);
}

std::size_t JournalView::Offset(int position) const {
    const QTextDocument& document = *m_view->document();
    if (m_text.Empty())
        return 0;
    if (position >= document.characterCount() - 1)
        return m_text.Bytes().size();
    const QTextBlock block = document.findBlock(position);
    return m_text.LineStart(static_cast<std::size_t>(block.blockNumber())) +
           static_cast<std::size_t>(position - block.position());
}

std::pair<std::size_t, std::size_t> JournalView::SelectedBytes() {
    Flush();
    const QTextCursor cursor = m_view->textCursor();
    return {Offset(cursor.selectionStart()), Offset(cursor.selectionEnd())};
}

void JournalView::SelectBytes(std::size_t start, std::size_t end) {
    Flush();
    QTextCursor cursor = m_view->textCursor();
    cursor.setPosition(Position(start));
    cursor.setPosition(Position(end), QTextCursor::KeepAnchor);
    m_view->setTextCursor(cursor);
}

}  // namespace tamrisk
