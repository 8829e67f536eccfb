#include "qthost.h"

#include "textcodec.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include <algorithm>
#include <thread>

namespace tamrisk {

namespace {

// The caption says what kind of message it is; the box's icon follows it.
QMessageBox::Icon IconFor(const std::string& caption) {
    if (caption == "Error")
        return QMessageBox::Critical;
    if (caption == "Warning")
        return QMessageBox::Warning;
    return QMessageBox::Information;
}

// A detail (a reason, a file name) is read at a glance only on one line: the
// box is widened for its longest line, up to this many average characters,
// beyond which it wraps as before.
constexpr int MaxDetailColumns = 90;

void WidenForDetail(QMessageBox& box, const QString& detail) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (label == nullptr)
        return;
    const QFontMetrics metrics(label->font());
    int longest = 0;
    for (const QString& line : detail.split(u'\n'))
        longest = std::max(longest, metrics.horizontalAdvance(line));
    // The label's own margins and a character of slack, so that the line does not wrap by a hair.
    const int wanted = longest + metrics.averageCharWidth() + label->contentsMargins().left() +
                       label->contentsMargins().right();
    label->setMinimumWidth(std::min(wanted, metrics.averageCharWidth() * MaxDetailColumns));
}

}  // namespace

void QtHost::processEvents() {
    // Between two waits on the line the run asks for events several times per
    // transaction; every wait for the printer's answer already runs the event
    // loop. Running it again sooner than this adds nothing an operator can
    // see, and costs a poll of every descriptor each time.
    const auto at = Clock::now();
    if (at - m_lastEvents < EventsInterval)
        return;
    QApplication::processEvents();
    m_lastEvents = Clock::now();
}

void QtHost::showMessage(const std::string& text, const std::string& caption) { showMessageDetail(text, caption, {}); }

void QtHost::showMessageDetail(const std::string& text, const std::string& caption, const std::string& detail) {
    // Texts and captions are the station's 8-bit text; a detail is the
    // system's own reason, which comes as UTF-8.
    QMessageBox box(IconFor(caption), DecodeCp1251(caption), DecodeCp1251(text), QMessageBox::Ok, m_parent);
    if (!detail.empty()) {
        box.setInformativeText(QString::fromStdString(detail));
        WidenForDetail(box, box.informativeText());
    }
    box.exec();
}

bool QtHost::askYesNo(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, DecodeCp1251(caption), DecodeCp1251(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

Host::Clock::time_point QtHost::now() { return Clock::now(); }

void QtHost::sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tamrisk
