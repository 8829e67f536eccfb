#pragma once
// What the tests of people in tamrisk-cli share: a PIN's hash made once per
// PIN for the whole test program (each hash costs a sixth of a second), and
// files of the PINs with the modes a test gives them.

#include "pin.h"
#include "testfiles.h"

#include <QString>

#include <map>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tamrisk::testing {

// The hash of `pin`, made once and at the least cost: log-ins answer at once.
inline const std::string& PinHashOnce(const std::string& pin) {
    static std::map<std::string, std::string> hashes;
    std::string& hash = hashes[pin];
    if (hash.empty())
        hash = HashPinCheaply(pin);
    return hash;
}

// Writes `text` into `path` with `mode`; the path.
inline std::string FileWithMode(const QString& path, const std::string& text, mode_t mode = 0600) {
    EXPECT_TRUE(WriteFileBytes(path, QByteArray::fromStdString(text)));
    EXPECT_EQ(::chmod(path.toLocal8Bit().constData(), mode), 0);
    return path.toStdString();
}

}  // namespace tamrisk::testing
