// Sending through the session and message classes to real SMTP servers on loopback: what a mail
// reader finds in the delivered message, the failures and their numbers, encryption and login.

#include "TestSupport.h"
#include "mail/MAPIMessages1.h"
#include "mail/MAPISession1.h"
#include "mail/PasswordStore.h"
#include "mail_support.h"
#include "platform/core/IniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace chimora;
using namespace mailtest;


class TestMailSending : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_settings;
    QMap<QString, QString> m_tones; // extension -> file

    MailAccount plainAccount() const
    {
        return {QStringLiteral("smtp://") + plainServer(), MailSecurity::None, {},
                QStringLiteral("Ringtone Maker <maker@example.com>"), {}};
    }
    MailAccount loginAccount(const QString& server, MailSecurity security) const
    {
        return {(security == MailSecurity::Tls ? "smtps://" : "smtp://") + server, security,
                serverUser(), QStringLiteral("maker@example.com"), serverCaFile()};
    }

    // Sends one message with a session reading m_settings; `prompt` answers the account dialog.
    MailStep send(const QString& to, const QString& attachment, AccountPrompt prompt = {},
                  const QString& subject = QStringLiteral("Ringtone"),
                  const QString& body = QStringLiteral("Here it is."), SmtpLimits limits = {})
    {
        MAPISession1 session(m_settings);
        session.setAccountPrompt(std::move(prompt));
        session.setLimits(limits);
        MAPIMessages1 messages;
        return sendThroughSession(session, messages, subject, body, 1, {to}, attachment);
    }

    // The one message that arrived since `before` was listed (the server stores it before it
    // answers the end of the data).
    QJsonObject arrivedSince(const QString& maildir, const QStringList& before)
    {
        QStringList added = storedMessages(maildir);
        for (const QString& old : before)
            added.removeAll(old);
        return added.size() == 1 ? readMessage(added.first()) : QJsonObject();
    }

private slots:
    void initTestCase()
    {
        CHIMORA_REQUIRE_SERVICE(!(plainServer().isEmpty() || startTlsServer().isEmpty()),
                                "the test mail servers are not running (scripts/test starts them)");
        const QString tone = m_dir.filePath("tone.wav");
        QVERIFY(testsupport::makeTone(tone, 1.0, 22050, 1));
        m_tones["wav"] = tone;
        m_tones["mp3"] = m_dir.filePath("tone.mp3");
        QVERIFY(testsupport::makeTone(m_tones["mp3"], 1.0, 22050, 1, {"-c:a", "libmp3lame"}));
        m_tones["ogg"] = m_dir.filePath(QStringLiteral("glöckchen für dich.ogg"));
        QVERIFY(testsupport::makeTone(m_tones["ogg"], 1.0, 22050, 1, {"-c:a", "libvorbis"}));
    }

    void init()
    {
        forgetMailPasswordsOfThisRun();
        m_settings = m_dir.filePath("settings.ini");
        QFile::remove(m_settings);
        QFile f(m_settings);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Main]\n7=someone@example.com\n[Other]\nkey=kept\n");
    }

    void readersFindTheMessageIntact_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expectedSubject");
        QTest::addColumn<QString>("type");

        QTest::newRow("mp3") << "mp3" << "My ringtone" << "Here it is.\n" << "My ringtone"
                             << "audio/mpeg";
        QTest::newRow("non-ASCII subject, body and file name")
            << "ogg" << QStringLiteral("Klingelton für dich ☎")
            << QStringLiteral("Hallo,\nzweite Zeile\n.\nÄnde — tschüs\n")
            << QStringLiteral("Klingelton für dich ☎") << "audio/ogg";
        QTest::newRow("line break in the subject adds no header")
            << "wav" << "Hi\r\nBcc: victim@example.org\nX-Evil: 1" << "x\n"
            << "Hi Bcc: victim@example.org X-Evil: 1" << "audio/wav";
        const QString longSubject = QString(120, QChar(0x00fc)) + QStringLiteral(" ende");
        QTest::newRow("long subject folded") << "wav" << longSubject << "\n" << longSubject
                                             << "audio/wav";
    }
    void readersFindTheMessageIntact()
    {
        QFETCH(QString, kind);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, expectedSubject);
        QFETCH(QString, type);
        writeAccount(m_settings, plainAccount());
        const QStringList before = storedMessages(plainMaildir());

        const MailStep sent = send("Tone Fan <fan@example.org>", m_tones[kind], {}, subject, body);
        QVERIFY2(sent.ok(), qPrintable(sent.error().message + " " + sent.error().detail));

        const QJsonObject got = arrivedSince(plainMaildir(), before);
        QCOMPARE(got["subject"].toString(), expectedSubject);
        QCOMPARE(got["body"].toString(), body);
        QCOMPARE(got["from"].toString(), QString("Ringtone Maker <maker@example.com>"));
        QCOMPARE(got["to"].toString(), QString("Tone Fan <fan@example.org>"));
        const QStringList headers = got["headers"].toVariant().toStringList();
        for (const char* h : {"date", "message-id", "mime-version"})
            QVERIFY2(headers.contains(h), h);
        QVERIFY(!headers.contains("bcc") && !headers.contains("x-evil"));
        const QJsonArray attachments = got["attachments"].toArray();
        QCOMPARE(attachments.size(), 1);
        const QJsonObject a = attachments.first().toObject();
        QCOMPARE(a["name"].toString(), QFileInfo(m_tones[kind]).fileName());
        QCOMPARE(a["type"].toString(), type);
        QCOMPARE(a["sha256"].toString(), fileSha256(m_tones[kind]));
    }

    void failuresHaveTheirNumbers_data()
    {
        QTest::addColumn<QString>("server"); // "plain", "starttls", "down", "silent"
        QTest::addColumn<bool>("trustServer");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<int>("number");

        QTest::newRow("not an address") << "plain" << true << "tone fan" << 32021;
        QTest::newRow("no address in the brackets") << "plain" << true << "Fan <>" << 32021;
        QTest::newRow("line break in the address") << "plain" << true << "a@b.org\r\nx@y.org"
                                                   << 32021;
        QTest::newRow("empty recipient") << "plain" << true << "" << 32025;
        QTest::newRow("recipient refused") << "starttls" << true << "refused@example.org"
                                           << 32014;
        QTest::newRow("server down") << "down" << true << "fan@example.org" << 32002;
        QTest::newRow("server never answers") << "silent" << true << "fan@example.org" << 32002;
        QTest::newRow("certificate not trusted") << "starttls" << false << "fan@example.org"
                                                 << 32002;
    }
    void failuresHaveTheirNumbers()
    {
        QFETCH(QString, server);
        QFETCH(bool, trustServer);
        QFETCH(QString, recipient);
        QFETCH(int, number);
        SilentServer silent;
        UniqueFd closedHolder;
        MailAccount account = plainAccount();
        if (server == "starttls") {
            account = loginAccount(startTlsServer(), MailSecurity::StartTls);
            if (!trustServer)
                account.caFile.clear();
        } else if (server == "down") {
            account.server = "smtp://127.0.0.1:" + QString::number(closedPort(&closedHolder));
        } else if (server == "silent") {
            account.server = "smtp://127.0.0.1:" + QString::number(silent.port);
        }
        writeAccount(m_settings, account);
        const AccountPrompt password = [](const AccountRequest& r) {
            return std::optional<AccountAnswer>({r.account, serverPassword(), false});
        };
        const MailStep sent = send(recipient, m_tones["wav"], password, "s", "b", {3000, 1});
        QCOMPARE(sent.number(), number);
        QVERIFY(!sent.error().message.isEmpty());
    }

    void loginOverStartTlsAndTls_data()
    {
        QTest::addColumn<int>("security");
        QTest::newRow("STARTTLS") << int(MailSecurity::StartTls);
        QTest::newRow("TLS") << int(MailSecurity::Tls);
    }
    void loginOverStartTlsAndTls()
    {
        QFETCH(int, security);
        const auto s = MailSecurity(security);
        writeAccount(m_settings, loginAccount(s == MailSecurity::Tls ? tlsServer()
                                                                     : startTlsServer(), s));
        int asked = 0;
        const AccountPrompt prompt = [&](const AccountRequest& r) {
            ++asked;
            return std::optional<AccountAnswer>({r.account, serverPassword(), true});
        };
        const int before = storedMessages(loginMaildir()).size();
        const MailStep first = send("fan@example.org", m_tones["mp3"], prompt);
        QVERIFY2(first.ok(), qPrintable(first.error().message + " " + first.error().detail));
        const MailStep second = send("fan@example.org", m_tones["mp3"], prompt);
        QVERIFY(second.ok());
        QCOMPARE(asked, 1); // the password is kept for the run
        QCOMPARE(storedMessages(loginMaildir()).size(), before + 2);

        const QByteArray file = [&] {
            QFile f(m_settings);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        QVERIFY(!file.contains(serverPassword().toUtf8()));
        QVERIFY(file.contains("[Other]\nkey=kept"));
        QCOMPARE(ReadIniValue("Mail", "User", m_settings), serverUser());
    }

    void wrongPasswordIsAskedAgain()
    {
        writeAccount(m_settings, loginAccount(startTlsServer(), MailSecurity::StartTls));
        QStringList problems;
        const AccountPrompt prompt = [&](const AccountRequest& r) {
            problems << r.problem;
            return std::optional<AccountAnswer>(
                {r.account, problems.size() == 1 ? QString("wrong") : serverPassword(), false});
        };
        const MailStep sent = send("fan@example.org", m_tones["wav"], prompt);
        QVERIFY2(sent.ok(), qPrintable(sent.error().message));
        QCOMPARE(problems.size(), 2);
        QVERIFY(problems[0].isEmpty());
        QVERIFY(problems[1].contains("refused"));
    }

    void accountPromptOnlyWhenNeeded_data()
    {
        QTest::addColumn<bool>("haveAccount");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("number");
        QTest::newRow("no account, user gives one") << false << true << 1 << 0;
        QTest::newRow("no account, user cancels") << false << false << 1 << 32001;
        QTest::newRow("account without user: no login, no prompt") << true << true << 0 << 0;
    }
    void accountPromptOnlyWhenNeeded()
    {
        QFETCH(bool, haveAccount);
        QFETCH(bool, answer);
        QFETCH(int, asked);
        QFETCH(int, number);
        if (haveAccount)
            writeAccount(m_settings, plainAccount());
        int calls = 0;
        const AccountPrompt prompt = [&](const AccountRequest&) -> std::optional<AccountAnswer> {
            ++calls;
            if (!answer)
                return std::nullopt;
            return AccountAnswer{plainAccount(), {}, false};
        };
        QCOMPARE(send("fan@example.org", m_tones["wav"], prompt).number(), number);
        QCOMPARE(calls, asked);
        QCOMPARE(ReadIniValue("Mail", "Server", m_settings).isEmpty(), number != 0);
        QCOMPARE(ReadIniValue("Other", "key", m_settings), QString("kept"));
    }

    void keyringKeepsARememberedPassword()
    {
        if (!keyringAvailable())
            QSKIP("no keyring runs in this session");
        keepMailPassword("smtp://test.invalid:587", "chimora-test", "pw", true);
        forgetMailPasswordsOfThisRun();
        QCOMPARE(findMailPassword("smtp://test.invalid:587", "chimora-test"),
                 std::optional<QString>("pw"));
        forgetMailPassword("smtp://test.invalid:587", "chimora-test");
        QCOMPARE(findMailPassword("smtp://test.invalid:587", "chimora-test"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestMailSending)
#include "test_mail_sending.moc"
