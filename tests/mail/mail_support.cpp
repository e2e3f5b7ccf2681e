#include "mail_support.h"

#include "TestSupport.h"
#include "mail/ui/MailAccountDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace mailtest {

namespace {
QString env(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}
} // namespace

QString plainServer() {
    return env("CHIMORA_SMTP_PLAIN");
}
QString startTlsServer() {
    return env("CHIMORA_SMTP_STARTTLS");
}
QString tlsServer() {
    return env("CHIMORA_SMTP_TLS");
}
QString stallServer() {
    return env("CHIMORA_SMTP_STALL");
}
QString slowServer() {
    return env("CHIMORA_SMTP_SLOW");
}
QString tempFailServer() {
    return env("CHIMORA_SMTP_TEMPFAIL");
}
QString dropServer() {
    return env("CHIMORA_SMTP_DROP");
}
QString serverCaFile() {
    return env("CHIMORA_SMTP_CA");
}
QString serverPassword() {
    return env("CHIMORA_SMTP_PASSWORD");
}

namespace {
// Unique within this run of the test suite: the program's name and process, and a counter.
QString uniqueStem() {
    static int counter = 0;
    return QStringLiteral("%1-%2-%3")
        .arg(QCoreApplication::applicationName().replace(QLatin1Char('_'), QLatin1Char('-')))
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}
} // namespace

QString uniqueUser() {
    return env("CHIMORA_SMTP_USER") + QLatin1Char('-') + uniqueStem();
}

QString uniqueAddress(const QString& tag) {
    return tag + QLatin1Char('-') + uniqueStem() + QStringLiteral("@example.org");
}

QStringList storedMessages(const QString& address) {
    QDir dir(env("CHIMORA_SMTP_MAILDIR") + QLatin1Char('/') + address.toLower() +
             QStringLiteral("/new"));
    QStringList files;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

QJsonObject readMessage(const QString& path) {
    const QString script = QFINDTESTDATA("mail/read_mail.py");
    QString output;
    if (testsupport::run(QStringLiteral("/usr/bin/python3"), {script, path}, &output) != 0)
        qWarning("read_mail.py: %s", qPrintable(output));
    return QJsonDocument::fromJson(output.toUtf8()).object();
}

QString fileSha256(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

namespace {
// A socket bound to a free loopback port; returns the port.
int bindLoopback(chimora::UniqueFd* fd) {
    *fd = chimora::UniqueFd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd->get(), reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd->get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}
} // namespace

SilentServer::SilentServer() {
    port = bindLoopback(&fd);
    ::listen(fd.get(), 4);
}

int closedPort(chimora::UniqueFd* holder) {
    return bindLoopback(holder);
}

void writeAccount(const QString& settingsFile, const chimora::MailAccount& account) {
    QVERIFY(chimora::writeMailAccount(account, settingsFile).ok());
}

void ModalAnswerer::arm(QList<chimora::AccountAnswer> accountAnswers) {
    m_answers = std::move(accountAnswers);
    boxes.clear();
    dialogProblems.clear();
    m_armed = true;
    QTimer::singleShot(20, &m_context, [this] { poll(); });
}

void ModalAnswerer::disarm() {
    m_armed = false;
}

void ModalAnswerer::poll() {
    if (!m_armed)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        const auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        boxes.append({box->icon(), box->windowTitle(), box->text(), box->informativeText(),
                      !informative || informative->textFormat() == Qt::PlainText});
        if (QAbstractButton* answer = box->button(questionAnswer))
            answer->click();
        else
            box->accept();
    } else if (auto* dialog = qobject_cast<chimora::MailAccountDialog*>(modal)) {
        dialogProblems << (dialog->problem->isHidden() ? QString() : dialog->problem->text());
        rememberEnabled = dialog->rememberPassword->isEnabled();
        rememberShown = dialog->rememberPassword->isChecked();
        if (m_answers.isEmpty()) {
            dialog->reject();
        } else {
            const chimora::AccountAnswer a = m_answers.takeFirst();
            dialog->server->setText(chimora::serverHostPort(a.account.server));
            dialog->security->setCurrentIndex(int(a.account.security));
            dialog->user->setText(a.account.user);
            dialog->from->setText(a.account.from);
            if (!a.password.isEmpty()) {
                dialog->password->setText(a.password);
                dialog->rememberPassword->setChecked(a.rememberPassword);
            }
            QTest::keyClick(dialog, Qt::Key_Return);
        }
    }
    QTimer::singleShot(20, &m_context, [this] { poll(); });
}

} // namespace mailtest
