// `tamrisk-cli records list` (the newest 20) and `records list --serial` over a
// records file of 100,000 records against the same over a file of 1,000: each
// command run as a process, several times in turn, the median taken. The same
// questions asked in this process of the records store give the database's
// own share of the time.
// The files are filled through the records store as a line's stations fill
// them (benchrecords.h).
// Usage: bench_recordslist [--records N] [--small N] [--repeats N]

#include "benchrecords.h"
#include "benchsupport.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

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
        if (!FillRecords(file.path, file.records))
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
        const Stopwatch watch;
        const StoreResult<std::vector<RecordHeader>> listed = store.List(filter);
        const double seconds = watch.wallSeconds();
        const std::size_t found = listed ? listed->size() : 0;
        if (found != (serial ? 1u : 20u))
            std::fprintf(stderr, "%d records: found %zu records %s\n", file.records, found,
                         qPrintable(listed.error().Text()));
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
            (void)store.Open(file.path);  // a store that did not open tells it in its listing
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
