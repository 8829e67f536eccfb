#pragma once
// The record of one operation that talked to a printer: its header (who, where,
// when, what and with what outcome), every line it showed, the serial numbers it
// sent and the memory images it saved.
//
// Header strings are UTF-8. Log text and a serial number's space and data are the
// 8-bit Windows-1251 bytes the views and the printer have, as every engine holds them.

#include "answercheck.h"
#include "linesink.h"
#include "frame.h"

#include <QtGlobal>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

enum class RecordOutcome { Pass, Fail, Aborted, Error };
enum class SerialResult { Answered, Refused, Unknown };
// How a transaction ended: a valid answer; a valid answer that reports the
// printer's common error (the command refused); no valid answer to a request
// that went out; an answer that failed a frame test; nothing sent at all.
enum class StepResult { Answered, Refused, NoAnswer, BadAnswer, NotSent };

// "pass", "fail", "aborted", "error".
std::string_view OutcomeText(RecordOutcome outcome);
// Empty for a text that names no outcome.
std::optional<RecordOutcome> OutcomeFromText(std::string_view text);
// "answered", "refused", "unknown".
std::string_view SerialResultText(SerialResult result);
std::optional<SerialResult> SerialResultFromText(std::string_view text);
// "answered", "refused", "no-answer", "bad-answer", "not-sent".
std::string_view StepResultText(StepResult result);
std::optional<StepResult> StepResultFromText(std::string_view text);
// "black", "blue", "green", "red", "gray", "purple".
std::string_view ColourText(ResultColour colour);
std::optional<ResultColour> ColourFromText(std::string_view text);

// The kinds of operation a record is kept for.
// A unit turned away before its run ("entry"), put on hold and released are
// kept as records too, so that a unit's history is its records.
inline constexpr std::array<std::string_view, 12> RecordKinds = {
    "run",          "command",       "code-memory",   "fiscal-memory", "journal-binary", "journal-read",
    "journal-print", "journal-check", "journal-info", "entry",         "hold",           "release"};
bool IsRecordKind(std::string_view kind);

// Said of a record whose program ended before it was complete.
inline constexpr std::string_view UnfinishedReason = "the program ended before the record was complete";

struct RecordHeader {
    std::string id;  // UUID, lower case with dashes
    std::string kind, station, operatorName, version, port;
    int speed = 0;
    qint64 startedMs = 0;  // UTC, milliseconds since the epoch
    qint64 durationMs = 0;
    std::optional<RecordOutcome> outcome;  // empty while in progress
    std::string reason;                    // why, in the system's words
    std::string unit;                      // the operator's identity of the unit, or the first serial number sent
    std::string script, scriptSha256, lineRange;  // for runs; lineRange "A-B" of a selection, else empty
    std::optional<int> exitCode;                  // tamrisk-cli's exit status; empty in the station
    // What the station does to the unit (board, burn-in, final...) and the unit's
    // kind (FP-3...); empty when the run named none.
    std::string operation, product;
    // Where people log in: the logged-in person's ID (operatorName is then their
    // name) and the computer's login; both empty in older records, and the ID
    // where nobody logs in.
    std::string operatorId, computerLogin;
    // A run of a released script: the release's number among its product's and
    // operation's releases. An engineering run ran a script that is not the
    // active release where people log in; it is counted in no yield.
    std::optional<int> releaseNumber;
    bool engineering = false;
    friend bool operator==(const RecordHeader&, const RecordHeader&) = default;
};

struct RecordLogLine {
    qint64 tMs = 0;  // from the record's start
    ResultColour colour = ResultColour::Black;
    std::string text;  // as the view shows it, without a line end
    int scriptLine = 0;  // the script line that was running when it was shown; 0 for none
    friend bool operator==(const RecordLogLine&, const RecordLogLine&) = default;
};

struct RecordSerial {
    std::string space;  // command number and data with each stepping field's digits as '#'
    std::string data;   // as sent
    int line = 0;       // the script line
    SerialResult result = SerialResult::Unknown;
    friend bool operator==(const RecordSerial&, const RecordSerial&) = default;
};

struct RecordImage {
    std::string kind;  // the record kind that read it
    qint64 length = 0;
    std::string sha256;  // lower-case hex
    std::string file;    // where it was saved, UTF-8
    friend bool operator==(const RecordImage&, const RecordImage&) = default;
};

// One transaction with the printer, as data. A bulk read (a memory or the
// journal block by block) keeps a step per phase instead: consecutive
// transactions of one command make one step that stands for `transactions` of
// them, `failures` of which did not end answered; its data is the first
// transaction's, its status, answer and result those of its first failure, or
// of its last transaction when none failed.
struct RecordStep {
    std::optional<int> line;  // the script line; none for a command or a read
    int command = 0;
    std::string data;  // as sent (after escapes and serial fields), Windows-1251 bytes
    std::optional<StatusBytesArray> status;  // as received; none when no valid answer came
    std::string answer;                      // the answer's data, Windows-1251 bytes
    StepResult result = StepResult::Answered;
    int attempts = 0;        // frames sent: 1 when the first was answered
    qint64 tMs = 0;          // its start, from the record's start
    qint64 durationMs = 0;
    int transactions = 1;    // more than 1 only for a phase of a bulk read
    int failures = 0;        // of those transactions, the ones not answered
    friend bool operator==(const RecordStep&, const RecordStep&) = default;
};
// A record of this kind keeps a step per phase (every kind but "run" and
// "command": the memory reads and the journal's, thousands of blocks a read).
bool IsBulkKind(std::string_view kind);
// "21,00,00,00,00,3A": two upper-case hex digits a byte, commas between.
std::string StatusText(const StatusBytesArray& status);
void AppendStatusText(std::string& text, const StatusBytesArray& status);
// Empty for a text that is not six such bytes.
std::optional<StatusBytesArray> StatusFromText(std::string_view text);

// Log lines as a records file keeps them, many to a row: a line each,
// "<t_ms> <colour> <script line> <text>" and LF, the text's backslashes, CRs and
// LFs written as \\, \r and \n. The text is the 8-bit text of the lines.
struct RecordLogChunk {
    static constexpr std::size_t MaxLines = 200;
    qint64 lastMs = 0;  // the time of its last line
    std::size_t lines = 0;
    std::string text;
    friend bool operator==(const RecordLogChunk&, const RecordLogChunk&) = default;
};
// Adds a line to the last of `chunks`, or to a new one when that is full.
void AddLogLine(std::vector<RecordLogChunk>& chunks, qint64 tMs, ResultColour colour, int scriptLine,
                std::string_view text);
inline void AddLogLine(std::vector<RecordLogChunk>& chunks, const RecordLogLine& line) {
    AddLogLine(chunks, line.tMs, line.colour, line.scriptLine, line.text);
}
// The lines of a chunk's text appended to `log`; false for a text that is not a chunk.
bool ReadLogChunk(std::string_view text, std::vector<RecordLogLine>& log);

// Steps as a records database keeps them, many to a row, for the same reason as
// the log: a row a transaction cost a busy run a tenth of its speed. A step a
// line of fields separated by tabs and ended by LF: script line (empty for
// none), command, data, status ("21,00,00,00,00,3A" or empty), answer, result,
// attempts, t_ms, duration_ms, transactions, failures. Data and answer are the
// wire's bytes with backslashes, tabs, CRs and LFs written as \\, \t, \r and \n.
struct RecordStepChunk {
    static constexpr std::size_t MaxSteps = 200;
    std::size_t steps = 0;
    std::string text;
    friend bool operator==(const RecordStepChunk&, const RecordStepChunk&) = default;
};
// Adds a step to the last of `chunks`, or to a new one when that is full.
void AddStep(std::vector<RecordStepChunk>& chunks, const RecordStep& step);
// The steps of a chunk appended to `steps`; false for bytes that are not a chunk.
bool ReadStepChunk(std::string_view chunk, std::vector<RecordStep>& steps);

// A serial number claimed before it is sent: by which record, station and unit, and when.
struct SerialClaimRow {
    std::string space;  // Windows-1251, as the record's serial numbers
    std::string data;   // Windows-1251
    std::string recordId, station, unit;  // UTF-8
    qint64 claimedMs = 0;                 // UTC ms
};

// A check of the run as it was made, with the step whose answer it judged
// (its index in the record's steps; none when the run had no transaction yet).
struct RecordCheck {
    CheckOutcome check;
    std::optional<int> step;
    friend bool operator==(const RecordCheck&, const RecordCheck&) = default;
};

struct Record {
    RecordHeader header;
    std::vector<RecordLogLine> log;
    std::vector<RecordSerial> serials;
    std::vector<RecordImage> images;
    std::vector<RecordStep> steps{};  // in the order sent; none in records of older files
    std::vector<RecordCheck> checks{};  // in the order made; none in records of older files
    friend bool operator==(const Record&, const Record&) = default;
};

// A header for a new record of `kind`: a fresh id, this computer's host name as
// the station, the login name as the operator and the program's version. The
// front end sets the rest (and its own station name when one is configured).
RecordHeader NewRecordHeader(std::string kind);
// The program's version, as the build's project() sets it.
std::string ProgramVersion();
// This computer's host name, the station's name unless one is configured.
std::string DefaultStationName();
// The login name of the user this program runs as.
std::string LoginName();

}  // namespace tamrisk
