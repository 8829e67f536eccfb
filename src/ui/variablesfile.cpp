#include "variablesfile.h"

#include "filedialog.h"
#include "settings.h"

#include <QFileInfo>
#include <QLabel>

namespace tamrisk {

void VariablesFileChoice::Set(const QString& fileName, bool remember) {
    m_file = fileName.isEmpty() ? QString() : QFileInfo(fileName).absoluteFilePath();
    if (remember)
        OpenSettingsStore()->setValue(QLatin1String(Setting), m_file);
    m_panel.setText(m_file.isEmpty() ? QString() : QStringLiteral("Variables: %1").arg(QFileInfo(m_file).fileName()));
    m_panel.setToolTip(m_file);
    m_panel.setVisible(!m_file.isEmpty());
}

void VariablesFileChoice::Ask() {
    if (m_dialog == nullptr)
        m_dialog = NewFileDialog(&m_window, {.caption = QStringLiteral("Variables File"),
                                             .objectName = QStringLiteral("VariablesDlg"),
                                             .save = false,
                                             .nameFilters = {QStringLiteral("Variables (*.vars *.txt)"),
                                                             QStringLiteral("All files (*)")}});
    if (!m_file.isEmpty())
        m_dialog->selectFile(m_file);
    if (m_dialog->exec() == QDialog::Accepted && !m_dialog->selectedFiles().isEmpty())
        Set(m_dialog->selectedFiles().constFirst(), true);
}

}  // namespace tamrisk
