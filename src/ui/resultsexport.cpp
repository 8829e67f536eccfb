#include "resultsexport.h"

#include "filedialog.h"
#include "savefile.h"

#include <QTextBlock>
#include <QTextDocument>

#include <memory>

namespace tamrisk {

QString ResultsFileText(const QTextDocument& document, bool html) {
    QString text;
    if (html)
        text = QStringLiteral("<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>Script execution results"
                              "</title></head>\n<body>\n<pre style=\"font-weight: bold\">\n");
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        // The view keeps an empty line below the last one logged.
        if (!block.next().isValid() && block.text().isEmpty())
            break;
        if (html)
            text += QStringLiteral("<span style=\"color: %1\">%2</span>\n")
                        .arg(block.charFormat().foreground().color().name(), block.text().toHtmlEscaped());
        else
            text += block.text() + u'\n';
    }
    if (html)
        text += QStringLiteral("</pre>\n</body>\n</html>\n");
    return text;
}

bool WriteResultsFile(const QTextDocument& document, const QString& fileName, bool html, QString& error) {
    return SaveBytesToFile(fileName, ResultsFileText(document, html).toStdString(), error);
}

std::optional<ResultsFileChoice> AskResultsFile(QWidget* parent) {
    const QString textFilter = QStringLiteral("Text (*.txt)");
    const QString htmlFilter = QStringLiteral("HTML with colours (*.html *.htm)");
    const std::unique_ptr<QFileDialog> owned(NewFileDialog(parent, {.caption = QStringLiteral("Save Results"),
                                                                    .objectName = QStringLiteral("SaveResultsDlg"),
                                                                    .save = true,
                                                                    .nameFilters = {textFilter, htmlFilter},
                                                                    .defaultSuffix = QStringLiteral("txt")}));
    QFileDialog& dialog = *owned;
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, htmlFilter](const QString& filter) {
        dialog.setDefaultSuffix(filter == htmlFilter ? QStringLiteral("html") : QStringLiteral("txt"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ResultsFileChoice{dialog.selectedFiles().constFirst(), dialog.selectedNameFilter() == htmlFilter};
}

}  // namespace tamrisk
