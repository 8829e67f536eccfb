#include "hexview.h"

#include "hexdump.h"
#include "textcodec.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

namespace tamrisk {

HexView::HexView(QPlainTextEdit* view, QObject* parent) : QObject(parent), m_view(view) {
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_timer.setSingleShot(true);
    m_timer.setInterval(FlushIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Flush(); });
}

QString HexView::Text() {
    Flush();
    return m_view->toPlainText();
}

int HexView::LineCount() {
    Flush();
    return m_view->document()->isEmpty() ? 0 : m_view->document()->blockCount();
}

void HexView::Clear() {
    m_dropping = true;
    Flush();
    m_dropping = false;
    m_timer.stop();
    m_view->clear();
}

void HexView::BatchStarted() { m_timer.start(); }

void HexView::WriteBatch(std::span<const ResultLine> lines) {
    m_timer.stop();
    if (m_dropping || lines.empty())
        return;
    const auto started = std::chrono::steady_clock::now();
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
    QScrollBar* bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum());
    if (batchWritten)
        batchWritten(lines.size(), std::chrono::steady_clock::now() - started);
}

}  // namespace tamrisk
