// Encoder argument lists and the extension rule of "Save as file".
#include "render/EncoderCommands.h"
#include "render/RingtoneFormat.h"

#include <QtTest>

using namespace chimora;

Q_DECLARE_METATYPE(chimora::RingtoneFormat)

class TestEncoderCommands : public QObject {
    Q_OBJECT

private slots:
    void lameArguments_data();
    void lameArguments();
    void oggencArguments_data();
    void oggencArguments();
    void extensionRule_data();
    void extensionRule();
};

void TestEncoderCommands::lameArguments_data() {
    QTest::addColumn<int>("channelsIndex");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<int>("fedRate");
    QTest::addColumn<QStringList>("expected");

    const QString out = QStringLiteral("/tmp/a \"b\" $c; d.mp3");
    QTest::newRow("stereo, rate matches the WAV")
        << 1 << "160"
        << "22050" << 22050 << QStringList{"-h", "-ms", "-b160", "-s22.05", "-", out};
    QTest::newRow("mono 11025") << 0 << "32"
                                << "11025" << 11025
                                << QStringList{"-h", "-mm", "-b32", "-s11.025", "-", out};
    // The WAV came at another rate (no rate chosen): -s would change the pitch.
    QTest::newRow("rate differs from the WAV")
        << 1 << "128"
        << "22050" << 44100 << QStringList{"-h", "-ms", "-b128", "-", out};
    QTest::newRow("nothing chosen") << -1 << ""
                                    << "" << 44100 << QStringList{"-h", "-mm", "-", out};
    QTest::newRow("unlisted texts") << 1 << "150"
                                    << "44100" << 44100 << QStringList{"-h", "-ms", "-", out};
}

void TestEncoderCommands::lameArguments() {
    QFETCH(int, channelsIndex);
    QFETCH(QString, bitrate);
    QFETCH(QString, rate);
    QFETCH(int, fedRate);
    QFETCH(QStringList, expected);
    const auto command = lameCommand(
        QStringLiteral("/usr/bin/lame"), channelsFromIndex(channelsIndex), bitrateFromText(bitrate),
        sampleRateFromText(rate), fedRate, QStringLiteral("/tmp/a \"b\" $c; d.mp3"));
    QCOMPARE(command.program, QStringLiteral("/usr/bin/lame"));
    QCOMPARE(command.arguments, expected);
}

void TestEncoderCommands::oggencArguments_data() {
    QTest::addColumn<int>("channelsIndex");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<int>("fedChannels");
    QTest::addColumn<QStringList>("expected");

    const QString out = QStringLiteral("/tmp/t.ogg");
    // Never a --raw-* option: the WAV header on standard input carries rate and channels.
    QTest::newRow("stereo 160") << 1 << "160" << 2 << QStringList{"-b", "160", "-", "-o", out};
    QTest::newRow("mono WAV 64") << 0 << "64" << 1 << QStringList{"-b", "64", "-", "-o", out};
    QTest::newRow("mono chosen, stereo WAV")
        << 0 << "64" << 2 << QStringList{"-b", "64", "--downmix", "-", "-o", out};
    QTest::newRow("no bitrate") << 1 << "" << 2 << QStringList{"-", "-o", out};
}

void TestEncoderCommands::oggencArguments() {
    QFETCH(int, channelsIndex);
    QFETCH(QString, bitrate);
    QFETCH(int, fedChannels);
    QFETCH(QStringList, expected);
    const auto command =
        oggencCommand(QStringLiteral("oggenc"), channelsFromIndex(channelsIndex),
                      bitrateFromText(bitrate), fedChannels, QStringLiteral("/tmp/t.ogg"));
    QCOMPARE(command.arguments, expected);
}

void TestEncoderCommands::extensionRule_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<RingtoneFormat>("format");
    QTest::addColumn<QString>("expected");

    QTest::newRow("tone mp3") << "/music/tone" << RingtoneFormat::Mp3 << "/music/tone.mp3";
    QTest::newRow("tone.MP3 stays")
        << "/music/tone.MP3" << RingtoneFormat::Mp3 << "/music/tone.MP3";
    QTest::newRow("folder sounds.wav")
        << "/music/sounds.wav/tone" << RingtoneFormat::Wav << "/music/sounds.wav/tone.wav";
    QTest::newRow("folder .MP3 only")
        << "/music/old.MP3s/tone" << RingtoneFormat::Mp3 << "/music/old.MP3s/tone.mp3";
    QTest::newRow("other format's extension")
        << "/music/tone.wav" << RingtoneFormat::Ogg << "/music/tone.wav.ogg";
    QTest::newRow("extension without dot")
        << "/music/tonemp3" << RingtoneFormat::Mp3 << "/music/tonemp3.mp3";
}

void TestEncoderCommands::extensionRule() {
    QFETCH(QString, path);
    QFETCH(RingtoneFormat, format);
    QFETCH(QString, expected);
    QCOMPARE(withRingtoneExtension(path, format), expected);
}

QTEST_GUILESS_MAIN(TestEncoderCommands)
#include "test_encodercommands.moc"
