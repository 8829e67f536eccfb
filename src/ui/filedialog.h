#pragma once
// Every file dialog of the station is made here. They are Qt's own dialogs (the
// same on every desktop), and they list files by name alone: a file's icon and
// type come from its name, never from reading it. Opening and closing a file
// the station's records connection has open would drop that connection's locks
// (closing any descriptor of a file drops every POSIX lock the process holds on
// it), and another program sharing the records file would then write under the
// station's feet; so no dialog of ours ever opens the files it lists, nor lets
// the operator choose the station's records file to load or save.

#include <QFileDialog>
#include <QString>
#include <QStringList>

class QWidget;

namespace tamrisk {

// What a file dialog is for and what it offers.
struct FileDialogSetup {
    QString caption{};
    QString objectName{};
    // True: any name, to save into; false: an existing file, to open.
    bool save = false;
    // The folder it opens in; empty: the current folder.
    QString folder{};
    QStringList nameFilters{};  // the first is chosen; none: every file
    QString defaultSuffix{};
    // True when the window asks its own question before replacing a file.
    bool ownOverwriteQuestion = false;
    // True when "*.bin" also lists NAME.BIN, as on the printer's home system.
    bool anyCase = false;
};

// A file dialog over `parent` (which owns it) set up as `setup` says. Never fails.
// A file kept from the dialogs is refused with a message, the dialog staying open.
QFileDialog* NewFileDialog(QWidget* parent, const FileDialogSetup& setup);

// Keeps the records file `file` and its companions (-wal, -shm, -journal) from
// every file dialog's choice from now on: only SQLite opens them.
void KeepFromFileDialogs(const QString& file);

}  // namespace tamrisk
