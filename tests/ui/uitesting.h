#pragma once
// What the window tests share: a QApplication for the whole test program, the
// station's core over the printer model with the fake host, and acting on a
// modal window (a dialog, a message box) once it has opened, as an operator would.

#include "linkrig.h"
#include "modelio.h"
#include "testfiles.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

class QFileDialog;

#include <functional>
#include <memory>
#include <ostream>

// Readable failures: a QString compared in a test printed as its text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace tamrisk {
class StationRecords;
class TTestForm;
}  // namespace tamrisk

namespace tamrisk::testing {

// The station over the printer model; the fake host also lets Qt's events run,
// so timers and repaints work while a transaction waits.
struct UiRig : LinkRig<ModelIo> {
    explicit UiRig(sim::SimOptions options = {});
};

// The printer model's options that refuse command 90 with the printer's common error.
sim::SimOptions Refusing90();

// Calls `act` with the next modal widget (QApplication::activeModalWidget)
// once one is open, from the event loop; gives up after `timeoutMs`.
void OnNextModal(std::function<void(QWidget* modal)> act, int timeoutMs = 5000);

// `modal` as the file dialog it should be; null, a test failure and the window
// closed, when it is none.
QFileDialog* FileDialogOf(QWidget* modal);

// Chooses `path` in the next file dialog, typed into its name box as the
// operator types it, or cancels the dialog when `path` is empty. `look`, when
// given, sees the dialog first (its title, filters, suffix).
void PickFile(const QString& path, std::function<void(QFileDialog& dialog)> look = {});

// Shows `window` with records of its own, made in `records` and opened, and
// connects it to the printer.
void ShowConnected(UiRig& rig, TTestForm& window, std::unique_ptr<StationRecords>& records);

// Lets Qt's pending events run (timers of `ms` milliseconds included).
void RunEvents(int ms = 0);

// The child of `parent` named `name`, as a test finds a control; a test
// failure, and null, when there is none of that type.
template <class T>
T* FindControl(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

}  // namespace tamrisk::testing
