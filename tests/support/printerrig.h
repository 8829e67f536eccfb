#pragma once
// A station over a scripted printer that answers each request through a
// function of its command and data, for the endings of the readers and the journal.

#include "frame.h"
#include "linkrig.h"
#include "scriptedio.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk::testing {

struct Reply {
    std::string data;
    StatusBytesArray status{};
};

struct PrinterRig : LinkRig<ScriptedIo> {
    // Empty optional: the printer stays silent.
    std::function<std::optional<Reply>(int command, const std::string& data)> printer;
    std::vector<std::string> requests;  // "command:data" in order

    PrinterRig() {
        io->respond = [this](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            std::vector<Chunk> chunks;
            if (!request)
                return chunks;
            const std::string& data = request->data;
            requests.push_back(std::to_string(request->command) + ":" + data);
            if (const auto reply = printer(request->command, data))
                chunks.push_back({std::chrono::microseconds(500),
                                  EncodeAnswerFrame(request->sequence, request->command, reply->data,
                                                    reply->status)});
            return chunks;
        };
    }
};

}  // namespace tamrisk::testing
