#include "mail/MAPISession1.h"

#include "mail/OffThread.h"
#include "mail/PasswordStore.h"

#include <QDebug>
#include <QHash>
#include <QSet>
#include <QUrl>

namespace chimora {

namespace {

QHash<long, MAPISession1*>& signedOnSessions() {
    static QHash<long, MAPISession1*> sessions;
    return sessions;
}

long nextSessionId() {
    static long last = 0;
    return ++last;
}

// Server and user of the unencrypted logins the user allowed in this run.
QSet<QString>& allowedPlainLogins() {
    static QSet<QString> allowed;
    return allowed;
}

// What the keyring says about one server and user.
struct KeyringLook {
    QString key; // server and user looked up; a null string before the first look
    bool available = false;
    std::optional<QString> stored;
};

} // namespace

MAPISession1::MAPISession1(QString settingsFile) : m_settingsFile(std::move(settingsFile)) {}

MAPISession1::~MAPISession1() {
    m_cancel->cancel();
    signedOnSessions().remove(m_sessionId);
}

MAPISession1* MAPISession1::find(long sessionId) {
    return signedOnSessions().value(sessionId, nullptr);
}

void MAPISession1::cancel() {
    m_cancel->cancel();
}

void MAPISession1::loginRefused() {
    // The keyring keeps its password: only the user removes it, by unticking "Remember
    // password".
    m_refusal = QStringLiteral("The server refused the user name or password.");
    forgetPasswordOfThisRun(m_connection.url, m_connection.user);
}

MailStep MAPISession1::SignOn() {
    signedOnSessions().remove(m_sessionId);
    m_sessionId = 0;
    m_cancel = std::make_shared<Cancellation>();
    const CancellationPtr cancel = m_cancel;

    // The keyring may ask the user to unlock it, which takes as long as the user does: it is
    // asked off this thread, once per server and user.
    KeyringLook keyring;
    const auto lookUp = [&](const QString& url, const QString& user) {
        const QString key = url + QChar(0) + user;
        if (keyring.key == key)
            return;
        keyring = runOffThread([key, url, user, cancel] {
            KeyringLook look{key, keyringAvailable(cancel.get()), std::nullopt};
            if (look.available && !url.isEmpty() && !user.isEmpty())
                look.stored = storedMailPassword(url, user, cancel.get());
            return look;
        });
    };

    MailAccount account = readMailAccount(m_settingsFile);
    std::optional<QString> password;
    bool remember = false;
    bool asked = false;
    QString problem = m_refusal;
    for (;;) {
        Result<QString> url = connectionUrl(account);
        const QString urlText = url ? *url : QString();
        lookUp(urlText, account.user);
        if (cancel->isCancelled())
            return MailStep::cancelled();
        if (url && !account.user.isEmpty() && !asked && problem.isEmpty()) {
            password = passwordOfThisRun(*url, account.user);
            if (!password)
                password = keyring.stored;
        }
        const bool needPassword = !account.user.isEmpty() && !password;
        if (!url || !isAccountComplete(account) || needPassword || !problem.isEmpty()) {
            if (!m_prompt)
                return MailStep::failure(MailErrorNumber::UserAbort,
                                         QStringLiteral("No mail account is set up."));
            std::optional<AccountAnswer> answer =
                m_prompt({account, problem, keyring.available, keyring.stored.has_value()});
            if (!answer)
                return MailStep::failure(MailErrorNumber::UserAbort,
                                         QStringLiteral("Signing on was cancelled."));
            asked = true;
            problem.clear();
            account = answer->account;
            password = answer->password;
            remember = answer->rememberPassword;
            if (Result<void> saved = writeMailAccount(account, m_settingsFile); !saved)
                qWarning("%s", qPrintable(saved.error().message));
            url = connectionUrl(account);
            if (url && !account.user.isEmpty()) {
                lookUp(*url, account.user);
                if (cancel->isCancelled())
                    return MailStep::cancelled();
                // An empty password field keeps the stored password in use.
                if (password->isEmpty() && keyring.stored)
                    password = keyring.stored;
                // Unticking forgets the stored password at once; ticking stores it only once
                // the server has taken it.
                if (!remember && keyring.stored) {
                    const QString u = *url, user = account.user;
                    runOffThread([u, user, cancel] {
                        removeStoredMailPassword(u, user, cancel.get());
                        return true;
                    });
                    keyring.stored.reset();
                }
            }
            continue; // check the answer as the file's account was checked
        }

        m_connection = {*url,           account.security,
                        account.user,   account.user.isEmpty() ? QString() : *password,
                        account.caFile, m_limits};
        const SmtpConnection connection = m_connection;
        const QString loginKey = connection.url + QChar(0) + connection.user;
        if (sendsPasswordInClear(account) && !allowedPlainLogins().contains(loginKey)) {
            if (!m_confirmPlainLogin || !m_confirmPlainLogin(QUrl(connection.url).host()))
                return MailStep::failure(
                    MailErrorNumber::UserAbort,
                    QStringLiteral("The password was not sent without encryption. Choose "
                                   "STARTTLS or TLS in the mail account."));
            allowedPlainLogins().insert(loginKey);
        }
        const MailStep login =
            runOffThread([connection, cancel] { return checkSmtpLogin(connection, cancel.get()); });
        if (login.number() == MailErrorNumber::LoginFailure) {
            forgetPasswordOfThisRun(connection.url, connection.user);
            problem = login.error().message;
            password.reset();
            continue;
        }
        if (!login)
            return login;
        if (!account.user.isEmpty()) {
            keepPasswordForThisRun(connection.url, connection.user, *password);
            if (asked && remember && keyring.available) {
                const QString pw = *password;
                runOffThread([connection, pw, cancel] {
                    storeMailPassword(connection.url, connection.user, pw, cancel.get());
                    return true;
                });
            }
        }
        break;
    }
    m_refusal.clear();
    m_sender = *parseMailbox(account.from);
    m_sessionId = nextSessionId();
    signedOnSessions().insert(m_sessionId, this);
    return {};
}

MailStep MAPISession1::SignOff() {
    if (m_sessionId == 0)
        return MailStep::failure(MailErrorNumber::InvalidSession,
                                 QStringLiteral("The mail session is not signed on."));
    signedOnSessions().remove(m_sessionId);
    m_sessionId = 0;
    return {};
}

} // namespace chimora
