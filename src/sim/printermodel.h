#pragma once
// A fiscal printer in software, driven through its serial line in memory: feed it
// what the station writes, take what the printer sends back. No I/O, no clock;
// tamrisk-sim puts it behind a pty, tests drive it directly.
//
// Framing: bytes before an 0x01 are ignored, and an 0x01 whose length byte cannot
// start a request, or whose frame turns out malformed, is skipped. A request whose
// frame is whole but whose checksum is wrong gets no answer at all, as on a printer
// that did not hear it. A request carrying the same sequence byte, command and data
// as the one just served is a repetition after a lost answer: it is answered again
// with the stored answer and not carried out a second time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"
#include "journalmodel.h"
#include "simoptions.h"
#include "simtypes.h"

namespace tamrisk::sim {

class PrinterModel {
public:
    // Commands the model carries out itself; every other number from 32 to 255 is
    // accepted with empty data.
    static constexpr int CmdSetDateTime = 61;
    static constexpr int CmdReadiness = 74;
    static constexpr int CmdReadFiscalMemory = 116;
    static constexpr int CmdJournal = 119;
    static constexpr int CmdReadCodeMemory = 121;

    struct Answer {
        std::string data;
        StatusArray status{};
    };

    struct Counters {
        std::uint64_t requests = 0;        // well-formed request frames received
        std::uint64_t badFrames = 0;       // whole frames refused for their checksum or markers
        std::uint64_t repetitions = 0;     // requests answered again from the stored answer
        std::uint64_t answersDropped = 0;  // injected NoAnswer faults
        std::uint64_t answersCorrupted = 0;  // injected BadChecksum and WrongSequence faults
    };

    explicit PrinterModel(SimOptions options = {});

    // Takes bytes as they come off the line, in pieces of any size.
    void Receive(std::string_view bytes);
    // Forgets a partly received request (the line was dropped).
    void DiscardInput() { m_input.clear(); }

    // The answers produced since the last call, one string per answer: the
    // configured SYN bytes followed by the answer frame.
    std::vector<std::string> TakeAnswers();
    // The same, joined: every byte the printer has to send.
    std::string TakeOutput();

    // Carries out one command as the printer does, without framing, repetition
    // handling or faults.
    Answer Execute(int command, std::string_view data);

    // The status bytes of a fiscalised printer without errors: S5.1 fiscal memory
    // formatted, S5.3 fiscalised, S5.4 VAT rates set, S5.5 serial number set.
    static StatusArray HealthyStatus();

    const SimDateTime& Clock() const { return m_clock; }
    const JournalModel& Journal() const { return m_journal; }
    const std::vector<std::uint8_t>& CodeMemory() const { return m_codeMemory; }
    const std::vector<std::uint8_t>& FiscalMemory() const { return m_fiscalMemory; }
    const Counters& Stats() const { return m_stats; }

private:
    void ParseInput();
    void Serve(const RequestFrame& request);
    void Send(std::uint8_t sequence, std::uint8_t command, const Answer& answer);
    CommandResult Dispatch(int command, std::string_view data);

    SimOptions m_options;
    SplitMix64 m_faultRandom;
    SimDateTime m_clock{2024, 3, 20, 9, 0, 0};
    JournalModel m_journal;
    std::vector<std::uint8_t> m_codeMemory;
    std::vector<std::uint8_t> m_fiscalMemory;

    std::string m_input;
    std::vector<std::string> m_answers;
    Counters m_stats;

    bool m_haveLast = false;
    RequestFrame m_lastRequest;
    Answer m_lastAnswer;
};

}  // namespace tamrisk::sim
