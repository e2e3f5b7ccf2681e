#include "app/ui/Form1.h"
#include "app/ui/Startup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chimora"));
    QApplication::setDesktopFileName(QStringLiteral("chimora"));

    const std::unique_ptr<chimora::Form1> wizard = chimora::StartChimora();
    if (!wizard)
        return 1;
    return QApplication::exec();
}
