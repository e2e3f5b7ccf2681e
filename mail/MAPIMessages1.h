#pragma once
// One message composed and sent within a signed-on mail session (MAPISession1): subject, note
// text, recipients chosen by index, and one attachment. UI thread only.

#include "mail/MailHeaders.h"
#include "mail/MailStep.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace chimora {

class MAPISession1;

class MAPIMessages1 {
public:
    /// Recipient types: primary (To), copy, blind copy. Only primary recipients are sent.
    static constexpr int PrimaryRecipient = 1;

    /// The session the message is sent in (MAPISession1::SessionID()).
    void setSessionID(long sessionId) { m_sessionId = sessionId; }

    /// Starts a new, empty message.
    MailStep Compose();

    void setMsgSubject(const QString& subject) { m_subject = subject; }
    void setMsgNoteText(const QString& text) { m_noteText = text; }

    /// Selects recipient `index` for the next two calls; the index one past the last adds a
    /// recipient. Failure for any other index.
    MailStep setRecipIndex(int index);
    /// Type of the selected recipient; NotSupported for anything but PrimaryRecipient.
    MailStep setRecipType(int type);
    /// Name of the selected recipient: an address, or `Name <address>`.
    void setRecipDisplayName(const QString& name);

    /// The one attachment: a file path, read when the message is sent.
    void setAttachmentPathName(const QString& path) { m_attachmentPath = path; }

    /// Checks that every recipient is an address. NoRecipients for none or an empty one;
    /// AmbiguousRecipient for one that is not an address.
    MailStep ResolveName();

    /// Sends the message through the session's server, processing events while it waits; the
    /// session's cancel() ends it with UserAbort.
    /// `showDialog` (show the message to the user first) is NotSupported. Fails with
    /// InvalidSession when the session is not signed on; resolves names not yet resolved; then
    /// the server's failures (sendSmtpMessage).
    MailStep Send(bool showDialog);

private:
    struct Recipient {
        QString displayName;
        std::optional<Mailbox> resolved;
    };
    long m_sessionId = 0;
    QString m_subject;
    QString m_noteText;
    QList<Recipient> m_recipients;
    int m_recipIndex = 0;
    QString m_attachmentPath;
};

/// The steps of sending one message: sign on; give `messages` the session; compose; subject and
/// note text; for each of the first `count` recipients select it, make it primary, set its name
/// and the one attachment `attachmentPath`; resolve the names; send without showing; sign off.
/// The first failing step ends it and is returned (the session stays signed on then).
MailStep sendThroughSession(MAPISession1& session, MAPIMessages1& messages, const QString& subject,
                            const QString& body, int count, const QStringList& recipients,
                            const QString& attachmentPath);

} // namespace chimora
