// The render core end to end: the real lame and oggenc, and a stand-in encoder that fails in
// the ways a real one can. The editor is played by a saver that writes a tone of known length
// in the format it was given.
#include "TestSupport.h"
#include "platform/bass/BassEncode.h"
#include "platform/core/AppFolder.h"
#include "render/RenderState.h"
#include "render/RingtoneRender.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace chimora;

Q_DECLARE_METATYPE(chimora::RingtoneFormat)

namespace {

constexpr double kWholeSeconds = 3.0;
constexpr double kSectionSeconds = 1.25;
constexpr int kSourceRate = 44100;

/// Stands in for the editor: remembers the format it is given and writes a 440 Hz tone.
struct FakeEditor {
    int rate = 0, channels = 0, bitrate = 0;
    bool emptySelection = false;
    int saves = 0;
    QString outAudioFile;
    QString plantedLinkTo; ///< when set, the saved file is swapped for a link to this one

    RenderEditor editor() {
        RenderEditor e;
        e.setFormat = [this](int r, int c, int b) {
            rate = r;
            channels = c;
            bitrate = b;
        };
        e.save = [this](const QString& path, bool selectionOnly, int mode) -> Result<void> {
            ++saves;
            if (mode != 1)
                return Error::internal(QStringLiteral("unexpected mode"));
            if (selectionOnly && emptySelection)
                return Error::badInput(QStringLiteral("Nothing is selected. Select a section."));
            // 0 means "as the source".
            if (!testsupport::makeTone(path, selectionOnly ? kSectionSeconds : kWholeSeconds,
                                       rate ? rate : kSourceRate, channels ? channels : 2,
                                       {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}))
                return Error::environment(QStringLiteral("ffmpeg failed"));
            if (!plantedLinkTo.isEmpty() &&
                !(QFile::remove(path) && QFile::link(plantedLinkTo, path)))
                return Error::environment(QStringLiteral("no link planted"));
            return {};
        };
        e.outAudioFile = &outAudioFile;
        return e;
    }
};

/// Counts the observer's calls; every event-loop pass is a real one.
struct CountingObserver : RenderObserver {
    int preparingCalls = 0, finishedCalls = 0, passes = 0, encodings = 0;
    void processEvents() override {
        ++passes;
        RenderObserver::processEvents();
    }
    void preparing() override { ++preparingCalls; }
    void encodingStarted() override { ++encodings; }
    void finished() override { ++finishedCalls; }
};

RenderChoices choices(RingtoneFormat format, const char* rate, const char* bitrate,
                      int channelsIndex, int sectionIndex) {
    RenderChoices c;
    c.format = format;
    c.sampleRateText = QString::fromLatin1(rate);
    c.bitrateText = QString::fromLatin1(bitrate);
    c.channelsIndex = channelsIndex;
    c.sectionIndex = sectionIndex;
    return c;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

/// Files in `dir` other than those named.
QStringList strayFiles(const QString& dir, const QStringList& expected) {
    QStringList found =
        QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : expected)
        found.removeAll(name);
    return found;
}

} // namespace

class TestRender : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void realEncoders_data();
    void realEncoders();
    void wavIsTheEditorsFile();
    void clampedBitrateIsReported();
    void shellCharactersInName();
    void failuresKeepExistingFile_data();
    void failuresKeepExistingFile();
    void readOnlyFolder();
    void namesUpToTheSystemsLimit_data();
    void namesUpToTheSystemsLimit();
    void linksPlantedInTheAppFolder_data();
    void linksPlantedInTheAppFolder();

private:
    QTemporaryDir* m_app = nullptr;
    QTemporaryDir* m_out = nullptr;
    QByteArray m_savedPath;
};

void TestRender::init() {
    m_app = new QTemporaryDir;
    m_out = new QTemporaryDir;
    setAppFolderForTesting(m_app->path());
    m_savedPath = qgetenv("PATH");
    qunsetenv("FAKE_ENCODER");
    setEncoderTimeLimits(0, 0);
}

void TestRender::cleanup() {
    qputenv("PATH", m_savedPath);
    qunsetenv("FAKE_ENCODER");
    setEncoderTimeLimits(0, 0);
    setAppFolderForTesting({});
    delete m_app;
    delete m_out;
}

void TestRender::realEncoders_data() {
    QTest::addColumn<RingtoneFormat>("format");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<int>("channelsIndex");
    QTest::addColumn<int>("sectionIndex");
    QTest::addColumn<QString>("codec");

    QTest::newRow("mp3 stereo whole") << RingtoneFormat::Mp3 << "22050"
                                      << "128" << 1 << 0 << "mp3";
    QTest::newRow("mp3 mono section") << RingtoneFormat::Mp3 << "11025"
                                      << "32" << 0 << 1 << "mp3";
    QTest::newRow("ogg stereo section") << RingtoneFormat::Ogg << "24000"
                                        << "160" << 1 << 1 << "vorbis";
    QTest::newRow("ogg mono whole") << RingtoneFormat::Ogg << "11025"
                                    << "32" << 0 << 0 << "vorbis";
    QTest::newRow("wav mono section") << RingtoneFormat::Wav << "8000"
                                      << "8" << 0 << 1 << "pcm_s16le";
    QTest::newRow("wav stereo whole") << RingtoneFormat::Wav << "32000"
                                      << "320" << 1 << 0 << "pcm_s16le";
}

void TestRender::realEncoders() {
    QFETCH(RingtoneFormat, format);
    QFETCH(QString, rate);
    QFETCH(QString, bitrate);
    QFETCH(int, channelsIndex);
    QFETCH(int, sectionIndex);
    QFETCH(QString, codec);

    // A file already there is replaced by the new one.
    const QString output = m_out->filePath(QStringLiteral("tone") + ringtoneExtension(format));
    QVERIFY(writeFile(output, "old ringtone"));

    FakeEditor fake;
    CountingObserver observer;
    RenderChoices c = choices(format, "", "", channelsIndex, sectionIndex);
    c.sampleRateText = rate;
    c.bitrateText = bitrate;
    const auto result = renderRingtone(output, c, fake.editor(), observer);
    QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
    QVERIFY2(result->note.isEmpty(), qPrintable(result->note));

    const int channels = channelsIndex + 1;
    QCOMPARE(fake.rate, rate.toInt());
    QCOMPARE(fake.channels, channels);
    QCOMPARE(fake.bitrate, bitrate.toInt());
    QCOMPARE(RingtoneFile, output);
    QCOMPARE(fake.outAudioFile, appFilePath(QStringLiteral("output1-temp.wav")));
    QVERIFY(QFile::exists(fake.outAudioFile)); // left there after the render
    QCOMPARE(observer.preparingCalls, 1);
    QCOMPARE(observer.finishedCalls, 1);
    QCOMPARE(observer.encodings, format == RingtoneFormat::Wav ? 0 : 1);

    const testsupport::Probe p = testsupport::probe(output);
    QVERIFY(p.ok);
    QCOMPARE(p.codec, codec);
    QCOMPARE(p.sampleRate, rate.toInt());
    QCOMPARE(p.channels, channels);
    const double seconds = sectionIndex == 1 ? kSectionSeconds : kWholeSeconds;
    // MP3 frames and encoder padding make the stated length a little longer at most.
    QVERIFY2(p.durationSeconds > seconds - 0.02 && p.durationSeconds < seconds + 0.12,
             qPrintable(QString::number(p.durationSeconds)));
    int decodedRate = 0;
    const auto samples = testsupport::decodeWithFfmpeg(output, &decodedRate);
    QVERIFY(!samples.empty());
    const double hz =
        testsupport::zeroCrossingFrequency(samples.data(), samples.size(), decodedRate);
    QVERIFY2(std::abs(hz - 440.0) < 5.0, qPrintable(QString::number(hz)));

    if (format != RingtoneFormat::Wav) {
        // One event-loop pass after each 20000-byte pull, at least.
        const qint64 pcmBytes = qint64(seconds * rate.toInt()) * channels * 2;
        QVERIFY(observer.passes >= pcmBytes / 20000);
    }
    QCOMPARE(strayFiles(m_out->path(), {QFileInfo(output).fileName()}), QStringList());
}

void TestRender::wavIsTheEditorsFile() {
    FakeEditor fake;
    CountingObserver observer;
    const QString output = m_out->filePath(QStringLiteral("tone.wav"));
    const auto result = renderRingtone(output, choices(RingtoneFormat::Wav, "16000", "64", 1, 0),
                                       fake.editor(), observer);
    QVERIFY(result.ok());
    QCOMPARE(readAll(output), readAll(fake.outAudioFile));
    QVERIFY(QFileInfo(output).permission(QFile::ReadOther)); // not a private temporary file
}

void TestRender::clampedBitrateIsReported() {
    // lame cannot put 320 kbit/s into 22050 Hz: it makes 160 and says nothing.
    FakeEditor fake;
    CountingObserver observer;
    const QString output = m_out->filePath(QStringLiteral("loud.mp3"));
    const auto result = renderRingtone(output, choices(RingtoneFormat::Mp3, "22050", "320", 1, 0),
                                       fake.editor(), observer);
    QVERIFY(result.ok());
    QVERIFY(QFile::exists(output));
    QVERIFY2(result->note.contains(QStringLiteral("160 kbit/s")) &&
                 result->note.contains(QStringLiteral("320 kbit/s")),
             qPrintable(result->note));
}

void TestRender::shellCharactersInName() {
    const QString name = QStringLiteral("it's a \"tone\" $HOME; touch x `id` & y.mp3");
    const QString output = m_out->filePath(name);
    FakeEditor fake;
    CountingObserver observer;
    const auto result = renderRingtone(output, choices(RingtoneFormat::Mp3, "16000", "64", 0, 0),
                                       fake.editor(), observer);
    QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
    QCOMPARE(testsupport::probe(output).codec, QStringLiteral("mp3"));
    QCOMPARE(strayFiles(m_out->path(), {name}), QStringList());
    QVERIFY(!QFile::exists(QStringLiteral("x")));
}

void TestRender::failuresKeepExistingFile_data() {
    QTest::addColumn<RingtoneFormat>("format");
    QTest::addColumn<QString>("fakeAsEncoder"); // options of the stand-in, or empty
    QTest::addColumn<bool>("noEncoderAnywhere");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<int>("sectionIndex");
    QTest::addColumn<QString>("expected"); // in the message

    QTest::newRow("encoder exits non-zero")
        << RingtoneFormat::Mp3
        << "--fake-out-last-arg --fake-exit=2 --fake-message=Could_not_write_frame" << false
        << "22050"
        << "128" << 0 << "Could not write frame";
    QTest::newRow("encoder crashes")
        << RingtoneFormat::Ogg << "--fake-out-last-arg --fake-crash" << false << "22050"
        << "128" << 0 << "crashed";
    QTest::newRow("encoder hangs") << RingtoneFormat::Mp3 << "--fake-hang" << false << "44100"
                                   << "128" << 0 << "stopped taking input";
    QTest::newRow("encoder hangs at the end")
        << RingtoneFormat::Mp3 << "--fake-out-last-arg --fake-hang-after" << false << "22050"
        << "128" << 0 << "stopped responding";
    QTest::newRow("encoder stops reading")
        << RingtoneFormat::Ogg << "--fake-out-last-arg --fake-read=1000" << false << "22050"
        << "128" << 0 << "stopped reading";
    QTest::newRow("encoder missing") << RingtoneFormat::Ogg << "" << true << "22050"
                                     << "128" << 0 << "oggenc";
    QTest::newRow("refused rate and bitrate")
        << RingtoneFormat::Ogg << "" << false << "24000"
        << "8" << 0 << "Mode initialisation failed: invalid parameters for bitrate";
    QTest::newRow("nothing selected") << RingtoneFormat::Wav << "" << false << "22050"
                                      << "128" << 1 << "Nothing is selected";
    QTest::newRow("no section choice") << RingtoneFormat::Mp3 << "" << false << "22050"
                                       << "128" << -1 << "entire song";
}

void TestRender::failuresKeepExistingFile() {
    QFETCH(RingtoneFormat, format);
    QFETCH(QString, fakeAsEncoder);
    QFETCH(bool, noEncoderAnywhere);
    QFETCH(QString, rate);
    QFETCH(QString, bitrate);
    QFETCH(int, sectionIndex);
    QFETCH(QString, expected);

    const QString encoderName = format == RingtoneFormat::Mp3 ? "lame" : "oggenc";
    if (!fakeAsEncoder.isEmpty()) {
        QVERIFY(QFile::link(testsupport::toolsFolder() + QStringLiteral("/fake_encoder"),
                            m_app->filePath(encoderName)));
        qputenv("FAKE_ENCODER", fakeAsEncoder.toUtf8());
        setEncoderTimeLimits(400, 400);
    }
    QTemporaryDir bin;
    if (noEncoderAnywhere) {
        // A PATH with nothing but the ffmpeg the stand-in editor needs.
        QVERIFY(QFile::link(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
                            bin.filePath(QStringLiteral("ffmpeg"))));
        qputenv("PATH", bin.path().toUtf8());
    }

    const QString output = m_out->filePath(QStringLiteral("tone") + ringtoneExtension(format));
    QVERIFY(writeFile(output, "old ringtone"));
    FakeEditor fake;
    fake.emptySelection = true;
    CountingObserver observer;
    RenderChoices c = choices(format, "", "", 1, sectionIndex);
    c.sampleRateText = rate;
    c.bitrateText = bitrate;
    const auto result = renderRingtone(output, c, fake.editor(), observer);

    QVERIFY(!result.ok());
    QVERIFY2(result.error().message.contains(expected), qPrintable(result.error().message));
    QCOMPARE(readAll(output), QByteArray("old ringtone"));
    QCOMPARE(strayFiles(m_out->path(), {QStringLiteral("tone") + ringtoneExtension(format)}),
             QStringList());
    QCOMPARE(RingtoneFile, output);
    QCOMPARE(observer.finishedCalls, observer.preparingCalls);
}

void TestRender::readOnlyFolder() {
    // Root writes into a folder without write permission, so use one nobody can create in.
    QString folder;
    if (::geteuid() == 0) {
        folder = QStringLiteral("/proc");
    } else {
        folder = m_out->filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }
    for (RingtoneFormat format : {RingtoneFormat::Wav, RingtoneFormat::Ogg}) {
        FakeEditor fake;
        CountingObserver observer;
        const QString output = folder + QStringLiteral("/tone") + ringtoneExtension(format);
        const auto result =
            renderRingtone(output, choices(format, "22050", "96", 1, 0), fake.editor(), observer);
        QVERIFY(!result.ok());
        QVERIFY2(result.error().message.contains(folder), qPrintable(result.error().message));
        QVERIFY(!QFile::exists(output));
        QCOMPARE(observer.finishedCalls, 1);
    }
}

void TestRender::namesUpToTheSystemsLimit_data() {
    QTest::addColumn<int>("nameBytes"); // with the extension
    QTest::addColumn<bool>("renders");
    QTest::newRow("244 bytes") << 244 << true;
    QTest::newRow("255 bytes") << 255 << true;
    QTest::newRow("256 bytes") << 256 << false;
}

void TestRender::namesUpToTheSystemsLimit() {
    QFETCH(int, nameBytes);
    QFETCH(bool, renders);
    const QString name = QString(nameBytes - 4, QLatin1Char('n')) + QStringLiteral(".mp3");
    FakeEditor fake;
    CountingObserver observer;
    const auto result =
        renderRingtone(m_out->filePath(name), choices(RingtoneFormat::Mp3, "16000", "64", 0, 0),
                       fake.editor(), observer);
    QCOMPARE(result.ok(), renders);
    if (renders)
        QCOMPARE(testsupport::probe(m_out->filePath(name)).codec, QStringLiteral("mp3"));
    else
        QVERIFY2(result.error().message.contains(QStringLiteral("cannot be used as a file name")),
                 qPrintable(result.error().message));
    QCOMPARE(strayFiles(m_out->path(), renders ? QStringList{name} : QStringList{}), QStringList());
}

void TestRender::linksPlantedInTheAppFolder_data() {
    QTest::addColumn<bool>("faded"); // else copied
    QTest::newRow("faded") << true;
    QTest::newRow("copied") << false;
}

void TestRender::linksPlantedInTheAppFolder() {
    // The temporary WAV swapped for a link to someone's file once the editor wrote it: that
    // file is neither faded nor delivered as the ringtone.
    QFETCH(bool, faded);
    const QString victim = m_out->filePath(QStringLiteral("someone's.wav"));
    QVERIFY(testsupport::makeTone(victim, 1.0, 8000, 1,
                                  {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}));
    const QByteArray victimBytes = readAll(victim);
    FakeEditor fake;
    fake.plantedLinkTo = victim;
    RenderChoices c = choices(RingtoneFormat::Wav, "8000", "64", 0, 0);
    c.shaping.fadeInSeconds = faded ? 0.5 : 0.0;
    CountingObserver observer;
    const QString output = m_out->filePath(QStringLiteral("tone.wav"));
    QVERIFY(!renderRingtone(output, c, fake.editor(), observer).ok());
    QCOMPARE(readAll(victim), victimBytes);
    QVERIFY(!QFile::exists(output));
}

QTEST_GUILESS_MAIN(TestRender)
#include "test_render.moc"
