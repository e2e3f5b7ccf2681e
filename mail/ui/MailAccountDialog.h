#pragma once
// The mail account dialog that signing on shows over the e-mail window: server, security, user
// name, password, sender address and "Remember password".

#include "mail/MAPISession1.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace chimora {

class MailAccountDialog : public QDialog {
    Q_OBJECT
public:
    /// Shows `request`'s account (the password field starts empty) and its problem, if any.
    MailAccountDialog(const AccountRequest& request, QWidget* parent);

    /// The entered account; valid after the dialog was accepted.
    AccountAnswer answer() const;

    /// Shows the dialog modally over `parent`; none when cancelled. Fits AccountPrompt.
    static std::optional<AccountAnswer> ask(const AccountRequest& request, QWidget* parent);

    QLabel* problem = nullptr;             // why the account is asked for again
    QLineEdit* server = nullptr;           // host, or host:port
    QComboBox* security = nullptr;         // "STARTTLS", "TLS", "None"
    QLineEdit* user = nullptr;             // user name; empty: no login
    QLineEdit* password = nullptr;         // password, shown as dots
    QLineEdit* from = nullptr;             // sender address
    QCheckBox* rememberPassword = nullptr; // keep the password in the keyring
    QLabel* plainLoginWarning = nullptr;   // beside the security: the password would go unencrypted

public slots:
    void accept() override;

private:
    void updatePlainLoginWarning();

    QString m_caFile; // kept as it is: set in settings.ini only
};

} // namespace chimora
