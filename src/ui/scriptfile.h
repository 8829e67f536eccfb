#pragma once
// The main window's script files: the Load and Save dialogs, a script file read
// into the editor's text and its description, and the editor's lines written as
// the station's 8-bit text (Windows-1251), refused with the line and column of a
// character that it cannot carry.

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QTextDocument;
class QWidget;

namespace tamrisk {

class Host;

// A script file as the editor shows it.
struct ScriptFileText {
    QString text;  // its lines decoded from Windows-1251, joined by '\n'
    // The text after the '@' of its first description line, at most 255 bytes.
    std::string description;
};

// Reads the script file `fileName`; nothing, after telling the operator why
// through `host`, when it cannot be read.
std::optional<ScriptFileText> ReadScriptFile(Host& host, const QString& fileName);

// `lines` as Windows-1251 text; nothing, after telling the operator through
// `host` which line (numbered from `firstLine`) holds a character it cannot
// carry and that `refusal` ("the script was not run."), when one does.
std::optional<std::vector<std::string>> EncodeScriptLines(Host& host, const QStringList& lines, int firstLine,
                                                          const char* refusal);
// The editor's lines as Windows-1251 text; nothing, silently, when one cannot be carried.
std::optional<std::vector<std::string>> ScriptBytes(const QTextDocument& document);

// The Load and Save dialogs (OpenFileDlg, SaveFileDlg) over the main window and
// the files they choose.
class ScriptFiles {
public:
    ScriptFiles(QWidget& window, Host& host) : m_window(window), m_host(host) {}

    // The file the operator picks to load; nothing when the dialog is cancelled.
    std::optional<QString> AskToLoad();
    // The file the operator picks to save into; nothing when the dialog is
    // cancelled or the operator will not overwrite the file picked.
    std::optional<QString> AskToSave();
    // Writes `lines` as a script file, each line ending in CR LF, in one step:
    // the old file stays as it was unless the whole new text is written. False
    // after telling the operator why.
    bool Save(const QString& fileName, const QStringList& lines);

private:
    // The dialog, made on first use and set up afresh for scripts each time.
    QFileDialog& Dialog(QFileDialog*& dialog, bool save);

    QWidget& m_window;
    Host& m_host;
    QFileDialog* m_openDialog = nullptr;
    QFileDialog* m_saveDialog = nullptr;
};

}  // namespace tamrisk
