#pragma once
// The script editor's lines: how many it has, their texts, the lines a
// selection touches, the selection widened to whole lines, the line under a
// position, and the editor as the list a whole-script run reads and writes.

#include "scriptlist.h"

#include <QStringList>

#include <cstddef>
#include <string>

class QPlainTextEdit;
class QTextDocument;

namespace tamrisk {

// The editor's lines: its blocks, without the empty block after a final line break.
int EditorLineCount(const QTextDocument& document);
// The texts of lines `first` up to (not including) `end`, counted from 0.
QStringList EditorLines(const QTextDocument& document, int first, int end);

// Lines `first` up to (not including) `end`, counted from 0.
struct LineRange {
    int first = 0;
    int end = 0;
};
// The lines the editor's selection touches (a selection that ends at the start
// of a line does not touch it); the caret's line when nothing is selected.
LineRange SelectedLines(const QPlainTextEdit& editor);
// The text of the line holding character `position`, a position at the very
// start of a line included.
QString LineAt(const QTextDocument& document, int position);

// Widens the editor's selection to whole lines by the station's rule, which
// counts a line break as CR LF; an empty selection stays as it is.
void ExtendEditorSelection(QPlainTextEdit& editor);

// The editor as the list a whole-script run reads and writes back, so advanced
// serial numbers show in the editor at once. Its lines were checked to be
// Windows-1251 text before the run, and the editor is disabled during it.
class EditorScriptList : public ScriptList {
public:
    explicit EditorScriptList(QTextDocument& document) : m_document(document) {}

    std::size_t Count() const override;
    std::string Line(std::size_t index) const override;
    void ReplaceLine(std::size_t index, std::string line) override;

private:
    QTextDocument& m_document;
};

}  // namespace tamrisk
