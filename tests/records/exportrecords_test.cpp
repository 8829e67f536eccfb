// An export of records, as both front ends write it: every record whole, in
// the order given, read a batch at a time with its progress told; stopped when
// told to; the store's failure when it cannot read.

#include "exportrecords.h"

#include "recordtesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

using testing::RecordsTest;
using testing::TestHeader;

class ExportRecordsTest : public RecordsTest {
protected:
    // More records than two batches, each with a log line of its own.
    static constexpr int Count = static_cast<int>(2 * RecordQueries::LoadBatch + 50);

    void SetUp() override {
        RecordsTest::SetUp();
        std::vector<Record> records;
        for (int i = 0; i < Count; ++i) {
            char id[40];
            std::snprintf(id, sizeof id, "e0000000-0000-4000-8000-%012d", i);
            Record record;
            record.header = TestHeader(id, "run", 1'700'000'000'000 + i);
            record.header.outcome = RecordOutcome::Pass;
            record.log = {{i, ResultColour::Green, "line " + std::to_string(i), 3}};
            records.push_back(record);
            headers.push_back(record.header);
        }
        ASSERT_TRUE(StoreOk(store.Import(records)));
        // The order given, not the store's.
        std::reverse(headers.begin(), headers.end());
    }

    std::vector<RecordHeader> headers;
};

TEST_F(ExportRecordsTest, EveryFormatHoldsEveryRecordWholeInTheOrderGiven) {
    const struct {
        RecordFormat format;
        std::size_t progressTold;  // times
    } cases[] = {{RecordFormat::Json, 3}, {RecordFormat::JUnit, 3}, {RecordFormat::Csv, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        std::vector<std::pair<std::size_t, std::size_t>> told;
        const StoreResult<std::optional<QByteArray>> exported =
            ExportRecords(store.Queries(), headers, c.format, [&](std::size_t read, std::size_t all) {
                told.emplace_back(read, all);
                return true;
            });
        ASSERT_TRUE(StoreOk(exported));
        ASSERT_TRUE(*exported);
        const QByteArray& bytes = **exported;
        EXPECT_EQ(told.size(), c.progressTold);
        if (!told.empty()) {
            EXPECT_EQ(told.back(), std::pair(headers.size(), headers.size()));
        }
        if (c.format == RecordFormat::Json) {
            const QJsonArray array = QJsonDocument::fromJson(bytes).array();
            ASSERT_EQ(array.size(), Count);
            for (int i : {0, 1, 199, 200, Count - 1}) {
                const int made = Count - 1 - i;
                EXPECT_EQ(array[i]["id"].toString().toStdString(), headers[static_cast<std::size_t>(i)].id);
                EXPECT_EQ(array[i]["log"][0]["text"].toString().toStdString(), "line " + std::to_string(made));
            }
        } else if (c.format == RecordFormat::JUnit) {
            EXPECT_EQ(bytes.count("<testsuite "), Count);  // a suite a record
            EXPECT_LT(bytes.indexOf(headers.front().id.c_str()), bytes.indexOf(headers.back().id.c_str()));
        } else {
            EXPECT_EQ(bytes.count('\n'), Count + 1);
        }
    }
}

TEST_F(ExportRecordsTest, StopsWhenToldAndTellsTheStoresFailure) {
    int told = 0;
    const StoreResult<std::optional<QByteArray>> stopped =
        ExportRecords(store.Queries(), headers, RecordFormat::Json, [&](std::size_t, std::size_t) { return ++told < 2; });
    ASSERT_TRUE(StoreOk(stopped));
    EXPECT_FALSE(*stopped);
    EXPECT_EQ(told, 2);

    RecordStore closed;
    const StoreResult<std::optional<QByteArray>> unread = ExportRecords(closed.Queries(), headers, RecordFormat::JUnit);
    ASSERT_FALSE(unread);
    EXPECT_EQ(unread.error().kind, StoreError::Kind::NotOpen);
}

}  // namespace
}  // namespace tamrisk
