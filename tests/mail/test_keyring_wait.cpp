// A keyring that keeps the e-mail window waiting (as one does while it asks the user to unlock
// it): the window stays live and can be closed. The test runs its own session bus and keyring,
// so it can stop the keyring without keeping other tests waiting.

#include "TestSupport.h"
#include "mail/PasswordStore.h"
#include "mail/ui/Form5.h"
#include "mail_support.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace chimora;
using namespace mailtest;

class TestKeyringWait : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;

    void stopProcess(QProcess& process) {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGCONT);
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(!plainServer().isEmpty(),
                                "the test mail servers are not running (scripts/test starts them)");
        CHIMORA_REQUIRE_SERVICE(
            !QStandardPaths::findExecutable("gnome-keyring-daemon").isEmpty() &&
                !QStandardPaths::findExecutable("dbus-daemon").isEmpty(),
            "gnome-keyring-daemon and dbus-daemon are needed (scripts/install-deps)");
        // Before anything in this process talks to a session bus: GLib keeps the first one.
        const QString bus = m_dir.filePath("bus");
        QFile config(m_dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:path=%1</listen>"
                                    "<policy context=\"default\"><allow "
                                    "send_destination=\"*\"/><allow eavesdrop=\"true\"/>"
                                    "<allow own=\"*\"/></policy></busconfig>")
                         .arg(bus)
                         .toUtf8());
        config.close();
        m_bus.start("dbus-daemon",
                    {"--config-file=" + config.fileName(), "--nofork", "--nopidfile"});
        QTRY_VERIFY(QFileInfo::exists(bus));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus.toUtf8());

        QVERIFY(QDir(m_dir.path()).mkpath("run") && QDir(m_dir.path()).mkpath("home"));
        QFile::setPermissions(m_dir.filePath("run"), QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.filePath("home"));
        env.insert("XDG_DATA_HOME", m_dir.filePath("home/.local/share"));
        env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        m_keyring.setProcessEnvironment(env);
        m_keyring.start("gnome-keyring-daemon",
                        {"--foreground", "--components=secrets", "--unlock"});
        QVERIFY(m_keyring.waitForStarted());
        m_keyring.write("chimora-test");
        m_keyring.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(keyringAvailable(), 10000);
    }

    void cleanupTestCase() {
        stopProcess(m_keyring);
        stopProcess(m_bus);
    }

    void aWaitingKeyringLeavesTheWindowLive() {
        const QString settings = m_dir.filePath("settings.ini");
        // A login on loopback without encryption: the password is looked for in the keyring.
        writeAccount(settings, {"smtp://" + tempFailServer(),
                                MailSecurity::None,
                                uniqueUser(),
                                "maker@example.com",
                                {}});
        QWidget owner;
        owner.show();
        owner.setEnabled(false);
        bool unloaded = false;
        QPointer<Form5> form = new Form5(&owner, {"fan@example.org", "s", "b"}, QString(), settings,
                                         [&](const MailTexts&) { unloaded = true; });
        form->showOverOwner();
        QVERIFY(QTest::qWaitForWindowExposed(form));

        ::kill(pid_t(m_keyring.processId()), SIGSTOP); // answers nothing from now on
        bool live = false;
        QTimer::singleShot(0, form, [&] {
            live = form->cancelSend->isVisible();
            form->close();
        });
        ModalAnswerer answerer; // cancels an account dialog, should one come
        answerer.arm();
        QTest::mouseClick(form->Command1, Qt::LeftButton);
        QTRY_VERIFY(!form);
        answerer.disarm();
        ::kill(pid_t(m_keyring.processId()), SIGCONT);
        QVERIFY(live);
        QVERIFY(unloaded);
        QVERIFY(owner.isEnabled());
        QVERIFY(answerer.dialogProblems.isEmpty());
    }
};

QTEST_MAIN(TestKeyringWait)
#include "test_keyring_wait.moc"
