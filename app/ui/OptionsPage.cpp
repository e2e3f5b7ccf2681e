#include "app/ui/OptionsPage.h"

#include "app/ui/EditingPage.h"
#include "app/ui/PictureButton.h"
#include "app/ui/Twips.h"
#include "app/ui/WidgetMakers.h"
#include "platform/audio/AudioDocument.h"
#include "platform/editor/ui/AudioEditor.h"
#include "render/EncoderCommands.h"
#include "render/RingtoneEstimate.h"
#include "render/RingtoneShaping.h"
#include "render/ui/RenderRingtone.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
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
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            auto* edit = static_cast<QLineEdit*>(watched);
            // After the mouse press that gave the focus has placed the caret.
            QTimer::singleShot(0, edit, [edit] { edit->setSelection(0, edit->text().size()); });
        }
        return false;
    }
};

} // namespace

OptionsPage::OptionsPage(QWidget* parent) : QWidget(parent) {
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

    buildRenderShaping();
}

// In the free column under the lists, right of the delivery buttons; after them in the tab
// order.
void OptionsPage::buildRenderShaping() {
    FadeInCheck = new QCheckBox(QStringLiteral("Fade &in"), this);
    FadeInCheck->setObjectName(QStringLiteral("FadeInCheck"));
    place(FadeInCheck, 5520, 2400, 1575, 255);
    FadeOutCheck = new QCheckBox(QStringLiteral("Fade &out"), this);
    FadeOutCheck->setObjectName(QStringLiteral("FadeOutCheck"));
    place(FadeOutCheck, 7200, 2400, 1815, 255);
    FadeLengthLabel = makeLabel(this, "FadeLengthLabel", QStringLiteral("Fade &length (s):"));
    place(FadeLengthLabel, 5520, 2790, 1575, 255);
    FadeLengthBox = new QDoubleSpinBox(this);
    FadeLengthBox->setObjectName(QStringLiteral("FadeLengthBox"));
    FadeLengthBox->setAccessibleName(QStringLiteral("Fade length in seconds"));
    FadeLengthBox->setRange(kFadeMinSeconds, kFadeMaxSeconds);
    FadeLengthBox->setDecimals(1);
    FadeLengthBox->setSingleStep(0.1);
    FadeLengthBox->setValue(1.0);
    place(FadeLengthBox, 7200, 2760, 1815, 315);
    FadeLengthLabel->setBuddy(FadeLengthBox);
    EvenLoudnessCheck = new QCheckBox(QStringLiteral("Even out lou&dness"), this);
    EvenLoudnessCheck->setObjectName(QStringLiteral("EvenLoudnessCheck"));
    EvenLoudnessCheck->setToolTip(
        QStringLiteral("Brings the ringtone to %1 LUFS, with its peaks at most %2 dBTP")
            .arg(kTargetLoudnessLufs)
            .arg(kTruePeakCeilingDbtp));
    place(EvenLoudnessCheck, 5520, 3240, 3495, 255);

    // Selectable by keyboard, so Tab reaches it and a screen reader reads it out.
    EstimateLabel = makeLabel(this, "EstimateLabel", QString());
    EstimateLabel->setAccessibleName(QStringLiteral("Ringtone length and size"));
    EstimateLabel->setWordWrap(true);
    EstimateLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    EstimateLabel->setTextFormat(Qt::PlainText);
    EstimateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
    EstimateLabel->setFocusPolicy(Qt::StrongFocus);
    place(EstimateLabel, 5520, 3600, 3495, 1695);

    const auto lengthUsed = [this] {
        FadeLengthBox->setEnabled(FadeInCheck->isChecked() || FadeOutCheck->isChecked());
    };
    connect(FadeInCheck, &QCheckBox::toggled, this, lengthUsed);
    connect(FadeOutCheck, &QCheckBox::toggled, this, lengthUsed);
    lengthUsed();
    setRenderShapingControls({FadeInCheck, FadeOutCheck, FadeLengthBox, EvenLoudnessCheck});

    m_estimateTimer = new QTimer(this);
    m_estimateTimer->setSingleShot(true);
    m_estimateTimer->setInterval(50);
    connect(m_estimateTimer, &QTimer::timeout, this, &OptionsPage::updateEstimate);
    m_vorbisTimer = new QTimer(this);
    m_vorbisTimer->setSingleShot(true);
    m_vorbisTimer->setInterval(400);
    connect(m_vorbisTimer, &QTimer::timeout, this, &OptionsPage::measureVorbisRate);
    const auto changed = [this] { scheduleEstimate(); };
    for (QRadioButton* option : {Option1, Option2, Option3})
        connect(option, &QRadioButton::toggled, this, changed);
    for (QComboBox* list : {Combo2, Combo3, Combo4})
        connect(list, &QComboBox::currentIndexChanged, this, changed);

    // The wizard makes the editing page first; its section choice and audio decide the length.
    if (auto* editing = parentWidget() ? parentWidget()->findChild<EditingPage*>(
                                             QString(), Qt::FindDirectChildrenOnly)
                                       : nullptr)
        followSection(editing->Combo1, editing->AE->document());
    updateEstimate();
}

void OptionsPage::followSection(QComboBox* sectionChoice, AudioDocument* document) {
    m_sectionChoice = sectionChoice;
    m_document = document;
    const auto changed = [this] { scheduleEstimate(); };
    if (sectionChoice)
        connect(sectionChoice, &QComboBox::currentIndexChanged, this, changed);
    if (document) {
        connect(document, &AudioDocument::selectionChanged, this, changed);
        connect(document, &AudioDocument::contentChanged, this, [this, changed] {
            ++m_contentVersion;
            changed();
        });
        connect(document, &AudioDocument::loadFinished, this, changed);
    }
    updateEstimate();
}

// Not restarted by each change, so a load's stream of progress still shows.
void OptionsPage::scheduleEstimate() {
    if (!m_estimateTimer->isActive())
        m_estimateTimer->start();
}

/// The request for the choices as they are now; none, with `why` set, when there is nothing
/// to estimate. `from` is the section's first frame in the document.
std::optional<EstimateRequest> OptionsPage::currentRequest(int64_t& from, QString& why) const {
    if (!m_document || m_document->isEmpty()) {
        why = QStringLiteral("Open a song to see the ringtone's length and size.");
        return std::nullopt;
    }
    const bool selectionOnly = m_sectionChoice && m_sectionChoice->currentIndex() == 1;
    const Selection selection = m_document->selection();
    if (selectionOnly && selection.isEmpty()) {
        why = QStringLiteral(
            "Select a section on the editing page to see the ringtone's length and size.");
        return std::nullopt;
    }
    EstimateRequest request;
    from = selectionOnly ? selection.start : 0;
    request.frames = selectionOnly ? selection.length() : m_document->frameCount();
    request.sourceRateHz = m_document->format().sampleRate;
    request.sourceChannels = m_document->format().channels;
    request.format = Option1->isChecked()   ? std::optional(RingtoneFormat::Wav)
                     : Option2->isChecked() ? std::optional(RingtoneFormat::Mp3)
                     : Option3->isChecked() ? std::optional(RingtoneFormat::Ogg)
                                            : std::nullopt;
    request.rateHz = sampleRateFromText(Combo2->currentText());
    request.channels = channelsFromIndex(Combo4->currentIndex());
    request.bitrateKbps = bitrateFromText(Combo3->currentText());
    return request;
}

QString OptionsPage::vorbisKey(const EstimateRequest& request, int64_t from) const {
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(m_contentVersion)
        .arg(from)
        .arg(request.frames)
        .arg(request.rateHz)
        .arg(request.channels)
        .arg(request.bitrateKbps);
}

void OptionsPage::updateEstimate() {
    int64_t from = 0;
    QString why;
    std::optional<EstimateRequest> request = currentRequest(from, why);
    if (!request) {
        showEstimate(why);
        return;
    }
    if (request->format == RingtoneFormat::Ogg) {
        if (vorbisKey(*request, from) == m_vorbis.key) {
            request->vorbisBytesPerSecond = m_vorbis.bytesPerSecond;
            request->vorbisHeaderBytes = m_vorbis.headerBytes;
        } else {
            m_vorbisTimer->start();
        }
    }
    showEstimate(estimateRingtone(*request).text());
}

// A screen reader names the line by its accessible name alone, so the text goes into the
// description too (which tells it of each change).
void OptionsPage::showEstimate(const QString& text) {
    EstimateLabel->setText(text);
    EstimateLabel->setAccessibleDescription(text);
}

void OptionsPage::measureVorbisRate() {
    int64_t from = 0;
    QString why;
    const std::optional<EstimateRequest> request = currentRequest(from, why);
    if (!request || request->format != RingtoneFormat::Ogg)
        return;
    if (m_document->isLoading()) {
        m_vorbisTimer->start(); // the audio is not complete yet
        return;
    }
    const auto measured =
        chimora::measureVorbisRate(*m_document->snapshot(), from, from + request->frames,
                                   {request->rateHz, request->channels, 0}, request->bitrateKbps);
    // A failed measurement (oggenc missing or refusing) leaves the nominal size; the line says
    // what the encoder will refuse.
    m_vorbis.key = vorbisKey(*request, from);
    m_vorbis.bytesPerSecond = measured.ok() ? measured->bytesPerSecond : 0;
    m_vorbis.headerBytes = measured.ok() ? measured->headerBytes : 0;
    updateEstimate();
}

void OptionsPage::fillLists() {
    Combo4->addItems({QStringLiteral("Mono"), QStringLiteral("Stereo")});
    Combo3->addItems(bitrateTexts());
    Combo2->addItems(sampleRateTexts());
}

void OptionsPage::showPictures() {
    Command7->setIcon(ImageList3.value(0));
    Command8->setIcon(ImageList3.value(1));
    Command6->setIcon(ImageList3.value(2));
}

} // namespace chimora
