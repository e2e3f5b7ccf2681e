#include "mail/ui/SendMailMessage.h"

#include "mail/MAPIMessages1.h"
#include "mail/MAPISession1.h"

#include <QDebug>
#include <QLabel>

namespace chimora {

QString resolveFailureText() {
    return QStringLiteral("Unable to resolve name, please check spelling and address format. "
                          "'example %1'")
        .arg(QLatin1String(ExampleMailAddress));
}

QMessageBox::StandardButton showMailBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
                                        const QString& informative,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QStringLiteral("Chimora"), text, buttons, owner);
    box.setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    if (!informative.isEmpty()) {
        box.setInformativeText(informative);
        // QMessageBox guesses the format of its informative text; a server's reply or a file
        // name holding "<" must not be taken for markup.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }
    return QMessageBox::StandardButton(box.exec());
}

bool SendMailMessage(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                     const QString& body, qint16 count, const QStringList& recipients,
                     const QString& attachmentPath, QWidget* boxOwner, MailStep* outcome) {
    const MailStep step =
        sendThroughSession(session, messages, subject, body, count, recipients, attachmentPath);
    if (outcome)
        *outcome = step;
    if (step)
        return true;
    qWarning("Sending mail failed (%d): %s %s", step.number(), qPrintable(step.error().message),
             qPrintable(step.error().detail));
    if (step.number() == MailErrorNumber::AmbiguousRecipient)
        showMailBox(boxOwner, QMessageBox::NoIcon, resolveFailureText());
    return false;
}

} // namespace chimora
