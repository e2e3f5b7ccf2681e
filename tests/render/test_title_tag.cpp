// Title tags written onto files the encoders made, read back with ffprobe, as a phone's media
// scanner would read them.

#include "TestSupport.h"

#include "platform/ffmpeg/AacEncoder.h"
#include "render/TitleTag.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace chimora;

namespace {

/// The title ffprobe finds in the container or in the audio stream (Ogg keeps it there).
QString probedTitle(const QString& path) {
    QString out;
    testsupport::run(QStringLiteral("ffprobe"),
                     {QStringLiteral("-v"), QStringLiteral("error"),
                      QStringLiteral("-show_entries"),
                      QStringLiteral("format_tags=title:stream_tags=title"), QStringLiteral("-of"),
                      QStringLiteral("default=nw=1:nk=1"), path},
                     &out);
    return out.split('\n', Qt::SkipEmptyParts).value(0).trimmed();
}

bool makeAac(const QString& path) {
    const int rate = 22050;
    std::vector<int16_t> s(static_cast<size_t>(rate));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(9000 * std::sin(2 * M_PI * 440 * double(i) / rate));
    auto encoder = AacEncoder::open(path, {rate, 1, 64});
    return encoder.ok() && encoder.value()->write(s.data(), int64_t(s.size())).ok() &&
           encoder.value()->finish().ok();
}

/// An encoded second of tone of `kind` ("mp3", "ogg", "aac", "wav") at `path`.
bool makeFile(const QString& kind, const QString& path, const QString& scratch) {
    if (kind == QLatin1String("aac"))
        return makeAac(path);
    const QString wav = kind == QLatin1String("wav") ? path : scratch;
    if (!testsupport::makeTone(wav, 1.0, 22050, 1,
                               {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}))
        return false;
    if (kind == QLatin1String("mp3"))
        return testsupport::run(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, path}) ==
               0;
    if (kind == QLatin1String("ogg"))
        return testsupport::run(QStringLiteral("oggenc"),
                                {QStringLiteral("-Q"), wav, QStringLiteral("-o"), path}) == 0;
    return true;
}

} // namespace

class TestTitleTag : public QObject {
    Q_OBJECT
private slots:
    // The kind is told by the content, so a misnamed file gets the right tag; a second write
    // replaces the first title; the audio decodes to the same samples as before.
    void titleIsReadBack_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        const QString cyrillic = QString::fromUtf8("Звонок ♪ утро");
        QTest::newRow("mp3") << "mp3"
                             << "tone.mp3"
                             << "Morning Bell";
        QTest::newRow("mp3, not Latin-1") << "mp3"
                                          << "tone.mp3" << cyrillic;
        QTest::newRow("ogg") << "ogg"
                             << "tone.ogg"
                             << "Morning Bell";
        QTest::newRow("ogg, not Latin-1") << "ogg"
                                          << "tone.ogg" << cyrillic;
        QTest::newRow("m4a") << "aac"
                             << "tone.m4a" << cyrillic;
        QTest::newRow("m4r") << "aac"
                             << "tone.m4r"
                             << "Morning Bell";
        QTest::newRow("m4a named .mp3") << "aac"
                                        << "tone.mp3"
                                        << "Morning Bell";
        QTest::newRow("mp3 named upload-temp.ogg") << "mp3"
                                                   << "upload-temp.ogg"
                                                   << "Bell";
    }
    void titleIsReadBack() {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QString, title);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QVERIFY(makeFile(kind, path, dir.filePath(QStringLiteral("scratch.wav"))));
        const std::vector<int16_t> audio = testsupport::decodeWithFfmpeg(path);
        QVERIFY(!audio.empty());

        const auto first = writeTitleTag(path, QStringLiteral("first name"));
        QVERIFY2(first.ok(), qPrintable(first.ok() ? QString() : first.error().message));
        const auto second = writeTitleTag(path, title);
        QVERIFY2(second.ok(), qPrintable(second.ok() ? QString() : second.error().message));

        QCOMPARE(probedTitle(path), title);
        if (kind == QLatin1String("mp3")) // the version older phones read too
            QVERIFY(testsupport::readFile(path).startsWith(QByteArray("ID3\x03", 4)));
        QVERIFY(testsupport::decodeWithFfmpeg(path) == audio);
    }

    // WAV stays byte for byte; a file of no kind we tag is refused and left as it was.
    void otherFilesAreLeftAsTheyAre_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("ok");
        QTest::addRow("wav") << "wav" << true;
        QTest::addRow("text") << "text" << false;
        QTest::addRow("empty") << "empty" << false;
    }
    void otherFilesAreLeftAsTheyAre() {
        QFETCH(QString, kind);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString name =
            kind == QLatin1String("wav") ? QStringLiteral("tone.wav") : QStringLiteral("tone.mp3");
        const QString path = dir.filePath(name);
        if (kind == QLatin1String("wav")) {
            QVERIFY(makeFile(kind, path, {}));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (kind == QLatin1String("text"))
                f.write(
                    QByteArray("not audio at all, but long enough to be looked at\n").repeated(40));
        }
        const QByteArray before = testsupport::readFile(path);
        const auto r = writeTitleTag(path, QStringLiteral("Bell"));
        QCOMPARE(r.ok(), ok);
        if (!ok) {
            QCOMPARE(r.error().kind, Error::Kind::BadInput);
            QVERIFY(r.error().message.contains(name));
        }
        QCOMPARE(testsupport::readFile(path), before);
    }

    void missingFileIsAnError() {
        QTemporaryDir dir;
        const auto r = writeTitleTag(dir.filePath(QStringLiteral("gone.mp3")), QStringLiteral("x"));
        QVERIFY(!r.ok());
        QCOMPARE(r.error().kind, Error::Kind::Environment);
    }
};

QTEST_GUILESS_MAIN(TestTitleTag)
#include "test_title_tag.moc"
