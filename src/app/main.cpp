// The station: the application, its title and the seven windows in order.

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}
