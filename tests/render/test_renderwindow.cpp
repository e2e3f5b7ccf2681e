// RenderRingtone through the window layer with stand-in wizard controls (offscreen): the wizard
// is unusable during the render and usable after, the progress window comes and goes, the bar
// follows the encoding, and a failure gives exactly one message.
#include "TestSupport.h"
#include "platform/bass/BassEncode.h"
#include "platform/core/AppFolder.h"
#include "render/EncoderCommands.h"
#include "render/RenderState.h"
#include "render/ui/Form3.h"
#include "render/ui/RenderRingtone.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

using namespace chimora;

namespace {

/// The parts of the wizard the render reads, with the options page's lists.
struct FakeWizard {
    QWidget window;
    QComboBox* combo1 = new QComboBox(&window);
    QComboBox* combo2 = new QComboBox(&window);
    QComboBox* combo3 = new QComboBox(&window);
    QComboBox* combo4 = new QComboBox(&window);
    QRadioButton* option1 = new QRadioButton(QStringLiteral("WAV"), &window);
    QRadioButton* option2 = new QRadioButton(QStringLiteral("MP3"), &window);
    QRadioButton* option3 = new QRadioButton(QStringLiteral("OGG"), &window);
    QTimer* timer4 = new QTimer(&window);
    QString outAudioFile;

    // What the stand-in editor saw while saving.
    double seconds = 3.0; // length of what the editor saves
    bool wizardEnabledDuringSave = true;
    int nestedRenders = 0; // renders started from inside a render that went ahead
    QString labelDuringSave;
    int rate = 0, channels = 0;

    FakeWizard() {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* w : std::initializer_list<QWidget*>{combo1, combo2, combo3, combo4, option1,
                                                          option2, option3})
            layout->addWidget(w);
        combo1->addItems({QStringLiteral("Use the entire song as ringtone"),
                          QStringLiteral("Use just the following song section:")});
        combo2->addItems(sampleRateTexts());
        combo3->addItems(bitrateTexts());
        combo4->addItems({QStringLiteral("Mono"), QStringLiteral("Stereo")});
        combo1->setCurrentIndex(0);
        combo4->setCurrentIndex(1);
        option2->setChecked(true);

        RenderControls c;
        c.wizard = &window;
        c.Combo1 = combo1;
        c.Combo2 = combo2;
        c.Combo3 = combo3;
        c.Combo4 = combo4;
        c.Option1 = option1;
        c.Option2 = option2;
        c.Option3 = option3;
        c.Timer4 = timer4;
        c.OutAudioFile = &outAudioFile;
        c.setEditorFormat = [this](int r, int ch, int) {
            rate = r;
            channels = ch;
        };
        c.saveEditorAudio = [this](const QString& path, bool selectionOnly, int) -> Result<void> {
            wizardEnabledDuringSave = window.isEnabled();
            // A second click arriving during the render's event-loop passes.
            if (RenderRingtone(path + QStringLiteral(".nested.mp3")))
                ++nestedRenders;
            const auto forms = window.findChildren<Form3*>();
            if (forms.size() == 1 && forms.first()->isVisible())
                labelDuringSave = forms.first()->Label1->text();
            if (selectionOnly)
                return Error::badInput(QStringLiteral("Nothing is selected."));
            if (!testsupport::makeTone(path, seconds, rate, channels,
                                       {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}))
                return Error::environment(QStringLiteral("ffmpeg failed"));
            return {};
        };
        setRenderControls(c);
        window.show();
    }
};

struct Message {
    QMessageBox::Icon icon;
    QString text;
};

} // namespace

class TestRenderWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void successLeavesWizardUsable();
    void failureGivesOneMessage();
    void barFollowsEncoding();
    void messagesShowNamesAsWritten();

private:
    QTemporaryDir* m_dir = nullptr;
    QList<Message> m_messages;
};

void TestRenderWindow::init() {
    m_dir = new QTemporaryDir;
    setAppFolderForTesting(m_dir->filePath(QStringLiteral("app")));
    m_messages.clear();
    setRenderMessageHandlerForTesting([this](QMessageBox::Icon icon, const QString& text) {
        m_messages.append({icon, text});
    });
}

void TestRenderWindow::cleanup() {
    setRenderMessageHandlerForTesting({});
    setAppFolderForTesting({});
    qunsetenv("FAKE_ENCODER");
    delete m_dir;
}

void TestRenderWindow::successLeavesWizardUsable() {
    FakeWizard wizard;
    wizard.combo2->setCurrentText(QStringLiteral("22050"));
    wizard.combo3->setCurrentText(QStringLiteral("128"));
    const QString output = m_dir->filePath(QStringLiteral("tone.mp3"));

    QVERIFY(RenderRingtone(output));

    QVERIFY(!wizard.wizardEnabledDuringSave);
    QCOMPARE(wizard.nestedRenders, 0);
    QCOMPARE(wizard.labelDuringSave, QStringLiteral("Preparing..."));
    QVERIFY(wizard.window.isEnabled());
    QVERIFY(wizard.window.findChildren<Form3*>().isEmpty());
    QVERIFY(!wizard.timer4->isActive());
    QCOMPARE(wizard.timer4->interval(), 500);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(wizard.outAudioFile, appFilePath(QStringLiteral("output1-temp.wav")));
    QCOMPARE(testsupport::probe(output).sampleRate, 22050);
}

void TestRenderWindow::failureGivesOneMessage() {
    FakeWizard wizard;
    wizard.combo1->setCurrentIndex(1); // the selection, and nothing is selected
    const QString output = m_dir->filePath(QStringLiteral("tone.mp3"));

    QVERIFY(!RenderRingtone(output));

    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().icon, QMessageBox::Warning);
    QCOMPARE(m_messages.first().text, QStringLiteral("Nothing is selected."));
    QVERIFY(wizard.window.isEnabled());
    QVERIFY(wizard.window.findChildren<Form3*>().isEmpty());
    QVERIFY(!QFile::exists(output));
    QCOMPARE(RingtoneFile, output);
}

void TestRenderWindow::barFollowsEncoding() {
    // A slow encoder makes the render last over a second, so the ticker runs a few times. The
    // audio is longer than the encoder's input pipe holds, or the pulls would end at once.
    QVERIFY(QFile::link(testsupport::toolsFolder() + QStringLiteral("/fake_encoder"),
                        appFilePath(QStringLiteral("lame"))));
    qputenv("FAKE_ENCODER", "--fake-out-last-arg --fake-delay=5");

    FakeWizard wizard;
    wizard.seconds = 16.0;
    wizard.combo2->setCurrentText(QStringLiteral("32000"));
    QList<int> values;
    QObject::connect(wizard.timer4, &QTimer::timeout, [&] {
        const auto forms = wizard.window.findChildren<Form3*>();
        if (forms.size() == 1)
            values.append(forms.first()->ProgressBar1->value());
    });

    QVERIFY(RenderRingtone(m_dir->filePath(QStringLiteral("slow.mp3"))));
    QVERIFY2(!values.isEmpty(), "the ticker never ran during the render");
    for (int i = 0; i < values.size(); ++i) {
        QVERIFY(values[i] > 0 && values[i] <= 100);
        if (i > 0)
            QVERIFY(values[i] >= values[i - 1]);
    }
}

void TestRenderWindow::messagesShowNamesAsWritten() {
    // A folder name that looks like markup, in the message of a folder that does not exist.
    setRenderMessageHandlerForTesting({});
    FakeWizard wizard;
    wizard.option1->setChecked(true);
    const QString folder = m_dir->filePath(QStringLiteral("<b>loud<br>tones"));
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        // What a reader gets is what is drawn: markup would come out as "tones".
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label))
            shown = a->text(QAccessible::Name);
        box->accept();
    });
    poll.start(20);
    QVERIFY(!RenderRingtone(folder + QStringLiteral("/tone.wav")));
    QVERIFY2(shown.contains(QStringLiteral("<b>loud<br>tones")), qPrintable(shown));
}

QTEST_MAIN(TestRenderWindow)
#include "test_renderwindow.moc"
