#include "connectionwidgets.h"

#include <QPainter>

#include <algorithm>

namespace tamrisk {

void PortNumBox::showPopup() {
    if (OnDropDown)
        OnDropDown();
    QComboBox::showPopup();
}

ConnectionShape::ConnectionShape(QWidget* parent) : QWidget(parent) {
    setAccessibleDescription(QStringLiteral("Disconnected"));
}

void ConnectionShape::SetBrushColor(const QColor& colour) {
    m_colour = colour;
    update();
}

void ConnectionShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_colour, 1));
    painter.setBrush(m_colour);
    const int side = std::min(width(), height()) - 2;
    painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}

}  // namespace tamrisk
