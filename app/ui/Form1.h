#pragma once
// The wizard window: header band, a stack of pages of which one is shown, footer band with
// "< Back", "Next >", "Cancel" and the web link. Other windows and the renderer read its
// controls by name, so they are public.

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolBar;
class QToolButton;


namespace chimora {

class AudioEditor;
class PictureButton;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    /// The start-up sequence: fills the lists, starts the audio devices and applies the saved
    /// choices. Returns false when the program must end at once (wrong audio layer version or
    /// no audio device); the message has been shown then and nothing was saved.
    bool Form_Load();

    /// The closing sequence: copies the choices into the settings, writes the settings file and
    /// frees the audio devices. Runs once, when the window closes or "Cancel" is pressed.
    void Form_Unload();

    /// Shows page 0, 1 or 2 and sets Back/Next for it; any other value changes nothing.
    /// Does not change fPos.
    void ShowFrame(qint16 page);

    /// Opens an audio file in the editor on the editing page, as "Open audio file" does after
    /// its dialog.
    void openAudioFile(const QString& path);

    qint16 fPos = 0;      ///< index of the page shown: 0 source, 1 editing, 2 options
    QString SrcAudioFile; ///< path of the audio last handed to the editor
    QString OutAudioFile; ///< the editor's temporary WAV output of a render

    // Bands and page stack.
    QLabel* pHeader = nullptr;          // header band with the banner
    std::array<QWidget*, 8> mainP = {}; // the page stack; pages 3 to 7 stay empty
    QLabel* pFooter = nullptr;          // footer band with its background

    // Footer.
    QPushButton* Command1 = nullptr; // "< Back" button
    QPushButton* Command2 = nullptr; // "Next >" button
    QPushButton* Command3 = nullptr; // "Cancel" button
    QLabel* Label38 = nullptr;       // web link to the product's site

    // Source page.
    QLabel* Label1 = nullptr;        // "Welcome to Chimora!"
    QLabel* Label2 = nullptr;        // wizard introduction
    QLabel* Label3 = nullptr;        // "Select a source for your ringtone:"
    PictureButton* Command5 = nullptr; // "Open audio file" picture button
    PictureButton* Command4 = nullptr; // "Record new file" picture button

    // Editing page.
    QToolBar* Toolbar1 = nullptr; // editor commands
    QComboBox* Combo1 = nullptr;  // whole song or selected section
    AudioEditor* AE = nullptr;    // the waveform editor

    // Options page.
    QLabel* Label5 = nullptr;        // "Name of the ringtone:"
    QLineEdit* Text1 = nullptr;      // ringtone name
    QLabel* Label6 = nullptr;        // "Audio file format:"
    QRadioButton* Option1 = nullptr; // "WAV" format option
    QRadioButton* Option2 = nullptr; // "MP3" format option
    QRadioButton* Option3 = nullptr; // "OGG" format option
    QLabel* Label7 = nullptr;        // "Sample rate (Hz):"
    QComboBox* Combo2 = nullptr;     // sample-rate list
    QLabel* Label8 = nullptr;        // "Bitrate (kbps):"
    QComboBox* Combo3 = nullptr;     // bitrate list
    QLabel* Label9 = nullptr;        // "Channels:"
    QComboBox* Combo4 = nullptr;     // channels list
    QLabel* Label4 = nullptr;        // "Select delivery method:"
    PictureButton* Command7 = nullptr; // "Save as file" picture button
    PictureButton* Command8 = nullptr; // "Email ringtone" picture button
    PictureButton* Command6 = nullptr; // "ActiveSync transfer" picture button

    QTimer* Timer4 = nullptr; // conversion progress ticker (500 ms), run by the renderer

    QList<QIcon> ImageList1; // source buttons: open, record
    QList<QIcon> ImageList2; // editor toolbar
    QList<QIcon> ImageList3; // delivery buttons: save, e-mail, device

    /// Editor command sent by the toolbar button at `index` (1 to 14); 0 for separators and
    /// indexes outside the toolbar.
    static int toolbarCommand(int index);

public slots:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Label38_Click();
    void Command5_Click();
    void Toolbar1_ButtonClick(int index);
    void Command7_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildBands();
    void buildSourcePage();
    void buildEditingPage();
    void buildOptionsPage();

    bool m_unloaded = false;
    QString m_saveFolder; // where "Save as file" last saved, during this run
};

/// The product's web address, shown in the footer.
inline constexpr const char* ProductWebAddress = "https://chimora.example.org";

} // namespace chimora
