#include "app/ui/DeliveryActions.h"

#include "app/ui/EditingPage.h"
#include "app/ui/OptionsPage.h"
#include "device/ui/Form4.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/AudioEditor.h"
#include "render/RenderState.h"
#include "render/RingtoneFormat.h"
#include "render/ui/RenderRingtone.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

namespace chimora {

DeliveryActions::DeliveryActions(QWidget* wizard, EditingPage* editing, OptionsPage* options,
                                 QTimer* progressTicker, QString* outAudioFile)
    : m_wizard(wizard), m_options(options)
{
    RenderControls controls;
    controls.wizard = wizard;
    controls.Combo1 = editing->Combo1;
    controls.Combo2 = options->Combo2;
    controls.Combo3 = options->Combo3;
    controls.Combo4 = options->Combo4;
    controls.Option1 = options->Option1;
    controls.Option2 = options->Option2;
    controls.Option3 = options->Option3;
    controls.Timer4 = progressTicker;
    controls.OutAudioFile = outAudioFile;
    AudioEditor* editor = editing->AE;
    controls.setEditorFormat = [editor](int rateHz, int channels, int bitrateKbps) {
        editor->format()->setFormat(rateHz, channels, bitrateKbps);
    };
    controls.saveEditorAudio = [editor](const QString& path, bool selectionOnly, int mode) {
        return editor->save(path, selectionOnly, mode);
    };
    setRenderControls(controls);
}

DeliveryActions::~DeliveryActions()
{
    // The renderer keeps pointers to the wizard's controls; they go with the wizard.
    setRenderControls({});
}

void DeliveryActions::saveAsFile()
{
    const std::optional<RingtoneFormat> format = chosenRingtoneFormat();
    if (!format)
        return;
    // The dialog opens where the last ringtone was saved during this run, at first in the
    // user's music folder; it neither asks before replacing a file nor adds an extension.
    if (m_saveFolder.isEmpty()) {
        m_saveFolder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (m_saveFolder.isEmpty() || !QDir(m_saveFolder).exists())
            m_saveFolder = QDir::homePath();
    }
    const QString proposed = QDir(m_saveFolder).filePath(m_options->Text1->text());
    const QString chosen = QFileDialog::getSaveFileName(
        m_wizard, QStringLiteral("Save file"), proposed, saveDialogFilter(*format), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    m_saveFolder = QFileInfo(chosen).absolutePath();
    RenderRingtone(withRingtoneExtension(chosen, *format));
}

void DeliveryActions::transferToDevice()
{
    const std::optional<RingtoneFormat> format = chosenRingtoneFormat();
    if (!format)
        return;
    // After a failed render (its message shown) the browser would upload an older ringtone.
    if (!RenderRingtone(appFilePath(uploadFileName(*format))))
        return;
    QCoreApplication::processEvents();
    m_wizard->setEnabled(false);
    auto* browser = new Form4(m_wizard, {RingtoneFile, m_options->Text1->text(),
                                         ringtoneExtension(*format)});
    browser->show();
    QCoreApplication::processEvents();
}

} // namespace chimora
