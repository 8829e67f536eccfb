#include "filedialog.h"

#include <QFileIconProvider>
#include <QIcon>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QWidget>

namespace tamrisk {

namespace {

// Icons and types from the file's name alone. The dialog's model asks its
// provider for the icon and type of every file it takes in (a folder listed or
// listed again when a file comes or goes, a path typed, a rename, a new
// folder), and that is all it learns of a file beyond its name and stat. Qt's
// own provider asks the MIME database, which reads the file when its name is
// not enough (records.sqlite-wal, records.sqlite-shm), and the desktop's theme
// may do the same; this one never opens, reads or closes a listed file. It is a
// child of its dialog, made after the dialog's model, so it outlives the model.
class NameOnlyIconProvider final : public QObject, public QFileIconProvider {
public:
    explicit NameOnlyIconProvider(QObject* parent) : QObject(parent) {}

    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot())
            return icon(Drive);
        if (info.isDir())
            return icon(Folder);
        const QMimeType mime = MimeOf(info);
        QIcon themed = QIcon::fromTheme(mime.iconName());
        if (themed.isNull())
            themed = QIcon::fromTheme(mime.genericIconName());
        return themed.isNull() ? icon(File) : themed;
    }

    QString type(const QFileInfo& info) const override {
        if (info.isRoot())
            return QStringLiteral("Drive");
        if (info.isDir())
            return QStringLiteral("Folder");
        const QMimeType mime = MimeOf(info);
        if (!mime.isDefault() && !mime.comment().isEmpty())
            return mime.comment();
        return info.suffix().isEmpty() ? QStringLiteral("File") : info.suffix() + QStringLiteral(" File");
    }

private:
    QMimeType MimeOf(const QFileInfo& info) const {
        return m_mimes.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    }

    QMimeDatabase m_mimes;
};

// The files kept from the dialogs' choice, as absolute paths; the windows' thread's alone.
QStringList& KeptFiles() {
    static QStringList files;
    return files;
}

bool IsKept(const QString& file) {
    const QFileInfo info(file);
    for (const QString& kept : KeptFiles())
        if (info.absoluteFilePath() == kept ||
            (info.exists() && info.canonicalFilePath() == QFileInfo(kept).canonicalFilePath()))
            return true;
    return false;
}

class FileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        for (const QString& file : selectedFiles())
            if (IsKept(file)) {
                QMessageBox::warning(this, windowTitle().isEmpty() ? QStringLiteral("Tamrisk") : windowTitle(),
                                     QStringLiteral("%1 belongs to the station's records: choose another file.")
                                         .arg(QDir::toNativeSeparators(file)));
                return;
            }
        QFileDialog::accept();
    }
};

}  // namespace

void KeepFromFileDialogs(const QString& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        if (!KeptFiles().contains(path + QLatin1String(suffix)))
            KeptFiles().append(path + QLatin1String(suffix));
}

QFileDialog* NewFileDialog(QWidget* parent, const FileDialogSetup& setup) {
    auto* dialog = new FileDialog(parent, setup.caption, setup.folder.isEmpty() ? QDir::currentPath() : setup.folder);
    dialog->setObjectName(setup.objectName);
    // Before the dialog first lets events through: the folder it lists is taken
    // in then, file by file, through the provider.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(new NameOnlyIconProvider(dialog));
    dialog->setAcceptMode(setup.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(setup.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, setup.ownOverwriteQuestion);
    if (!setup.nameFilters.isEmpty()) {
        dialog->setNameFilters(setup.nameFilters);
        dialog->selectNameFilter(setup.nameFilters.constFirst());
    }
    if (setup.anyCase)
        dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
    dialog->setDefaultSuffix(setup.defaultSuffix);
    return dialog;
}

}  // namespace tamrisk
