#include "record/ui/Form2.h"

#include "platform/bass/ui/ErrorBox.h"
#include "platform/editor/ui/MakeToolbarFlat.h"
#include "record/BassRecordDevice.h"
#include "record/RecordState.h"
#include "record/ui/LevelMeter.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

static void initRecordResources() {
    Q_INIT_RESOURCE(record);
}

namespace chimora {

namespace {

QPixmap picture(const char* name) {
    return QIcon(QStringLiteral(":/record/%1.svg").arg(QLatin1String(name))).pixmap(32, 32);
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect where) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(where);
    return l;
}

// The meter's pace: more than 20 updates a second.
constexpr int kMeterIntervalMs = 40;

} // namespace

Form2::Form2(QWidget* owner, std::unique_ptr<RecordDevice> device)
    : QWidget(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_device(device ? std::move(device) : std::make_unique<BassRecordDevice>()) {
    initRecordResources();
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Record your ringtone"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The designed 274 x 116 and a strip below the controls for the level meter.
    setFixedSize(274, 122);

    Label1 = label(this, "Label1", QStringLiteral("Recording device:"), {9, 16, 121, 17});
    cmbInput = new QComboBox(this);
    cmbInput->setObjectName(QStringLiteral("cmbInput"));
    cmbInput->setEditable(false);
    cmbInput->setGeometry(9, 32, 137, 21);
    cmbInput->setAccessibleName(QStringLiteral("Recording device"));
    Label2 = label(this, "Label2", QStringLiteral("Volume:"), {9, 64, 129, 17});
    sldInputLevel = new QSlider(Qt::Horizontal, this);
    sldInputLevel->setObjectName(QStringLiteral("sldInputLevel"));
    sldInputLevel->setRange(0, 100);
    sldInputLevel->setGeometry(8, 80, 137, 20);
    sldInputLevel->setAccessibleName(QStringLiteral("Volume"));

    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setGeometry(168, 16, 92, 42);
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const char* tips[] = {"Start Recording", "Stop Recording"};
    for (int index = 1; index <= 2; ++index) {
        QAction* a = Toolbar1->addAction(QString::fromLatin1(tips[index - 1]));
        a->setObjectName(QStringLiteral("Toolbar1_%1").arg(index));
        a->setToolTip(QString::fromLatin1(tips[index - 1]));
        connect(a, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
    }
    for (QToolButton* b : Toolbar1->findChildren<QToolButton*>())
        b->setFocusPolicy(Qt::TabFocus);
    ImageList11 = {picture("start"), picture("stop")};
    ImageList2 = {picture("start-disabled"), picture("stop-disabled")};

    Label3 = label(this, "Label3", QStringLiteral("00:00:00.00"), {168, 80, 81, 17});
    levelMeter = new LevelMeter(this);
    levelMeter->setObjectName(QStringLiteral("levelMeter"));
    levelMeter->setGeometry(9, 106, 256, 8);
    levelMeter->setAccessibleName(QStringLiteral("Input level"));

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(100);
    m_meterTimer = new QTimer(this);
    m_meterTimer->setInterval(kMeterIntervalMs);

    setButtons(false);
    if (QWidget* start = Toolbar1->widgetForAction(toolbarButton(1))) {
        setTabOrder(start, Toolbar1->widgetForAction(toolbarButton(2)));
        setTabOrder(Toolbar1->widgetForAction(toolbarButton(2)), sldInputLevel);
    }
    setTabOrder(sldInputLevel, cmbInput);

    m_engine = std::make_unique<RecordEngine>(*m_device);
    connect(m_engine.get(), &RecordEngine::stateChanged, this, &Form2::onStateChanged);
    connect(m_engine.get(), &RecordEngine::inputsListed, this,
            [this](const QStringList& names, int chosen) {
                const QSignalBlocker quiet(cmbInput);
                cmbInput->clear();
                cmbInput->addItems(names);
                cmbInput->setCurrentIndex(chosen);
            });
    connect(m_engine.get(), &RecordEngine::levelRead, this, [this](int percent) {
        m_settingLevel = true;
        sldInputLevel->setValue(percent);
        m_settingLevel = false;
    });
    connect(m_engine.get(), &RecordEngine::elapsedChanged, Label3, &QLabel::setText);
    connect(m_engine.get(), &RecordEngine::audioError, this, &Form2::onAudioError);
    connect(m_engine.get(), &RecordEngine::encoderError, this, &Form2::onEncoderError);
    connect(m_engine.get(), &RecordEngine::recordingFinished, this, &Form2::recordingReady);

    connect(cmbInput, &QComboBox::activated, this, &Form2::cmbInput_Click);
    connect(sldInputLevel, &QSlider::valueChanged, this, &Form2::sldInputLevel_Scroll);
    connect(Timer2, &QTimer::timeout, this, &Form2::Timer2_Timer);
    connect(m_meterTimer, &QTimer::timeout, this, [this] {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        levelMeter->showPeak(m_engine->takePeak(), clock.elapsed());
    });
}

// The engine goes before the device it uses; a capture still running is thrown away.
Form2::~Form2() {
    m_engine->disconnect(this);
    m_engine.reset();
}

QAction* Form2::toolbarButton(int index) const {
    const QList<QAction*> actions = Toolbar1->actions();
    return index >= 1 && index <= actions.size() ? actions[index - 1] : nullptr;
}

void Form2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void Form2::Form_Load() {
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    MakeToolbarFlat(Toolbar1, ImageList11, ImageList2);
    m_engine->open();
    m_meterTimer->start();
}

void Form2::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_meterTimer->stop();
    Timer2->stop();
    if (QWidget* owner = parentWidget()) {
        owner->setEnabled(true);
        owner->activateWindow();
        owner->setFocus(Qt::OtherFocusReason);
    }
}

void Form2::closeEvent(QCloseEvent* event) {
    // Closed by its close box while recording: nothing may go on unseen, and nothing is thrown
    // away without the user's word.
    if (m_engine->state() == RecordEngine::State::Recording) {
        switch (askAboutRunningRecording()) {
        case RunningRecording::GoOn:
            // The recording may have ended on its own while the question was open.
            if (m_engine->state() == RecordEngine::State::Recording) {
                event->ignore();
                return;
            }
            break;
        case RunningRecording::Keep:
            setButtons(false);
            m_engine->StopRecording();
            break;
        case RunningRecording::Discard:
            m_engine->discard();
            break;
        }
    }
    m_engine->discard(); // what is left (an idle meter) goes with the window
    Form_Unload();
    event->accept();
}

Form2::RunningRecording Form2::askAboutRunningRecording() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Chimora"),
                    QStringLiteral("The recording is still running."), QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QStringLiteral("Keep it and open it in the editor, discard it, or go "
                                          "on recording?"));
    QPushButton* keep = box.addButton(QStringLiteral("Keep"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    QPushButton* goOn = box.addButton(QStringLiteral("Go on recording"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(goOn);
    box.exec();
    if (box.clickedButton() == keep)
        return RunningRecording::Keep;
    if (box.clickedButton() == discard)
        return RunningRecording::Discard;
    return RunningRecording::GoOn;
}

void Form2::endSession() {
    if (m_engine->state() == RecordEngine::State::Recording)
        Toolbar1_ButtonClick(2);
    else
        close();
}

void Form2::cmbInput_Click(int index) {
    m_engine->chooseInput(index);
}

void Form2::sldInputLevel_Scroll(int value) {
    if (!m_settingLevel)
        m_engine->setLevel(value);
}

void Form2::Toolbar1_ButtonClick(int index) {
    if (index == 1) {
        setButtons(true);
        m_engine->StartRecording();
    } else if (index == 2) {
        setButtons(false);
        m_engine->StopRecording();
    }
}

void Form2::Timer2_Timer() {
    m_engine->tick();
}

void Form2::setButtons(bool recording) {
    toolbarButton(1)->setEnabled(!recording);
    toolbarButton(2)->setEnabled(recording);
}

void Form2::onStateChanged(RecordEngine::State state) {
    switch (state) {
    case RecordEngine::State::Recording:
        setButtons(true);
        Timer2->start();
        break;
    case RecordEngine::State::Idle:
        setButtons(false);
        Timer2->stop();
        break;
    case RecordEngine::State::Closed:
        Timer2->stop();
        Form_Unload();
        close();
        break;
    }
}

void Form2::onAudioError(const QString& message, int code) {
    bass::setError(code);
    ShowRecordError(message, this);
    Label3->clear();
    setButtons(false);
}

void Form2::onEncoderError(const QString& message) {
    // The message holds outside words (a path, the encoder's own): shown as they are.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Chimora"), message, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    Label3->clear();
    setButtons(false);
}

} // namespace chimora
