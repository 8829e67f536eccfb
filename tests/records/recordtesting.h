#pragma once
// What the records tests share: a records file in a temporary folder and
// headers made to order.

#include "record.h"
#include "recordstore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace tamrisk::testing {

inline RecordHeader TestHeader(std::string id, std::string kind = "run", qint64 startedMs = 1'700'000'000'000) {
    RecordHeader header;
    header.id = std::move(id);
    header.kind = std::move(kind);
    header.station = "line-3";
    header.operatorName = "ivana";
    header.version = "0.1";
    header.port = "/dev/ttyUSB0";
    header.speed = 115200;
    header.startedMs = startedMs;
    return header;
}

// A records file in a fresh temporary folder, opened by `store`.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QString error;
        ASSERT_TRUE(store.Open(Path(), error)) << error.toStdString();
    }
    QString Path() const { return m_dir.filePath(QStringLiteral("records.sqlite")); }
    QString Folder() const { return m_dir.path(); }

    RecordStore store;

private:
    QTemporaryDir m_dir;
};

}  // namespace tamrisk::testing
