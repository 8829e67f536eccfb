#include "resultsview.h"

#include <QPlainTextEdit>

namespace tamrisk {

ResultsView::ResultsView(QPlainTextEdit* view, QObject* parent) : QObject(parent), m_view(view) {}
QString ResultsView::Text() { Flush(); return m_view->toPlainText(); }
void ResultsView::Clear() {}
void ResultsView::BatchStarted() {}
void ResultsView::WriteBatch(std::span<const ResultLine>) {}

}  // namespace tamrisk
