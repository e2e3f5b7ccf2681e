#pragma once
// The wizard's first page: the welcome text and the two ways to get audio, opening a file or
// recording one.

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>

class QLabel;

namespace chimora {

class PictureButton;

class SourcePage : public QWidget {
    Q_OBJECT
public:
    explicit SourcePage(QWidget* parent);

    /// Puts the pictures of ImageList1 on the source buttons.
    void showPictures();

    /// The "Open audio file" dialog over the wizard: the chosen path, or empty when cancelled.
    QString askForAudioFile();

    QLabel* Label1 = nullptr;          // "Welcome to Chimora!"
    QLabel* Label2 = nullptr;          // wizard introduction
    QLabel* Label3 = nullptr;          // "Select a source for your ringtone:"
    PictureButton* Command5 = nullptr; // "Open audio file" picture button
    PictureButton* Command4 = nullptr; // "Record new file" picture button

    QList<QIcon> ImageList1; // source buttons: open, record
};

} // namespace chimora
