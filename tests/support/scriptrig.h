#pragma once
// A script runner on the station's core over the printer model: the lines it
// logs kept with their colours, every request frame that went out readable, and
// the fake host's clock moving only when the run sleeps or waits.

#include "frame.h"
#include "linkrig.h"
#include "modelio.h"
#include "scriptrunner.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrisk::testing {

struct Logged {
    std::string text;
    ResultColour colour;
    bool operator==(const Logged&) const = default;
};

class ListSink : public ResultSink {
public:
    void AppendResultLine(std::string_view text, ResultColour colour) override {
        lines.push_back({std::string(text), colour});
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& l : lines)
            texts.push_back(l.text);
        return texts;
    }
    std::vector<Logged> lines;
};

struct ScriptRig : LinkRig<ModelIo> {
    explicit ScriptRig(sim::SimOptions options = {}) : LinkRig(std::move(options)) {
        runner = std::make_unique<ScriptRunner>(*transactor, host, sink, [this] { return link->IsOpen(); });
        runner->SetWallClock([] { return WallClockReading{{2012, 3, 7, 9, 5, 41}, "07.03.2012 09:05:41"}; });
    }

    ListSink sink;
    std::unique_ptr<ScriptRunner> runner;

    RunOutcome Run(StringScriptList& list) { return runner->RunScript(list); }
    RunOutcome Run(const std::vector<std::string>& lines) {
        StringScriptList list(lines);
        return Run(list);
    }
    // The data of every request frame that went out.
    std::vector<std::string> SentData() const {
        std::vector<std::string> data;
        for (const auto& frame : io->written)
            data.push_back(DecodeRequestFrame(frame)->data);
        return data;
    }
};

}  // namespace tamrisk::testing
