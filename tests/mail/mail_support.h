#pragma once
// Helpers for the mail tests: the loopback mail servers scripts/test starts, what arrived in
// their Maildirs (read by Python's mail parser, an independent reader), and answering the
// dialogs and message boxes the e-mail window shows, as a user would.

#include "mail/MAPISession1.h"
#include "platform/core/UniqueFd.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

namespace mailtest {

/// host:port of the servers, from the environment scripts/test exports; empty when absent.
QString plainServer();    ///< aiosmtpd: any mail, no login
QString startTlsServer(); ///< login server, STARTTLS required
QString tlsServer();      ///< login server, TLS from the start
QString plainMaildir();
QString loginMaildir();
QString serverCaFile();   ///< the login server's self-signed certificate
QString serverUser();
QString serverPassword();

/// Message files in the Maildir's "new" folder.
QStringList storedMessages(const QString& maildir);

/// A message as a mail reader sees it (see read_mail.py): headers, subject, from, to, body,
/// attachments [{name, type, sha256}].
QJsonObject readMessage(const QString& path);

/// SHA-256 of a file, in hex.
QString fileSha256(const QString& path);

/// A loopback port that takes connections (the kernel completes them) but never says a word.
struct SilentServer {
    SilentServer();
    chimora::UniqueFd fd;
    int port = 0;
};

/// A loopback port nobody listens on (connecting is refused) while `holder` keeps it bound.
int closedPort(chimora::UniqueFd* holder);

/// Writes [Mail] of `settingsFile`.
void writeAccount(const QString& settingsFile, const chimora::MailAccount& account);

/// Answers the modal windows that come up while it is armed: message boxes are recorded and
/// accepted; each account dialog gets the next of `accountAnswers` typed in (or is cancelled
/// when there is none left) and its request is recorded.
class ModalAnswerer {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    void arm(QList<chimora::AccountAnswer> accountAnswers = {});
    void disarm();

    QList<Box> boxes;
    QStringList dialogProblems; ///< the problem each account dialog showed
    bool rememberEnabled = false; ///< whether the last dialog offered "Remember password"

private:
    void poll();
    /// Owns the pending polls, so none runs once the answerer has gone.
    QObject m_context;
    QList<chimora::AccountAnswer> m_answers;
    bool m_armed = false;
};

} // namespace mailtest
