#pragma once
// The device browser: connect to the phone, walk its folders, upload the ringtone into one.

#include <QIcon>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;

namespace chimora {

class ConnectAttempt;

/// What an upload sends, as the wizard holds it when the window opens.
struct UploadRingtone {
    QString localFile; ///< the rendered ringtone
    QString name;      ///< the ringtone's name, the device file's name without extension
    QString extension; ///< ".wav", ".mp3" or ".ogg", after the chosen format
};

/// "Device Browser", 507 x 365 pixels, fixed, centred on the wizard that owns it. It connects
/// as soon as it is shown, and stays responsive while it does. Every text from outside (device
/// folders, storages, messages) shows as plain text. Closing it (it deletes itself) enables the
/// wizard again and gives it the focus; only the Close button disconnects, and a connection
/// attempt still running is dropped either way. UI thread only.
class Form4 : public QWidget {
    Q_OBJECT
public:
    Form4(QWidget* wizard, UploadRingtone ringtone);

    QLabel* Label5 = nullptr;             // status line
    QPushButton* Command1 = nullptr;      // "Connect" button
    QPushButton* Command3 = nullptr;      // "Disconnect" button
    QLabel* Label1 = nullptr;             // destination folder of an upload
    QProgressBar* ProgressBar1 = nullptr; // upload progress, 0 to 100
    QPushButton* Command4 = nullptr;      // "Upload" button
    QListWidget* LW1 = nullptr;           // the current folder's sub-folders
    QPushButton* Command2 = nullptr;      // "Close" button
    QLabel* NoDeviceHint = nullptr;       // what to do when no phone is found, over the list
    QList<QIcon> ImageList1;              // 1 folder, 2 up arrow

    /// The device folder the list shows: "\" or "\A\B" (no trailing "\").
    QString CurrentFolder = QStringLiteral("\\");

    /// Replaces showing the message boxes (tests): called with each box, made ready, instead
    /// of running it. An empty function restores the boxes.
    static void setMessageHandlerForTesting(std::function<void(QMessageBox& box)> handler);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void LW1_ItemClick(QListWidgetItem* item);
    void LW1_DblClick();
    void ListRootFolder();

    void showConnecting();
    void showConnected();
    void showDisconnected();
    void cancelConnect();
    void fillList(const QStringList& folders);
    void showMessage(QMessageBox::Icon icon, const QString& text);

    QWidget* m_wizard;
    UploadRingtone m_ringtone;
    bool m_loaded = false;
    ConnectAttempt* m_attempt = nullptr; // while connecting; a child, so it ends with the window
};

} // namespace chimora
