#include "app/ui/Startup.h"

#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace chimora {

namespace {

int visiblePage(const Form1& wizard) {
    for (int i = 0; i < int(wizard.mainP.size()); ++i)
        if (wizard.mainP[i]->isVisible())
            return i;
    return -1;
}

void quitAfterLoadWhenAsked(Form1& wizard) {
    if (qEnvironmentVariableIsEmpty("CHIMORA_QUIT_AFTER_LOAD"))
        return;
    AudioDocument* document = wizard.editingPage->AE->document();
    QObject::connect(document, &AudioDocument::loadFinished, &wizard, [&wizard, document](bool ok) {
        std::printf("loaded ok=%d page=%d frames=%lld file=%s\n", ok ? 1 : 0, visiblePage(wizard),
                    static_cast<long long>(document->frameCount()),
                    QFile::encodeName(wizard.SrcAudioFile).constData());
        std::fflush(stdout);
        QTimer::singleShot(0, &wizard, [&wizard] { wizard.close(); });
    });
}

} // namespace

QString audioFileArgument(const QStringList& arguments, QStringList* ignored) {
    QString file;
    for (const QString& argument : arguments) {
        const QFileInfo info(argument);
        if (file.isEmpty() && info.isFile()) {
            file = info.absoluteFilePath();
            continue;
        }
        if (ignored) {
            const QString why = !file.isEmpty() ? QStringLiteral("only one file is opened")
                                : info.exists() ? QStringLiteral("not a file")
                                                : QStringLiteral("no such file");
            ignored->append(QStringLiteral("ignoring \"%1\": %2").arg(argument, why));
        }
    }
    return file;
}

std::unique_ptr<Form1> StartChimora(const QString& audioFile) {
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
    if (!audioFile.isEmpty()) {
        quitAfterLoadWhenAsked(*wizard);
        wizard->openAudioFile(audioFile);
    }
    return wizard;
}

int runWizard(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chimora"));
    QApplication::setDesktopFileName(QStringLiteral("chimora"));

    // The one argument: an audio file to open, as the desktop entry passes it.
    QStringList ignored;
    const QString audioFile = audioFileArgument(QApplication::arguments().mid(1), &ignored);
    for (const QString& line : ignored)
        std::fprintf(stderr, "chimora: %s\n", line.toLocal8Bit().constData());

    const std::unique_ptr<Form1> wizard = StartChimora(audioFile);
    if (!wizard)
        return 1;
    return QApplication::exec();
}

} // namespace chimora
