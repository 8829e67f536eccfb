#include "windowplace.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tamrisk {

void CentreOnDesktop(QWidget& window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

}  // namespace tamrisk
