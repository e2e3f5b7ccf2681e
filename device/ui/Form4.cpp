#include "device/ui/Form4.h"

#include "device/DeviceAccess.h"
#include "platform/core/AppFolder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>

#include <utility>

namespace chimora {

namespace {

// The window was drawn in twips; 15 twips are one pixel.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

const QString ParentKey = QStringLiteral("GoToParent");
constexpr int KeyRole = Qt::UserRole;

QIcon drawFolderIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x9a, 0x74, 0x00), 1));
    p.setBrush(QColor(0xe8, 0xb8, 0x20));
    p.drawRoundedRect(QRectF(1.5, 2.5, 6, 3), 1, 1); // tab
    p.setBrush(QColor(0xff, 0xd8, 0x40));
    p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1, 1);
    return QIcon(pixmap);
}

QIcon drawUpArrowIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(8, 1.5);
    arrow.lineTo(14.5, 8);
    arrow.lineTo(10.5, 8);
    arrow.lineTo(10.5, 14.5);
    arrow.lineTo(5.5, 14.5);
    arrow.lineTo(5.5, 8);
    arrow.lineTo(1.5, 8);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x10, 0x70, 0x10), 1));
    p.setBrush(QColor(0x30, 0xb0, 0x30));
    p.drawPath(arrow);
    return QIcon(pixmap);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    // Folder and storage names are the phone's: "<b>x</b>" is a name, not markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setGeometry(geometry);
    return label;
}

std::function<void(QMessageBox&)>& messageHandler() {
    static std::function<void(QMessageBox&)> handler;
    return handler;
}

QString noDeviceHint() {
    return QStringLiteral(
               "No phone was found.\n\n"
               "Connect the phone by USB, unlock it and choose \"File transfer\" when it asks "
               "what the USB connection is for, then press Connect.\n\n"
               "Or let a folder stand for the phone's storage: set the key Folder in section "
               "[Device] of the settings file (see the README):\n%1")
        .arg(QDir::toNativeSeparators(appFilePath(QStringLiteral("settings.ini"))));
}

// Joins a device folder and a name, with one "\" between them.
QString deviceChild(const QString& folder, const QString& name) {
    return folder.endsWith(u'\\') ? folder + name : folder + u'\\' + name;
}

} // namespace

Form4::Form4(QWidget* wizard, UploadRingtone ringtone)
    : QWidget(wizard, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_wizard(wizard), m_ringtone(std::move(ringtone)) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Device Browser"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(7605 / 15, 5475 / 15);
    if (wizard)
        setFont(wizard->font());

    ImageList1 = {drawFolderIcon(), drawUpArrowIcon()};

    Label5 = makeLabel(this, "Label5", QStringLiteral("Status: Disconnected"),
                       twips(120, 240, 4935, 255));
    Command1 = makeButton(this, "Command1", QStringLiteral("Connect"), twips(5160, 240, 1095, 345));
    Command3 =
        makeButton(this, "Command3", QStringLiteral("Disconnect"), twips(6360, 240, 1100, 345));
    Command3->setEnabled(false);
    Label1 = makeLabel(this, "Label1", QStringLiteral("..."), twips(120, 720, 7335, 255));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twips(120, 1080, 6135, 255));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Command4 = makeButton(this, "Command4", QStringLiteral("Upload"), twips(6360, 1080, 1100, 345));
    Command4->setEnabled(false);
    LW1 = new QListWidget(this);
    LW1->setObjectName(QStringLiteral("LW1"));
    LW1->setGeometry(twips(120, 1560, 7335, 3255));
    LW1->setIconSize({16, 16});
    LW1->setSelectionMode(QAbstractItemView::SingleSelection);
    Command2 = makeButton(this, "Command2", QStringLiteral("Close"), twips(6360, 5040, 1100, 350));
    NoDeviceHint =
        makeLabel(this, "NoDeviceHint", noDeviceHint(), LW1->geometry().adjusted(12, 10, -12, -10));
    NoDeviceHint->setWordWrap(true);
    NoDeviceHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    NoDeviceHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    NoDeviceHint->hide();

    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form4::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form4::Command4_Click);
    connect(LW1, &QListWidget::itemClicked, this, &Form4::LW1_ItemClick);
    connect(LW1, &QListWidget::itemDoubleClicked, this, &Form4::LW1_DblClick);

    // Centred on the window that owns it.
    if (wizard) {
        const QPoint centre = wizard->window()->geometry().center();
        move(centre - QPoint(width() / 2, height() / 2));
    }
}

void Form4::setMessageHandlerForTesting(std::function<void(QMessageBox& box)> handler) {
    messageHandler() = std::move(handler);
}

void Form4::showMessage(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QStringLiteral("Chimora"), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (messageHandler())
        messageHandler()(box);
    else
        box.exec();
}

void Form4::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void Form4::Form_Load() {
    Command1_Click();
}

void Form4::closeEvent(QCloseEvent* event) {
    cancelConnect();
    Form_Unload();
    event->accept();
}

void Form4::Form_Unload() {
    if (!m_wizard)
        return;
    m_wizard->setEnabled(true);
    m_wizard->activateWindow();
    m_wizard->setFocus(Qt::OtherFocusReason);
}

void Form4::showConnecting() {
    Label5->setText(QStringLiteral("Status: Connecting..."));
    Command1->setEnabled(false);
    Command3->setEnabled(false);
    Command4->setEnabled(false);
    NoDeviceHint->hide();
    setCursor(Qt::BusyCursor);
}

void Form4::showConnected() {
    unsetCursor();
    Label5->setText(QStringLiteral("Status: Connected"));
    Command1->setEnabled(false);
    Command3->setEnabled(true);
    Command4->setEnabled(true);
    NoDeviceHint->hide();
    ListRootFolder();
}

void Form4::showDisconnected() {
    unsetCursor();
    Label5->setText(QStringLiteral("Status: Disconnected"));
    Command1->setEnabled(true);
    Command3->setEnabled(false);
    Command4->setEnabled(false);
    LW1->clear();
    Label1->setText(QString());
    NoDeviceHint->show();
}

void Form4::cancelConnect() {
    if (!m_attempt)
        return;
    delete std::exchange(m_attempt, nullptr);
    unsetCursor();
}

void Form4::Command1_Click() {
    if (m_attempt)
        return;
    showConnecting();
    m_attempt = new ConnectAttempt(this);
    connect(m_attempt, &ConnectAttempt::finished, this, [this](bool connected) {
        std::exchange(m_attempt, nullptr)->deleteLater();
        if (connected)
            showConnected();
        else
            showDisconnected();
    });
    m_attempt->start();
}

void Form4::Command3_Click() {
    DisconnectDevice();
    QCoreApplication::processEvents();
    if (IsDeviceConnected())
        showConnected();
    else
        showDisconnected();
}

void Form4::Command2_Click() {
    cancelConnect();
    Command3_Click();
    close();
}

void Form4::fillList(const QStringList& folders) {
    LW1->clear();
    if (CurrentFolder != QLatin1String("\\")) {
        auto* parent = new QListWidgetItem(ImageList1.value(1), QStringLiteral(".."), LW1);
        parent->setData(KeyRole, ParentKey);
    }
    for (const QString& name : folders)
        new QListWidgetItem(ImageList1.value(0), name, LW1);
}

void Form4::ListRootFolder() {
    QStringList folders;
    GetDeviceFolders(QStringLiteral("\\*.*"), folders);
    CurrentFolder = QStringLiteral("\\");
    fillList(folders);
}

void Form4::LW1_ItemClick(QListWidgetItem* item) {
    if (!item || item->data(KeyRole).toString() == ParentKey)
        return;
    Label1->setText(deviceChild(CurrentFolder, item->text()));
}

void Form4::LW1_DblClick() {
    const QList<QListWidgetItem*> selected = LW1->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem* item = selected.first();
    LW1->setCursor(Qt::WaitCursor);
    if (item->data(KeyRole).toString() == ParentKey) {
        const qsizetype last = CurrentFolder.lastIndexOf(u'\\');
        CurrentFolder = last > 0 ? CurrentFolder.left(last) : QStringLiteral("\\");
    } else {
        CurrentFolder = deviceChild(CurrentFolder, item->text());
    }
    QStringList folders;
    GetDeviceFolders(deviceChild(CurrentFolder, QStringLiteral("*.*")), folders);
    fillList(folders);
    Label1->setText(CurrentFolder);
    LW1->setCursor(Qt::ArrowCursor);
}

void Form4::Command4_Click() {
    if (!IsDeviceConnected()) {
        showMessage(QMessageBox::Warning,
                    QStringLiteral("Device is not connected. Please connect first."));
        return;
    }
    const QString devicePath = deviceChild(Label1->text(), m_ringtone.name + m_ringtone.extension);
    CopyProgress progress;
    progress.setProgress = [this](double percent) {
        ProgressBar1->setValue(int(percent));
        ProgressBar1->repaint();
    };
    progress.setStatus = [this](const QString& status) { Label5->setText(status); };
    const Result<void> copied = CopyFileToDevice(m_ringtone.localFile, devicePath, progress);
    if (!copied)
        showMessage(QMessageBox::NoIcon, copied.error().message);
}

} // namespace chimora
