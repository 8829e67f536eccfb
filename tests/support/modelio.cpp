#include "modelio.h"

namespace tamrisk::testing {

ModelIo::ModelIo(FakeHost& host, sim::SimOptions options) : ScriptedIo(host), m_model(std::move(options)) {
    respond = [this](const std::string& written) {
        m_model.Receive(written);
        std::vector<Chunk> chunks;
        for (std::string& answer : m_model.TakeAnswers())
            chunks.push_back({answerDelay, std::move(answer)});
        return chunks;
    };
}

}  // namespace tamrisk::testing
