// Input files read whole within the limit; what is no regular file or larger
// than the limit is refused without reading it or waiting for it.

#include "inputfile.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace tamrisk {
namespace {

TEST(InputFile, RegularFilesWithinTheLimitOnly) {
    QTemporaryDir dir;
    const QString script = dir.filePath("script.inp");
    ASSERT_TRUE(testing::WriteFileBytes(script, QByteArray("90,x\r\n\0\xFF", 8)));
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Sparse: one byte past the limit costs no disk.
    const QString large = dir.filePath("large.txt");
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(static_cast<qint64>(MaxInputFileBytes) + 1));
    }
    struct Case {
        QString path;
        std::optional<std::string> bytes;
        std::string error;
    };
    const std::vector<Case> cases = {
        {script, std::string("90,x\r\n\0\xFF", 8), ""},
        {dir.filePath("missing.inp"), std::nullopt, "No such file or directory"},
        {dir.path(), std::nullopt, "a folder, not a file"},
        {"/dev/zero", std::nullopt, "not a regular file"},
        {fifo, std::nullopt, "not a regular file"},
        {large, std::nullopt, "larger than 64 MiB, the limit for an input file"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(ReadInputFile(QFile::encodeName(c.path).toStdString(), error), c.bytes) << c.path.toStdString();
        EXPECT_EQ(error, c.error) << c.path.toStdString();
    }
}

}  // namespace
}  // namespace tamrisk
