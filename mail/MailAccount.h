#pragma once
// The mail account: section "Mail" of the settings file. The password is never stored there
// (see PasswordStore).

#include "platform/core/Result.h"

#include <QString>

namespace chimora {

/// How the connection to the mail server is protected.
enum class MailSecurity {
    StartTls, ///< "starttls" (the default): plain connection upgraded by STARTTLS, required
    Tls,      ///< "tls": TLS from the first byte (smtps)
    None,     ///< "none": no encryption
};

struct MailAccount {
    QString server; ///< "Server": smtp://host:port or smtps://host:port (a bare host is accepted)
    MailSecurity security = MailSecurity::StartTls; ///< "Security"
    QString user;   ///< "User": empty means the server takes mail without a login
    QString from;   ///< "From": the sender address, as `a@b.c` or `Name <a@b.c>`
    QString caFile; ///< "CAFile": an extra certificate authority file (PEM), for a private server
};

/// The account in [Mail] of `settingsFile`; missing keys read as empty (security: STARTTLS;
/// an unknown security text also reads as STARTTLS, the safe choice). Server and CAFile read as
/// empty, and the log says why, when the file or its folder may have been changed by another
/// user (see isTrustedFile).
MailAccount readMailAccount(const QString& settingsFile);

/// Writes the five keys of [Mail], keeping every other section and key of the file.
Result<void> writeMailAccount(const MailAccount& account, const QString& settingsFile);

/// "starttls", "tls" or "none".
QString securityKeyText(MailSecurity security);

/// The server's host and port from a "Server" value, as "host:port" (the port is left out
/// when the value has none). Empty when the value names no host.
QString serverHostPort(const QString& server);

/// The "Server" value for a host (with or without ":port") and a security choice:
/// smtps://host:465 for TLS, smtp://host:587 for STARTTLS, smtp://host:25 for none, unless a
/// port is given.
QString serverValue(const QString& hostPort, MailSecurity security);

/// The URL the connection uses: the scheme follows the security (an smtps:// server always
/// means TLS). Bad input when the value names no usable host.
Result<QString> connectionUrl(const MailAccount& account);

/// True when the account logs in (has a user) over a connection without encryption to a host
/// other than this machine (loopback), so the password could be read on the way.
bool sendsPasswordInClear(const MailAccount& account);

/// True when the account names a server and a valid sender address, so it can be used without
/// asking.
bool isAccountComplete(const MailAccount& account);

} // namespace chimora
