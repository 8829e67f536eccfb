#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <cstdio>
#include <string>
#include <vector>

#include "printermodel.h"
#include "simtesting.h"

namespace tamrisk::sim {
namespace {

using testing::ModelCaller;

// What the station makes of a read: the lines it shows and the documents it counts.
struct Read {
    std::vector<std::string> lines;
    int documents = 0;
    bool ended = false;  // the last answer was "F"
};

Read ReadJournal(ModelCaller& station, const std::string& query) {
    Read read;
    std::string answer = station.Journal("R," + query);
    for (int guard = 0; guard < 100000 && !answer.empty() && answer[0] != 'F'; ++guard) {
        EXPECT_GE(answer.size(), 2u);
        EXPECT_EQ(answer[1], ',');
        read.lines.push_back(answer.substr(2));
        answer = station.Journal("N");
        if (!answer.empty() && answer[0] == '*')
            ++read.documents;  // never the first answer
    }
    read.ended = answer == "F";
    return read;
}

std::string Text(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::string Sha1(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha1)
        .toHex()
        .toUpper()
        .toStdString();
}

// Kind character and the comma-separated fields after the two-character head.
struct Parsed {
    char kind = 0;
    std::vector<std::string> fields;
};

Parsed Parse(const std::string& answer) {
    Parsed parsed;
    if (answer.empty())
        return parsed;
    parsed.kind = answer[0];
    if (answer.size() < 2)
        return parsed;
    std::string rest = answer.substr(2);
    for (std::size_t comma; (comma = rest.find(',')) != std::string::npos; rest.erase(0, comma + 1))
        parsed.fields.push_back(rest.substr(0, comma));
    parsed.fields.push_back(rest);
    return parsed;
}

class JournalTest : public ::testing::Test {
protected:
    PrinterModel model;
    ModelCaller station{model};
    const JournalBook& book = model.Journal().Book();
};

TEST_F(JournalTest, WholeReadCountsEveryDocumentAndEndsWithF) {
    const Read read = ReadJournal(station, "A");
    ASSERT_TRUE(read.ended);
    EXPECT_EQ(read.documents, static_cast<int>(book.documents.size()));
    EXPECT_EQ(Text(read.lines), model.Journal().Stored());
    EXPECT_EQ(station.Journal("N"), "F");  // stays at the end

    bool cyrillic = false;
    for (const std::string& line : read.lines) {
        for (unsigned char c : line) {
            EXPECT_GE(c, 0x20) << line;  // nothing that could break a frame
            cyrillic = cyrillic || c >= 0xC0;
        }
    }
    EXPECT_TRUE(cyrillic);
}

TEST_F(JournalTest, SelectionsCountTheirDocuments) {
    const std::uint32_t firstDocument = book.documents.front().number;
    const std::uint32_t lastDocument = book.documents.back().number;
    const ZReportRecord& z3 = book.zReports[2];
    const ZReportRecord& z4 = book.zReports[3];
    struct Case {
        std::string query;
        std::uint32_t documents;
    };
    const std::vector<Case> cases{
        {"D" + std::to_string(firstDocument), 1},
        {"D" + std::to_string(firstDocument) + "-" + std::to_string(firstDocument + 2), 3},
        {"D" + std::to_string(lastDocument) + "-999999", 1},
        {"D" + std::to_string(lastDocument + 1), 0},
        {"D1-" + std::to_string(firstDocument - 1), 0},  // before the journal was installed
        {"Z3", z3.documentNumber - z3.firstDocument + 1},
        {"z4", z4.documentNumber - z4.firstDocument + 1},
        {"Z3-4", z4.documentNumber - z3.firstDocument + 1},
        {"Z1", 0},
        {"Z1-3", z3.documentNumber - z3.firstDocument + 1},
        {"Z99", 0},
        {"a", static_cast<std::uint32_t>(book.documents.size())},
    };
    for (const Case& c : cases) {
        const Read read = ReadJournal(station, c.query);
        EXPECT_TRUE(read.ended) << c.query;
        EXPECT_EQ(read.documents, static_cast<int>(c.documents)) << c.query;
        EXPECT_EQ(read.lines.empty(), c.documents == 0) << c.query;
        EXPECT_EQ(station.Journal("P,<" + c.query), std::to_string(c.documents)) << c.query;
    }
}

TEST_F(JournalTest, MalformedRequestsAreSyntaxErrors) {
    for (const char* data : {"", "X", "NN", "R,", "R,K1", "R,Z5-3", "R,Z0", "R,D", "R,A1", "R,D1-",
                             "R,Z1234567890", "P,Z3", "P,<", "P,>Z", "C,", "C,Q3", "C,Z", "C,Zx",
                             "C,R3-4", "R,Q", "R,Q0", "R,Q0,65", "R,Q0,0", "R,QG,64", "R,Q0,"}) {
        StatusArray status{};
        EXPECT_EQ(station.Request(119, data, &status), "") << data;
        EXPECT_EQ(status, (StatusArray{0x21, 0x00, 0x00, 0x00, 0x00, 0x3A})) << data;
    }
}

// The digests hold what the station can check for itself: the SHA-1 of the lines
// that a read of the Z-report shows, each with CR LF.
TEST_F(JournalTest, CheckReportsTheDigestOfWhatAReadShows) {
    const int tampered = JournalLayout{}.tamperedZReport;
    int mismatches = 0;
    for (const ZReportRecord& z : book.zReports) {
        const std::string number = std::to_string(z.number);
        const Read read = ReadJournal(station, "Z" + number);
        const Parsed check = Parse(station.Journal("C,Z" + number));
        const Parsed stored = Parse(station.Journal("C,R" + number));

        ASSERT_EQ(stored.kind, 'P');
        ASSERT_EQ(stored.fields.size(), 3u);
        EXPECT_EQ(stored.fields[0], std::to_string(z.documentNumber));
        EXPECT_EQ(stored.fields[1].size(), 17u);  // DD-MM-YY HH:MM:SS
        EXPECT_EQ(stored.fields[2].size(), 40u);

        if (read.lines.empty()) {  // made before the journal was installed
            EXPECT_EQ(station.Journal("C,Z" + number), "F");
            continue;
        }
        const std::string text = Text(read.lines);
        if (check.kind == 'P') {
            ASSERT_EQ(check.fields.size(), 3u);
            EXPECT_EQ(check.fields[2], Sha1(text));
            EXPECT_EQ(check.fields[2], stored.fields[2]);
        } else {
            ++mismatches;
            EXPECT_EQ(static_cast<int>(z.number), tampered);
            ASSERT_EQ(check.fields.size(), 4u);
            EXPECT_EQ(check.fields[2], stored.fields[2]);  // as recorded
            EXPECT_EQ(check.fields[3], Sha1(text));        // as calculated now
            EXPECT_NE(check.fields[2], check.fields[3]);
        }
        EXPECT_EQ(check.fields[0], std::to_string(read.documents));
        EXPECT_EQ(check.fields[1], std::to_string(text.size()));
    }
    EXPECT_EQ(mismatches, 1);
}

TEST_F(JournalTest, CheckOfOtherZReports) {
    StatusArray status{};
    EXPECT_EQ(station.Request(119, "C,Z99", &status), "");
    EXPECT_EQ(status, (StatusArray{0x20, 0x02, 0x00, 0x00, 0x00, 0x3A}));
    EXPECT_EQ(station.Request(119, "C,R0", &status), "");
    EXPECT_EQ(status, (StatusArray{0x20, 0x02, 0x00, 0x00, 0x00, 0x3A}));

    const Parsed raw = Parse(station.Journal("C,X3"));
    ASSERT_EQ(raw.kind, 'P');
    ASSERT_EQ(raw.fields.size(), 8u);
    EXPECT_EQ(raw.fields[0], "3");
    EXPECT_EQ(raw.fields[6], raw.fields[7]);  // recorded and calculated agree for Z-report 3
    const Parsed before = Parse(station.Journal("C,x1"));  // the query's letter in either case
    ASSERT_EQ(before.fields.size(), 8u);
    EXPECT_EQ(before.fields[7], "");  // nothing in the journal to calculate
}

TEST_F(JournalTest, InformationAgreesWithTheJournal) {
    const Parsed info = Parse(station.Journal("I"));
    ASSERT_EQ(info.kind, 'P');
    ASSERT_EQ(info.fields.size(), 6u);
    const std::uint64_t size = std::stoull(info.fields[0]);
    const std::uint64_t used = std::stoull(info.fields[1]);
    const std::uint32_t firstZ = std::stoul(info.fields[2]);
    const std::uint32_t lastZ = std::stoul(info.fields[3]);
    const std::uint32_t firstDocument = std::stoul(info.fields[4]);
    const std::uint32_t lastDocument = std::stoul(info.fields[5]);

    EXPECT_EQ(used, model.Journal().Stored().size());
    EXPECT_GT(size, used);
    EXPECT_EQ(firstZ, static_cast<std::uint32_t>(JournalLayout{}.zReportsBeforeJournal + 1));
    EXPECT_EQ(lastZ, book.zReports.size());
    EXPECT_EQ(station.Journal("C,Z" + std::to_string(firstZ - 1)), "F");
    EXPECT_NE(station.Journal("C,Z" + std::to_string(firstZ)), "F");

    EXPECT_EQ(ReadJournal(station, "A").documents, static_cast<int>(lastDocument - firstDocument + 1));
    EXPECT_TRUE(ReadJournal(station, "D" + std::to_string(firstDocument - 1)).lines.empty());
    EXPECT_FALSE(ReadJournal(station, "D" + std::to_string(firstDocument)).lines.empty());
    EXPECT_FALSE(ReadJournal(station, "D" + std::to_string(lastDocument)).lines.empty());
    EXPECT_TRUE(ReadJournal(station, "D" + std::to_string(lastDocument + 1)).lines.empty());
}

TEST(JournalDaysTest, LongerJournalsKeepFreeRoomAndOneAlteredDay) {
    const struct {
        int days;
        int alteredZ;  // the one Z-report whose check disagrees
    } cases[] = {{1, 3}, {2, 4}, {6, 5}, {200, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.days);
        SimOptions options;
        options.journalDays = c.days;
        PrinterModel model(options);
        ModelCaller station{model};
        const std::uint32_t firstZ = JournalLayout{}.zReportsBeforeJournal + 1;
        ASSERT_EQ(model.Journal().Book().zReports.size(), firstZ - 1 + c.days);
        const Parsed info = Parse(station.Journal("I"));
        ASSERT_EQ(info.fields.size(), 6u);
        EXPECT_GT(std::stoull(info.fields[0]), std::stoull(info.fields[1]));
        EXPECT_EQ(std::stoul(info.fields[3]), firstZ - 1 + c.days);
        for (std::uint32_t z = firstZ; z < firstZ + c.days; ++z)
            EXPECT_EQ(station.Journal("C,Z" + std::to_string(z))[0], z == std::uint32_t(c.alteredZ) ? 'E' : 'P') << z;
    }
}

TEST_F(JournalTest, PrintAnswersTheNumberOfDocumentsPrinted) {
    EXPECT_EQ(station.Journal("P,>A"), std::to_string(book.documents.size()));
    EXPECT_EQ(station.Journal("P,<Z1"), "0");
    EXPECT_EQ(model.Journal().DocumentsPrinted(), book.documents.size());
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

TEST_F(JournalTest, RawBlocksCopyTheStoredJournalAndEndPastIt) {
    const std::string& stored = model.Journal().Stored();
    std::string copied;
    std::uint64_t address = 0;
    for (;;) {
        char data[32];
        std::snprintf(data, sizeof data, "R,Q%llX,64", static_cast<unsigned long long>(address));
        const std::string answer = station.Journal(data);
        if (answer.empty() || answer[0] != 'P')
            break;
        ASSERT_EQ(answer.size(), 130u);
        EXPECT_EQ(answer.substr(1, 1), ",");
        EXPECT_EQ(answer.find_first_not_of("0123456789ABCDEF", 2), std::string::npos);
        copied += Unhex(answer.substr(2));
        address += 64;
    }
    EXPECT_EQ(address, (stored.size() + 63) / 64 * 64);
    EXPECT_EQ(copied.substr(0, stored.size()), stored);
    EXPECT_EQ(copied.substr(stored.size()), std::string(copied.size() - stored.size(), '\xFF'));

    // Any address, not only block starts.
    EXPECT_EQ(Unhex(station.Journal("R,Q1a2b,64").substr(2)), stored.substr(0x1A2B, 64));
    char last[32];
    std::snprintf(last, sizeof last, "R,Q%zX,2", stored.size() - 1);
    EXPECT_EQ(Unhex(station.Journal(last).substr(2)), stored.substr(stored.size() - 1) + '\xFF');
}

TEST_F(JournalTest, RawBlockReadLeavesALineReadWhereItWas) {
    const auto& lines = book.documents.front().lines;
    EXPECT_EQ(station.Journal("R,A"), "P," + lines[0]);
    station.Journal("R,Q0,64");
    station.Journal("I");
    EXPECT_EQ(station.Journal("N"), "P," + lines[1]);
    station.Journal("P,<Z3");  // a print ends it
    EXPECT_EQ(station.Journal("N"), "F");
}

}  // namespace
}  // namespace tamrisk::sim
