#pragma once
// The main window's two connection widgets that Qt does not offer as they are:
// the port list that is refilled each time it opens, and the connection
// indicator.

#include <QColor>
#include <QComboBox>
#include <QWidget>

#include <functional>

namespace tamrisk {

// The port list (PortNum): tells the window each time the operator opens it,
// before the list shows, so that it can be refilled from the system.
class PortNumBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override;
};

// The connection indicator (Shape1): a circle filled and outlined in one colour.
class ConnectionShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColor READ BrushColor WRITE SetBrushColor)
public:
    explicit ConnectionShape(QWidget* parent = nullptr);
    QColor BrushColor() const { return m_colour; }
    void SetBrushColor(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour{0, 128, 0};
};

}  // namespace tamrisk
