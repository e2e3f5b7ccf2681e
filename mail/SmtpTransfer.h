#pragma once
// Talking to the mail server over SMTP through libcurl: checking a login and sending one
// message with one attachment. Both block until the server has answered, a time limit has
// passed or they were cancelled; they touch no program state and may run on any thread.

#include "mail/Cancellation.h"
#include "mail/MailAccount.h"
#include "mail/MailHeaders.h"
#include "mail/MailStep.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace chimora {

/// How long a dead, silent or slow server may keep us waiting.
struct SmtpLimits {
    int connectMs = 10000;      ///< to open the connection (TCP and TLS)
    int replySeconds = 10;      ///< for each reply of the server, the greeting included
    int stallSeconds = 10;      ///< with no byte moving either way, at any point of the talk
    int attemptMs = 30000;      ///< for the whole attempt, with a message of no size...
    int bytesPerSecond = 32768; ///< ...and this much longer for each so many bytes it has
};

/// Everything needed to reach and log in to the server.
struct SmtpConnection {
    QString url; ///< smtp://host:port or smtps://host:port (see connectionUrl)
    MailSecurity security = MailSecurity::StartTls;
    QString user; ///< empty: no login
    QString password;
    QString caFile; ///< extra certificate authority file, trusted beside the system's ones
    SmtpLimits limits;
};

/// One message: a text body and at most one attachment.
struct OutgoingMessage {
    Mailbox from;
    QList<Mailbox> to;
    QString subject;
    QString body;           ///< UTF-8 text; line breaks of any kind are sent as CRLF
    QString attachmentPath; ///< read whole when the message is sent; empty: none
};

/// The header lines of `message` (From, To, Subject, Date, Message-ID, MIME-Version), each
/// without its final CRLF. Exposed for the tests.
QList<QByteArray> messageHeaderLines(const OutgoingMessage& message, const QDateTime& date);

/// Connects, secures the connection as asked and logs in, then disconnects. Succeeds at once
/// when the connection has no user. LoginFailure when the server refused the login for good
/// (a 5xx reply); UserAbort when `cancel` was cancelled (it ends the talk within about a
/// second); Failure for everything else (unreachable, time limit, certificate, no STARTTLS, a
/// temporary refusal, a lost connection). The error's message says which, with the server's
/// last reply; its detail holds libcurl's words.
MailStep checkSmtpLogin(const SmtpConnection& connection, const Cancellation* cancel = nullptr);

/// Sends `message`. AttachmentNotFound / AttachmentOpenFailure when the attachment cannot be
/// read; UnknownRecipient when the server refused the recipient; the rest as checkSmtpLogin.
MailStep sendSmtpMessage(const SmtpConnection& connection, const OutgoingMessage& message,
                         const Cancellation* cancel = nullptr);

} // namespace chimora
