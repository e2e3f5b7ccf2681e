#include "app/ui/OptionsPage.h"

#include "app/ui/PictureButton.h"
#include "app/ui/Twips.h"
#include "app/ui/WidgetMakers.h"
#include "render/EncoderCommands.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

namespace chimora {

namespace {

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

} // namespace

OptionsPage::OptionsPage(QWidget* parent) : QWidget(parent)
{
    ImageList3 = {QIcon(renderSvg(QStringLiteral(":/images/save.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/email.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/device.svg"), {48, 48}))};

    Label5 = makeLabel(this, "Label5", QStringLiteral("Name of the ringtone:"));
    place(Label5, 120, 240, 3375, 255);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    place(Text1, 1920, 240, 7095, 315);
    Text1->installEventFilter(new SelectAllOnFocus(Text1));
    Label5->setBuddy(Text1);

    Label6 = makeLabel(this, "Label6", QStringLiteral("Audio file format:"));
    place(Label6, 120, 840, 1575, 255);
    Option1 = new QRadioButton(QStringLiteral("WAV"), this);
    Option1->setObjectName(QStringLiteral("Option1"));
    place(Option1, 1920, 840, 2535, 255);
    Option2 = new QRadioButton(QStringLiteral("MP3"), this);
    Option2->setObjectName(QStringLiteral("Option2"));
    place(Option2, 1920, 1200, 2535, 255);
    Option3 = new QRadioButton(QStringLiteral("OGG"), this);
    Option3->setObjectName(QStringLiteral("Option3"));
    place(Option3, 1920, 1560, 2535, 255);
    Option1->setChecked(true); // design-time choice

    Label7 = makeLabel(this, "Label7", QStringLiteral("Sample rate (Hz):"));
    place(Label7, 5520, 840, 2175, 255);
    Combo2 = makeList(this, "Combo2", QStringLiteral("Sample rate (Hz)"));
    place(Combo2, 7200, 840, 1815, 315);
    Label8 = makeLabel(this, "Label8", QStringLiteral("Bitrate (kbps):"));
    place(Label8, 5520, 1320, 2175, 255);
    Combo3 = makeList(this, "Combo3", QStringLiteral("Bitrate (kbps)"));
    place(Combo3, 7200, 1320, 1815, 315);
    Label9 = makeLabel(this, "Label9", QStringLiteral("Channels:"));
    place(Label9, 5520, 1800, 2175, 255);
    Combo4 = makeList(this, "Combo4", QStringLiteral("Channels"));
    place(Combo4, 7200, 1800, 1815, 315);
    Label7->setBuddy(Combo2);
    Label8->setBuddy(Combo3);
    Label9->setBuddy(Combo4);

    Label4 = makeLabel(this, "Label4", QStringLiteral("Select delivery method:"), true);
    place(Label4, 120, 2280, 4695, 255);
    Command7 = makePictureButton(this, "Command7", QStringLiteral("Save as file"));
    place(Command7, 240, 2760, 1455, 1455);
    Command8 = makePictureButton(this, "Command8", QStringLiteral("Email ringtone"));
    place(Command8, 1800, 2760, 1455, 1455);
    Command6 = makePictureButton(this, "Command6", QStringLiteral("ActiveSync transfer"));
    place(Command6, 3360, 2760, 1455, 1455);
}

void OptionsPage::fillLists()
{
    Combo4->addItems({QStringLiteral("Mono"), QStringLiteral("Stereo")});
    Combo3->addItems(bitrateTexts());
    Combo2->addItems(sampleRateTexts());
}

void OptionsPage::showPictures()
{
    Command7->setIcon(ImageList3.value(0));
    Command8->setIcon(ImageList3.value(1));
    Command6->setIcon(ImageList3.value(2));
}

} // namespace chimora
