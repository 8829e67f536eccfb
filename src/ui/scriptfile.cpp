#include "scriptfile.h"

#include "editorlines.h"
#include "filedialog.h"
#include "host.h"
#include "inputfile.h"
#include "savefile.h"
#include "scriptlist.h"
#include "textcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <utility>

namespace tamrisk {

namespace {

// A description longer than this is cut.
constexpr std::size_t MaxScriptDescription = 255;

}  // namespace

std::optional<ScriptFileText> ReadScriptFile(Host& host, const QString& fileName) {
    std::string error;
    const auto bytes = ReadInputFile(QFile::encodeName(fileName).toStdString(), error);
    if (!bytes) {
        host.showMessageDetail("Can't read script file", "Error", fileName.toStdString() + ": " + error);
        return std::nullopt;
    }
    const std::vector<std::string> lines = SplitScriptLines(*bytes);
    ScriptFileText script;
    for (const std::string& line : lines)
        if (!line.empty() && line.front() == '@') {
            script.description = line.substr(1, MaxScriptDescription);
            break;
        }
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        text.append(DecodeCp1251(line));
    script.text = text.join(u'\n');
    return script;
}

std::optional<std::vector<std::string>> EncodeScriptLines(Host& host, const QStringList& lines, int firstLine,
                                                          const char* refusal) {
    std::vector<std::string> encoded;
    encoded.reserve(static_cast<std::size_t>(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        qsizetype bad = 0;
        std::optional<std::string> bytes = EncodeCp1251(lines[i], &bad);
        if (!bytes) {
            const char32_t character = lines[i].mid(bad).toUcs4().value(0);
            char text[160];
            std::snprintf(text, sizeof text, "Line %d holds a character that Windows-1251 cannot carry; %s",
                          firstLine + static_cast<int>(i), refusal);
            char code[32];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
            const QString detail = QStringLiteral("\"%1\" (%2) in column %3")
                                       .arg(QString::fromUcs4(&character, 1), QLatin1String(code))
                                       .arg(bad + 1);
            host.showMessageDetail(text, "Error", detail.toStdString());
            return std::nullopt;
        }
        encoded.push_back(std::move(*bytes));
    }
    return encoded;
}

std::optional<std::vector<std::string>> ScriptBytes(const QTextDocument& document) {
    std::vector<std::string> lines;
    for (const QString& line : EditorLines(document, 0, EditorLineCount(document))) {
        std::optional<std::string> bytes = EncodeCp1251(line);
        if (!bytes)
            return std::nullopt;
        lines.push_back(std::move(*bytes));
    }
    return lines;
}

QFileDialog& ScriptFiles::Dialog(QFileDialog*& dialog, bool save) {
    // Made when first needed: a file dialog watches folders and keeps a
    // thread, which would cost every turn of the event loop during a run.
    // The station asks its own question before overwriting a script.
    if (dialog == nullptr)
        dialog =
            NewFileDialog(&m_window, {.caption = save ? QStringLiteral("Save Script to File")
                                                      : QStringLiteral("Load Script from File"),
                                      .objectName = save ? QStringLiteral("SaveFileDlg") : QStringLiteral("OpenFileDlg"),
                                      .save = save,
                                      .ownOverwriteQuestion = save});
    dialog->setNameFilters({QStringLiteral("FP commands (*.inp *.INP)"), QStringLiteral("All files (*)")});
    dialog->selectNameFilter(dialog->nameFilters().constFirst());
    dialog->setDefaultSuffix(QStringLiteral("INP"));
    dialog->setDirectory(QDir::currentPath());
    dialog->selectFile(QString());
    return *dialog;
}

std::optional<QString> ScriptFiles::AskToLoad() {
    QFileDialog& dialog = Dialog(m_openDialog, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> ScriptFiles::AskToSave() {
    QFileDialog& dialog = Dialog(m_saveDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString fileName = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(fileName) && !m_host.askYesNo("File exists. Overwrite?", "Save script"))
        return std::nullopt;
    return fileName;
}

bool ScriptFiles::Save(const QString& fileName, const QStringList& lines) {
    const auto bytes = EncodeScriptLines(m_host, lines, 1, "the script was not saved.");
    if (!bytes)
        return false;
    QString error;
    if (!SaveBytesToFile(fileName, JoinScriptLines(*bytes), error)) {
        m_host.showMessageDetail("Can't write script file", "Error", error.toStdString());
        return false;
    }
    return true;
}

}  // namespace tamrisk
