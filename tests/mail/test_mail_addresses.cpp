// Which recipient texts count as addresses, and which server URL an account's values give.

#include "mail/MailAccount.h"
#include "mail/MailHeaders.h"

#include <QTest>

using namespace chimora;

class TestMailAddresses : public QObject {
    Q_OBJECT
private slots:
    void recipientForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name"); // "-" when the text is no address
        QTest::addColumn<QString>("address");
        QTest::newRow("plain") << " someone@example.com "
                               << ""
                               << "someone@example.com";
        QTest::newRow("named") << "Some One <someone@example.com>"
                               << "Some One"
                               << "someone@example.com";
        QTest::newRow("quoted name") << "\"One, \\\"Some\\\"\" <s@example.com>"
                                     << "One, \"Some\""
                                     << "s@example.com";
        QTest::newRow("dots, plus, subdomain") << "first.last+tag@mail.example.co.uk"
                                               << ""
                                               << "first.last+tag@mail.example.co.uk";
        QTest::newRow("non-ASCII name") << QStringLiteral("Jürgen <j@example.de>")
                                        << QStringLiteral("Jürgen") << "j@example.de";
        QTest::newRow("no domain dot") << "a@localhost"
                                       << "-"
                                       << "";
        QTest::newRow("double dot") << "a..b@example.com"
                                    << "-"
                                    << "";
        QTest::newRow("hyphen label") << "a@-example.com"
                                      << "-"
                                      << "";
        QTest::newRow("non-ASCII address") << QStringLiteral("ü@example.com") << "-"
                                           << "";
        QTest::newRow("line break") << "a@example.com\r\nBcc: x@example.com"
                                    << "-"
                                    << "";
        QTest::newRow("tab in the name") << "A\tB <a@example.com>"
                                         << "-"
                                         << "";
        QTest::newRow("two addresses") << "a@example.com, b@example.com"
                                       << "-"
                                       << "";
    }
    void recipientForms() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, address);
        const std::optional<Mailbox> got = parseMailbox(text);
        QCOMPARE(got.has_value(), name != "-");
        if (got) {
            QCOMPARE(got->displayName, name);
            QCOMPARE(got->address, address);
        }
    }

    void connectionUrls_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::newRow("starttls default port")
            << "mail.example.com" << 0 << "smtp://mail.example.com:587";
        QTest::newRow("tls turns the scheme")
            << "smtp://mail.example.com:2465" << 1 << "smtps://mail.example.com:2465";
        QTest::newRow("smtps means TLS")
            << "smtps://mail.example.com" << 2 << "smtps://mail.example.com:465";
        QTest::newRow("user and path dropped")
            << "smtp://me:pw@mail.example.com:25/x?y" << 2 << "smtp://mail.example.com:25";
        QTest::newRow("other scheme") << "http://mail.example.com" << 0 << "";
        QTest::newRow("empty") << "" << 0 << "";
    }
    void connectionUrls() {
        QFETCH(QString, server);
        QFETCH(int, security);
        QFETCH(QString, url);
        MailAccount account;
        account.server = server;
        account.security = MailSecurity(security);
        const Result<QString> got = connectionUrl(account);
        QCOMPARE(got.ok(), !url.isEmpty());
        if (got)
            QCOMPARE(*got, url);
    }

    void passwordInClear_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("inClear");
        const int none = int(MailSecurity::None);
        QTest::newRow("no encryption, remote host") << "mail.example.com" << none << "me" << true;
        QTest::newRow("remote address") << "smtp://192.0.2.7:2525" << none << "me" << true;
        QTest::newRow("no user: no password") << "mail.example.com" << none << "" << false;
        QTest::newRow("STARTTLS") << "mail.example.com" << int(MailSecurity::StartTls) << "me"
                                  << false;
        QTest::newRow("smtps server means TLS")
            << "smtps://mail.example.com" << none << "me" << false;
        QTest::newRow("loopback address") << "127.0.0.1:25" << none << "me" << false;
        QTest::newRow("loopback /8") << "127.3.4.5" << none << "me" << false;
        QTest::newRow("localhost") << "LocalHost:25" << none << "me" << false;
        QTest::newRow("IPv6 loopback") << "smtp://[::1]:25" << none << "me" << false;
        QTest::newRow("looks loopback, is a name")
            << "127.0.0.1.example.com" << none << "me" << true;
    }
    void passwordInClear() {
        QFETCH(QString, server);
        QFETCH(int, security);
        QFETCH(QString, user);
        QFETCH(bool, inClear);
        QCOMPARE(sendsPasswordInClear({server, MailSecurity(security), user, {}, {}}), inClear);
    }
};

QTEST_GUILESS_MAIN(TestMailAddresses)
#include "test_mail_addresses.moc"
