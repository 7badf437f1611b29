#include "BX.h"

#include <QApplication>
#include <QDebug>
#include <QFont>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    QFont font;
    font.setFamily(font.defaultFamily());
    font.setPointSize(9);
    QApplication::setFont(font);
    qDebug().noquote() << "[BRANTIX] " << QApplication::font().toString();

    auto* window = new BX();
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
