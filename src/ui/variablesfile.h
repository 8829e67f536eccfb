#pragma once
// The variables file the checks of every run read at its start: chosen in the
// Variables File dialog (VariablesDlg), named in the window's VarsPn, and kept
// in the settings.

#include <QString>

class QFileDialog;
class QLabel;
class QWidget;

namespace tamrisk {

class VariablesFileChoice {
public:
    static constexpr const char* Setting = "VariablesFile";

    // Names the file in `panel`; the dialog is made over `window` on first use.
    VariablesFileChoice(QWidget& window, QLabel& panel) : m_window(window), m_panel(panel) {}

    // The file (empty: none), made absolute, named in the panel (hidden when
    // none) and, with `remember`, kept in the settings.
    void Set(const QString& fileName, bool remember);
    // Asks in the dialog, opened at the file chosen now; the file picked is set and kept.
    void Ask();
    const QString& File() const { return m_file; }

private:
    QWidget& m_window;
    QLabel& m_panel;
    QString m_file;
    QFileDialog* m_dialog = nullptr;
};

}  // namespace tamrisk
