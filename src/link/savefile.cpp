#include "savefile.h"

namespace tamrisk {

SaveFileWriter::SaveFileWriter(const QString& path) : m_path(path), m_file(std::make_unique<QSaveFile>(path)) {}

void SaveFileWriter::Fail() {
    m_error = m_path + QStringLiteral(": ") + m_file->errorString();
}

bool SaveFileWriter::Open() {
    if (m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return true;
    Fail();
    return false;
}

bool SaveFileWriter::Write(std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const qint64 written = m_file->write(bytes.data() + done, static_cast<qint64>(bytes.size() - done));
        if (written <= 0) {
            Fail();
            m_file->cancelWriting();
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool SaveFileWriter::Commit() {
    if (m_file->commit())
        return true;
    Fail();
    return false;
}

void SaveFileWriter::Discard() {
    m_file->cancelWriting();
    m_file->commit();  // cancelled: removes the temporary file, keeps the target
}

bool SaveBytesToFile(const QString& path, std::string_view bytes, QString& error) {
    SaveFileWriter file(path);
    if (file.Open() && file.Write(bytes) && file.Commit())
        return true;
    error = file.Error();
    return false;
}

}  // namespace tamrisk
