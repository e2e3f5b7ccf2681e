#pragma once
// The wizard window: header band, a stack of pages of which one is shown, footer band with
// "< Back", "Next >", "Cancel" and the web link. Other windows and the renderer read its
// controls by name, so they are public; each page holds its own.

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace chimora {

class DeliveryActions;
class EditingPage;
class OptionsPage;
class SourcePage;

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

    // The pages, which are mainP[0], mainP[1] and mainP[2].
    SourcePage* sourcePage = nullptr;   // "Open audio file" or "Record new file"
    EditingPage* editingPage = nullptr; // the waveform editor and the section choice
    OptionsPage* optionsPage = nullptr; // name, format and delivery buttons

    // Footer.
    QPushButton* Command1 = nullptr; // "< Back" button
    QPushButton* Command2 = nullptr; // "Next >" button
    QPushButton* Command3 = nullptr; // "Cancel" button
    QLabel* Label38 = nullptr;       // web link to the product's site

    QTimer* Timer4 = nullptr; // conversion progress ticker (500 ms), run by the renderer

public slots:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Label38_Click();
    void Command4_Click();
    void Command5_Click();
    void Command7_Click();
    void Command6_Click();
    void Command8_Click();
    /// The desktop session ends: a running recording stops and is kept, and the window may close
    /// from now on although a secondary window is open.
    void endSession();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildBands();
    void buildPages();
    /// Shows the page fPos names and loads `path` into the editor.
    void showInEditor(const QString& path);

    std::unique_ptr<DeliveryActions> m_delivery;
    bool m_unloaded = false;
    bool m_sessionEnding = false;
};

/// The product's web address, shown in the footer.
inline constexpr const char* ProductWebAddress = "https://chimora.example.org";

} // namespace chimora
