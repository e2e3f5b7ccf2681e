#include "mail/MAPISession1.h"

#include "mail/OffThread.h"
#include "mail/PasswordStore.h"

#include <QHash>
#include <QDebug>

namespace chimora {

namespace {

QHash<long, MAPISession1*>& signedOnSessions()
{
    static QHash<long, MAPISession1*> sessions;
    return sessions;
}

long nextSessionId()
{
    static long last = 0;
    return ++last;
}

} // namespace

MAPISession1::MAPISession1(QString settingsFile) : m_settingsFile(std::move(settingsFile)) {}

MAPISession1::~MAPISession1()
{
    signedOnSessions().remove(m_sessionId);
}

MAPISession1* MAPISession1::find(long sessionId)
{
    return signedOnSessions().value(sessionId, nullptr);
}

void MAPISession1::loginRefused()
{
    m_refusal = QStringLiteral("The server refused the user name or password.");
    forgetMailPassword(m_connection.url, m_connection.user);
}

MailStep MAPISession1::SignOn()
{
    signedOnSessions().remove(m_sessionId);
    m_sessionId = 0;

    MailAccount account = readMailAccount(m_settingsFile);
    std::optional<QString> password;
    bool remember = false;
    bool asked = false;
    QString problem = m_refusal;
    for (;;) {
        Result<QString> url = connectionUrl(account);
        if (url && !account.user.isEmpty() && !asked && problem.isEmpty())
            password = findMailPassword(*url, account.user);
        const bool needPassword = !account.user.isEmpty() && !password;
        if (!url || !isAccountComplete(account) || needPassword || !problem.isEmpty()) {
            if (!m_prompt)
                return MailStep::failure(MailErrorNumber::UserAbort,
                                         QStringLiteral("No mail account is set up."));
            std::optional<AccountAnswer> answer =
                m_prompt({account, problem, keyringAvailable()});
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
            continue; // check the answer as the file's account was checked
        }

        m_connection = {*url, account.security, account.user,
                        account.user.isEmpty() ? QString() : *password, account.caFile, m_limits};
        const SmtpConnection connection = m_connection;
        const MailStep login = runOffThread([connection] { return checkSmtpLogin(connection); });
        if (login.number() == MailErrorNumber::LoginFailure) {
            forgetMailPassword(connection.url, connection.user);
            problem = login.error().message;
            password.reset();
            continue;
        }
        if (!login)
            return login;
        if (!account.user.isEmpty() && asked)
            keepMailPassword(connection.url, connection.user, *password, remember);
        break;
    }
    m_refusal.clear();
    m_sender = *parseMailbox(account.from);
    m_sessionId = nextSessionId();
    signedOnSessions().insert(m_sessionId, this);
    return {};
}

MailStep MAPISession1::SignOff()
{
    if (m_sessionId == 0)
        return MailStep::failure(MailErrorNumber::InvalidSession,
                                 QStringLiteral("The mail session is not signed on."));
    signedOnSessions().remove(m_sessionId);
    m_sessionId = 0;
    return {};
}

} // namespace chimora
