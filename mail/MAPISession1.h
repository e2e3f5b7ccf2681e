#pragma once
// The mail session: signs on to the mail account of the settings file, asking for what is
// missing through a prompt the window provides, and holds the connection details while signed
// on. UI thread only.

#include "mail/MailAccount.h"
#include "mail/MailHeaders.h"
#include "mail/MailStep.h"
#include "mail/SmtpTransfer.h"

#include <functional>
#include <optional>

namespace chimora {

/// What the account prompt is asked for: the account as far as it is known, and why it is
/// asked again (empty the first time).
struct AccountRequest {
    MailAccount account;
    QString problem;
    bool keyringAvailable = false; ///< whether "Remember password" can do anything
    bool passwordStored = false;   ///< the keyring holds a password for the account's user
};

/// The prompt's answer.
struct AccountAnswer {
    MailAccount account;
    QString password;
    bool rememberPassword = false;
};

/// Shows the account dialog; none when the user cancelled.
using AccountPrompt = std::function<std::optional<AccountAnswer>(const AccountRequest&)>;

/// Asks whether the password may go unencrypted to `host`; true to send it.
using PlainLoginConfirm = std::function<bool(const QString& host)>;

class MAPISession1 {
public:
    /// `settingsFile` holds the account in its section "Mail".
    explicit MAPISession1(QString settingsFile);
    ~MAPISession1();
    MAPISession1(const MAPISession1&) = delete;
    MAPISession1& operator=(const MAPISession1&) = delete;

    /// The dialog sign-on shows when the account is incomplete, a password is missing or the
    /// server refused the login. Without one, those cases fail with UserAbort.
    void setAccountPrompt(AccountPrompt prompt) { m_prompt = std::move(prompt); }

    /// The question sign-on asks, once a run for each server and user, before a password goes
    /// unencrypted to a host other than this machine. Without one, such a login is refused.
    void setPlainLoginConfirm(PlainLoginConfirm confirm) {
        m_confirmPlainLogin = std::move(confirm);
    }

    /// Time limits of every talk with the server (tests shorten them).
    void setLimits(const SmtpLimits& limits) { m_limits = limits; }

    /// Reads the account and signs on: asks when it is incomplete or the last login was
    /// refused; with a user name, finds or asks the password and checks the login with the
    /// server (asking again while the server refuses it). Processes events while it waits for
    /// the server or the keyring. UserAbort when the prompt was cancelled, the unencrypted
    /// login declined or cancel() called; the server's failures otherwise. Signing on again
    /// while signed on starts afresh.
    MailStep SignOn();

    /// Ends the sign-on or send under way as soon as it can (within about a second): it fails
    /// with UserAbort. For the window's "Cancel" while events are processed.
    void cancel();

    /// What the current sign-on and the send after it watch for cancel(); never null.
    const CancellationPtr& cancellation() const { return m_cancel; }

    /// The identifier of the signed-on session (positive), 0 when not signed on.
    long SessionID() const { return m_sessionId; }

    /// Ends the session; InvalidSession when it was not signed on.
    MailStep SignOff();

    /// The signed-on session with that identifier, or null.
    static MAPISession1* find(long sessionId);

    /// While signed on: how to reach the server, and the sender.
    const SmtpConnection& connection() const { return m_connection; }
    const Mailbox& sender() const { return m_sender; }

    /// Called when a send was refused the login: the next sign-on asks again.
    void loginRefused();

private:
    QString m_settingsFile;
    AccountPrompt m_prompt;
    PlainLoginConfirm m_confirmPlainLogin;
    CancellationPtr m_cancel = std::make_shared<Cancellation>();
    SmtpLimits m_limits;
    long m_sessionId = 0;
    SmtpConnection m_connection;
    Mailbox m_sender;
    QString m_refusal; // why the last login failed; asks again at the next sign-on
};

} // namespace chimora
