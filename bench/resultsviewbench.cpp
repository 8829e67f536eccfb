// The results view under a long log: 100,000 coloured lines appended through
// AppendResultLine to the main window's view, with the window's events
// processed after each line as a run does. Prints the average cost of a line,
// the first and last 10,000 lines compared, the total and the peak memory.
// Usage: bench_resultsview [--lines N]   (QT_QPA_PLATFORM=offscreen without a display)

#include "benchsupport.h"
#include "qthost.h"
#include "qtserialio.h"
#include "resultsview.h"
#include "station.h"
#include "tamriskfp.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tamrisk;
using namespace tamrisk::bench;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int lines = 100000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--lines"))
            lines = std::atoi(argv[i + 1]);
    const int tenth = lines / 10;

    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());
    TTestForm window(station);
    window.resize(1120, 896);
    window.show();
    QApplication::processEvents();
    ResultsView& view = window.Results();

    // The lines of a run: requests, answers in both colours, the odd remark.
    const std::vector<std::pair<std::string, ResultColour>> kinds = {
        {"-> 121,\"0040,64\"", ResultColour::Blue},
        {"<- [00,00,00,00,00,3A](0,0),\"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF\"",
         ResultColour::Green},
        {"-> 48,\"\\xC0\\xE1\\xE2 1\"", ResultColour::Blue},
        {"<- [21,02,00,00,00,00](0,2),\"\"", ResultColour::Red},
        {"** Repeating 7 from 10000 for Label \"Pass\"", ResultColour::Black},
    };
    std::vector<double> perTenth;
    const Stopwatch total;
    for (int t = 0; t < 10; ++t) {
        const Stopwatch watch;
        for (int i = 0; i < tenth; ++i) {
            const auto& [text, colour] = kinds[static_cast<std::size_t>(t * tenth + i) % kinds.size()];
            view.AppendResultLine(text, colour);
            QApplication::processEvents();
        }
        // Each tenth is timed with its lines in the view, so that the tenths
        // compare the cost of the document as it grows.
        view.Flush();
        QApplication::processEvents();
        perTenth.push_back(watch.wallSeconds());
    }
    const QString shown = view.Text();  // the last batch reaches the view
    const double seconds = total.wallSeconds();
    const long shownLines = shown.count(QLatin1Char('\n')) + (shown.isEmpty() ? 0 : 1);

    std::printf("results view: %d lines appended, events after each: %.3f s in all, %.1f us a line (at most 60)\n",
                10 * tenth, seconds, 1e6 * seconds / (10 * tenth));
    std::printf("first %d lines %.3f s, last %d lines %.3f s: last / first = %.2f (at most 1.5)\n", tenth,
                perTenth.front(), tenth, perTenth.back(), perTenth.back() / perTenth.front());
    std::printf("each tenth of the lines, in ms:");
    for (const double t : perTenth)
        std::printf(" %.1f", 1e3 * t);
    std::printf("\nlines in the view: %ld; peak memory of the process: %.1f MiB\n", shownLines,
                PeakMemoryKiB() / 1024.0);
    return 0;
}
