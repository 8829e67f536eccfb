// Whole scripts made of arbitrary bytes, run against the printer model on an
// in-memory line with a fake clock. A run is bounded: past a budget of event
// turns the fuzz host presses Cancel. Every frame the station writes must be a
// well-formed request whose length byte agrees with its data, and no logged
// line may grow past the script it came from.

#include "linkrig.h"
#include "modelio.h"
#include "scriptrunner.h"
#include "transaction.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// A logged line repeats at most one script line (a comment, an invalid repeat,
// a request's data) after a short prefix, or an answer: the log never makes a
// line longer than the script it came from and the longest prefix. Lines past
// what the results view holds are valid here; the view cuts them.
class CountingSink : public tamrisk::ResultSink {
public:
    explicit CountingSink(std::size_t scriptBytes) : m_limit(scriptBytes + 64 + tamrisk::MaxAnswerData) {}
    void AppendResultLine(std::string_view text, tamrisk::ResultColour) override {
        ++lines;
        if (text.size() > m_limit)
            __builtin_trap();
    }
    std::size_t lines = 0;

private:
    std::size_t m_limit;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tamrisk;
    if (size > 8192)
        return 0;
    testing::LinkRig<testing::ModelIo> rig;
    testing::FakeHost& host = rig.host;
    TransactionState& state = rig.state;
    testing::ModelIo* io = rig.io;
    CountingSink sink(size);
    ScriptRunner runner(*rig.transactor, host, sink, [&rig] { return rig.link->IsOpen(); });
    runner.SetWallClock([] { return WallClockReading{{2024, 2, 29, 23, 59, 0}, "29.02.2024 23:59:00"}; });
    host.onEvents = [&] {
        if (host.eventTurns > 20000 || io->written.size() > 300)
            state.CancelRequest = true;
    };

    StringScriptList list(SplitScriptLines(std::string_view(reinterpret_cast<const char*>(data), size)));
    const std::size_t count = list.Count();
    runner.RunScript(list);

    if (list.Count() != count)
        __builtin_trap();
    for (const std::string& frame : io->written) {
        const auto request = DecodeRequestFrame(frame);
        if (!request || request->data.size() > MaxRequestData)
            __builtin_trap();
    }
    return 0;
}
