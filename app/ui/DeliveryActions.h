#pragma once
// What the delivery buttons of the options page do with the ringtone: "Save as file",
// "Email ringtone"; "ActiveSync transfer" opens its window from here.

#include <QString>

class QTimer;
class QWidget;

namespace chimora {

class EditingPage;
class OptionsPage;

/// The delivery actions of one wizard window. While it exists the renderer reads the choices
/// from the wizard's pages: the constructor registers the controls with it, the destructor
/// withdraws them. All pointers must outlive this object.
class DeliveryActions {
public:
    DeliveryActions(QWidget* wizard, EditingPage* editing, OptionsPage* options,
                    QTimer* progressTicker, QString* outAudioFile);
    ~DeliveryActions();
    DeliveryActions(const DeliveryActions&) = delete;
    DeliveryActions& operator=(const DeliveryActions&) = delete;

    /// Asks where to save, proposing the ringtone's name, and renders the ringtone there in the
    /// chosen format. Does nothing when no format option is set or the dialog is cancelled.
    void saveAsFile();

    /// Renders the ringtone for the upload into the application folder and, when that worked,
    /// disables the wizard and opens the device browser over it.
    void transferToDevice();
    /// Renders the ringtone as "<name><extension>" in the application folder and opens the
    /// e-mail window with it, owned by the wizard, which stays disabled until the window goes.
    /// A name that is no file name of that folder is refused with a message, and nothing
    /// opens after a render that failed.
    void emailRingtone();

private:
    QWidget* m_wizard;
    OptionsPage* m_options;
    QString m_saveFolder; // where "Save as file" last saved, during this run
};

} // namespace chimora
