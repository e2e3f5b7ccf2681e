#include "app/ui/DeliveryActions.h"

#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/OptionsPage.h"
#include "device/ui/Form4.h"
#include "mail/ui/Form5.h"
#include "platform/core/AppFolder.h"
#include "platform/core/FileName.h"
#include "platform/editor/ui/AudioEditor.h"
#include "render/RenderState.h"
#include "render/RingtoneFormat.h"
#include "render/ui/RenderRingtone.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

namespace chimora {

DeliveryActions::DeliveryActions(QWidget* wizard, EditingPage* editing, OptionsPage* options,
                                 QTimer* progressTicker, QString* outAudioFile)
    : m_wizard(wizard), m_options(options) {
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

DeliveryActions::~DeliveryActions() {
    // The renderer keeps pointers to the wizard's controls; they go with the wizard.
    setRenderControls({});
}

void DeliveryActions::saveAsFile() {
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
    const QString chosen = QFileDialog::getSaveFileName(m_wizard, QStringLiteral("Save file"),
                                                        proposed, saveDialogFilter(*format),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    m_saveFolder = QFileInfo(chosen).absolutePath();
    RenderRingtone(withRingtoneExtension(chosen, *format));
}

void DeliveryActions::transferToDevice() {
    const std::optional<RingtoneFormat> format = chosenRingtoneFormat();
    if (!format)
        return;
    // After a failed render (its message shown) the browser would upload an older ringtone.
    if (!RenderRingtone(appFilePath(uploadFileName(*format)), LinkPolicy::Replace))
        return;
    QCoreApplication::processEvents();
    m_wizard->setEnabled(false);
    auto* browser =
        new Form4(m_wizard, {RingtoneFile, m_options->Text1->text(), ringtoneExtension(*format)});
    browser->show();
    QCoreApplication::processEvents();
}

void DeliveryActions::emailRingtone() {
    const std::optional<RingtoneFormat> format = chosenRingtoneFormat();
    if (!format)
        return;
    // The attachment is "<name><extension>" in the application folder: a name holding a
    // folder separator would put it elsewhere, one that names a folder would mail a hidden
    // file, and one too long for a file name cannot be written at all.
    const QString name = m_options->Text1->text();
    const QString fileName = name + ringtoneExtension(*format);
    QString problem = fileNameProblem(name);
    if (problem.isEmpty() && !fileNameProblem(fileName).isEmpty())
        problem = QStringLiteral("with the extension \"%1\" %2")
                      .arg(ringtoneExtension(*format), fileNameProblem(fileName));
    if (!problem.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Chimora"),
                        QStringLiteral("The ringtone name \"%1\" cannot be used as a file name: "
                                       "%2. Enter another name.")
                            .arg(name, problem),
                        QMessageBox::Ok, m_wizard);
        box.setTextFormat(Qt::PlainText); // the name is the user's, not markup
        box.exec();
        return;
    }
    // Opening the window after a failed render would send an older ringtone. The attachment
    // is the program's own file: a link found in its place is replaced, not written through.
    if (!RenderRingtone(appFilePath(fileName), LinkPolicy::Replace))
        return;
    QCoreApplication::processEvents();

    m_wizard->setEnabled(false);
    auto* form = new Form5(m_wizard, {MailAddress, MailSubject, MailMessage}, RingtoneFile,
                           SettingsFile, [](const MailTexts& texts) {
                               MailAddress = texts.address;
                               MailSubject = texts.subject;
                               MailMessage = texts.message;
                           });
    form->showOverOwner();
}

} // namespace chimora
