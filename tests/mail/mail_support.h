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

/// host:port of the servers (tests/mail/smtp_test_servers.py), from the environment
/// scripts/test exports; empty when absent.
QString plainServer();    ///< any mail, no login
QString startTlsServer(); ///< login server, STARTTLS required
QString tlsServer();      ///< login server, TLS from the start
QString stallServer();    ///< greets, then never answers
QString slowServer();     ///< answers every line late
QString tempFailServer(); ///< answers AUTH "454 4.7.0 <b>Temporary</b> authentication failure"
QString dropServer();     ///< hangs up on AUTH
QString serverCaFile();   ///< the login server's self-signed certificate
QString serverPassword();

/// A user name the login servers take (with serverPassword()), new at each call, so keyring
/// entries of concurrent tests never meet.
QString uniqueUser();

/// A recipient address new at each call (of this test program and this run): its mailbox is
/// this test's alone. `tag` must be letters, digits and hyphens.
QString uniqueAddress(const QString& tag);

/// Message files that arrived for `address`.
QStringList storedMessages(const QString& address);

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
/// accepted (a question gets `questionAnswer`); each account dialog gets the next of
/// `accountAnswers` typed in (or is cancelled when there is none left) and its request is
/// recorded. An answer with an empty password leaves the password and "Remember password" as
/// the dialog showed them, as a user does who only mends another field.
class ModalAnswerer {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QString informative;
        bool informativePlain = true; ///< the informative text is shown as plain text
    };
    void arm(QList<chimora::AccountAnswer> accountAnswers = {});
    void disarm();

    QList<Box> boxes;
    QStringList dialogProblems;   ///< the problem each account dialog showed
    bool rememberEnabled = false; ///< whether the last dialog offered "Remember password"
    bool rememberShown = false;   ///< whether the last dialog showed it ticked
    QMessageBox::StandardButton questionAnswer = QMessageBox::No;

private:
    void poll();
    /// Owns the pending polls, so none runs once the answerer has gone.
    QObject m_context;
    QList<chimora::AccountAnswer> m_answers;
    bool m_armed = false;
};

} // namespace mailtest
