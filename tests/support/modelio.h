#pragma once
// The printer model behind a serial line in memory: what the station writes goes
// to the model, its answers arrive after a set delay on the fake host's clock.

#include "printermodel.h"
#include "scriptedio.h"

namespace tamrisk::testing {

class ModelIo : public ScriptedIo {
public:
    explicit ModelIo(FakeHost& host, sim::SimOptions options = {});

    sim::PrinterModel& model() { return m_model; }
    // Time from a request to its answer.
    std::chrono::microseconds answerDelay{1000};

private:
    sim::PrinterModel m_model;
};

}  // namespace tamrisk::testing
