#include "batchedview.h"

#include <QPlainTextEdit>
#include <QScrollBar>

namespace tamrisk {

BatchedView::BatchedView(QPlainTextEdit* view, QObject* parent) : QObject(parent), m_view(view) {
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_timer.setSingleShot(true);
    m_timer.setInterval(FlushIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Flush(); });
}

QString BatchedView::Text() {
    Flush();
    return m_view->toPlainText();
}

void BatchedView::Clear() {
    m_dropping = true;
    Flush();
    m_dropping = false;
    m_timer.stop();
    m_view->clear();
    Cleared();
}

void BatchedView::BatchStarted() { m_timer.start(); }

void BatchedView::WriteBatch(std::span<const ResultLine> lines) {
    m_timer.stop();
    if (m_dropping || lines.empty())
        return;
    const auto started = std::chrono::steady_clock::now();
    WriteLines(lines);
    QScrollBar* bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum());
    if (batchWritten)
        batchWritten(lines.size(), std::chrono::steady_clock::now() - started);
}

}  // namespace tamrisk
