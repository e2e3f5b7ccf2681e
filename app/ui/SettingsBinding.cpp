#include "app/ui/SettingsBinding.h"

#include "app/Settings.h"
#include "app/ui/OptionsPage.h"
#include "platform/core/IniFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QRadioButton>

#include <cmath>

namespace chimora {

namespace {

const QString RenderSection = QStringLiteral("Render");

void selectIndex(QComboBox* list, int index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void showRenderShaping(OptionsPage& page) {
    if (SettingsFile.isEmpty())
        return;
    const IniFile ini(SettingsFile);
    const auto on = [&](const char* key) {
        return ini.value(RenderSection, QLatin1String(key)).toInt() == 1;
    };
    page.FadeInCheck->setChecked(on("FadeIn"));
    page.FadeOutCheck->setChecked(on("FadeOut"));
    page.EvenLoudnessCheck->setChecked(on("EvenLoudness"));
    bool ok = false;
    const double seconds = ini.value(RenderSection, QStringLiteral("FadeSeconds")).toDouble(&ok);
    if (ok && std::isfinite(seconds))
        page.FadeLengthBox->setValue(seconds); // the box keeps it within its range
}

void keepRenderShaping(const OptionsPage& page) {
    if (SettingsFile.isEmpty())
        return;
    IniFile ini(SettingsFile);
    const auto flag = [](const QCheckBox* box) {
        return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    };
    ini.setValue(RenderSection, QStringLiteral("FadeIn"), flag(page.FadeInCheck));
    ini.setValue(RenderSection, QStringLiteral("FadeOut"), flag(page.FadeOutCheck));
    ini.setValue(RenderSection, QStringLiteral("FadeSeconds"),
                 QString::number(page.FadeLengthBox->value(), 'f', 1));
    ini.setValue(RenderSection, QStringLiteral("EvenLoudness"), flag(page.EvenLoudnessCheck));
    ini.save();
}

} // namespace

void showSavedChoices(OptionsPage& page) {
    page.Text1->setText(RingtoneName);
    if (FormatCode == 0)
        page.Option1->setChecked(true);
    else if (FormatCode == 1)
        page.Option2->setChecked(true);
    else if (FormatCode == 2)
        page.Option3->setChecked(true);
    selectIndex(page.Combo2, SampleRateIndex);
    selectIndex(page.Combo3, BitrateIndex);
    selectIndex(page.Combo4, ChannelsIndex);
    showRenderShaping(page);
}

void keepChoices(const OptionsPage& page) {
    RingtoneName = page.Text1->text();
    if (page.Option1->isChecked())
        FormatCode = 0;
    else if (page.Option2->isChecked())
        FormatCode = 1;
    else if (page.Option3->isChecked())
        FormatCode = 2;
    SampleRateIndex = page.Combo2->currentIndex();
    BitrateIndex = page.Combo3->currentIndex();
    ChannelsIndex = page.Combo4->currentIndex();
    keepRenderShaping(page);
}

} // namespace chimora
