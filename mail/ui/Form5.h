#pragma once
// The e-mail window "Email ringtone": recipient, subject and body, "Send" and "Close". Opened
// by the wizard's "Email ringtone" action with the wizard disabled; gives the wizard back its
// input and focus when it goes.

#include "mail/MAPIMessages1.h"
#include "mail/MAPISession1.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace chimora {

/// The window's three texts, kept by the opener between uses.
struct MailTexts {
    QString address;
    QString subject;
    QString message;
};

class Form5 : public QWidget {
    Q_OBJECT
public:
    /// A window owned by `owner` (centred on it, deleted when closed). `texts` fill the boxes;
    /// `attachmentPath` is the file every "Send" attaches; `settingsFile` holds the mail
    /// account; `unloaded` receives the texts as they are when the window goes.
    Form5(QWidget* owner, const MailTexts& texts, QString attachmentPath, QString settingsFile,
          std::function<void(const MailTexts&)> unloaded);
    ~Form5() override;

    /// Shows the window over its owner with the focus on "Send".
    void showOverOwner();

    QLabel* Label1 = nullptr;             // "To:"
    QLineEdit* txtAddress1 = nullptr;     // recipient address
    QLabel* Label4 = nullptr;             // "Subject:"
    QLineEdit* txtSubject = nullptr;      // subject
    QLabel* Label5 = nullptr;             // "Body:"
    QPlainTextEdit* txtMessage = nullptr; // message text, several lines
    QPushButton* Command1 = nullptr;      // "Send" button
    QPushButton* Command2 = nullptr;      // "Close" button
    QPushButton* cancelSend = nullptr;    // "Cancel": stops a send under way; shown only then

    chimora::MAPISession1 MAPISession1;   // signs on to the mail account; not shown
    chimora::MAPIMessages1 MAPIMessages1; // composes and sends the message; not shown

public slots:
    void Command1_Click();
    void Command2_Click();
    /// Ends the send under way; the window stays open and tells the outcome.
    void cancelSend_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load(const MailTexts& texts);
    void Form_Unload();
    void showResult(bool sent, const MailStep& outcome);
    void setSending(bool sending);
    bool confirmPlainLogin(const QString& host);

    QString m_attachmentPath;
    std::function<void(const MailTexts&)> m_unloaded;
    bool m_sending = false;
    bool m_closeWhenSent = false; // the close box was pressed during a send
};

} // namespace chimora
