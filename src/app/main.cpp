#include "app/Form1.h"
#include "printing/PrinterSelection.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(raitakone::kMessageCaption));

    raitakone::Form1 form(raitakone::connectConfiguredPrinter);
    form.show();
    return QApplication::exec();
}
