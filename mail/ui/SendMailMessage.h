#pragma once
// The send routine of the e-mail window: one message through a session and a message object.

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
/// over `boxOwner`. True when the server took the message.
bool SendMailMessage(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                     const QString& body, qint16 count, const QStringList& recipients,
                     const QString& attachmentPath, QWidget* boxOwner);

/// The resolve message: "Unable to resolve name, please check spelling and address format.
/// 'example someone@example.com'".
QString resolveFailureText();

} // namespace chimora
