#include "app/ui/Startup.h"

#include "app/Settings.h"
#include "app/ui/Form1.h"
#include "platform/core/AppFolder.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace chimora {

std::unique_ptr<Form1> StartChimora()
{
    SettingsFile = appFilePath(QStringLiteral("settings.ini"));
    InitControlClasses();
    EnsureSettingsFile();
    LoadSettings();
    QCoreApplication::processEvents();

    auto wizard = std::make_unique<Form1>();
    if (!wizard->Form_Load())
        return nullptr;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        wizard->move(area.center() - wizard->rect().center());
    }
    wizard->show();
    wizard->setWindowTitle(QStringLiteral("Chimora"));
    return wizard;
}

} // namespace chimora
