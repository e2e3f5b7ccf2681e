// The e-mail window as a user meets it: the boxes after "Send", the account dialog on the first
// send, text selection on focus, the window staying live while it sends, and the texts handed
// back when it goes.

#include "TestSupport.h"
#include "mail/PasswordStore.h"
#include "mail/ui/Form5.h"
#include "mail/ui/SendMailMessage.h"
#include "mail_support.h"
#include "platform/core/IniFile.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace chimora;
using namespace mailtest;

class TestForm5 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_settings;
    QString m_tone;
    std::unique_ptr<QWidget> m_owner;
    QPointer<Form5> m_form;
    std::optional<MailTexts> m_unloaded;

    void open(const MailTexts& texts) {
        m_unloaded.reset();
        m_owner->setEnabled(false);
        m_form = new Form5(m_owner.get(), texts, m_tone, m_settings,
                           [this](const MailTexts& t) { m_unloaded = t; });
        m_form->showOverOwner();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
    }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(!(plainServer().isEmpty()),
                                "the test mail servers are not running (scripts/test starts them)");
        m_tone = m_dir.filePath("ring.wav");
        QVERIFY(testsupport::makeTone(m_tone, 0.5, 8000, 1));
        m_owner = std::make_unique<QWidget>();
        m_owner->resize(640, 480);
        m_owner->show();
    }

    void init() {
        forgetMailPasswordsOfThisRun();
        m_settings = m_dir.filePath("settings.ini");
        QFile::remove(m_settings);
        writeAccount(m_settings,
                     {"smtp://" + plainServer(), MailSecurity::None, {}, "maker@example.com", {}});
    }

    void cleanup() {
        if (m_form)
            m_form->close();
    }

    void sendShowsTheOutcome_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("arrived");
        QTest::newRow("sent") << uniqueAddress("fan") << QStringList{"Message sent."} << 1;
        QTest::newRow("not an address")
            << "fan at example" << QStringList{resolveFailureText(), "Message send failed."} << 0;
        QTest::newRow("empty") << "" << QStringList{"Message send failed."} << 0;
    }
    void sendShowsTheOutcome() {
        QFETCH(QString, address);
        QFETCH(QStringList, texts);
        QFETCH(int, arrived);
        open({address, "Ringtone", "Enjoy"});
        ModalAnswerer answerer;
        answerer.arm();
        QTest::mouseClick(m_form->Command1, Qt::LeftButton);
        answerer.disarm();

        QStringList shown;
        for (const ModalAnswerer::Box& b : answerer.boxes) {
            shown << b.text;
            QCOMPARE(b.title, QString("Chimora"));
        }
        QCOMPARE(shown, texts);
        QCOMPARE(answerer.boxes.last().icon,
                 arrived ? QMessageBox::Information : QMessageBox::Warning);
        if (texts.size() == 2)
            QCOMPARE(answerer.boxes.first().icon, QMessageBox::NoIcon);
        QCOMPARE(storedMessages(address).size(), arrived);
        QVERIFY(m_form->isVisible()); // stays open either way
        QCOMPARE(m_form->txtAddress1->text(), address);
    }

    void firstSendAsksForTheAccount() {
        QFile::remove(m_settings);
        open({"fan@example.org", "s", "b"});
        ModalAnswerer answerer;
        answerer.arm({{{"smtp://" + startTlsServer(),
                        MailSecurity::StartTls,
                        uniqueUser(),
                        "maker@example.com",
                        {}},
                       serverPassword(),
                       false}});
        // The account dialog carries no CAFile; the private server's authority is named in
        // the file as a user would do it.
        WriteIniValue("Mail", "CAFile", serverCaFile(), m_settings);
        QTest::mouseClick(m_form->Command1, Qt::LeftButton);
        answerer.disarm();
        QCOMPARE(answerer.dialogProblems, QStringList{QString()});
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().text, QString("Message sent."));
        QVERIFY(!wizardtestFileContains(m_settings, serverPassword()));
        QVERIFY(ReadIniValue("Mail", "User", m_settings).startsWith("ringer-"));
    }

    void focusSelectsTheWholeText_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("byMouse");
        QTest::newRow("address by mouse") << "txtAddress1" << true;
        QTest::newRow("subject by mouse") << "txtSubject" << true;
        QTest::newRow("body by mouse") << "txtMessage" << true;
        QTest::newRow("body by Tab from Close") << "txtMessage" << false;
    }
    void focusSelectsTheWholeText() {
        QFETCH(QString, box);
        QFETCH(bool, byMouse);
        open({"fan@example.org", "A subject", "line one\nline two"});
        QWidget* target = m_form->findChild<QWidget*>(box);
        if (byMouse) {
            QWidget* clicked = target;
            if (auto* text = qobject_cast<QPlainTextEdit*>(target))
                clicked = text->viewport();
            QTest::mouseClick(clicked, Qt::LeftButton, {}, QPoint(10, 8));
        } else {
            m_form->Command2->setFocus();
            QTest::keyClick(m_form->Command2, Qt::Key_Tab);
        }
        QTRY_VERIFY(target->hasFocus());
        if (auto* line = qobject_cast<QLineEdit*>(target))
            QTRY_COMPARE(line->selectedText(), line->text());
        else {
            auto* text = qobject_cast<QPlainTextEdit*>(target);
            QTRY_COMPARE(text->textCursor().selectedText().replace(QChar(0x2029), '\n'),
                         text->toPlainText());
        }
    }

    void cancelOrCloseEndsAStalledSend_data() {
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("Cancel: the window tells and stays") << false;
        QTest::newRow("close box: the window goes, the wizard is back") << true;
    }
    void cancelOrCloseEndsAStalledSend() {
        QFETCH(bool, byCloseBox);
        // A server that greets and then says nothing more, with limits only the user ends.
        WriteIniValue("Mail", "Server", "smtp://" + stallServer(), m_settings);
        open({"fan@example.org", "s", "b"});
        m_form->MAPISession1.setLimits({60000, 60, 60, 600000, 1});

        bool liveWhileSending = false;
        QTimer::singleShot(0, m_form, [&] {
            liveWhileSending = !m_form->Command1->isEnabled() && !m_form->Command2->isEnabled() &&
                               m_form->cancelSend->isVisible() && m_form->cancelSend->isEnabled();
            if (byCloseBox)
                m_form->close();
            else
                QTest::mouseClick(m_form->cancelSend, Qt::LeftButton);
        });
        ModalAnswerer answerer;
        answerer.arm();
        QTest::mouseClick(m_form->Command1, Qt::LeftButton);
        QTRY_COMPARE(bool(m_form), !byCloseBox);
        answerer.disarm();
        QVERIFY(liveWhileSending);
        if (byCloseBox) {
            QVERIFY(answerer.boxes.isEmpty());
            QVERIFY(m_owner->isEnabled());
            QVERIFY(m_unloaded);
            return;
        }
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().text, QString("Message send failed."));
        QCOMPARE(answerer.boxes.first().informative, QString("Sending was cancelled."));
        QVERIFY(m_form->Command1->isEnabled() && m_form->cancelSend->isHidden());
    }

    void failureSaysWhyInPlainText() {
        WriteIniValue("Mail", "Server", "smtp://" + tempFailServer(), m_settings);
        WriteIniValue("Mail", "User", uniqueUser(), m_settings);
        open({"fan@example.org", "s", "b"});
        ModalAnswerer answerer;
        answerer.arm({{readMailAccount(m_settings), "pw", false}});
        QTest::mouseClick(m_form->Command1, Qt::LeftButton);
        answerer.disarm();
        QCOMPARE(answerer.dialogProblems.size(), 1); // a temporary refusal asks no password again
        QCOMPARE(answerer.boxes.size(), 1);
        const ModalAnswerer::Box& box = answerer.boxes.first();
        QCOMPARE(box.text, QString("Message send failed."));
        QVERIFY2(box.informative.contains("454 4.7.0 <b>Temporary</b>"),
                 qPrintable(box.informative));
        QVERIFY(box.informativePlain);
    }

    void storedPasswordShowsTickedAndStays() {
        CHIMORA_REQUIRE_SERVICE(keyringAvailable(), "no keyring (scripts/test starts one)");
        const QString user = uniqueUser();
        const MailAccount account{"smtp://" + startTlsServer(), MailSecurity::StartTls, user,
                                  "maker@example.com", serverCaFile()};
        writeAccount(m_settings, account);
        WriteIniValue("Mail", "From", "", m_settings); // the dialog comes for the sender
        const QString url = *connectionUrl(account);
        storeMailPassword(url, user, serverPassword());
        open({uniqueAddress("fan"), "s", "b"});
        ModalAnswerer answerer;
        answerer.arm({{account, QString(), false}}); // mends the sender only
        QTest::mouseClick(m_form->Command1, Qt::LeftButton);
        answerer.disarm();
        QVERIFY(answerer.rememberShown);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().text, QString("Message sent."));
        QCOMPARE(storedMailPassword(url, user), std::optional<QString>(serverPassword()));
        removeStoredMailPassword(url, user);
    }

    void unloadGivesBackTextsAndTheOwner() {
        open({"fan@example.org", "s", "b"});
        QVERIFY(m_form->isEnabled());
        QVERIFY(!m_owner->isEnabled());
        m_form->txtSubject->setText("edited");
        m_form->txtMessage->setPlainText("two\nlines");
        QTest::mouseClick(m_form->Command2, Qt::LeftButton);
        QTRY_VERIFY(!m_form);
        QVERIFY(m_unloaded);
        QCOMPARE(m_unloaded->address, QString("fan@example.org"));
        QCOMPARE(m_unloaded->subject, QString("edited"));
        QCOMPARE(m_unloaded->message, QString("two\nlines"));
        QVERIFY(m_owner->isEnabled());
    }

private:
    static bool wizardtestFileContains(const QString& path, const QString& text) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll().contains(text.toUtf8());
    }
};

QTEST_MAIN(TestForm5)
#include "test_form5.moc"
