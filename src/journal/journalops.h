#pragma once
// The journal operations over the printer and on the computer, shared by the
// journal window and tamrisk-cli: Read line by line, Print, Check, Info and
// the SHA-1 digest of a selection. What an operation shows goes through an
// observer; the caller owns the controls and the cancel flag.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

class Host;
class Transactor;

enum class JournalOutcome {
    NothingToDo,    // the query was empty: nothing sent
    TooLong,        // the query does not fit in one request: nothing sent, the operator told
    ProbeFailed,    // the readiness probe failed
    RequestFailed,  // the first request failed; the failure message was shown
    NextFailed,     // a next-line request failed; the lines so far stay
    Done,           // the operation ran to its end
    Cancelled,      // Cancel was seen
};

class JournalObserver {
public:
    virtual ~JournalObserver() = default;
    // The probe passed and the operation begins its work (Cancel may be offered).
    virtual void Started() {}
    // The view is emptied.
    virtual void ClearView() {}
    // A line for the end of the view (Windows-1251, without an ending).
    virtual void AddLine(const std::string& line) = 0;
    // The status panel's text (Windows-1251).
    virtual void SetStatus(const std::string& text) = 0;
};

struct JournalResult {
    JournalOutcome outcome = JournalOutcome::NothingToDo;
    std::uint32_t documents = 0;  // Read: documents counted; Print: documents printed
    double seconds = 0;
    std::uint32_t statusFlags = 0;  // of the failed request
    bool digestsDiffer = false;     // Check: the journal and its recorded SHA-1 are not equal
};

// Runs the journal operations of one window or command line.
class JournalSession {
public:
    JournalSession(Transactor& transactor, Host& host);

    // Set by Cancel; tested by Read and SHA-1.
    bool JournalCancelled = false;

    // `query` is already trimmed (TrimQuery).
    JournalResult Read(const std::string& query, JournalObserver& observer);
    JournalResult Print(const std::string& query, bool smallFont, JournalObserver& observer);
    JournalResult Check(const std::string& query, JournalObserver& observer);
    // Done when the nine lines were added.
    JournalResult Info(JournalObserver& observer);

private:
    bool Probe();
    bool Failed() const;
    // Sends command 119 with `data`; on failure fills `result` (RequestFailed)
    // and, when `tellFailure`, shows the failure message.
    bool Request(const std::string& data, JournalResult& result, bool tellFailure);
    double SecondsSince(std::int64_t startNs) const;
    std::int64_t NowNs() const;
    bool Ready(const std::string& query, std::size_t prefixLength, JournalResult& result);

    Transactor& m_transactor;
    Host& m_host;
};

// "SHA-1: " and the 40 upper-case hexadecimal digits of the SHA-1 of `bytes`,
// computed in chunks with `cancelled` tested and the host's events let through
// between them. Empty when cancelled (the flag is then cleared).
std::optional<std::string> Sha1Text(std::string_view bytes, bool& cancelled, Host& host);

}  // namespace tamrisk
