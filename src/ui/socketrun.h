#pragma once
// One socket's script run in the socket window, on a thread of its own: its
// own link (its port opened on that thread), transaction state, serial-number
// claims and record, so that one socket's printer lost, refused, slow or
// cancelled changes nothing for the others. Its Host carries the operator's
// questions to the window's thread and waits for the answer there; messages
// that are not prompts are shown without waiting. Everything the run tells
// the window arrives on the window's thread.

#include "linesink.h"
#include "scriptrun.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QThread;
class QTimer;

namespace tamrisk {

class StationRecords;

// What a socket runs: the script request (its lines as a selection, or the
// active release), on `port` (a device path) at `speedBps`.
struct SocketRunRequest {
    std::string port;
    std::string unit;  // the unit under test (UTF-8), for its record and entry
    int speedBps = 115200;
    ScriptRunRequest script;
};

// What a socket's run tells its panel, always on the window's thread.
struct SocketRunView {
    // Lines of the run's log, in order, in batches at most LinesIntervalMs
    // apart, the last of them before a question and before `ended`.
    std::function<void(std::vector<ResultLine> lines)> lines;
    // The port is open (true) or closed or lost (false, `lost` when it went away).
    std::function<void(bool open, bool lost)> connection;
    // A question waits for Answer (yesNo), or a prompt for Answer(true) (an OK);
    // empty `text`: none waits any more.
    std::function<void(const std::string& text, const std::string& caption, bool yesNo)> asked;
    // A message that needs no answer (an error, a refusal, a hold).
    std::function<void(const std::string& text)> told;
    // The run is over and its thread has ended: how (none: it was not run, or
    // not recorded; the last message told says why), and the script's lines
    // when the run advanced a serial number in them.
    std::function<void(std::optional<RunEnded> ended, std::optional<std::vector<std::string>> advanced)> ended;
};

class SocketRun : public QObject {
public:
    // Longest a line of the log waits before the window is given it, in ms.
    static constexpr int LinesIntervalMs = 100;

    // Runs of socket `socket` (1-based, for thread names), recorded in `records` (null: none).
    SocketRun(int socket, StationRecords* records, SocketRunView view, QObject* parent = nullptr);
    // Cancels a run under way and waits for its thread.
    ~SocketRun() override;
    SocketRun(const SocketRun&) = delete;
    SocketRun& operator=(const SocketRun&) = delete;

    // Starts `request` on a new thread; false while a run is under way.
    bool Start(SocketRunRequest request);
    // Asks the run to stop, as Cancel does in the main window; a question
    // waiting is answered No. `closing`: the window is being closed.
    void Cancel(bool closing = false);
    // Answers the question (or the prompt) that waits.
    void Answer(bool yes);
    // A run is under way (until `ended` has been told).
    bool Running() const { return m_thread != nullptr; }
    // The script line running now (0: none yet).
    int Line() const { return m_line.load(); }

private:
    class Host;
    class Sink;
    // The run, on its thread.
    void Body(SocketRunRequest request);
    // Calls `job` on the window's thread.
    void Post(std::function<void()> job);
    // On the run's thread: waits for the answer to a question told to the
    // window; No when the run is cancelled meanwhile.
    bool Ask(const std::string& text, const std::string& caption, bool yesNo);
    // From the run's thread: a message (UTF-8) for under the tile; the port's state.
    void Tell(std::string text);
    void ShowConnection(bool open, bool lost);
    void Ended(std::optional<RunEnded> ended, std::optional<std::vector<std::string>> advanced);
    // On the run's thread: a line of the log, kept for the window's next batch.
    void AddLine(std::string_view text, ResultColour colour);
    // On the window's thread: the lines kept so far go to the view, in order.
    void HandOverLines();

    const int m_socket;
    StationRecords* m_records;
    SocketRunView m_view;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_closing{false};
    std::atomic<int> m_line{0};
    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    std::optional<bool> m_answer;  // the answer given to the question waiting
    bool m_asking = false;         // a question waits (guarded by m_answerMutex)
    std::mutex m_linesMutex;
    std::vector<ResultLine> m_pendingLines;  // told to the window with the next batch
    // Takes the kept lines to the window while a run is under way: a batch a
    // tick, not an event a line, so that eight busy sockets do not wake the
    // window for every line they log.
    QTimer* m_linesTimer = nullptr;
};

}  // namespace tamrisk
