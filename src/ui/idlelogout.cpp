#include "idlelogout.h"

#include "settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <algorithm>

namespace tamrisk {

IdleLogOut::IdleLogOut(std::function<bool()> busy, std::function<bool()> held, std::function<void()> logOut,
                       QObject* parent)
    : QObject(parent), m_busy(std::move(busy)), m_held(std::move(held)), m_logOut(std::move(logOut)),
      m_clock([] {
          static const QElapsedTimer since = [] {
              QElapsedTimer started;
              started.start();
              return started;
          }();
          return since.elapsed();
      }),
      m_limit(SavedLimit()) {
    m_timer.setObjectName(QStringLiteral("IdleTmr"));
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &IdleLogOut::Check);
}

IdleLogOut::~IdleLogOut() { Stop(); }

std::chrono::minutes IdleLogOut::SavedLimit() {
    const qlonglong minutes =
        OpenSettingsStore()->value(QLatin1String(Setting), static_cast<qlonglong>(DefaultIdleMinutes.count())).toLongLong();
    return std::chrono::minutes(std::clamp<qlonglong>(minutes, 1, MaxIdleMinutes.count()));
}

void IdleLogOut::SetLimit(std::chrono::minutes limit) {
    m_limit = std::clamp(limit, std::chrono::minutes(1), MaxIdleMinutes);
    OpenSettingsStore()->setValue(QLatin1String(Setting), static_cast<qlonglong>(m_limit.count()));
}

void IdleLogOut::SetClock(Clock clock) {
    m_clock = std::move(clock);
    m_lastInputMs = m_clock();
}

void IdleLogOut::Start() {
    m_lastInputMs = m_clock();
    if (!m_watching)
        qApp->installEventFilter(this);
    m_watching = true;
    m_timer.start();
}

void IdleLogOut::Stop() {
    if (m_watching)
        qApp->removeEventFilter(this);
    m_watching = false;
    m_timer.stop();
}

void IdleLogOut::Check() {
    if (!m_watching)
        return;
    const qint64 now = m_clock();
    if (m_busy())
        m_lastInputMs = now;
    if (now - m_lastInputMs < std::chrono::milliseconds(m_limit).count() || m_held())
        return;
    Stop();
    m_logOut();
}

bool IdleLogOut::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        m_lastInputMs = m_clock();
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tamrisk
