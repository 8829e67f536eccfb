#pragma once
// Drives a PrinterModel the way the station does: encode a request frame, feed
// the model, collect its bytes with the station's receiver and run the station's
// answer tests on them.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "frame.h"
#include "printermodel.h"

namespace tamrisk::sim::testing {

struct Exchange {
    bool answered = false;  // the model sent anything at all
    int synCount = 0;
    AnswerCheck check;
};

// Collects `bytes` like the station's receiver and tests the frame it ends with.
inline Exchange Collect(std::string_view bytes, std::uint8_t sequence, int command) {
    Exchange exchange;
    exchange.answered = !bytes.empty();
    AnswerReceiver receiver;
    receiver.Reset();
    for (char c : bytes) {
        if (receiver.Push(static_cast<std::uint8_t>(c)) != AnswerReceiver::Step::More)
            break;
    }
    exchange.synCount = receiver.SynCount();
    exchange.check = TestAnswerFrame(receiver.Buffer(), sequence, command);
    return exchange;
}

inline Exchange Transact(PrinterModel& model, std::uint8_t sequence, int command, std::string_view data) {
    model.Receive(EncodeRequestFrame(sequence, command, data));
    return Collect(model.TakeOutput(), sequence, command);
}

// Calls the model as the station does: advances the sequence byte after every
// request and insists that every answer passes the frame tests.
class ModelCaller {
public:
    explicit ModelCaller(PrinterModel& model) : m_model(model) {}

    // The answer's data; fails the test when the frame is bad.
    std::string Request(int command, std::string_view data, StatusBytesArray* status = nullptr) {
        const Exchange exchange = Transact(m_model, m_sequence, command, data);
        m_sequence = NextSequence(m_sequence);
        EXPECT_TRUE(exchange.check.passed) << "command " << command << " data " << data
                                           << " failed test " << exchange.check.failedTest;
        if (status != nullptr)
            *status = exchange.check.status;
        return exchange.check.data;
    }

    std::string Journal(std::string_view data) { return Request(PrinterModel::CmdJournal, data); }

private:
    PrinterModel& m_model;
    std::uint8_t m_sequence = FirstSequence;
};

}  // namespace tamrisk::sim::testing
