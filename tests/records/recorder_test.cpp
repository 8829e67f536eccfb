#include "recorder.h"

#include "fakehost.h"
#include "recordtesting.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <utility>

#include <sys/wait.h>
#include <unistd.h>

namespace tamrisk {
namespace {

using namespace std::chrono_literals;
using testing::FakeHost;
using testing::TestHeader;
using Lines = std::vector<std::pair<std::string, ResultColour>>;

class ListSink : public ResultSink {
public:
    void AppendResultLine(std::string_view text, ResultColour colour) override { lines.emplace_back(text, colour); }
    void Flush() override { ++flushes; }
    Lines lines;
    int flushes = 0;
};

class RecorderTest : public testing::RecordsTest {
protected:
    // The record as the store has it now.
    Record Kept() {
        return ValueOf(store.Load(recorder.Header().id));
    }

    FakeHost host;
    ListSink inner;
    std::vector<QString> told;
    Recorder recorder{RecordsRoute{Path(), {}}, host, [this](const QString& error) { told.push_back(error); }};
};

TEST_F(RecorderTest, TeeForwardsEveryLineUnchangedAndKeepsItWithItsTime) {
    ResultSink& tee = recorder.Tee(inner);
    tee.AppendResultLine("before the record", ResultColour::Gray);
    recorder.Start(TestHeader(""));
    EXPECT_EQ(recorder.Header().id.size(), 36u);
    EXPECT_TRUE(recorder.Recording());

    std::vector<RecordLogLine> lines = {
        {0, ResultColour::Blue, "Script started"},
        {40, ResultColour::Black, "91,DT000100", 4},
        {40, ResultColour::Green, "OK  \xc3\xee\xf2\xee\xe2\xee", 4},
        {610, ResultColour::Red, "Error: paper out", 5},
        {1000, ResultColour::Black, ""},
        {2210, ResultColour::Purple, "Script finished"},
    };
    Lines expected = {{"before the record", ResultColour::Gray}};
    for (const RecordLogLine& line : lines) {
        host.advance(std::chrono::milliseconds(line.tMs) - std::chrono::milliseconds(int(host.elapsedMs())));
        recorder.SetScriptLine(line.scriptLine);
        tee.AppendResultLine(line.text, line.colour);
        expected.emplace_back(line.text, line.colour);
    }
    // A text that ends in line ends is kept as its line and an empty line for each.
    tee.AppendResultLine("Script execution time 2.21 seconds\r\n", ResultColour::Black);
    expected.emplace_back("Script execution time 2.21 seconds\r\n", ResultColour::Black);
    lines.push_back({2210, ResultColour::Black, "Script execution time 2.21 seconds"});
    lines.push_back({2210, ResultColour::Black, ""});
    tee.Flush();
    host.advance(15ms);
    recorder.Finish(RecordOutcome::Fail, "red line", 1);
    tee.AppendResultLine("after the record", ResultColour::Black);
    expected.emplace_back("after the record", ResultColour::Black);

    EXPECT_EQ(inner.lines, expected);
    EXPECT_EQ(inner.flushes, 1);
    const Record record = Kept();
    EXPECT_TRUE(record.log == lines);
    EXPECT_EQ(record.header.outcome, RecordOutcome::Fail);
    EXPECT_EQ(record.header.reason, "red line");
    EXPECT_EQ(record.header.exitCode, 1);
    EXPECT_EQ(record.header.durationMs, 2225);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_TRUE(told.empty());
}

// Lines and serial numbers are written when a quarter of a second has passed on
// the host's clock since the last write: on the next append or the next Tick.
TEST_F(RecorderTest, WritesInBatchesAtMostAQuarterOfASecondApart) {
    enum Action { Line, Tick, Serial };
    const struct {
        int advanceMs;
        Action action;
        std::size_t keptLines, keptSerials;
    } steps[] = {
        {0, Line, 0, 0},   {100, Line, 0, 0},   {149, Tick, 0, 0},  {1, Tick, 2, 0},    {50, Line, 2, 0},
        {100, Serial, 2, 0}, {99, Line, 2, 0},  {1, Line, 5, 1},    {10, Tick, 5, 1},   {1000, Tick, 5, 1},
        {0, Line, 6, 1},   {1, Serial, 6, 1},
    };
    recorder.Start(TestHeader(""));
    ResultSink& tee = recorder.Tee(inner);
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        host.advance(std::chrono::milliseconds(steps[i].advanceMs));
        switch (steps[i].action) {
        case Line:
            tee.AppendResultLine("line " + std::to_string(i), ResultColour::Black);
            break;
        case Tick:
            recorder.Tick();
            break;
        case Serial:
            recorder.Serial({"91,DT######", "DT00010" + std::to_string(i), 7, SerialResult::Answered});
            break;
        }
        recorder.Settle();
        const Record record = Kept();
        EXPECT_EQ(record.log.size(), steps[i].keptLines);
        EXPECT_EQ(record.serials.size(), steps[i].keptSerials);
    }
    recorder.Finish(RecordOutcome::Pass, "", 0);
    const Record record = Kept();
    EXPECT_EQ(record.log.size(), 6u);
    EXPECT_EQ(record.serials.size(), 2u);
    EXPECT_EQ(record.header.outcome, RecordOutcome::Pass);
}

// Records running side by side through one writer are each kept whole, in
// their own order and with their own outcome; a records file moved away while
// they run is made anew for the next record rather than written on unseen.
TEST_F(RecorderTest, RecordsSharingAWriterAreEachKeptWhole) {
    const RecordsRoute route{Path(), {}};
    const std::shared_ptr<RecordsWriterThread> shared = SharedRecordsWriter(route);
    const auto make = [&] { return std::make_unique<Recorder>(route, host, [this](const QString& e) { told.push_back(e); }, shared); };
    std::unique_ptr<Recorder> first = make(), second = make();
    first->Start(TestHeader(""));
    second->Start(TestHeader(""));
    ListSink firstInner, secondInner;
    ResultSink& firstTee = first->Tee(firstInner);
    ResultSink& secondTee = second->Tee(secondInner);
    for (int line = 0; line < 6; ++line) {
        firstTee.AppendResultLine("first " + std::to_string(line), ResultColour::Black);
        secondTee.AppendResultLine("second " + std::to_string(line), ResultColour::Black);
        host.advance(100ms);
    }
    first->Finish(RecordOutcome::Pass, "", 0);
    second->Finish(RecordOutcome::Fail, "red line", 1);
    for (const auto& [recorder, name, outcome] :
         {std::tuple{first.get(), "first", RecordOutcome::Pass}, std::tuple{second.get(), "second", RecordOutcome::Fail}}) {
        SCOPED_TRACE(name);
        const Record record = ValueOf(store.Load(recorder->Header().id));
        ASSERT_EQ(record.log.size(), 6u);
        for (std::size_t line = 0; line < 6; ++line)
            EXPECT_EQ(record.log[line].text, std::string(name) + " " + std::to_string(line));
        EXPECT_EQ(record.header.outcome, outcome);
    }

    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::rename(Path() + QLatin1String(suffix), Path() + QStringLiteral(".moved") + QLatin1String(suffix));
    std::unique_ptr<Recorder> third = make();
    third->Start(TestHeader(""));
    third->Finish(RecordOutcome::Pass, "", 0);
    RecordStore again;
    ASSERT_TRUE(StoreOk(again.Open(Path())));
    EXPECT_EQ(ValueOf(again.Load(third->Header().id)).header.outcome, RecordOutcome::Pass);
    EXPECT_TRUE(told.empty());
}

TEST(RecorderUnit, FirstSerialSentIsTheUnitWhenNoneWasGiven) {
    const struct {
        const char* name;
        std::string given;
        std::vector<std::string> sent;
        std::string unit;
    } cases[] = {
        {"none given", "", {"DT000100", "DT000101"}, "DT000100"},
        {"given", "PRN-7", {"DT000100"}, "PRN-7"},
        {"nothing sent", "", {}, ""},
        {"8-bit data", "", {"\xb9" "07"}, "№07"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(dir.filePath(QStringLiteral("r.sqlite")))));
        FakeHost host;
        Recorder recorder(RecordsRoute{store.Location(), {}}, host, {});
        RecordHeader header = TestHeader("");
        header.unit = c.given;
        recorder.Start(header);
        for (const std::string& data : c.sent)
            recorder.Serial({"91,DT######", data, 3, SerialResult::Answered});
        host.advance(250ms);
        recorder.Tick();
        recorder.Settle();
        StoreResult<Record> midway = store.Load(recorder.Header().id);
        ASSERT_TRUE(midway);
        EXPECT_EQ(midway->header.unit, c.unit) << "known before the end, for a run that is killed";
        recorder.Finish(RecordOutcome::Pass, "", std::nullopt);
        EXPECT_EQ(ValueOf(store.Load(recorder.Header().id)).header.unit, c.unit);
    }
}

TEST_F(RecorderTest, RecordLeftInProgressIsFinishedAborted) {
    std::string id;
    {
        Recorder scoped(RecordsRoute{Path(), {}}, host, {});
        scoped.Start(TestHeader(""));
        id = scoped.Header().id;
        scoped.Tee(inner).AppendResultLine("half way", ResultColour::Black);
    }
    const StoreResult<Record> record = store.Load(id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->header.outcome, RecordOutcome::Aborted);
    EXPECT_EQ(record->log.size(), 1u);
}

// Stores that cannot keep the record: the operation's lines reach its sink as
// they would without records, the operator is told once with the file and the
// reason, and a file that is not a database is left as it was.
struct FailureCase {
    const char* name;
    std::function<QString(const QString& folder)> prepare;  // makes the folder's content; returns the records file
    bool recordsOff = false;
    bool fullDiskAfterStart = false;
    bool asUnprivilegedUser = false;  // root writes into read-only folders
    std::size_t tells = 1;
};

std::string RunOperationOver(const FailureCase& c, const QString& path) {
    const QByteArray before = testing::ReadFileBytes(path);
    FakeHost host;
    ListSink inner;
    std::vector<QString> told;
    Lines expected;
    {
        // A file that cannot be opened is the recorder's to tell.
        Recorder recorder(c.recordsOff ? std::nullopt : std::optional(RecordsRoute{path, {}}), host,
                          [&](const QString& error) { told.push_back(error); });
        recorder.Start(TestHeader(""));
        std::optional<testing::ScopedFileSizeLimit> fullDisk;
        if (c.fullDiskAfterStart)
            fullDisk.emplace(1);
        ResultSink& tee = recorder.Tee(inner);
        for (int i = 0; i < 6; ++i) {
            host.advance(300ms);
            const std::string text = "line " + std::to_string(i);
            tee.AppendResultLine(text, ResultColour::Blue);
            expected.emplace_back(text, ResultColour::Blue);
            recorder.Tick();
        }
        recorder.Serial({"91,DT######", "DT000100", 3, SerialResult::Answered});
        recorder.Image({"code-memory", 4, std::string(64, '0'), "/tmp/code.bin"});
        recorder.Finish(RecordOutcome::Pass, "", 0);
    }
    std::ostringstream problems;
    if (inner.lines != expected)
        problems << "the operation's lines changed; ";
    if (told.size() != c.tells)
        problems << "told " << told.size() << " times; ";
    if (!told.empty() && !told[0].startsWith(path + QStringLiteral(": ")))
        problems << "told without the file: " << told[0].toStdString() << "; ";
    if (!c.fullDiskAfterStart && testing::ReadFileBytes(path) != before)
        problems << "the file changed; ";
    return problems.str();
}

// Runs `c` as a user whom permissions bind: in a child that gives up root.
std::string RunUnprivileged(const FailureCase& c, const QString& path) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        constexpr uid_t Nobody = 65534;
        const std::string problems =
            setgid(Nobody) == 0 && setuid(Nobody) == 0 ? RunOperationOver(c, path) : "cannot become nobody";
        const bool sent = write(pipeEnds[1], problems.data(), problems.size()) == ssize_t(problems.size());
        _exit(sent ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string problems;
    char buffer[512];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        problems.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? problems : "the child failed: " + problems;
}

TEST(RecorderFailures, OperationGoesOnUnchangedAndTheOperatorIsToldOnce) {
    const std::vector<FailureCase> cases = {
        {"records off", [](const QString& folder) { return folder + QStringLiteral("/records.sqlite"); }, true,
         false, false, 0},
        {"read-only folder",
         [](const QString& folder) {
             QDir(folder).mkdir(QStringLiteral("ro"));
             QFile::setPermissions(folder + QStringLiteral("/ro"),
                                   QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
             return folder + QStringLiteral("/ro/records.sqlite");
         },
         false, false, true},
        {"file of garbage",
         [](const QString& folder) {
             const QString path = folder + QStringLiteral("/records.sqlite");
             EXPECT_TRUE(testing::WriteFileBytes(path, QByteArray(5000, '\x5a') + "not a database"));
             return path;
         }},
        {"full disk", [](const QString& folder) { return folder + QStringLiteral("/records.sqlite"); }, false, true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                              QFile::ExeOther);
        const QString path = c.prepare(dir.path());
        const bool asRoot = c.asUnprivilegedUser && geteuid() == 0;
        EXPECT_EQ(asRoot ? RunUnprivileged(c, path) : RunOperationOver(c, path), "");
    }
}

}  // namespace
}  // namespace tamrisk
