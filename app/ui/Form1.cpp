#include "app/ui/Form1.h"

#include "app/Settings.h"
#include "app/ui/PictureButton.h"
#include "platform/core/AppFolder.h"
#include "platform/bass/Bass.h"
#include "platform/editor/AudioEditor.h"
#include "platform/bass/ErrorBox.h"
#include "render/EncoderCommands.h"
#include "render/RingtoneFormat.h"
#include "render/ui/RenderRingtone.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

// Resources of a static library are registered by hand, outside any namespace.
static void initChimoraResources()
{
    Q_INIT_RESOURCE(chimora);
}

namespace chimora {

namespace {

constexpr int TwipsPerPixel = 15;

// Window geometry is designed in twips; the screen works in pixels.
void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                   height / TwipsPerPixel);
}

QPixmap renderSvg(const QString& resource, QSize size)
{
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QLabel* makeLabel(QWidget* page, const char* name, const QString& text, bool bold = false)
{
    auto* label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(name));
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    return label;
}

PictureButton* makePictureButton(QWidget* page, const char* name, const QString& caption)
{
    auto* button = new PictureButton(caption, page);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QComboBox* makeList(QWidget* page, const char* name, const QString& accessibleName)
{
    auto* combo = new QComboBox(page);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(false);
    combo->setAccessibleName(accessibleName);
    return combo;
}

// Selects the whole text whenever the field gains the focus, so typing replaces the name.
class SelectAllOnFocus : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn) {
            auto* edit = static_cast<QLineEdit*>(watched);
            // After the mouse press that gave the focus has placed the caret.
            QTimer::singleShot(0, edit, [edit] { edit->setSelection(0, edit->text().size()); });
        }
        return false;
    }
};

struct ToolbarEntry {
    const char* toolTip; // nullptr for a separator
    const char* image;
    int command;
};

// Index 1 to 14 of the editor toolbar.
constexpr std::array<ToolbarEntry, 14> ToolbarEntries = {{
    {"Play", "play", 10},
    {"Pause", "pause", 13},
    {"Stop", "stop", 12},
    {nullptr, nullptr, 0},
    {"Undo", "undo", 30},
    {"Redo", "redo", 31},
    {nullptr, nullptr, 0},
    {"Copy", "copy", 40},
    {"Cut", "cut", 41},
    {"Paste", "paste", 42},
    {"Remove", "remove", 48},
    {nullptr, nullptr, 0},
    {"Zoom in", "zoom-in", 20},
    {"Zoom out", "zoom-out", 21},
}};

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
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

    ImageList1 = {QIcon(renderSvg(QStringLiteral(":/images/open.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/record.svg"), {48, 48}))};
    ImageList3 = {QIcon(renderSvg(QStringLiteral(":/images/save.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/email.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/device.svg"), {48, 48}))};
    for (const ToolbarEntry& e : ToolbarEntries) {
        if (e.image)
            ImageList2.append(QIcon(QStringLiteral(":/toolbar/%1.svg").arg(QLatin1String(e.image))));
    }

    buildBands();
    for (int i = 0; i < int(mainP.size()); ++i) {
        mainP[i] = new QWidget(this);
        mainP[i]->setObjectName(QStringLiteral("mainP%1").arg(i));
        place(mainP[i], 0, 960, 9255, 5415);
        // Pages lie over the lower part of the header band.
        mainP[i]->setAutoFillBackground(true);
        mainP[i]->setVisible(false);
    }
    buildSourcePage();
    buildEditingPage();
    buildOptionsPage();

    Timer4 = new QTimer(this);
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer4->setInterval(500);

    RenderControls controls;
    controls.wizard = this;
    controls.Combo1 = Combo1;
    controls.Combo2 = Combo2;
    controls.Combo3 = Combo3;
    controls.Combo4 = Combo4;
    controls.Option1 = Option1;
    controls.Option2 = Option2;
    controls.Option3 = Option3;
    controls.Timer4 = Timer4;
    controls.OutAudioFile = &OutAudioFile;
    controls.setEditorFormat = [this](int rateHz, int channels, int bitrateKbps) {
        AE->format()->setFormat(rateHz, channels, bitrateKbps);
    };
    controls.saveEditorAudio = [this](const QString& path, bool selectionOnly, int mode) {
        return AE->save(path, selectionOnly, mode);
    };
    setRenderControls(controls);

    // The footer is raised last so its buttons follow the page's controls in the tab order.
    pFooter->raise();
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
}

Form1::~Form1()
{
    // The renderer keeps pointers to our controls; they go with us.
    setRenderControls({});
}

void Form1::buildBands()
{
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

void Form1::buildSourcePage()
{
    QWidget* page = mainP[0];
    Label1 = makeLabel(page, "Label1", QStringLiteral("Welcome to Chimora!"), true);
    place(Label1, 120, 240, 6015, 375);
    Label2 = makeLabel(page, "Label2",
                       QStringLiteral("This wizard will help you create a new ringtone for your mobile."));
    place(Label2, 240, 600, 8415, 255);
    Label3 = makeLabel(page, "Label3", QStringLiteral("Select a source for your ringtone:"), true);
    place(Label3, 240, 1560, 9015, 255);

    Command5 = makePictureButton(page, "Command5", QStringLiteral("Open audio file"));
    place(Command5, 1080, 2040, 1455, 1455);
    Command4 = makePictureButton(page, "Command4", QStringLiteral("Record new file"));
    place(Command4, 1080, 3600, 1455, 1455);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
}

void Form1::buildEditingPage()
{
    QWidget* page = mainP[1];
    Toolbar1 = new QToolBar(page);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setIconSize(QSize(22, 22));
    place(Toolbar1, 120, 360, 5895, 510);
    int image = 0;
    for (int index = 1; index <= int(ToolbarEntries.size()); ++index) {
        const ToolbarEntry& e = ToolbarEntries[index - 1];
        if (!e.toolTip) {
            Toolbar1->addSeparator();
            continue;
        }
        QAction* action = Toolbar1->addAction(ImageList2.value(image++), QString::fromLatin1(e.toolTip));
        action->setToolTip(QString::fromLatin1(e.toolTip));
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(index));
        connect(action, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
    }
    for (QToolButton* b : Toolbar1->findChildren<QToolButton*>())
        b->setFocusPolicy(Qt::TabFocus);

    Combo1 = makeList(page, "Combo1", QStringLiteral("Part of the song to use"));
    place(Combo1, 6240, 460, 2895, 315);

    AE = new AudioEditor(page);
    AE->setObjectName(QStringLiteral("AE"));
    place(AE, 120, 960, 9015, 4335);
}

void Form1::buildOptionsPage()
{
    QWidget* page = mainP[2];
    Label5 = makeLabel(page, "Label5", QStringLiteral("Name of the ringtone:"));
    place(Label5, 120, 240, 3375, 255);
    Text1 = new QLineEdit(page);
    Text1->setObjectName(QStringLiteral("Text1"));
    place(Text1, 1920, 240, 7095, 315);
    Text1->installEventFilter(new SelectAllOnFocus(Text1));
    Label5->setBuddy(Text1);

    Label6 = makeLabel(page, "Label6", QStringLiteral("Audio file format:"));
    place(Label6, 120, 840, 1575, 255);
    Option1 = new QRadioButton(QStringLiteral("WAV"), page);
    Option1->setObjectName(QStringLiteral("Option1"));
    place(Option1, 1920, 840, 2535, 255);
    Option2 = new QRadioButton(QStringLiteral("MP3"), page);
    Option2->setObjectName(QStringLiteral("Option2"));
    place(Option2, 1920, 1200, 2535, 255);
    Option3 = new QRadioButton(QStringLiteral("OGG"), page);
    Option3->setObjectName(QStringLiteral("Option3"));
    place(Option3, 1920, 1560, 2535, 255);
    Option1->setChecked(true); // design-time choice

    Label7 = makeLabel(page, "Label7", QStringLiteral("Sample rate (Hz):"));
    place(Label7, 5520, 840, 2175, 255);
    Combo2 = makeList(page, "Combo2", QStringLiteral("Sample rate (Hz)"));
    place(Combo2, 7200, 840, 1815, 315);
    Label8 = makeLabel(page, "Label8", QStringLiteral("Bitrate (kbps):"));
    place(Label8, 5520, 1320, 2175, 255);
    Combo3 = makeList(page, "Combo3", QStringLiteral("Bitrate (kbps)"));
    place(Combo3, 7200, 1320, 1815, 315);
    Label9 = makeLabel(page, "Label9", QStringLiteral("Channels:"));
    place(Label9, 5520, 1800, 2175, 255);
    Combo4 = makeList(page, "Combo4", QStringLiteral("Channels"));
    place(Combo4, 7200, 1800, 1815, 315);
    Label7->setBuddy(Combo2);
    Label8->setBuddy(Combo3);
    Label9->setBuddy(Combo4);

    Label4 = makeLabel(page, "Label4", QStringLiteral("Select delivery method:"), true);
    place(Label4, 120, 2280, 4695, 255);
    Command7 = makePictureButton(page, "Command7", QStringLiteral("Save as file"));
    place(Command7, 240, 2760, 1455, 1455);
    Command8 = makePictureButton(page, "Command8", QStringLiteral("Email ringtone"));
    place(Command8, 1800, 2760, 1455, 1455);
    Command6 = makePictureButton(page, "Command6", QStringLiteral("ActiveSync transfer"));
    place(Command6, 3360, 2760, 1455, 1455);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
}

bool Form1::Form_Load()
{
    // 1. Source buttons' pictures.
    Command5->setIcon(ImageList1.value(0));
    Command4->setIcon(ImageList1.value(1));

    // 2. Section choice, always starting with the whole song.
    Combo1->addItems({QStringLiteral("Use the entire song as ringtone"),
                      QStringLiteral("Use just the following song section:")});
    Combo1->setCurrentIndex(0);
    // The open list is as wide as its longest entry, even where the box is narrower.
    Combo1->view()->setMinimumWidth(Combo1->view()->sizeHintForColumn(0) + 8);

    // 3. Option lists, in the stored order (positions are what the settings keep).
    Combo4->addItems({QStringLiteral("Mono"), QStringLiteral("Stereo")});
    Combo3->addItems(bitrateTexts());
    Combo2->addItems(sampleRateTexts());

    // 4. Delivery buttons' pictures.
    Command7->setIcon(ImageList3.value(0));
    Command8->setIcon(ImageList3.value(1));
    Command6->setIcon(ImageList3.value(2));

    // 5. The editor's two start-up settings.
    AE->displayOption()->setValue(2);
    AE->behaviourOption()->setValue(3);

    // 6. Relative paths resolve in the application folder.
    QDir::setCurrent(appFolder());

    // 7. The audio layer must speak the interface we were built for.
    if (((BASS_GetVersion() >> 16) & 0xFFFF) != 0x0203) {
        QMessageBox::critical(nullptr, QStringLiteral("Chimora"),
                              QStringLiteral("An incorrect version of BASS.DLL was loaded"));
        return false;
    }

    // 8. Both devices are always started; either failing ends the program.
    const BOOL recordOk = BASS_RecordInit(-1);
    const int recordError = BASS_ErrorGetCode();
    const BOOL playOk = BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(winId()), nullptr);
    if (!recordOk || !playOk) {
        // The box names the call that failed, not a later one that succeeded.
        if (!recordOk)
            bass::setError(recordError);
        ShowRecordError(QStringLiteral("Can't initialize device"));
        BASS_RecordFree();
        BASS_Free();
        return false;
    }

    // 9. The saved choices.
    Text1->setText(RingtoneName);
    if (FormatCode == 0)
        Option1->setChecked(true);
    else if (FormatCode == 1)
        Option2->setChecked(true);
    else if (FormatCode == 2)
        Option3->setChecked(true);
    // An index outside its list leaves the list without a selection.
    Combo2->setCurrentIndex(SampleRateIndex >= 0 && SampleRateIndex < Combo2->count() ? SampleRateIndex : -1);
    Combo3->setCurrentIndex(BitrateIndex >= 0 && BitrateIndex < Combo3->count() ? BitrateIndex : -1);
    Combo4->setCurrentIndex(ChannelsIndex >= 0 && ChannelsIndex < Combo4->count() ? ChannelsIndex : -1);

    // 10. The source page.
    ShowFrame(0);
    return true;
}

void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    RingtoneName = Text1->text();
    if (Option1->isChecked())
        FormatCode = 0;
    else if (Option2->isChecked())
        FormatCode = 1;
    else if (Option3->isChecked())
        FormatCode = 2;
    SampleRateIndex = Combo2->currentIndex();
    BitrateIndex = Combo3->currentIndex();
    ChannelsIndex = Combo4->currentIndex();
    SaveSettings();

    BASS_RecordFree();
    BASS_Free();
}

void Form1::ShowFrame(qint16 page)
{
    if (page < 0 || page > 2)
        return;
    for (int i = 0; i < int(mainP.size()); ++i)
        mainP[i]->setVisible(i == page);
    Command1->setEnabled(page != 0);
    Command2->setEnabled(page == 1);
}

void Form1::Command1_Click()
{
    fPos = qint16(std::max(0, fPos - 1));
    ShowFrame(fPos);
}

void Form1::Command2_Click()
{
    fPos = qint16(std::min(8, fPos + 1));
    if (CanShowPage(fPos))
        ShowFrame(fPos);
}

void Form1::Command3_Click()
{
    close();
}

void Form1::Label38_Click()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ProductWebAddress)));
}

void Form1::Command5_Click()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open audio file"), QString(),
        QStringLiteral("All supported formats (*.mp3 *.mp2 *.mpeg *.wav *.ogg *.avi *.g721 "
                       "*.g723 *.g726 *.vox *.raw *.pcm *.wma *.cda)"));
    if (path.isEmpty())
        return;
    SrcAudioFile = path;
    fPos = qint16(fPos + 1);
    ShowFrame(fPos);
    QCoreApplication::processEvents();
    AE->load(path);
}

void Form1::openAudioFile(const QString& path)
{
    SrcAudioFile = path;
    fPos = 1;
    ShowFrame(fPos);
    QCoreApplication::processEvents();
    AE->load(path);
}

int Form1::toolbarCommand(int index)
{
    if (index < 1 || index > int(ToolbarEntries.size()))
        return 0;
    return ToolbarEntries[index - 1].command;
}

void Form1::Toolbar1_ButtonClick(int index)
{
    if (const int command = toolbarCommand(index))
        AE->invoke(command);
}

void Form1::Command7_Click()
{
    const std::optional<RingtoneFormat> format = chosenRingtoneFormat();
    if (!format)
        return;
    // The dialog opens where the last ringtone was saved during this run, at first in the
    // user's music folder; it neither asks before replacing a file nor adds an extension.
    if (m_saveFolder.isEmpty()) {
        m_saveFolder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (m_saveFolder.isEmpty() || !QDir(m_saveFolder).exists())
            m_saveFolder = QDir::homePath();
    }
    const QString chosen = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save file"), QDir(m_saveFolder).filePath(Text1->text()),
        saveDialogFilter(*format), nullptr, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    m_saveFolder = QFileInfo(chosen).absolutePath();
    RenderRingtone(withRingtoneExtension(chosen, *format));
}

void Form1::closeEvent(QCloseEvent* event)
{
    // A render lets events through while it works; closing then would free the audio devices
    // and hide the progress window under a running encoder.
    if (renderInProgress()) {
        event->ignore();
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

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (isEnabled() && !urls.isEmpty() && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!isEnabled() || urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Let the drag finish before the load begins.
    QTimer::singleShot(0, this, [this, path] { openAudioFile(path); });
}

} // namespace chimora
