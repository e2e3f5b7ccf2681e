#include "app/ui/SourcePage.h"

#include "app/ui/PictureButton.h"
#include "app/ui/Twips.h"
#include "app/ui/WidgetMakers.h"
#include "platform/ffmpeg/AudioFileKinds.h"

#include <QFileDialog>
#include <QLabel>

namespace chimora {

SourcePage::SourcePage(QWidget* parent) : QWidget(parent) {
    ImageList1 = {QIcon(renderSvg(QStringLiteral(":/images/open.svg"), {48, 48})),
                  QIcon(renderSvg(QStringLiteral(":/images/record.svg"), {48, 48}))};

    Label1 = makeLabel(this, "Label1", QStringLiteral("Welcome to Chimora!"), true);
    place(Label1, 120, 240, 6015, 375);
    Label2 = makeLabel(
        this, "Label2",
        QStringLiteral("This wizard will help you create a new ringtone for your mobile."));
    place(Label2, 240, 600, 8415, 255);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Select a source for your ringtone:"), true);
    place(Label3, 240, 1560, 9015, 255);

    Command5 = makePictureButton(this, "Command5", QStringLiteral("Open audio file"));
    place(Command5, 1080, 2040, 1455, 1455);
    Command4 = makePictureButton(this, "Command4", QStringLiteral("Record new file"));
    place(Command4, 1080, 3600, 1455, 1455);
}

void SourcePage::showPictures() {
    Command5->setIcon(ImageList1.value(0));
    Command4->setIcon(ImageList1.value(1));
}

QString SourcePage::askForAudioFile() {
    return QFileDialog::getOpenFileName(window(), QStringLiteral("Open audio file"), QString(),
                                        openDialogFilter());
}

} // namespace chimora
