#include "editorlines.h"

#include "selection.h"
#include "textcodec.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <vector>

namespace tamrisk {

int EditorLineCount(const QTextDocument& document) {
    const int blocks = document.blockCount();
    return document.lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

QStringList EditorLines(const QTextDocument& document, int first, int end) {
    QStringList lines;
    for (QTextBlock block = document.findBlockByNumber(first); block.isValid() && block.blockNumber() < end;
         block = block.next())
        lines.append(block.text());
    return lines;
}

LineRange SelectedLines(const QPlainTextEdit& editor) {
    const QTextDocument& document = *editor.document();
    const QTextCursor cursor = editor.textCursor();
    const int first = document.findBlock(cursor.selectionStart()).blockNumber();
    const int last = cursor.hasSelection() ? document.findBlock(cursor.selectionEnd() - 1).blockNumber() : first;
    return {first, last + 1};
}

QString LineAt(const QTextDocument& document, int position) { return document.findBlock(position).text(); }

// Positions are carried over to a text in which every line feed of the
// editor stands as CR LF, and back.
void ExtendEditorSelection(QPlainTextEdit& editor) {
    QTextCursor cursor = editor.textCursor();
    if (!cursor.hasSelection())
        return;
    const QTextDocument& document = *editor.document();
    std::string crlf;                    // only the line breaks matter to the rule
    std::vector<int> editorPosition;     // for each position of `crlf`
    std::vector<std::size_t> crlfPosition;  // for each position of the editor
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (int i = 0; i < block.length() - 1; ++i) {
            crlfPosition.push_back(crlf.size());
            editorPosition.push_back(block.position() + i);
            crlf += 'x';
        }
        if (block.next().isValid()) {
            crlfPosition.push_back(crlf.size());
            editorPosition.push_back(block.position() + block.length() - 1);
            editorPosition.push_back(block.position() + block.length() - 1);
            crlf += "\r\n";
        }
    }
    crlfPosition.push_back(crlf.size());
    editorPosition.push_back(document.characterCount() - 1);

    const TextSelection widened = ExtendSelectionToLines(
        crlf, {crlfPosition[static_cast<std::size_t>(cursor.selectionStart())],
               crlfPosition[static_cast<std::size_t>(cursor.selectionEnd())]});
    // The widened end stands after a line feed or at the end of the text.
    auto toEditor = [&](std::size_t at) {
        return at > 0 && crlf[at - 1] == '\n' ? editorPosition[at - 1] + 1 : editorPosition[at];
    };
    cursor.setPosition(toEditor(widened.start));
    cursor.setPosition(toEditor(widened.end), QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
}


std::size_t EditorScriptList::Count() const { return static_cast<std::size_t>(EditorLineCount(m_document)); }

std::string EditorScriptList::Line(std::size_t index) const {
    const QTextBlock block = m_document.findBlockByNumber(static_cast<int>(index));
    return EncodeCp1251(block.text()).value_or(std::string());
}

void EditorScriptList::ReplaceLine(std::size_t index, std::string line) {
    const QTextBlock block = m_document.findBlockByNumber(static_cast<int>(index));
    const QString text = DecodeCp1251(line);
    if (!block.isValid() || block.text() == text)
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(text);
}

}  // namespace tamrisk
