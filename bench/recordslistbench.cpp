// `tamrisk-cli records list` (the newest 20) and `records list --serial` over a
// records file of 100,000 records against the same over a file of 1,000: each
// command run as a process, several times in turn, the median taken. The same
// questions asked in this process of the records store give the database's
// own share of the time.
// The files are filled through the records store as a line's stations fill
// them: records about a minute apart over days, from three stations and four
// operators, mostly script runs of 15 log lines that send three serial numbers
// each (every serial number sent once), some commands and memory reads, with
// passes, failures, aborts and errors.
// Usage: bench_recordslist [--records N] [--small N] [--repeats N]

#include "benchsupport.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QUuid>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr qint64 RecordSpacingMs = 52'000;  // 100,000 records span two months
constexpr int SerialsPerRun = 3;

std::string SerialData(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "DT%06d", number);
    return text;
}

// Record `i` of a file: its header, and what its operation showed and sent.
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

// Fills a new records file with `count` records, the newest now.
bool Fill(const QString& path, int count) {
    RecordStore store;
    QString error;
    if (!store.Open(path, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const qint64 first = QDateTime::currentMSecsSinceEpoch() - count * RecordSpacingMs;
    RecordHeader header;
    RecordBatch batch;
    for (int i = 0; i < count; ++i) {
        MakeRecord(i, first + i * RecordSpacingMs + i % 7 * 1000, header, batch);
        if (!store.Begin(header, error) || !store.AppendBatch(header.id, batch, error) ||
            !store.Finish(header, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
    }
    return true;
}

// One records file and the median seconds of each question asked of it.
struct File {
    int records = 0;
    QString path;
    std::vector<double> list{}, serial{}, storeList{}, storeSerial{};
};

double Median(const std::vector<double>& seconds) { return MedianOf(seconds, [](double s) { return s; }); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int large = 100000, small = 1000, repeats = 9;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--records"))
            large = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--small"))
            small = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--repeats"))
            repeats = std::atoi(argv[i + 1]);
    }
    QTemporaryDir dir;
    std::array<File, 2> files = {File{small, dir.filePath("small.sqlite")}, File{large, dir.filePath("large.sqlite")}};
    for (File& file : files) {
        const Stopwatch watch;
        if (!Fill(file.path, file.records))
            return 1;
        const qint64 bytes = RecordsFileBytes(file.path);
        std::printf("filled %d records in %.1f s: %lld bytes, %.0f a record\n", file.records, watch.wallSeconds(),
                    static_cast<long long>(bytes), static_cast<double>(bytes) / file.records);
    }

    // Sent once, by the record in the middle of each file.
    auto searched = [](const File& file) { return SerialData(SerialsPerRun * (file.records / 2) + 1); };
    const std::string outPath = dir.filePath("out.txt").toStdString();
    auto cli = [&](const File& file, bool serial) {
        std::vector<std::string> command = {TAMRISK_CLI_PATH, "records", "list", "--records",
                                            file.path.toStdString()};
        if (serial)
            command.insert(command.end(), {"--serial", searched(file)});
        return Spawn(command, outPath);
    };
    auto storeSeconds = [&](RecordStore& store, const File& file, bool serial) {
        RecordStore::Filter filter;
        if (serial)
            filter.serial = searched(file);
        QString error;
        const Stopwatch watch;
        const std::size_t found = store.List(filter, error).size();
        const double seconds = watch.wallSeconds();
        if (found != (serial ? 1u : 20u))
            std::fprintf(stderr, "%d records: found %zu records %s\n", file.records, found, qPrintable(error));
        return seconds;
    };
    // The first read of each file brings it into the page cache, as a station's
    // use of its records file keeps it there.
    for (const File& file : files)
        cli(file, false), cli(file, true);
    for (int r = 0; r < repeats; ++r)
        for (File& file : files) {
            file.list.push_back(cli(file, false).wallSeconds);
            file.serial.push_back(cli(file, true).wallSeconds);
            RecordStore store;
            QString error;
            store.Open(file.path, error);
            file.storeList.push_back(storeSeconds(store, file, false));
            file.storeSerial.push_back(storeSeconds(store, file, true));
        }

    const File& few = files[0];
    const File& many = files[1];
    auto report = [&](const char* question, const std::vector<double> File::*times, const char* what) {
        const double fewSeconds = Median(few.*times), manySeconds = Median(many.*times);
        std::printf("%s: %d records %.4f s, %d records %.4f s (median of %d): ratio %.2f%s\n", question, few.records,
                    fewSeconds, many.records, manySeconds, repeats, manySeconds / fewSeconds, what);
    };
    std::printf("tamrisk-cli processes:\n");
    report("records list (newest 20)", &File::list, " (at most 2)");
    report(("records list --serial " + searched(many)).c_str(), &File::serial, " (at most 2)");
    std::printf("the records store's List in this process:\n");
    report("newest 20", &File::storeList, "");
    report("by serial number", &File::storeSerial, "");
    return 0;
}
