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
#include <QTimer>

using namespace chimora;
using namespace mailtest;

class TestMailSending : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_settings;
    QMap<QString, QString> m_tones; // extension -> file

    MailAccount plainAccount() const {
        return {QStringLiteral("smtp://") + plainServer(),
                MailSecurity::None,
                {},
                QStringLiteral("Ringtone Maker <maker@example.com>"),
                {}};
    }
    MailAccount loginAccount(const QString& server, MailSecurity security) const {
        return {(security == MailSecurity::Tls ? "smtps://" : "smtp://") + server, security,
                uniqueUser(), QStringLiteral("maker@example.com"), serverCaFile()};
    }

    // Sends one message with a session reading m_settings; `prompt` answers the account dialog.
    MailStep send(const QString& to, const QString& attachment, AccountPrompt prompt = {},
                  const QString& subject = QStringLiteral("Ringtone"),
                  const QString& body = QStringLiteral("Here it is."), SmtpLimits limits = {}) {
        MAPISession1 session(m_settings);
        session.setAccountPrompt(std::move(prompt));
        session.setLimits(limits);
        MAPIMessages1 messages;
        return sendThroughSession(session, messages, subject, body, 1, {to}, attachment);
    }

    // The one message that arrived for `address` (the server stores it before it answers the
    // end of the data).
    static QJsonObject arrivedFor(const QString& address) {
        const QStringList stored = storedMessages(address);
        return stored.size() == 1 ? readMessage(stored.first()) : QJsonObject();
    }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(!(plainServer().isEmpty() || startTlsServer().isEmpty()),
                                "the test mail servers are not running (scripts/test starts them)");
        const QString tone = m_dir.filePath("tone.wav");
        QVERIFY(testsupport::makeTone(tone, 1.0, 22050, 1));
        m_tones["wav"] = tone;
        m_tones["mp3"] = m_dir.filePath("tone.mp3");
        QVERIFY(testsupport::makeTone(m_tones["mp3"], 1.0, 22050, 1, {"-c:a", "libmp3lame"}));
        m_tones["ogg"] = m_dir.filePath(QStringLiteral("glöckchen für dich.ogg"));
        QVERIFY(testsupport::makeTone(m_tones["ogg"], 1.0, 22050, 1, {"-c:a", "libvorbis"}));
        m_tones["long"] = m_dir.filePath("klingelton-" + QString(100, QChar(0x00fc)) + ".wav");
        QVERIFY(QFile::copy(tone, m_tones["long"]));
    }

    void init() {
        forgetMailPasswordsOfThisRun();
        m_settings = m_dir.filePath("settings.ini");
        QFile::remove(m_settings);
        QFile f(m_settings);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Main]\n7=someone@example.com\n[Other]\nkey=kept\n");
    }

    void readersFindTheMessageIntact_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expectedSubject");
        QTest::addColumn<QString>("type");

        QTest::newRow("mp3") << "mp3"
                             << "My ringtone"
                             << "Here it is.\n"
                             << "My ringtone"
                             << "audio/mpeg";
        QTest::newRow("non-ASCII subject, body and file name")
            << "ogg" << QStringLiteral("Klingelton für dich ☎")
            << QStringLiteral("Hallo,\nzweite Zeile\n.\nÄnde — tschüs\n")
            << QStringLiteral("Klingelton für dich ☎") << "audio/ogg";
        QTest::newRow("line break in the subject adds no header")
            << "wav"
            << "Hi\r\nBcc: victim@example.org\nX-Evil: 1"
            << "x\n"
            << "Hi Bcc: victim@example.org X-Evil: 1"
            << "audio/wav";
        const QString longSubject = QString(120, QChar(0x00fc)) + QStringLiteral(" ende");
        QTest::newRow("long subject folded") << "wav" << longSubject << "\n"
                                             << longSubject << "audio/wav";
        const QString longWords = QString(300, 'x') + " " + QString(40, 'y') + " z";
        QTest::newRow("long word, long non-ASCII file name") << "long" << longWords << "\n"
                                                             << longWords << "audio/wav";
    }
    void readersFindTheMessageIntact() {
        QFETCH(QString, kind);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, expectedSubject);
        QFETCH(QString, type);
        writeAccount(m_settings, plainAccount());
        const QString fan = uniqueAddress("fan");

        const MailStep sent = send("Tone Fan <" + fan + ">", m_tones[kind], {}, subject, body);
        QVERIFY2(sent.ok(), qPrintable(sent.error().message + " " + sent.error().detail));

        const QJsonObject got = arrivedFor(fan);
        QCOMPARE(got["subject"].toString(), expectedSubject);
        QCOMPARE(got["body"].toString(), body);
        QCOMPARE(got["from"].toString(), QString("Ringtone Maker <maker@example.com>"));
        QCOMPARE(got["to"].toString(), "Tone Fan <" + fan + ">");
        // Every header line here has blanks to fold at.
        QVERIFY2(got["longestHeaderLine"].toInt() <= 78,
                 qPrintable(QString::number(got["longestHeaderLine"].toInt())));
        QVERIFY(got["longestEncodedWord"].toInt() <= 75);
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

    void failuresSayWhy_data() {
        QTest::addColumn<QString>("server"); // plain, starttls, down, silent, or a misbehaving one
        QTest::addColumn<bool>("trustServer");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason"); // in the message the user sees

        QTest::newRow("not an address") << "plain" << true << "tone fan" << 32021 << "";
        QTest::newRow("no address in the brackets") << "plain" << true << "Fan <>" << 32021 << "";
        QTest::newRow("line break in the address")
            << "plain" << true << "a@b.org\r\nx@y.org" << 32021 << "";
        QTest::newRow("empty recipient") << "plain" << true << "" << 32025 << "";
        QTest::newRow("recipient refused")
            << "starttls" << true << "refused@example.org" << 32014 << "550 5.1.1";
        QTest::newRow("server down")
            << "down" << true << "fan@example.org" << 32002 << "cannot be reached";
        QTest::newRow("server never greets")
            << "silent" << true << "fan@example.org" << 32002 << "timed out";
        QTest::newRow("server stalls after the greeting")
            << "stall" << true << "fan@example.org" << 32002 << "timed out";
        QTest::newRow("every reply late")
            << "slow" << true << "fan@example.org" << 32002 << "timed out";
        QTest::newRow("temporary login refusal is no wrong password")
            << "tempfail" << true << "fan@example.org" << 32002 << "454 4.7.0";
        QTest::newRow("connection lost at the login")
            << "drop" << true << "fan@example.org" << 32002 << "broke off";
        QTest::newRow("certificate not trusted")
            << "starttls" << false << "fan@example.org" << 32002 << "certificate";
    }
    void failuresSayWhy() {
        QFETCH(QString, server);
        QFETCH(bool, trustServer);
        QFETCH(QString, recipient);
        QFETCH(int, number);
        QFETCH(QString, reason);
        SilentServer silent;
        UniqueFd closedHolder;
        MailAccount account = plainAccount();
        const QMap<QString, QString> misbehaving{{"stall", stallServer()},
                                                 {"slow", slowServer()},
                                                 {"tempfail", tempFailServer()},
                                                 {"drop", dropServer()}};
        if (server == "starttls") {
            account = loginAccount(startTlsServer(), MailSecurity::StartTls);
            if (!trustServer)
                account.caFile.clear();
        } else if (server == "down") {
            account.server = "smtp://127.0.0.1:" + QString::number(closedPort(&closedHolder));
        } else if (server == "silent") {
            account.server = "smtp://127.0.0.1:" + QString::number(silent.port);
        } else if (misbehaving.contains(server)) {
            account.server = "smtp://" + misbehaving[server];
            if (server == "tempfail" || server == "drop")
                account.user = uniqueUser(); // loopback: no question about the clear password
        }
        writeAccount(m_settings, account);
        int asked = 0;
        // Gives the password once; asked again (a refused login) it cancels.
        const AccountPrompt password = [&](const AccountRequest& r) {
            return ++asked == 1 ? std::optional<AccountAnswer>({r.account, serverPassword(), false})
                                : std::nullopt;
        };
        // The slow server answers each line within the reply limit; the whole talk takes
        // longer than the attempt may.
        const SmtpLimits limits{3000, 1, 1, server == "slow" ? 1200 : 30000, 1 << 30};
        const MailStep sent = send(recipient, m_tones["wav"], password, "s", "b", limits);
        QCOMPARE(sent.number(), number);
        QVERIFY(!sent.error().message.isEmpty());
        QVERIFY2(sent.error().message.contains(reason), qPrintable(sent.error().message));
        QVERIFY(asked <= 1);
    }

    void cancelEndsAStalledSend() {
        writeAccount(m_settings, {"smtp://" + stallServer(),
                                  MailSecurity::None,
                                  {},
                                  QStringLiteral("maker@example.com"),
                                  {}});
        MAPISession1 session(m_settings);
        MAPIMessages1 messages;
        // Limits far beyond the test's own: only the cancel can end it.
        session.setLimits({60000, 60, 60, 600000, 1});
        QTimer::singleShot(200, [&] { session.cancel(); });
        const MailStep sent =
            sendThroughSession(session, messages, "s", "b", 1, {"fan@example.org"}, m_tones["wav"]);
        QCOMPARE(sent.number(), int(MailErrorNumber::UserAbort));
        QCOMPARE(sent.error().message, QString("Sending was cancelled."));
    }

    void unencryptedLoginIsAskedOnce_data() {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<int>("number");
        QTest::newRow("declined: nothing sent") << false << 32001;
        QTest::newRow("allowed: asked once for two sends") << true << 32002;
    }
    void unencryptedLoginIsAskedOnce() {
        QFETCH(bool, allow);
        QFETCH(int, number);
        // A documentation address that leads nowhere: allowed, the login cannot connect.
        writeAccount(m_settings, {"smtp://192.0.2.1:25",
                                  MailSecurity::None,
                                  uniqueUser(),
                                  QStringLiteral("maker@example.com"),
                                  {}});
        int questions = 0;
        for (int send = 0; send < 2; ++send) {
            MAPISession1 session(m_settings);
            session.setAccountPrompt([](const AccountRequest& r) {
                return std::optional<AccountAnswer>({r.account, "pw", false});
            });
            session.setPlainLoginConfirm([&](const QString& host) {
                ++questions;
                return host == "192.0.2.1" && allow;
            });
            session.setLimits({300, 1, 1, 1000, 1 << 30});
            QCOMPARE(session.SignOn().number(), number);
        }
        QCOMPARE(questions, allow ? 1 : 2);
    }

    void loginOverStartTlsAndTls_data() {
        QTest::addColumn<int>("security");
        QTest::newRow("STARTTLS") << int(MailSecurity::StartTls);
        QTest::newRow("TLS") << int(MailSecurity::Tls);
    }
    void loginOverStartTlsAndTls() {
        QFETCH(int, security);
        const auto s = MailSecurity(security);
        writeAccount(m_settings,
                     loginAccount(s == MailSecurity::Tls ? tlsServer() : startTlsServer(), s));
        int asked = 0;
        const AccountPrompt prompt = [&](const AccountRequest& r) {
            ++asked;
            return std::optional<AccountAnswer>({r.account, serverPassword(), true});
        };
        const QString fan = uniqueAddress("fan");
        const MailStep first = send(fan, m_tones["mp3"], prompt);
        QVERIFY2(first.ok(), qPrintable(first.error().message + " " + first.error().detail));
        const MailStep second = send(fan, m_tones["mp3"], prompt);
        QVERIFY(second.ok());
        QCOMPARE(asked, 1); // the password is kept for the run
        QCOMPARE(storedMessages(fan).size(), 2);

        const QByteArray file = [&] {
            QFile f(m_settings);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        QVERIFY(!file.contains(serverPassword().toUtf8()));
        QVERIFY(file.contains("[Other]\nkey=kept"));
        QVERIFY(ReadIniValue("Mail", "User", m_settings).startsWith("ringer-"));
    }

    void wrongPasswordIsAskedAgain() {
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

    void accountPromptOnlyWhenNeeded_data() {
        QTest::addColumn<bool>("haveAccount");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("number");
        QTest::newRow("no account, user gives one") << false << true << 1 << 0;
        QTest::newRow("no account, user cancels") << false << false << 1 << 32001;
        QTest::newRow("account without user: no login, no prompt") << true << true << 0 << 0;
    }
    void accountPromptOnlyWhenNeeded() {
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

    // Against the Secret Service scripts/test starts (gnome-keyring on a private bus).
    void keyringKeepsThePasswordUntilUnticked_data() {
        QTest::addColumn<QString>("server");   // "starttls" or "tempfail"
        QTest::addColumn<QString>("stored");   // in the keyring before; empty: none
        QTest::addColumn<bool>("fromMissing"); // the account lacks the sender: the dialog comes
        QTest::addColumn<QString>("typed");    // the password typed; "-": the dialog is cancelled
        QTest::addColumn<bool>("remember");    // "Remember password" as left by the user
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("shownTicked"); // whether the dialog showed a stored password
        QTest::addColumn<QString>("storedAfter");
        const QString good = serverPassword();
        QTest::newRow("stored, used without asking across runs")
            << "starttls" << good << false << "" << true << 0 << 0 << false << good;
        QTest::newRow("refused: asked again, the stored one stays")
            << "starttls"
            << "wrong" << false << "-" << true << 32001 << 1 << true << "wrong";
        QTest::newRow("temporary refusal: not asked, the stored one stays")
            << "tempfail" << good << false << "" << true << 32002 << 0 << false << good;
        QTest::newRow("only the sender mended: the stored one is used and kept")
            << "starttls" << good << true << "" << true << 0 << 1 << true << good;
        QTest::newRow("unticked: removed")
            << "starttls" << good << true << good << false << 0 << 1 << true << "";
        QTest::newRow("ticked: stored once the server took it")
            << "starttls"
            << "" << true << good << true << 0 << 1 << false << good;
    }
    void keyringKeepsThePasswordUntilUnticked() {
        CHIMORA_REQUIRE_SERVICE(keyringAvailable(), "no keyring (scripts/test starts one)");
        QFETCH(QString, server);
        QFETCH(QString, stored);
        QFETCH(bool, fromMissing);
        QFETCH(QString, typed);
        QFETCH(bool, remember);
        QFETCH(int, number);
        QFETCH(int, asked);
        QFETCH(bool, shownTicked);
        QFETCH(QString, storedAfter);
        MailAccount account = loginAccount(startTlsServer(), MailSecurity::StartTls);
        if (server == "tempfail") {
            account.server = "smtp://" + tempFailServer();
            account.security = MailSecurity::None;
        }
        const QString url = *connectionUrl(account);
        if (!stored.isEmpty())
            storeMailPassword(url, account.user, stored);
        const QString from = account.from;
        if (fromMissing)
            account.from.clear();
        writeAccount(m_settings, account);

        int prompts = 0;
        bool ticked = false;
        const AccountPrompt prompt = [&](const AccountRequest& r) -> std::optional<AccountAnswer> {
            ++prompts;
            ticked = r.passwordStored;
            if (typed == "-")
                return std::nullopt;
            AccountAnswer a{r.account, typed, remember && r.keyringAvailable};
            a.account.from = from;
            return a;
        };
        QCOMPARE(send(uniqueAddress("fan"), m_tones["wav"], prompt).number(), number);
        QCOMPARE(prompts, asked);
        QCOMPARE(ticked, shownTicked);
        QCOMPARE(storedMailPassword(url, account.user).value_or(QString()), storedAfter);
        removeStoredMailPassword(url, account.user);
    }
};

QTEST_GUILESS_MAIN(TestMailSending)
#include "test_mail_sending.moc"
