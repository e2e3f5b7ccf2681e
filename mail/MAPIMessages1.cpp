#include "mail/MAPIMessages1.h"

#include "mail/MAPISession1.h"
#include "mail/OffThread.h"
#include "mail/SmtpTransfer.h"

namespace chimora {

MailStep MAPIMessages1::Compose() {
    m_subject.clear();
    m_noteText.clear();
    m_recipients.clear();
    m_recipIndex = 0;
    m_attachmentPath.clear();
    return {};
}

MailStep MAPIMessages1::setRecipIndex(int index) {
    if (index < 0 || index > m_recipients.size())
        return MailStep::failure(MailErrorNumber::Failure,
                                 QStringLiteral("There is no recipient %1.").arg(index));
    if (index == m_recipients.size())
        m_recipients.append(Recipient{});
    m_recipIndex = index;
    return {};
}

MailStep MAPIMessages1::setRecipType(int type) {
    if (type != PrimaryRecipient)
        return MailStep::failure(MailErrorNumber::NotSupported,
                                 QStringLiteral("Only primary recipients can be sent to."));
    if (m_recipients.isEmpty())
        m_recipients.append(Recipient{});
    return {};
}

void MAPIMessages1::setRecipDisplayName(const QString& name) {
    if (m_recipients.isEmpty())
        m_recipients.append(Recipient{});
    m_recipients[m_recipIndex] = {name, std::nullopt};
}

MailStep MAPIMessages1::ResolveName() {
    if (m_recipients.isEmpty())
        return MailStep::failure(MailErrorNumber::NoRecipients,
                                 QStringLiteral("The message has no recipient."));
    for (Recipient& r : m_recipients) {
        if (r.displayName.trimmed().isEmpty())
            return MailStep::failure(MailErrorNumber::NoRecipients,
                                     QStringLiteral("The recipient is empty."));
        r.resolved = parseMailbox(r.displayName);
        if (!r.resolved)
            return MailStep::failure(
                MailErrorNumber::AmbiguousRecipient,
                QStringLiteral("\"%1\" is not an e-mail address such as %2.")
                    .arg(withoutControlCharacters(r.displayName), ExampleMailAddress));
    }
    return {};
}

MailStep MAPIMessages1::Send(bool showDialog) {
    if (showDialog)
        return MailStep::failure(MailErrorNumber::NotSupported,
                                 QStringLiteral("Messages cannot be shown before sending."));
    MAPISession1* session = MAPISession1::find(m_sessionId);
    if (!session)
        return MailStep::failure(MailErrorNumber::InvalidSession,
                                 QStringLiteral("The mail session is not signed on."));
    if (MailStep resolved = ResolveName(); !resolved)
        return resolved;

    OutgoingMessage message;
    message.from = session->sender();
    for (const Recipient& r : m_recipients)
        message.to.append(*r.resolved);
    message.subject = m_subject;
    message.body = m_noteText;
    message.attachmentPath = m_attachmentPath;
    const SmtpConnection connection = session->connection();
    const CancellationPtr cancel = session->cancellation();
    if (cancel->isCancelled())
        return MailStep::cancelled();
    MailStep sent = runOffThread([connection, message, cancel] {
        return sendSmtpMessage(connection, message, cancel.get());
    });
    // The session may have gone while events were processed.
    if (sent.number() == MailErrorNumber::LoginFailure) {
        if (MAPISession1* still = MAPISession1::find(m_sessionId))
            still->loginRefused();
    }
    return sent;
}

MailStep sendThroughSession(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                            const QString& body, int count, const QStringList& recipients,
                            const QString& attachmentPath) {
    if (MailStep s = session.SignOn(); !s)
        return s;
    messages.setSessionID(session.SessionID());
    if (MailStep s = messages.Compose(); !s)
        return s;
    messages.setMsgSubject(subject);
    messages.setMsgNoteText(body);
    for (int i = 0; i < count; ++i) {
        if (MailStep s = messages.setRecipIndex(i); !s)
            return s;
        if (MailStep s = messages.setRecipType(MAPIMessages1::PrimaryRecipient); !s)
            return s;
        messages.setRecipDisplayName(recipients.value(i));
        messages.setAttachmentPathName(attachmentPath);
    }
    if (MailStep s = messages.ResolveName(); !s)
        return s;
    if (MailStep s = messages.Send(false); !s)
        return s;
    return session.SignOff();
}

} // namespace chimora
