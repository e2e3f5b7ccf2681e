#include "app/ui/SettingsBinding.h"

#include "app/Settings.h"
#include "app/ui/OptionsPage.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace chimora {

namespace {

void selectIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace

void showSavedChoices(OptionsPage& page)
{
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
}

void keepChoices(const OptionsPage& page)
{
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
}

} // namespace chimora
