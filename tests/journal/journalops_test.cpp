#include "journalformat.h"
#include "journalops.h"
#include "journaltext.h"
#include "modelio.h"
#include "printercommands.h"
#include "printerrig.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using testing::PrinterRig;
using testing::Reply;

// What the window would hold and show.
struct ViewRecorder : JournalObserver {
    JournalText text;
    std::vector<std::string> statuses;
    int started = 0;
    std::function<void()> onLine;
    void Started() override { ++started; }
    void ClearView() override { text.Clear(); }
    void AddLine(const std::string& line) override {
        text.AppendLine(line);
        if (onLine)
            onLine();
    }
    void SetStatus(const std::string& status) override { statuses.push_back(status); }
};

struct ModelRig : testing::LinkRig<testing::ModelIo> {
    JournalSession session{*transactor, host};
    ViewRecorder view;
};

// The digest field of a check answer: the last one (the printer's calculation).
std::string LastField(const std::string& answer) { return answer.substr(answer.rfind(',') + 1); }

TEST(JournalRead, EveryZReportsLinesHashToThePrintersDigest) {
    ModelRig rig;
    for (int z = 3; z <= 8; ++z) {
        const auto read = rig.session.Read("Z" + std::to_string(z), rig.view);
        ASSERT_EQ(read.outcome, JournalOutcome::Done) << z;
        ASSERT_GT(read.documents, 0u);
        EXPECT_EQ(rig.view.statuses.back().substr(0, rig.view.statuses.back().find(',')),
                  DocumentCountText(read.documents));
        const auto digest = Sha1Text(rig.view.text.Bytes(), rig.session.JournalCancelled, rig.host);
        ASSERT_EQ(rig.transactor->ExecCommand(CmdJournal, "C,Z" + std::to_string(z)), ExecResult::ExecOk);
        ASSERT_TRUE(digest);
        EXPECT_EQ(*digest, "SHA-1: " + LastField(rig.state.AnswerData)) << z;
    }
}

TEST(JournalRead, TheWholeJournalEqualsWhatThePrinterStores) {
    ModelRig rig;
    rig.view.text.AppendLine("old");
    const auto read = rig.session.Read("A", rig.view);
    EXPECT_EQ(read.outcome, JournalOutcome::Done);
    EXPECT_EQ(rig.view.text.Bytes(), rig.io->model().Journal().Stored());
    // The running count went 1, 2, 3 ... and the last status adds the time.
    ASSERT_GE(rig.view.statuses.size(), 3u);
    EXPECT_EQ(rig.view.statuses[1], "1 document");
    EXPECT_EQ(rig.view.statuses[2], "2 documents");
    EXPECT_EQ(rig.view.statuses.back().rfind(DocumentCountText(read.documents) + ", ", 0), 0u);
}

TEST(JournalRead, EmptySelectionAndBlankQuery) {
    ModelRig rig;
    rig.view.text.AppendLine("old");
    // A well-formed query that selects nothing: the first answer is "F".
    EXPECT_EQ(rig.session.Read("Z1", rig.view).outcome, JournalOutcome::Done);
    EXPECT_TRUE(rig.view.text.Empty());
    EXPECT_EQ(rig.view.statuses.back(), "0 documents, 0.00 seconds");
    const auto requests = rig.io->model().Stats().requests;
    EXPECT_EQ(rig.session.Read(TrimQuery("  \t "), rig.view).outcome, JournalOutcome::NothingToDo);
    EXPECT_EQ(rig.session.Print("", true, rig.view).outcome, JournalOutcome::NothingToDo);
    EXPECT_EQ(rig.session.Check("", rig.view).outcome, JournalOutcome::NothingToDo);
    EXPECT_EQ(rig.io->model().Stats().requests, requests);
}

TEST(JournalRead, CancelDropsTheAnswerInFlight) {
    ModelRig rig;
    rig.view.onLine = [&] { rig.session.JournalCancelled = rig.view.text.LineCount() == 5; };
    const auto read = rig.session.Read("A", rig.view);
    EXPECT_EQ(read.outcome, JournalOutcome::Cancelled);
    // Five lines shown; the sixth was received but not added.
    EXPECT_EQ(rig.view.text.LineCount(), 5u);
    EXPECT_EQ(rig.view.statuses.back(), "0 documents, " + rig.view.statuses.back().substr(13));
}

TEST(JournalRequests, RefusalsAndTheirMessages) {
    struct Case {
        const char* name;
        int failAt;  // the request (0 = probe) that is refused
        StatusBytesArray status;
        JournalOutcome outcome;
        std::vector<std::string> messages;
        std::size_t lines;
    };
    const std::vector<Case> cases = {
        {"probe", 0, {0x02, 0, 0, 0, 0, 0}, JournalOutcome::ProbeFailed, {}, 1},
        {"first, syntax", 1, {0x21, 0, 0, 0, 0, 0}, JournalOutcome::RequestFailed, {"Invalid input data"}, 1},
        {"first, not permitted", 1, {0x20, 0x02, 0, 0, 0, 0}, JournalOutcome::RequestFailed,
         {"Cannot execute report"}, 1},
        {"next", 3, {0x20, 0x02, 0, 0, 0, 0}, JournalOutcome::NextFailed, {}, 2},
    };
    for (const Case& c : cases) {
        PrinterRig rig;
        int served = 0;
        rig.printer = [&](int, const std::string&) -> std::optional<Reply> {
            return served++ == c.failAt ? Reply{"", c.status} : Reply{"P,line"};
        };
        JournalSession session(*rig.transactor, rig.host);
        ViewRecorder view;
        view.text.AppendLine("kept");
        EXPECT_EQ(session.Read("A", view).outcome, c.outcome) << c.name;
        std::vector<std::string> messages;
        for (const auto& shown : rig.host.messages)
            messages.push_back(shown.text);
        EXPECT_EQ(messages, c.messages) << c.name;
        EXPECT_EQ(view.text.LineCount(), c.lines) << c.name;
    }
}

TEST(JournalRequests, PrintAndCheckData) {
    PrinterRig rig;
    std::string answer = "6";
    rig.printer = [&](int, const std::string& data) -> std::optional<Reply> {
        return Reply{data.empty() ? "P" : answer};
    };
    JournalSession session(*rig.transactor, rig.host);
    ViewRecorder view;
    EXPECT_EQ(session.Print("Z3-4", true, view).documents, 6u);
    EXPECT_EQ(session.Print("Z3-4", false, view).documents, 6u);
    answer = "six";
    EXPECT_EQ(session.Print("D1", true, view).documents, 0u);
    EXPECT_EQ(view.statuses.back(), "0 documents, 0.00 seconds");
    answer = "P,1,2,3";
    view.text.AppendLine("old");
    EXPECT_EQ(session.Check("X3", view).outcome, JournalOutcome::Done);
    EXPECT_EQ(view.text.Bytes(), "P,1,2,3\r\n");
    EXPECT_EQ(session.Check("r3", view).outcome, JournalOutcome::Done);  // sent, only the time shown
    EXPECT_TRUE(view.text.Empty());
    const std::vector<std::string> expected = {"74:", "119:P,<Z3-4", "74:", "119:P,>Z3-4", "74:", "119:P,<D1",
                                               "74:", "119:C,X3",    "74:", "119:C,r3"};
    EXPECT_EQ(rig.requests, expected);
    // Too long for one request: refused with a message, nothing sent.
    EXPECT_EQ(session.Print(std::string(217, 'D'), true, view).outcome, JournalOutcome::TooLong);
    EXPECT_EQ(session.Read(std::string(218, 'D'), view).outcome, JournalOutcome::TooLong);
    EXPECT_EQ(rig.requests.size(), expected.size());
    ASSERT_EQ(rig.host.messages.size(), 2u);
    EXPECT_EQ(rig.host.messages[0].text, "Query too long (217 characters, at most 216)");
}

// The digest over exactly the selected bytes, against sha1sum of the same bytes.
TEST(JournalSha1, MatchesAnIndependentDigest) {
    testing::FakeHost host;
    const JournalText text = JournalText::FromFile("first line\r\n\xD0\xE0\xE7\xF5\xEE\xE4\r\nlast");
    const auto whole = text.WidenSelection(13, 14);
    const auto last = text.WidenSelection(text.Bytes().size() - 1, text.Bytes().size());
    const std::string big(3 * 256 * 1024 + 5, 'z');
    for (const std::string& bytes : {text.Bytes().substr(whole.first, whole.second - whole.first),
                                    text.Bytes().substr(last.first, last.second - last.first), big}) {
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        file.flush();
        QProcess sha1sum;
        sha1sum.start("sha1sum", {file.fileName()});
        ASSERT_TRUE(sha1sum.waitForFinished());
        const std::string expected = sha1sum.readAllStandardOutput().left(40).toUpper().toStdString();
        bool cancelled = false;
        EXPECT_EQ(Sha1Text(bytes, cancelled, host), "SHA-1: " + expected) << bytes.size();
    }
    EXPECT_EQ(text.Bytes().substr(last.first), "last");  // hashed without a line end

    bool cancelled = false;
    int turns = 0;
    host.onEvents = [&] { cancelled = ++turns == 2; };  // Cancel pressed during the second chunk
    EXPECT_FALSE(Sha1Text(big, cancelled, host));
    EXPECT_FALSE(cancelled);  // cleared once seen
}

}  // namespace
}  // namespace tamrisk
