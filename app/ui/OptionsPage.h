#pragma once
// The wizard's third page: the ringtone's name and audio format, the fades and loudness of the
// render, the ringtone's expected length and size, and the delivery buttons.

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;

namespace chimora {

class AudioDocument;
struct EstimateRequest;
class PictureButton;

class OptionsPage : public QWidget {
    Q_OBJECT
public:
    explicit OptionsPage(QWidget* parent);

    /// Fills the sample-rate, bitrate and channels lists in their stored order: the settings
    /// keep positions in these lists.
    void fillLists();

    /// Puts the pictures of ImageList3 on the delivery buttons.
    void showPictures();

    /// The section the ringtone is made of: `sectionChoice` (whole song or selection) over
    /// `document`'s audio. EstimateLabel follows both from now on. A page made inside the
    /// wizard finds them on the editing page itself.
    void followSection(QComboBox* sectionChoice, AudioDocument* document);

    /// Shows the estimate for the choices as they are now (also called on every change).
    void updateEstimate();

    QLabel* Label5 = nullptr;          // "Name of the ringtone:"
    QLineEdit* Text1 = nullptr;        // ringtone name
    QLabel* Label6 = nullptr;          // "Audio file format:"
    QRadioButton* Option1 = nullptr;   // "WAV" format option
    QRadioButton* Option2 = nullptr;   // "MP3" format option
    QRadioButton* Option3 = nullptr;   // "OGG" format option
    QLabel* Label7 = nullptr;          // "Sample rate (Hz):"
    QComboBox* Combo2 = nullptr;       // sample-rate list
    QLabel* Label8 = nullptr;          // "Bitrate (kbps):"
    QComboBox* Combo3 = nullptr;       // bitrate list
    QLabel* Label9 = nullptr;          // "Channels:"
    QComboBox* Combo4 = nullptr;       // channels list
    QLabel* Label4 = nullptr;          // "Select delivery method:"
    PictureButton* Command7 = nullptr; // "Save as file" picture button
    PictureButton* Command8 = nullptr; // "Email ringtone" picture button
    PictureButton* Command6 = nullptr; // "ActiveSync transfer" picture button

    QCheckBox* FadeInCheck = nullptr;        // "Fade in": the render fades the start in
    QCheckBox* FadeOutCheck = nullptr;       // "Fade out": the render fades the end out
    QLabel* FadeLengthLabel = nullptr;       // "Fade length (s):"
    QDoubleSpinBox* FadeLengthBox = nullptr; // length of each fade, 0.1 to 5 s
    QCheckBox* EvenLoudnessCheck = nullptr;  // "Even out loudness" of the rendered file
    QLabel* EstimateLabel = nullptr;         // the ringtone's length, size and warnings

    QList<QIcon> ImageList3; // delivery buttons: save, e-mail, device

private:
    void buildRenderShaping();
    void scheduleEstimate();
    void showEstimate(const QString& text);
    /// Measures Ogg Vorbis's real rate on the section when the choices call for it.
    void measureVorbisRate();
    std::optional<EstimateRequest> currentRequest(int64_t& from, QString& why) const;
    QString vorbisKey(const EstimateRequest& request, int64_t from) const;

    QPointer<QComboBox> m_sectionChoice;
    QPointer<AudioDocument> m_document;
    QTimer* m_estimateTimer = nullptr; // gathers bursts of changes (a load's progress)
    QTimer* m_vorbisTimer = nullptr;   // waits for the choices to settle before encoding
    int64_t m_contentVersion = 0;      // counts the document's content changes
    struct VorbisMeasurement {
        QString key; // what was measured: content, section and choices
        double bytesPerSecond = 0;
        int64_t headerBytes = 0;
    } m_vorbis;
};

} // namespace chimora
