// Feeds arbitrary byte streams to the answer receiver and the frame tests, the
// way a reception does: the stream is cut into answers at each end of frame or
// full buffer, and every collected buffer is tested against a few requests.

#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t sequence = data[0];
    const int command = data[1];
    tamrisk::AnswerReceiver receiver;
    receiver.Reset();
    for (std::size_t i = 2; i < size; ++i) {
        if (receiver.Push(data[i]) == tamrisk::AnswerReceiver::Step::More)
            continue;
        const auto check = tamrisk::TestAnswerFrame(receiver.Buffer(), sequence, command);
        if (check.data.size() > tamrisk::MaxAnswerData)
            __builtin_trap();
        if (check.passed && (!check.dataCopied || !check.statusCopied))
            __builtin_trap();
        // An accepted answer without zero bytes in its data re-encodes to the
        // bytes collected up to its checksum. The checksum digits themselves may
        // differ: the reading formula also accepts digits above '?' that add up
        // to the same value.
        const std::size_t m = receiver.Buffer()[1] - 0x2Bu;
        if (check.passed && check.data.size() == m) {
            const std::string encoded =
                tamrisk::EncodeAnswerFrame(sequence, static_cast<std::uint8_t>(command), check.data, check.status);
            for (std::size_t k = 0; k < 12 + m; ++k)
                if (static_cast<std::uint8_t>(encoded[k]) != receiver.Buffer()[k])
                    __builtin_trap();
            const auto* digits = reinterpret_cast<const std::uint8_t*>(encoded.data()) + 12 + m;
            if (tamrisk::ReadChecksum(digits) != tamrisk::ReadChecksum(receiver.Buffer().data() + 12 + m))
                __builtin_trap();
        }
        receiver.Reset();
    }
    tamrisk::TestAnswerFrame(receiver.Buffer(), sequence, command + 256);
    return 0;
}
