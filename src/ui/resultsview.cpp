#include "resultsview.h"

#include "textcodec.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <array>

namespace tamrisk {

namespace {

// One format per colour, made once: a run appends thousands of lines a second.
const QTextCharFormat& LineFormat(ResultColour colour) {
    static const std::array<QTextCharFormat, 6> formats = [] {
        std::array<QTextCharFormat, 6> made;
        for (int i = 0; i < static_cast<int>(made.size()); ++i) {
            const Rgb rgb = ColourRgb(static_cast<ResultColour>(i));
            made[static_cast<std::size_t>(i)].setForeground(QColor(rgb.red, rgb.green, rgb.blue));
        }
        return made;
    }();
    return formats.at(static_cast<std::size_t>(colour));
}

// The parts of one logged text between its own line breaks (CR LF, CR or LF):
// a duration that ends with CR LF gives its text and an empty line.
QStringList LineParts(const QString& text) {
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        parts.append(text.mid(from, i - from));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        from = i + 1;
    }
    parts.append(text.mid(from));
    return parts;
}

}  // namespace

ResultsView::ResultsView(QPlainTextEdit* view, QObject* parent) : BatchedView(view, parent) {}

void ResultsView::Cleared() { m_lines = 0; }

void ResultsView::WriteLines(std::span<const ResultLine> lines) {
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const ResultLine& line : lines) {
        const QTextCharFormat& format = LineFormat(line.colour);
        for (const QString& part : LineParts(DecodeCp1251(line.text))) {
            // The document starts with one empty block; the first line takes it.
            if (m_lines == 0)
                cursor.setBlockCharFormat(format);
            else
                cursor.insertBlock(QTextBlockFormat(), format);
            cursor.insertText(part, format);
            ++m_lines;
        }
    }
    cursor.endEditBlock();
}

}  // namespace tamrisk
