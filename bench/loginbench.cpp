// How long a person waits for the station after pressing Log In: from the
// click to the main window usable again (the dialog gone, the person named,
// the window's events run), over records in a file or a line's PostgreSQL
// database that hold one person. The first log-in follows the start; the
// others each follow a Log Out. Prints the median, the fastest and the slowest,
// and beside them the median of the PIN's Argon2id check alone, which most of
// a log-in is, so that a loaded machine's slower hash is told from the station's own part.
// Usage: bench_login [--times N] [--records LOCATION]   (QT_QPA_PLATFORM=offscreen without a display)

#include "login.h"
#include "pin.h"
#include "qthost.h"
#include "qtserialio.h"
#include "recordstore.h"
#include "station.h"
#include "stationlogin.h"
#include "stationrecords.h"
#include "tamriskfp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tamrisk;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int times = 9;
    QTemporaryDir dir;
    QString location = dir.filePath("records.sqlite");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--times"))
            times = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--records"))
            location = QString::fromLocal8Bit(argv[i + 1]);
    }
    // The user's own settings stay as they are.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    const std::string id = "BENCH1", pin = "2468";
    {
        RecordStore store;
        if (const StoreResult<void> opened = store.Open(location); !opened) {
            std::fprintf(stderr, "bench_login: %s\n", opened.error().Text().toLocal8Bit().constData());
            return 1;
        }
        if (!store.Operators().Find(id))
            (void)store.Operators().Add({.id = id, .name = "Bench Person", .role = Role::Technician,
                                         .pinHash = HashPin(pin)});
    }
    qputenv("TAMRISK_RECORDS", location.toUtf8());
    qputenv("TAMRISK_LOCAL_RECORDS", dir.filePath("local.sqlite").toUtf8());

    QtHost host;
    Station station(host, std::make_unique<QtSerialIo>());
    TTestForm window(station);
    host.SetParent(&window);
    StationRecords records(station, &window);
    window.SetRecords(&records);
    window.show();
    records.Open();
    StationLogIn logIn(window, records);

    // Types the ID and PIN into the dialog once it is up and presses Log In, the clock started.
    QElapsedTimer pressed;
    QTimer typist;
    typist.setInterval(5);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<TLogInDlg*>(QApplication::activeModalWidget());
        if (dialog == nullptr || dialog->Checking())
            return;
        typist.stop();
        dialog->findChild<QLineEdit*>("IdBox")->setText(QString::fromStdString(id));
        dialog->findChild<QLineEdit*>("PinBox")->setText(QString::fromStdString(pin));
        pressed.start();
        dialog->findChild<QPushButton*>("LogInBt")->click();
    });
    auto usable = [&] {
        QApplication::processEvents();
        return window.findChild<QLabel*>("PersonPn")->isVisible() && QApplication::activeModalWidget() == nullptr;
    };

    std::vector<double> seconds;
    for (int i = 0; i < times; ++i) {
        typist.start();
        if (i == 0) {
            if (!logIn.Start())
                return 1;
        } else {
            logIn.LogOut();
        }
        if (!usable()) {
            std::fprintf(stderr, "bench_login: the log-in was not accepted\n");
            return 1;
        }
        seconds.push_back(static_cast<double>(pressed.nsecsElapsed()) / 1e9);
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::vector<double> checks;
    const std::string hash = HashPin(pin);
    for (int i = 0; i < times; ++i) {
        QElapsedTimer check;
        check.start();
        if (!PinMatches(hash, pin))
            return 1;
        checks.push_back(static_cast<double>(check.nsecsElapsed()) / 1e9);
    }
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    std::printf("log-in, Log In pressed to the window usable (%s): median %.3f s of %d, fastest %.3f s, slowest %.3f s\n",
                RecordStore::IsLineLocation(location) ? "line database" : "records file", sorted[sorted.size() / 2],
                times, sorted.front(), sorted.back());
    std::printf("the PIN's check alone: median %.3f s\n", median(checks));
    std::printf("each:");
    for (double s : seconds)
        std::printf(" %.3f", s);
    std::printf("\n");
    return 0;
}
