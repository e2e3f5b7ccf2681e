#include "app/ui/Form1.h"

#include "app/Settings.h"
#include "app/ui/DeliveryActions.h"
#include "app/ui/EditingPage.h"
#include "app/ui/OptionsPage.h"
#include "app/ui/PictureButton.h"
#include "app/ui/SettingsBinding.h"
#include "app/ui/SourcePage.h"
#include "app/ui/Twips.h"
#include "app/ui/WidgetMakers.h"
#include "platform/bass/Bass.h"
#include "platform/bass/ui/ErrorBox.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"
#include "record/RecordState.h"
#include "record/ui/Form2.h"
#include "render/ui/RenderRingtone.h"
#include "theme/ui/ThemeSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

// Resources of a static library are registered by hand, outside any namespace.
static void initChimoraResources() {
    Q_INIT_RESOURCE(chimora);
}

namespace chimora {

namespace {

// The audio layer must speak the interface we were built for; otherwise says so in a box.
bool audioLayerVersionMatches() {
    if (HiWord(BASS_GetVersion()) == 0x0203)
        return true;
    QMessageBox::critical(nullptr, QStringLiteral("Chimora"),
                          QStringLiteral("An incorrect version of BASS.DLL was loaded"));
    return false;
}

void freeAudioDevices() {
    BASS_RecordFree();
    BASS_Free();
}

// Both devices are always started; when either fails, the error box is shown, both are freed
// and the program must end.
bool startAudioDevices(QWidget* window) {
    const BOOL recordOk = BASS_RecordInit(-1);
    const int recordError = BASS_ErrorGetCode();
    const BOOL playOk = BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(window->winId()), nullptr);
    if (recordOk && playOk)
        return true;
    // The box names the call that failed, not a later one that succeeded.
    if (!recordOk)
        bass::setError(recordError);
    ShowRecordError(QStringLiteral("Can't initialize device"));
    freeAudioDevices();
    return false;
}

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
    initChimoraResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Chimora"));
    setWindowIcon(QIcon(QStringLiteral(":/images/chimora.svg")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(9255 / TwipsPerPixel, 7095 / TwipsPerPixel);
    setAcceptDrops(true);

    // A face with the proportions the window's fixed layout was drawn for.
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    setFont(f);

    buildBands();
    buildPages();

    Timer4 = new QTimer(this);
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer4->setInterval(500);

    m_delivery =
        std::make_unique<DeliveryActions>(this, editingPage, optionsPage, Timer4, &OutAudioFile);
    connect(sourcePage->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(sourcePage->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(optionsPage->Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(optionsPage->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(optionsPage->Command8, &QPushButton::clicked, this, &Form1::Command8_Click);

    // The desktop session ending (logout, shutdown) stops a recording and keeps it; quitting
    // without the windows closing still saves the choices.
#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, &Form1::endSession);
#endif
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        endSession();
        Form_Unload();
    });

    // The footer is raised last so its buttons follow the page's controls in the tab order.
    pFooter->raise();
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
}

// The delivery actions go first, before the pages whose controls they registered.
Form1::~Form1() = default;

void Form1::buildBands() {
    pHeader = new QLabel(this);
    pHeader->setObjectName(QStringLiteral("pHeader"));
    place(pHeader, -1440, -600, 13935, 2175);
    pHeader->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pHeader->setPixmap(renderSvg(QStringLiteral(":/images/banner.svg"), {800, 150}));
    pHeader->setAccessibleName(QStringLiteral("Chimora"));

    pFooter = new QLabel(this);
    pFooter->setObjectName(QStringLiteral("pFooter"));
    place(pFooter, -120, 6360, 10815, 1335);
    pFooter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pFooter->setPixmap(renderSvg(QStringLiteral(":/images/footer.svg"), {800, 150}));

    Command1 = new QPushButton(QStringLiteral("< Back"), pFooter);
    Command1->setObjectName(QStringLiteral("Command1"));
    place(Command1, 5640, 240, 1100, 350);
    Command2 = new QPushButton(QStringLiteral("Next >"), pFooter);
    Command2->setObjectName(QStringLiteral("Command2"));
    place(Command2, 6840, 240, 1100, 350);
    Command3 = new QPushButton(QStringLiteral("Cancel"), pFooter);
    Command3->setObjectName(QStringLiteral("Command3"));
    place(Command3, 8040, 240, 1100, 350);

    Label38 = new QLabel(pFooter);
    Label38->setObjectName(QStringLiteral("Label38"));
    place(Label38, 360, 300, 1515, 195);
    const QString address = QString::fromLatin1(ProductWebAddress);
    const QString shown = QUrl(address).host();
    Label38->setText(QStringLiteral("<a href=\"%1\" style=\"color:#1d5f8a\">%2</a>")
                         .arg(address.toHtmlEscaped(), shown.toHtmlEscaped()));
    Label38->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label38->setOpenExternalLinks(false);
    Label38->setCursor(Qt::PointingHandCursor);
    Label38->setAccessibleName(shown);
    Label38->setToolTip(address);
    // The address decides the width, so it is never cut off.
    Label38->resize(std::max(Label38->width(), Label38->sizeHint().width()), Label38->height());

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Label38, &QLabel::linkActivated, this, &Form1::Label38_Click);
}

void Form1::buildPages() {
    sourcePage = new SourcePage(this);
    editingPage = new EditingPage(this);
    optionsPage = new OptionsPage(this);
    mainP[0] = sourcePage;
    mainP[1] = editingPage;
    mainP[2] = optionsPage;
    for (int i = 0; i < int(mainP.size()); ++i) {
        if (!mainP[i])
            mainP[i] = new QWidget(this);
        mainP[i]->setObjectName(QStringLiteral("mainP%1").arg(i));
        place(mainP[i], 0, 960, 9255, 5415);
        // Pages lie over the lower part of the header band.
        mainP[i]->setAutoFillBackground(true);
        mainP[i]->setVisible(false);
    }
}

bool Form1::Form_Load() {
    sourcePage->showPictures();
    editingPage->fillSectionChoice();
    optionsPage->fillLists();
    optionsPage->showPictures();
    editingPage->applyEditorStartSettings();

    // Relative paths resolve in the application folder.
    QDir::setCurrent(appFolder());

    if (!audioLayerVersionMatches())
        return false;
    if (!startAudioDevices(this))
        return false;

    showSavedChoices(*optionsPage);
    ShowFrame(0);
    FixThemeSupport(findChildren<QWidget*>()); // only the picture buttons' look depends on it
    return true;
}

void Form1::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;

    keepChoices(*optionsPage);
    // A file marked read-only is left alone on purpose; any other failure would lose this
    // session's choices without a word, so it is told before the program ends.
    const auto saved = SaveSettings();
    if (!saved.ok() && saved.error().kind != Error::Kind::BadInput) {
        // The message names the settings file, whose path may hold anything.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Chimora"),
                        saved.error().message +
                            QStringLiteral("\n\nThe choices made in this session could not "
                                           "be kept."),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    freeAudioDevices();
}

void Form1::ShowFrame(qint16 page) {
    if (page < 0 || page > 2)
        return;
    for (int i = 0; i < int(mainP.size()); ++i)
        mainP[i]->setVisible(i == page);
    Command1->setEnabled(page != 0);
    Command2->setEnabled(page == 1);
}

void Form1::Command1_Click() {
    fPos = qint16(std::max(0, fPos - 1));
    ShowFrame(fPos);
}

void Form1::Command2_Click() {
    fPos = qint16(std::min(8, fPos + 1));
    if (CanShowPage(fPos))
        ShowFrame(fPos);
}

void Form1::Command3_Click() {
    close();
}

void Form1::Label38_Click() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ProductWebAddress)));
}

void Form1::Command4_Click() {
    setEnabled(false);
    auto* recorder = new Form2(this);
    // Queued: the recording window has unloaded and is gone before the editor loads.
    connect(
        recorder, &Form2::recordingReady, this,
        [this](const QString& path) {
            fPos = qint16(fPos + 1);
            showInEditor(path);
        },
        Qt::QueuedConnection);
    recorder->show();
}

void Form1::Command5_Click() {
    const QString path = sourcePage->askForAudioFile();
    if (path.isEmpty())
        return;
    fPos = qint16(fPos + 1);
    showInEditor(path);
}

void Form1::openAudioFile(const QString& path) {
    fPos = 1;
    showInEditor(path);
}

void Form1::showInEditor(const QString& path) {
    SrcAudioFile = path;
    ShowFrame(fPos);
    QCoreApplication::processEvents();
    editingPage->AE->load(path);
}

void Form1::Command7_Click() {
    m_delivery->saveAsFile();
}

void Form1::Command6_Click() {
    m_delivery->transferToDevice();
}

void Form1::Command8_Click() {
    m_delivery->emailRingtone();
}

void Form1::closeEvent(QCloseEvent* event) {
    // A render lets events through while it works; closing then would free the audio devices
    // and hide the progress window under a running encoder. A secondary window open (the
    // wizard is disabled then) would go without its own unload: a recording lost, a mail or
    // a transfer cut off. Only the end of the session closes it all the same.
    if (renderInProgress() || (!isEnabled() && !m_sessionEnding)) {
        event->ignore();
        // The window that holds the wizard up comes forward, so the user sees what to finish.
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isWindow() && child->isVisible()) {
                child->raise();
                child->activateWindow();
            }
        }
        return;
    }
    Form_Unload();
    event->accept();
    // The program ends with this window: every other window goes without its own unload
    // handling (hidden, not closed), and the last window closing ends the event loop.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible())
            w->hide();
    }
}

void Form1::endSession() {
    m_sessionEnding = true;
    if (Form2* recorder = findChild<Form2*>())
        recorder->endSession();
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (isEnabled() && !urls.isEmpty() && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!isEnabled() || urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Let the drag finish before the load begins.
    QTimer::singleShot(0, this, [this, path] { openAudioFile(path); });
}

} // namespace chimora
