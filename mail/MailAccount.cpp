#include "mail/MailAccount.h"

#include "mail/MailHeaders.h"
#include "platform/core/AppFolder.h"
#include "platform/core/IniFile.h"

#include <QStringList>
#include <QUrl>

namespace chimora {

namespace {

const QString Section = QStringLiteral("Mail");

int defaultPort(MailSecurity security) {
    switch (security) {
    case MailSecurity::Tls:
        return 465;
    case MailSecurity::StartTls:
        return 587;
    case MailSecurity::None:
        return 25;
    }
    return 587;
}

// A "Server" value as a URL; a bare host (or host:port) gets the smtp scheme.
QUrl parseServer(const QString& server) {
    const QString trimmed = server.trimmed();
    if (trimmed.isEmpty())
        return {};
    QUrl url(trimmed.contains(QLatin1String("://")) ? trimmed : QStringLiteral("smtp://") + trimmed,
             QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("smtp") && scheme != QLatin1String("smtps")))
        return {};
    return url;
}

} // namespace

QString securityKeyText(MailSecurity security) {
    switch (security) {
    case MailSecurity::Tls:
        return QStringLiteral("tls");
    case MailSecurity::None:
        return QStringLiteral("none");
    case MailSecurity::StartTls:
        break;
    }
    return QStringLiteral("starttls");
}

MailAccount readMailAccount(const QString& settingsFile) {
    const IniFile ini(settingsFile);
    MailAccount account;
    account.server = ini.value(Section, QStringLiteral("Server"));
    const QString security = ini.value(Section, QStringLiteral("Security")).toLower();
    if (security == QLatin1String("tls"))
        account.security = MailSecurity::Tls;
    else if (security == QLatin1String("none"))
        account.security = MailSecurity::None;
    account.user = ini.value(Section, QStringLiteral("User"));
    account.from = ini.value(Section, QStringLiteral("From"));
    account.caFile = ini.value(Section, QStringLiteral("CAFile"));
    // Whoever may change the file could name their own server (and receive the password) or
    // their own certificate authority (and read the mail on its way): neither is taken from
    // it. Without a server the account is incomplete, so the user is asked for it.
    QString why;
    if ((!account.server.isEmpty() || !account.caFile.isEmpty()) &&
        !isTrustedFile(settingsFile, &why)) {
        qWarning("Ignoring Server and CAFile of [Mail] in %s: %s.", qPrintable(settingsFile),
                 qPrintable(why));
        account.server.clear();
        account.caFile.clear();
    }
    return account;
}

Result<void> writeMailAccount(const MailAccount& account, const QString& settingsFile) {
    IniFile ini(settingsFile);
    ini.setValue(Section, QStringLiteral("Server"), account.server);
    ini.setValue(Section, QStringLiteral("Security"), securityKeyText(account.security));
    ini.setValue(Section, QStringLiteral("User"), account.user);
    ini.setValue(Section, QStringLiteral("From"), account.from);
    ini.setValue(Section, QStringLiteral("CAFile"), account.caFile);
    if (!ini.save())
        return Error::environment(
            QStringLiteral("The mail account could not be saved in %1. Check that the file and "
                           "its folder are writable.")
                .arg(settingsFile));
    return {};
}

QString serverHostPort(const QString& server) {
    const QUrl url = parseServer(server);
    if (url.isEmpty())
        return {};
    QString host = url.host();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']'); // IPv6 literal
    return url.port() > 0 ? host + QLatin1Char(':') + QString::number(url.port()) : host;
}

QString serverValue(const QString& hostPort, MailSecurity security) {
    QUrl url = parseServer(hostPort);
    if (url.isEmpty())
        return {};
    url.setScheme(security == MailSecurity::Tls ? QStringLiteral("smtps") : QStringLiteral("smtp"));
    if (url.port() <= 0)
        url.setPort(defaultPort(security));
    url.setPath({});
    return url.toString();
}

Result<QString> connectionUrl(const MailAccount& account) {
    QUrl url = parseServer(account.server);
    if (url.isEmpty())
        return Error::badInput(QStringLiteral("The mail server \"%1\" is not a server address "
                                              "such as smtp://mail.example.com:587.")
                                   .arg(account.server));
    const bool implicitTls =
        url.scheme().toLower() == QLatin1String("smtps") || account.security == MailSecurity::Tls;
    url.setScheme(implicitTls ? QStringLiteral("smtps") : QStringLiteral("smtp"));
    if (url.port() <= 0)
        url.setPort(defaultPort(implicitTls ? MailSecurity::Tls : account.security));
    // No path, user or query may reach the transfer: the login goes through its own options.
    url.setPath({});
    url.setUserInfo({});
    url.setQuery(QString());
    url.setFragment({});
    return url.toString();
}

bool sendsPasswordInClear(const MailAccount& account) {
    const Result<QString> url = connectionUrl(account);
    if (account.user.isEmpty() || !url || account.security != MailSecurity::None ||
        QUrl(*url).scheme() != QLatin1String("smtp"))
        return false;
    const QString host = QUrl(*url).host().toLower();
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")) ||
        host == QLatin1String("::1"))
        return false;
    // 127.0.0.0/8, written as four numbers.
    const QStringList parts = host.split(QLatin1Char('.'));
    bool numeric = parts.size() == 4;
    for (const QString& part : parts) {
        bool ok = false;
        numeric = numeric && part.toUInt(&ok) <= 255 && ok;
    }
    return !(numeric && parts.first() == QLatin1String("127"));
}

bool isAccountComplete(const MailAccount& account) {
    return !parseServer(account.server).isEmpty() && parseMailbox(account.from).has_value();
}

} // namespace chimora
