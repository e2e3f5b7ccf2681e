#include "mail/ui/SendMailMessage.h"

#include "mail/MAPIMessages1.h"
#include "mail/MAPISession1.h"

#include <QMessageBox>
#include <QDebug>

namespace chimora {

QString resolveFailureText()
{
    return QStringLiteral("Unable to resolve name, please check spelling and address format. "
                          "'example %1'")
        .arg(QLatin1String(ExampleMailAddress));
}

bool SendMailMessage(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                     const QString& body, qint16 count, const QStringList& recipients,
                     const QString& attachmentPath, QWidget* boxOwner)
{
    const MailStep outcome = sendThroughSession(session, messages, subject, body, count,
                                                recipients, attachmentPath);
    if (outcome)
        return true;
    qWarning("Sending mail failed (%d): %s %s", outcome.number(),
             qPrintable(outcome.error().message), qPrintable(outcome.error().detail));
    if (outcome.number() == MailErrorNumber::AmbiguousRecipient) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Chimora"), resolveFailureText(),
                        QMessageBox::Ok, boxOwner);
        box.exec();
    }
    return false;
}

} // namespace chimora
