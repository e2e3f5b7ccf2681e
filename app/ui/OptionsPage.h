#pragma once
// The wizard's third page: the ringtone's name and audio format, and the delivery buttons.

#include <QIcon>
#include <QList>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace chimora {

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

    QList<QIcon> ImageList3; // delivery buttons: save, e-mail, device
};

} // namespace chimora
