#include "mail/ui/MailAccountDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace chimora {

namespace {

// The combo box order, which is also the order of MailSecurity.
constexpr MailSecurity SecurityChoices[] = {MailSecurity::StartTls, MailSecurity::Tls,
                                            MailSecurity::None};

QLineEdit* makeField(QWidget* parent, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

} // namespace

MailAccountDialog::MailAccountDialog(const AccountRequest& request, QWidget* parent)
    : QDialog(parent), m_caFile(request.account.caFile) {
    setObjectName(QStringLiteral("MailAccountDialog"));
    setWindowTitle(QStringLiteral("Mail account"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    problem = new QLabel(request.problem, this);
    problem->setObjectName(QStringLiteral("problem"));
    problem->setTextFormat(Qt::PlainText); // a server's words
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00020;"));
    problem->setVisible(!request.problem.isEmpty());

    server = makeField(this, "server", serverHostPort(request.account.server));
    server->setPlaceholderText(QStringLiteral("mail.example.com:587"));
    security = new QComboBox(this);
    security->setObjectName(QStringLiteral("security"));
    security->addItems({QStringLiteral("STARTTLS"), QStringLiteral("TLS"), QStringLiteral("None")});
    security->setCurrentIndex(int(std::find(std::begin(SecurityChoices), std::end(SecurityChoices),
                                            request.account.security) -
                                  std::begin(SecurityChoices)));
    user = makeField(this, "user", request.account.user);
    user->setPlaceholderText(QStringLiteral("empty when the server needs no login"));
    password = makeField(this, "password", QString());
    password->setEchoMode(QLineEdit::Password);
    if (request.passwordStored)
        password->setPlaceholderText(QStringLiteral("as stored in the keyring"));
    from = makeField(this, "from", request.account.from);
    from->setPlaceholderText(QStringLiteral("Your Name <you@example.com>"));
    rememberPassword = new QCheckBox(QStringLiteral("Remember password"), this);
    rememberPassword->setObjectName(QStringLiteral("rememberPassword"));
    rememberPassword->setEnabled(request.keyringAvailable);
    // Ticked while a password is stored, so that saving the account keeps it.
    rememberPassword->setChecked(request.keyringAvailable && request.passwordStored);
    if (!request.keyringAvailable)
        rememberPassword->setToolTip(
            QStringLiteral("No keyring is running: the password is kept until Chimora ends."));

    plainLoginWarning =
        new QLabel(QStringLiteral("Not encrypted: the password can be read on the way."), this);
    plainLoginWarning->setObjectName(QStringLiteral("plainLoginWarning"));
    plainLoginWarning->setTextFormat(Qt::PlainText);
    plainLoginWarning->setWordWrap(true);
    plainLoginWarning->setStyleSheet(QStringLiteral("color: #b00020;"));
    auto* securityRow = new QHBoxLayout;
    securityRow->addWidget(security);
    securityRow->addWidget(plainLoginWarning, 1);
    for (QLineEdit* field : {server, user})
        connect(field, &QLineEdit::textChanged, this, &MailAccountDialog::updatePlainLoginWarning);
    connect(security, &QComboBox::currentIndexChanged, this,
            &MailAccountDialog::updatePlainLoginWarning);
    updatePlainLoginWarning();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server:"), server);
    form->addRow(QStringLiteral("Security:"), securityRow);
    form->addRow(QStringLiteral("User name:"), user);
    form->addRow(QStringLiteral("Password:"), password);
    form->addRow(QStringLiteral("Sender address:"), from);
    form->addRow(QString(), rememberPassword);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &MailAccountDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MailAccountDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(problem);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(340);

    // The field to fill in first.
    if (!request.problem.isEmpty() && !request.account.user.isEmpty())
        password->setFocus();
    else if (server->text().isEmpty())
        server->setFocus();
    else if (from->text().isEmpty())
        from->setFocus();
    else
        password->setFocus();
}

void MailAccountDialog::updatePlainLoginWarning() {
    plainLoginWarning->setVisible(sendsPasswordInClear(answer().account));
}

AccountAnswer MailAccountDialog::answer() const {
    AccountAnswer a;
    const MailSecurity chosen = SecurityChoices[std::max(0, security->currentIndex())];
    a.account.server = serverValue(server->text(), chosen);
    a.account.security = chosen;
    a.account.user = user->text().trimmed();
    a.account.from = from->text().trimmed();
    a.account.caFile = m_caFile;
    a.password = password->text();
    a.rememberPassword = rememberPassword->isEnabled() && rememberPassword->isChecked();
    return a;
}

void MailAccountDialog::accept() {
    QString complaint;
    QWidget* field = nullptr;
    if (serverValue(server->text(), MailSecurity::StartTls).isEmpty()) {
        complaint = QStringLiteral("Enter the mail server, such as mail.example.com:587.");
        field = server;
    } else if (!parseMailbox(from->text())) {
        complaint = QStringLiteral("Enter the sender address, such as %1.")
                        .arg(QLatin1String(ExampleMailAddress));
        field = from;
    }
    if (field) {
        problem->setText(complaint);
        problem->show();
        field->setFocus();
        return;
    }
    QDialog::accept();
}

std::optional<AccountAnswer> MailAccountDialog::ask(const AccountRequest& request,
                                                    QWidget* parent) {
    MailAccountDialog dialog(request, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.answer();
}

} // namespace chimora
