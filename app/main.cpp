#include "app/ui/Form1.h"
#include "app/ui/Startup.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chimora"));
    QApplication::setDesktopFileName(QStringLiteral("chimora"));

    // The one argument: an audio file to open, as the desktop entry passes it.
    QStringList ignored;
    const QString audioFile =
        chimora::audioFileArgument(QApplication::arguments().mid(1), &ignored);
    for (const QString& line : ignored)
        std::fprintf(stderr, "chimora: %s\n", line.toLocal8Bit().constData());

    const std::unique_ptr<chimora::Form1> wizard = chimora::StartChimora(audioFile);
    if (!wizard)
        return 1;
    return QApplication::exec();
}
