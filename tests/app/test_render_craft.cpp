// The options page's fades, loudness and estimate line in the real wizard: the line follows the
// section and the format, the renderer applies the page's fades, and the choices come back from
// their own section of the settings file; a screen reader hears the line as it stands.

#include "TestSupport.h"
#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/OptionsPage.h"
#include "app/ui/SettingsBinding.h"
#include "app/ui/Startup.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"
#include "render/ui/RenderRingtone.h"
#include "wizard_support.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

namespace {

// All a screen reader says of a widget: its name and its description.
QString spoken(QWidget* widget) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    return a ? a->text(QAccessible::Name) + '\n' + a->text(QAccessible::Description) : QString();
}

} // namespace

class TestRenderCraft : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_wizard;

    OptionsPage& page() { return *m_wizard->optionsPage; }
    AudioDocument& document() { return *m_wizard->editingPage->AE->document(); }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        setAppFolderForTesting(m_dir.filePath("app"));
        m_wizard = StartChimora();
        QVERIFY(m_wizard);
        setRenderMessageHandlerForTesting(
            [](QMessageBox::Icon, const QString& text) { QFAIL(qPrintable(text)); });
        const QString song = m_dir.filePath("song.wav");
        QVERIFY(testsupport::makeTone(song, 40.0, 8000, 1));
        m_wizard->openAudioFile(song);
        document().waitForLoad();
        QTRY_COMPARE(document().frameCount(), int64_t(40 * 8000));
    }

    void theLineFollowsSectionAndFormat() {
        QLabel* line = page().EstimateLabel;
        page().Option1->setChecked(true);
        page().Combo2->setCurrentText("8000");
        page().Combo4->setCurrentIndex(0);
        m_wizard->editingPage->Combo1->setCurrentIndex(0);
        // 40 s of 8000 Hz mono WAV: 640044 bytes, too long for an iPhone.
        QTRY_VERIFY2(line->text().startsWith("0:40.0, about 625 KB") &&
                         line->text().contains("iPhone"),
                     qPrintable(line->text()));
        QVERIFY2(spoken(line).contains(line->text()), qPrintable(spoken(line)));

        document().setSelection(8000, 8000 + 12 * 8000 + 800);
        m_wizard->editingPage->Combo1->setCurrentIndex(1);
        QTRY_COMPARE(line->text(), QString("0:12.1, about 189 KB"));
        QVERIFY2(spoken(line).contains(line->text()), qPrintable(spoken(line))); // kept current

        page().Option2->setChecked(true);
        page().Combo3->setCurrentText("320"); // lame makes 64 kbit/s at 8000 Hz
        QTRY_VERIFY2(line->text().startsWith("0:12.1, about 9") &&
                         line->text().contains("64 kbit/s instead of 320 kbit/s"),
                     qPrintable(line->text()));
        m_wizard->editingPage->Combo1->setCurrentIndex(0);
    }

    void theRenderAppliesThePagesFades() {
        page().Option1->setChecked(true);
        page().Combo2->setCurrentText("8000");
        page().Combo4->setCurrentIndex(0);
        page().FadeInCheck->setChecked(true);
        page().FadeOutCheck->setChecked(false);
        page().FadeLengthBox->setValue(0.5);
        const QString output = m_dir.filePath("faded.wav");
        QVERIFY(RenderRingtone(output));
        const std::vector<int16_t> samples = testsupport::decodeWithFfmpeg(output);
        QCOMPARE(samples.size(), size_t(40 * 8000));
        QCOMPARE(samples.front(), int16_t(0));
        // The ramp reaches full level after 4000 frames; the sine's peaks show it.
        const auto peak = [&](size_t from) {
            int16_t p = 0;
            for (size_t i = from; i < from + 100; ++i)
                p = std::max<int16_t>(p, std::abs(samples[i]));
            return p;
        };
        QVERIFY(peak(1000) < peak(6000) / 3);
        QVERIFY(peak(2000) < peak(6000) * 2 / 3);
        QCOMPARE(peak(samples.size() - 200), peak(6000)); // no fade out asked
        page().FadeInCheck->setChecked(false);
    }

    void choicesComeBackFromTheirSection() {
        SettingsFile = m_dir.filePath("settings.ini");
        wizardtest::writeFile(SettingsFile, "[Main]\n5=bell\n[Other]\nx=1\n");
        page().FadeInCheck->setChecked(false);
        page().FadeOutCheck->setChecked(true);
        page().FadeLengthBox->setValue(2.5);
        page().EvenLoudnessCheck->setChecked(true);
        keepChoices(page());
        QCOMPARE(wizardtest::readFile(SettingsFile),
                 QByteArray("[Main]\n5=bell\n[Other]\nx=1\n[Render]\nFadeIn=0\nFadeOut=1\n"
                            "FadeSeconds=2.5\nEvenLoudness=1\n"));

        page().FadeOutCheck->setChecked(false);
        page().FadeLengthBox->setValue(1.0);
        page().EvenLoudnessCheck->setChecked(false);
        showSavedChoices(page());
        QVERIFY(!page().FadeInCheck->isChecked());
        QVERIFY(page().FadeOutCheck->isChecked());
        QCOMPARE(page().FadeLengthBox->value(), 2.5);
        QVERIFY(page().EvenLoudnessCheck->isChecked());

        // A length outside the offered range is brought inside it.
        wizardtest::writeFile(SettingsFile, "[Render]\nFadeSeconds=60\n");
        showSavedChoices(page());
        QCOMPARE(page().FadeLengthBox->value(), 5.0);
        QVERIFY(!page().FadeOutCheck->isChecked());
    }
};

QTEST_MAIN(TestRenderCraft)
#include "test_render_craft.moc"
