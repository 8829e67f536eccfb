#pragma once
// Files written in one step: the new content goes to a temporary file beside
// the target and replaces it only when every byte was written, so a full disk
// or a removed medium leaves an existing file as it was and is reported.

#include <QSaveFile>
#include <QString>

#include <memory>
#include <string_view>

namespace tamrisk {

// A file being written block by block. Opened unbuffered, so every write
// reaches the system at once and a short one is seen where it happened
// (buffered, Qt 6.4 can lose an error raised while committing).
class SaveFileWriter {
public:
    explicit SaveFileWriter(const QString& path);

    // False with Error() set when the temporary file cannot be made.
    bool Open();
    // Appends `bytes`; false (with Error()) when not all of them were written.
    bool Write(std::string_view bytes);
    // Replaces the target with what was written; false with Error() on failure.
    bool Commit();
    // Drops what was written; the target stays as it was.
    void Discard();

    // "<path>: <the system's reason>" of the last failure.
    QString Error() const { return m_error; }

private:
    void Fail();

    QString m_path;
    std::unique_ptr<QSaveFile> m_file;
    QString m_error;
};

// Writes `bytes` as the whole content of `path`; on failure `error` holds
// "<path>: <reason>" and an existing file is unchanged.
bool SaveBytesToFile(const QString& path, std::string_view bytes, QString& error);

}  // namespace tamrisk
