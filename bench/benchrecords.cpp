#include "benchrecords.h"

#include "recordstore.h"

#include <QDateTime>
#include <QUuid>

#include <array>
#include <cstdio>

namespace tamrisk::bench {

namespace {

constexpr qint64 RecordSpacingMs = 52'000;  // 100,000 records span two months

}  // namespace

std::string SerialData(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "DT%06d", number);
    return text;
}

void MakeRecord(int i, qint64 startedMs, RecordHeader& header, RecordBatch& batch) {
    static const std::array<const char*, 3> stations = {"LINE-A-1", "LINE-A-2", "LINE-B-1"};
    static const std::array<const char*, 4> operators = {"ivanova", "petrov", "georgieva", "dimitrov"};
    header = {};
    header.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    header.kind = i % 20 == 7 ? "command" : i % 50 == 13 ? "code-memory" : "run";
    header.station = stations[static_cast<std::size_t>(i) % stations.size()];
    header.operatorName = operators[static_cast<std::size_t>(i / 480) % operators.size()];  // shifts of 8 hours
    header.version = "0.1";
    header.port = "/dev/ttyUSB0";
    header.speed = 115200;
    header.startedMs = startedMs;
    header.outcome = i % 17 == 3 ? RecordOutcome::Fail
                     : i % 41 == 5 ? RecordOutcome::Aborted
                     : i % 97 == 11 ? RecordOutcome::Error
                                    : RecordOutcome::Pass;
    batch = {};
    qint64 t = 0;
    auto line = [&](ResultColour colour, std::string text) {
        AddLogLine(batch.log, t, colour, 0, text);
        t += 70 + (i + t) % 40;
    };
    auto answer = [&](std::string data) {
        line(ResultColour::Green, "<- [80,00,00,00,00,00](0,0),\"" + std::move(data) + "\"");
    };
    if (header.outcome == RecordOutcome::Error) {
        header.reason = "Serial port not open";
    } else if (header.kind == "command") {
        line(ResultColour::Blue, "-> 74,\"\"");
        answer("1;0;0;0;0;0;0");
    } else if (header.kind == "code-memory") {
        line(ResultColour::Black, "Reading code memory 0x000000 - 0x03FFFF");
        batch.images.push_back({"code-memory", 262144, std::string(64, 'a' + static_cast<char>(i % 6)),
                                "/home/" + std::string(header.operatorName) + "/code-memory.bin"});
    } else {
        header.script = "final-test.inp";
        header.scriptSha256 = "5d41402abc4b2a76b9719d911017c592ae2f3d8e4f6e1c2b7a8d9e0f1a2b3c4d";
        line(ResultColour::Blue, "-> 90,\"\"");
        answer("1.02,21Oct26,1200,FFFF,4A2B,DT,10");
        for (int k = 0; k < SerialsPerRun; ++k) {
            const std::string data = SerialData(SerialsPerRun * i + k);
            line(ResultColour::Blue, "-> 91,\"" + data + "\"");
            answer("");
            batch.serials.push_back({"91,DT######", data, 4 + k, SerialResult::Answered});
        }
        for (int k = 0; k < 4; ++k) {
            line(ResultColour::Blue, "-> 121,\"" + std::to_string(k * 64) + ",64\"");
            answer("0F1E2D3C4B5A69788796A5B4C3D2E1F00F1E2D3C4B5A69788796A5B4C3D2E1F0");
        }
        if (header.outcome == RecordOutcome::Fail) {
            line(ResultColour::Blue, "-> 53,\"\"");
            line(ResultColour::Red, "<- [80,00,02,00,00,00](0,0),\"\"");
            header.reason = batch.log.back().text;
        } else if (header.outcome == RecordOutcome::Aborted) {
            header.reason = "Stopped by the operator";
        }
        line(ResultColour::Black, "Script execution time " + std::to_string(t / 1000) + ".00 seconds");
    }
    header.unit = batch.serials.empty() ? "" : batch.serials.front().data;
    header.durationMs = t;
}

bool FillRecords(const QString& path, int count, const QString& forwardTo) {
    RecordStore store;
    store.SetForwardTo(forwardTo);
    if (const StoreResult<void> opened = store.Open(path); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().Text()));
        return false;
    }
    const qint64 first = QDateTime::currentMSecsSinceEpoch() - count * RecordSpacingMs;
    RecordHeader header;
    RecordBatch batch;
    for (int i = 0; i < count; ++i) {
        MakeRecord(i, first + i * RecordSpacingMs + i % 7 * 1000, header, batch);
        StoreResult<void> written = store.Begin(header);
        if (written)
            written = store.AppendBatch(header.id, batch);
        if (written)
            written = store.Finish(header);
        if (!written) {
            std::fprintf(stderr, "%s\n", qPrintable(written.error().Text()));
            return false;
        }
    }
    return true;
}

}  // namespace tamrisk::bench
