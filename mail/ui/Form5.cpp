#include "mail/ui/Form5.h"

#include "mail/ui/MailAccountDialog.h"
#include "mail/ui/SendMailMessage.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace chimora {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    return label;
}

} // namespace

Form5::Form5(QWidget* owner, const MailTexts& texts, QString attachmentPath, QString settingsFile,
             std::function<void(const MailTexts&)> unloaded)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      MAPISession1(std::move(settingsFile)), m_attachmentPath(std::move(attachmentPath)),
      m_unloaded(std::move(unloaded)) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Email ringtone"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(312, 252);

    Label1 = makeLabel(this, "Label1", QStringLiteral("To:"), {8, 16, 297, 17});
    txtAddress1 = new QLineEdit(this);
    txtAddress1->setObjectName(QStringLiteral("txtAddress1"));
    txtAddress1->setGeometry(8, 32, 297, 19);
    Label4 = makeLabel(this, "Label4", QStringLiteral("Subject:"), {8, 64, 297, 17});
    txtSubject = new QLineEdit(this);
    txtSubject->setObjectName(QStringLiteral("txtSubject"));
    txtSubject->setGeometry(8, 80, 297, 19);
    Label5 = makeLabel(this, "Label5", QStringLiteral("Body:"), {8, 112, 297, 17});
    txtMessage = new QPlainTextEdit(this);
    txtMessage->setObjectName(QStringLiteral("txtMessage"));
    txtMessage->setGeometry(8, 128, 297, 73);
    txtMessage->setTabChangesFocus(true);
    Command1 = new QPushButton(QStringLiteral("Send"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(152, 224, 73, 23);
    Command2 = new QPushButton(QStringLiteral("Close"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(232, 224, 73, 23);
    cancelSend = new QPushButton(QStringLiteral("Cancel"), this);
    cancelSend->setObjectName(QStringLiteral("cancelSend"));
    cancelSend->setGeometry(72, 224, 73, 23);
    cancelSend->hide();

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, txtMessage);
    setTabOrder(txtMessage, txtSubject);
    setTabOrder(txtSubject, txtAddress1);
    for (QWidget* box : {static_cast<QWidget*>(txtAddress1), static_cast<QWidget*>(txtSubject),
                         static_cast<QWidget*>(txtMessage)})
        box->installEventFilter(this);

    connect(Command1, &QPushButton::clicked, this, &Form5::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form5::Command2_Click);
    connect(cancelSend, &QPushButton::clicked, this, &Form5::cancelSend_Click);

    MAPISession1.setAccountPrompt(
        [this](const AccountRequest& request) { return MailAccountDialog::ask(request, this); });
    MAPISession1.setPlainLoginConfirm(
        [this](const QString& host) { return confirmPlainLogin(host); });
    Form_Load(texts);
}

Form5::~Form5() = default;

void Form5::Form_Load(const MailTexts& texts) {
    txtAddress1->setText(texts.address);
    txtSubject->setText(texts.subject);
    txtMessage->setPlainText(texts.message);
}

void Form5::showOverOwner() {
    if (QWidget* owner = parentWidget()) {
        QRect frame = rect();
        frame.moveCenter(owner->frameGeometry().center());
        if (const QScreen* screen = owner->screen()) {
            const QRect avail = screen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), avail.left(),
                                      std::max(avail.left(), avail.right() - frame.width())));
            frame.moveTop(std::clamp(frame.top(), avail.top(),
                                     std::max(avail.top(), avail.bottom() - frame.height())));
        }
        move(frame.topLeft());
    }
    // The opener disables its window, which disables this one too, being its child; a window
    // may be enabled on its own.
    setEnabled(true);
    show();
    activateWindow();
    Command1->setFocus();
}

bool Form5::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // After the mouse press that gave the focus, which would otherwise place the cursor.
        QTimer::singleShot(0, this, [watched] {
            if (auto* line = qobject_cast<QLineEdit*>(watched))
                line->selectAll();
            else if (auto* text = qobject_cast<QPlainTextEdit*>(watched))
                text->selectAll();
        });
    }
    return QWidget::eventFilter(watched, event);
}

void Form5::Command1_Click() {
    if (m_sending)
        return;
    // The send processes events while it waits for the server: nothing may start a second one
    // meanwhile; "Cancel" and the close box end it.
    setSending(true);
    MailStep outcome;
    const bool sent =
        SendMailMessage(MAPISession1, MAPIMessages1, txtSubject->text(), txtMessage->toPlainText(),
                        1, {txtAddress1->text()}, m_attachmentPath, this, &outcome);
    setSending(false);
    if (m_closeWhenSent) {
        close();
        return;
    }
    showResult(sent, outcome);
    Command1->setFocus();
}

void Form5::setSending(bool sending) {
    m_sending = sending;
    Command1->setEnabled(!sending);
    Command2->setEnabled(!sending);
    cancelSend->setEnabled(sending);
    cancelSend->setVisible(sending);
    if (sending)
        cancelSend->setFocus();
}

void Form5::cancelSend_Click() {
    MAPISession1.cancel();
    cancelSend->setEnabled(false);
}

bool Form5::confirmPlainLogin(const QString& host) {
    return showMailBox(this, QMessageBox::Warning,
                       QStringLiteral("The connection to %1 is not encrypted: your password "
                                      "would travel readable by anyone on the way. Send it "
                                      "anyway?")
                           .arg(host),
                       QStringLiteral("Choose STARTTLS or TLS in the mail account to protect "
                                      "it."),
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void Form5::showResult(bool sent, const MailStep& outcome) {
    if (sent)
        showMailBox(this, QMessageBox::Information, QStringLiteral("Message sent."));
    else
        showMailBox(this, QMessageBox::Warning, QStringLiteral("Message send failed."),
                    outcome.error().message);
}

void Form5::Command2_Click() {
    close();
}

void Form5::closeEvent(QCloseEvent* event) {
    if (m_sending) {
        // The window goes once the send has ended, which cancelling makes quick.
        m_closeWhenSent = true;
        cancelSend_Click();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void Form5::Form_Unload() {
    if (m_unloaded)
        m_unloaded({txtAddress1->text(), txtSubject->text(), txtMessage->toPlainText()});
    if (QWidget* owner = parentWidget()) {
        owner->setEnabled(true);
        owner->activateWindow();
        owner->setFocus();
    }
}

} // namespace chimora
