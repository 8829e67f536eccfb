#include "hexview.h"

#include "hexdump.h"
#include "textcodec.h"

#include <QPlainTextEdit>
#include <QTextDocument>

namespace tamrisk {

HexView::HexView(QPlainTextEdit* view, QObject* parent) : BatchedView(view, parent) {
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
}

int HexView::LineCount() {
    Flush();
    return m_view->document()->isEmpty() ? 0 : m_view->document()->blockCount();
}

void HexView::WriteLines(std::span<const ResultLine> lines) {
    std::string bytes;
    bytes.reserve(lines.size() * (HexLineLength + 1));
    for (const ResultLine& line : lines) {
        if (!bytes.empty())
            bytes += '\n';
        bytes += line.text;
    }
    QString text = DecodeCp1251(bytes);
    // A character the font draws without width (DEL, the soft hyphen) or not
    // at all would shift the columns after it: shown as "." as the control
    // characters are.
    for (QChar& c : text)
        if (!c.isPrint() && c != u'\n')
            c = u'.';
    // One append for the whole batch: one repaint rather than one a line.
    m_view->appendPlainText(text);
}

}  // namespace tamrisk
