#pragma once
// The send routine of the e-mail window: one message through a session and a message object;
// and the message boxes of the mail windows, which show outside words as plain text.

#include "mail/MailStep.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace chimora {

class MAPIMessages1;
class MAPISession1;

/// Signs on, composes the message with `subject`, `body`, the first `count` entries of
/// `recipients` as primary recipients and `attachmentPath` as the one attachment, resolves the
/// names, sends and signs off. Stops at the first failing step and returns false then (the
/// session stays signed on); a recipient that is not an address first shows the resolve message
/// over `boxOwner`. True when the server took the message. `outcome`, when given, receives the
/// failing step (why, for the user).
bool SendMailMessage(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                     const QString& body, qint16 count, const QStringList& recipients,
                     const QString& attachmentPath, QWidget* boxOwner, MailStep* outcome = nullptr);

/// The resolve message: "Unable to resolve name, please check spelling and address format.
/// 'example someone@example.com'".
QString resolveFailureText();

/// Shows a modal box titled "Chimora" over `owner`; `text` and `informative` (below it, when
/// not empty) are plain text, never markup. Returns the button pressed.
QMessageBox::StandardButton
showMailBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
            const QString& informative = {}, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

} // namespace chimora
