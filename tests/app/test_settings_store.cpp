// The settings file: private-profile reading and writing rules, the leading-number rule, the
// nine settings created, loaded and saved, and what of the mail account a file that others may
// change is trusted with.

#include "app/Settings.h"
#include "mail/MailAccount.h"
#include "platform/core/IniFile.h"
#include "wizard_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace chimora;
using wizardtest::readFile;
using wizardtest::writeFile;

class TestSettingsStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void readingRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("plain") << QByteArray("[Main]\n5=tone\n") << "Main"
                               << "5"
                               << "tone";
        QTest::newRow("names ignore case") << QByteArray("[mAiN]\nKey=v\n") << "MAIN"
                                           << "kEY"
                                           << "v";
        QTest::newRow("blanks around") << QByteArray("[Main]\n  5 =   tone x  \n") << "Main"
                                       << "5"
                                       << "tone x";
        QTest::newRow("double quotes dropped") << QByteArray("[Main]\n5=\" spaced \"\n") << "Main"
                                               << "5"
                                               << " spaced ";
        QTest::newRow("single quotes dropped") << QByteArray("[Main]\n5='x'\n") << "Main"
                                               << "5"
                                               << "x";
        QTest::newRow("unmatched quote kept") << QByteArray("[Main]\n5=\"x\n") << "Main"
                                              << "5"
                                              << "\"x";
        QTest::newRow("quoted path keeps backslashes")
            << QByteArray("[Main]\n5=\"C:\\new\\tone\"\n") << "Main"
            << "5"
            << "C:\\new\\tone";
        QTest::newRow("missing key") << QByteArray("[Main]\n1=a\n") << "Main"
                                     << "2"
                                     << "";
        QTest::newRow("missing section") << QByteArray("[Other]\n1=a\n") << "Main"
                                         << "1"
                                         << "";
        QTest::newRow("key of another section")
            << QByteArray("[Main]\n1=a\n[Other]\n2=b\n") << "Main"
            << "2"
            << "";
        QTest::newRow("CRLF file") << QByteArray("[Main]\r\n1=a\r\n2=b\r\n") << "Main"
                                   << "2"
                                   << "b";
        QTest::newRow("comment line skipped") << QByteArray("[Main]\n;1=x\n1=y\n") << "Main"
                                              << "1"
                                              << "y";
        QTest::newRow("utf-8") << QByteArray("[Main]\n5=Klingelt\xc3\xb6n \xe2\x99\xab\n") << "Main"
                               << "5" << QString::fromUtf8("Klingelt\xc3\xb6n \xe2\x99\xab");
        QTest::newRow("cut to 254")
            << QByteArray("[Main]\n5=" + QByteArray(300, 'x') + "\n") << "Main"
            << "5" << QString(254, QLatin1Char('x'));
    }
    void readingRules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeFile(path("read.ini"), file);
        QCOMPARE(ReadIniValue(section, key, path("read.ini")), expected);
    }

    void missingFileReadsEmpty() {
        QCOMPARE(ReadIniValue("Main", "1", path("nowhere.ini")), QString());
    }

    void writingKeepsEverythingElse() {
        const QString file = path("keep.ini");
        writeFile(file, "; my notes\n[Other]\nx = 1\n\n[main]\n1=old\n2=two\n\n[Last]\ny=2\n");
        QVERIFY(WriteIniValue("Main", "1", "new", file));
        QVERIFY(WriteIniValue("MAIN", "3", "three", file));
        QVERIFY(WriteIniValue("Fresh", "k", "v", file));
        QCOMPARE(readFile(file),
                 QByteArray("; my notes\n[Other]\nx = 1\n\n[main]\n1=new\n2=two\n3=three\n\n"
                            "[Last]\ny=2\n[Fresh]\nk=v\n"));
    }

    void writingCreatesFileAndKeepsLineEndings() {
        const QString file = path("new.ini");
        QVERIFY(WriteIniValue("Main", "1", "a", file));
        QCOMPARE(readFile(file), QByteArray("[Main]\n1=a\n"));

        const QString crlf = path("crlf.ini");
        writeFile(crlf, "[Main]\r\n1=a\r\n");
        QVERIFY(WriteIniValue("Main", "2", "b", crlf));
        QCOMPARE(readFile(crlf), QByteArray("[Main]\r\n1=a\r\n2=b\r\n"));
    }

    // Lines nobody changed come back byte for byte, whatever their encoding and line ends.
    void untouchedLinesKeepTheirBytes_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");     // read, then set to "z"
        QTest::addColumn<QString>("readsAs"); // what the key read before the change
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("Latin-1 beside") << QByteArray("[Main]\r\n8=Gr\xfc\xdf"
                                                      "e\r\n1=a\r\n")
                                        << "1"
                                        << "a"
                                        << QByteArray("[Main]\r\n8=Gr\xfc\xdf"
                                                      "e\r\n1=z\r\n");
        QTest::newRow("Latin-1 read")
            << QByteArray("[Main]\n8=Gr\xfc\xdf"
                          "e\n")
            << "8" << QString::fromUtf8("Grüße") << QByteArray("[Main]\n8=z\n");
        QTest::newRow("lone CR") << QByteArray("[Main]\r1=a\r2=b\r") << "2"
                                 << "b" << QByteArray("[Main]\r1=a\r2=z\r");
        QTest::newRow("trailing CR") << QByteArray("[Main]\n1=abc\r") << "1"
                                     << "abc" << QByteArray("[Main]\n1=z\r");
        QTest::newRow("no last line end") << QByteArray("[Main]\n1=a") << "2"
                                          << "" << QByteArray("[Main]\n1=a\n2=z\n");
        QTest::newRow("mixed ends") << QByteArray("[A]\r\nx=1\r[Main]\n1=a\n") << "1"
                                    << "a" << QByteArray("[A]\r\nx=1\r[Main]\n1=z\n");
    }
    void untouchedLinesKeepTheirBytes() {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, readsAs);
        QFETCH(QByteArray, after);
        const QString file = path("bytes.ini");
        writeFile(file, before);
        QCOMPARE(ReadIniValue("Main", key, file), readsAs);
        QVERIFY(WriteIniValue("Main", key, "z", file));
        QCOMPARE(readFile(file), after);
    }

    void replacedFileKeepsItsOwner() {
        if (::geteuid() != 0)
            QSKIP("only root can make a file another user's");
        const QString file = path("owned.ini");
        writeFile(file, "[Main]\n1=a\n");
        QVERIFY(::chown(QFile::encodeName(file).constData(), 65534, 65534) == 0);
        QVERIFY(WriteIniValue("Main", "1", "b", file));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(file).constData(), &st) == 0);
        QCOMPARE(int(st.st_uid), 65534);
        QCOMPARE(int(st.st_gid), 65534);
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("line"); // how the value stands in the file, when it matters
        QTest::newRow("one line") << "Hello there" << QByteArray("9=Hello there");
        QTest::newRow("backslash n is text") << "C:\\new\\notes" << QByteArray("9=C:\\new\\notes");
        QTest::newRow("inner quotes") << "say \"hi\" now" << QByteArray("9=say \"hi\" now");
        QTest::newRow("several lines")
            << "Hi,\nthis is my ringtone.\r\n\nBye \"me\" \\o/" << QByteArray();
        QTest::newRow("only a line break") << "\n" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray("9=");
        QTest::newRow("quoted path") << "\"C:\\new\"" << QByteArray();
        QTest::newRow("quoted path with escapes") << "\"D:\\rings\\nokia\\r\"" << QByteArray();
        QTest::newRow("surrounding blanks") << "  padded name " << QByteArray();
        QTest::newRow("single quotes") << "'tone'" << QByteArray();
        QTest::newRow("ends with backslash") << "C:\\tones\\" << QByteArray("9=C:\\tones\\");
    }
    void valuesRoundTrip() {
        QFETCH(QString, value);
        QFETCH(QByteArray, line);
        const QString file = path("roundtrip.ini");
        QFile::remove(file);
        QVERIFY(WriteIniValue("Main", "9", value, file));
        QCOMPARE(ReadIniValue("Main", "9", file), value);
        const QByteArray bytes = readFile(file);
        QCOMPARE(bytes.count('\n'), 2); // header and one value line, whatever the value holds
        if (!line.isEmpty())
            QVERIFY2(bytes.contains(line + '\n'), bytes.constData());
    }

    void failedWriteLeavesFileAsItWas() {
        const QString file = path("ro.ini");
        writeFile(file, "[Main]\n1=keep\n");
        QFile::setPermissions(file, QFileDevice::ReadOwner);
        QVERIFY(!WriteIniValue("Main", "1", "lost", file));
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(readFile(file), QByteArray("[Main]\n1=keep\n"));
    }

    void unreadableFileIsNeverReplaced() {
        // A folder where the file should be: nothing can be read, so nothing may be written.
        const QString file = path("dir.ini");
        QVERIFY(QDir().mkpath(file));
        QVERIFY(!WriteIniValue("Main", "1", "x", file));
        QVERIFY(QFileInfo(file).isDir());
        IniFile ini(file);
        ini.setValue("Main", "1", "x");
        const auto written = ini.write();
        QVERIFY(!written.ok());
        QCOMPARE(written.error().kind, Error::Kind::Environment); // told at close, unlike read-only
    }

    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("4.5 to even") << "4.5" << 4;
        QTest::newRow("5.5 to even") << "5.5" << 6;
        QTest::newRow("-2.5 to even") << "-2.5" << -2;
        QTest::newRow("digits then text") << "12abc" << 12;
        QTest::newRow("no number") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("minus one") << "-1" << -1;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("blanks inside removed") << " 1 2\t3 " << 123;
        QTest::newRow("exponent") << "1.5e1" << 15;
        QTest::newRow("dangling exponent") << "3e" << 3;
        QTest::newRow("leading point") << ".6" << 1;
        QTest::newRow("lone sign") << "-" << 0;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << int(-2147483648LL);
        QTest::newRow("too large keeps previous") << "2147483648" << 99;
        QTest::newRow("half past largest keeps previous") << "2147483647.5" << 99;
        QTest::newRow("huge exponent keeps previous") << "1e999" << 99;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(LeadingNumber(text, 99), expected);
    }

    void newFileHoldsTheDefaults() {
        SettingsFile = path("fresh/settings.ini");
        QDir().mkpath(path("fresh"));
        EnsureSettingsFile();
        QCOMPARE(readFile(SettingsFile),
                 QByteArray("[Main]\n1=test\n2=4\n3=1\n4=1\n5=ringtone\n6=1\n7=") +
                     DefaultMailAddress + "\n8=Subject\n9=\n");
    }

    void existingFileIsNeverChangedAtStart() {
        SettingsFile = path("empty.ini");
        writeFile(SettingsFile, "");
        BitrateIndex = ChannelsIndex = FormatCode = SampleRateIndex = 5;
        EnsureSettingsFile();
        LoadSettings();
        QCOMPARE(readFile(SettingsFile), QByteArray());
        QCOMPARE(BitrateIndex, 0);
        QCOMPARE(ChannelsIndex, 0);
        QCOMPARE(FormatCode, 0);
        QCOMPARE(SampleRateIndex, 0);
        QCOMPARE(RingtoneName, QString());
        QCOMPARE(SpareText, QString());
    }

    void saveAndLoadRoundTrip() {
        SettingsFile = path("rt.ini");
        writeFile(SettingsFile, "[Main]\n1=kept by others\n; comment stays\n[Extra]\nz=1\n");
        LoadSettings();
        BitrateIndex = 14;
        ChannelsIndex = -1;
        FormatCode = 2;
        RingtoneName = QString::fromUtf8("Ring \"$1; rm\" \xe2\x99\xab");
        SampleRateIndex = 6;
        MailAddress = "a@b.example";
        MailSubject = "Your tone";
        MailMessage = "line one\nline two";
        QVERIFY(SaveSettings());

        BitrateIndex = ChannelsIndex = FormatCode = SampleRateIndex = 0;
        RingtoneName = MailAddress = MailSubject = MailMessage = SpareText = QString();
        LoadSettings();
        QCOMPARE(SpareText, QString("kept by others"));
        QCOMPARE(BitrateIndex, 14);
        QCOMPARE(ChannelsIndex, -1);
        QCOMPARE(FormatCode, 2);
        QCOMPARE(RingtoneName, QString::fromUtf8("Ring \"$1; rm\" \xe2\x99\xab"));
        QCOMPARE(SampleRateIndex, 6);
        QCOMPARE(MailMessage, QString("line one\nline two"));
        const QByteArray bytes = readFile(SettingsFile);
        QVERIFY(bytes.contains("; comment stays\n"));
        QVERIFY(bytes.contains("[Extra]\nz=1\n"));
        QVERIFY(bytes.contains("3=-1\n"));
    }

    void numberOutOfRangeKeepsValue() {
        SettingsFile = path("range.ini");
        writeFile(SettingsFile, "[Main]\n2=99999999999\n4=abc\n");
        BitrateIndex = 7;
        FormatCode = 1;
        LoadSettings();
        QCOMPARE(BitrateIndex, 7);
        QCOMPARE(FormatCode, 0);
    }

    void mailServerAndAuthorityOnlyFromAFileNobodyElseWrites_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("own file") << 0700 << 0600 << true;
        QTest::newRow("file writable by the group") << 0700 << 0660 << false;
        QTest::newRow("folder writable by all") << 0777 << 0644 << false;
    }
    void mailServerAndAuthorityOnlyFromAFileNobodyElseWrites() {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(bool, trusted);
        QTemporaryDir dir;
        const QString file = dir.filePath("settings.ini");
        writeFile(file, "[Mail]\nServer=smtps://mail.example.org\nUser=me\nFrom=me@example.org\n"
                        "CAFile=/home/me/private-ca.pem\n");
        QVERIFY(::chmod(QFile::encodeName(file).constData(), mode_t(fileMode)) == 0);
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode)) == 0);
        if (!trusted)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Ignoring Server and CAFile"));
        const MailAccount account = readMailAccount(file);
        QCOMPARE(account.server, trusted ? QString("smtps://mail.example.org") : QString());
        QCOMPARE(account.caFile, trusted ? QString("/home/me/private-ca.pem") : QString());
        QCOMPARE(account.user, QString("me")); // the rest stays: the user is asked to confirm
        QCOMPARE(isAccountComplete(account), trusted);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
