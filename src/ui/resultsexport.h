#pragma once
// The results view written to a file (Save Results): plain UTF-8 text, or an
// HTML page with each line in its colour, and the dialog that asks for the file
// and its kind.

#include <QString>

#include <optional>

class QTextDocument;
class QWidget;

namespace tamrisk {

// The view's lines, each followed by a line break (the empty line the view
// keeps below the last one logged left out); with `html`, a page that shows
// each line, escaped, in its colour.
QString ResultsFileText(const QTextDocument& document, bool html);
// Writes ResultsFileText to `fileName` in one step; false with `error` on failure.
bool WriteResultsFile(const QTextDocument& document, const QString& fileName, bool html, QString& error);

struct ResultsFileChoice {
    QString fileName;
    bool html = false;
};
// Asks in the Save Results dialog (SaveResultsDlg) over `parent` for the file
// and whether it is HTML with colours; nothing when the operator cancels.
std::optional<ResultsFileChoice> AskResultsFile(QWidget* parent);

}  // namespace tamrisk
