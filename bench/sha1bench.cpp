// The SHA-1 of a 50 MB selection of the journal view, as the window's SHA-1
// computes it (Sha1Text, events let through between chunks as the station's
// host does), against sha1sum over the same bytes in a file, in the same run:
// MB/s of each (the median of five runs) and ours over sha1sum, at least 0.8.
// The digests must agree. Usage: bench_sha1

#include "benchsupport.h"
#include "consolehost.h"
#include "journalops.h"
#include "journaltext.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

namespace {

constexpr std::size_t SelectionBytes = 50'000'000;
constexpr int Runs = 5;

// Journal-like Windows-1251 lines of 20 to 60 bytes, CR LF each, until the text holds 50 MB.
JournalText JournalOfFiftyMegabytes() {
    JournalText text;
    std::string line;
    for (std::uint32_t n = 0; text.Bytes().size() < SelectionBytes; ++n) {
        line.assign(20 + n * 7919 % 41, static_cast<char>(0xC0 + n % 32));  // Cyrillic capitals
        const std::string number = std::to_string(n) + ' ';
        line.replace(0, number.size(), number);
        text.AppendLine(line);
    }
    return text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const JournalText text = JournalOfFiftyMegabytes();
    const auto [start, end] = text.WidenSelection(0, SelectionBytes);  // whole lines, as a mouse selection
    const std::string_view selection = std::string_view(text.Bytes()).substr(start, end - start);
    const double megabytes = static_cast<double>(selection.size()) / 1e6;

    QTemporaryDir dir;
    const QString path = dir.filePath("selection.txt");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(selection.data(), static_cast<qint64>(selection.size())) != static_cast<qint64>(selection.size())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    ConsoleHost host(std::cerr, [] { QCoreApplication::processEvents(); });
    std::vector<double> ours, theirs;
    std::string digest, sha1sumDigest;
    for (int run = 0; run < Runs; ++run) {
        bool cancelled = false;
        Stopwatch watch;
        digest = Sha1Text(selection, cancelled, host).value_or("");
        ours.push_back(watch.wallSeconds());

        QProcess sha1sum;
        Stopwatch their;
        sha1sum.start("sha1sum", {path});
        if (!sha1sum.waitForFinished(60000) || sha1sum.exitCode() != 0) {
            std::fprintf(stderr, "sha1sum failed\n");
            return 1;
        }
        theirs.push_back(their.wallSeconds());
        sha1sumDigest = "SHA-1: " + sha1sum.readAllStandardOutput().left(40).toUpper().toStdString();
    }
    const double oursRate = megabytes / Median(ours);
    const double theirRate = megabytes / Median(theirs);
    const bool same = digest == sha1sumDigest;
    std::printf("SHA-1 of a %.1f MB selection (%zu lines): Sha1Text %.0f MB/s, sha1sum %.0f MB/s, ratio %.2f "
                "(at least 0.80); digests %s (%s)\n",
                megabytes, text.LineCount(), oursRate, theirRate, oursRate / theirRate, same ? "agree" : "DIFFER",
                digest.c_str());
    return same && oursRate / theirRate >= 0.8 ? 0 : 1;
}
