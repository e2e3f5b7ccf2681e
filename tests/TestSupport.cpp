#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cmath>

namespace testsupport {

int run(const QString& program, const QStringList& args, QString* output, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output += QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool makeTone(const QString& path, double seconds, int sampleRate, int channels,
              const QStringList& outputArgs, double frequency) {
    QStringList args{QStringLiteral("-v"),
                     QStringLiteral("error"),
                     QStringLiteral("-y"),
                     QStringLiteral("-f"),
                     QStringLiteral("lavfi"),
                     QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3")
                         .arg(frequency)
                         .arg(sampleRate)
                         .arg(seconds),
                     QStringLiteral("-ac"),
                     QString::number(channels)};
    args += outputArgs;
    args << path;
    return run(QStringLiteral("ffmpeg"), args) == 0 && QFile::exists(path);
}

Probe probe(const QString& path) {
    Probe result;
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
             QStringLiteral("a:0"), QStringLiteral("-show_entries"),
             QStringLiteral("stream=codec_name,sample_rate,channels,duration:format=duration"),
             QStringLiteral("-of"), QStringLiteral("json"), path});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return result;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonArray streams = root.value(QStringLiteral("streams")).toArray();
    if (streams.isEmpty())
        return result;
    const QJsonObject s = streams.first().toObject();
    result.ok = true;
    result.codec = s.value(QStringLiteral("codec_name")).toString();
    result.sampleRate = s.value(QStringLiteral("sample_rate")).toString().toInt();
    result.channels = s.value(QStringLiteral("channels")).toInt();
    QString duration = s.value(QStringLiteral("duration")).toString();
    if (duration.isEmpty())
        duration = root.value(QStringLiteral("format"))
                       .toObject()
                       .value(QStringLiteral("duration"))
                       .toString();
    result.durationSeconds = duration.toDouble();
    return result;
}

std::vector<int16_t> decodeWithFfmpeg(const QString& path, int* sampleRate) {
    const Probe info = probe(path);
    if (sampleRate)
        *sampleRate = info.sampleRate;
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
             QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-f"),
             QStringLiteral("s16le"), QStringLiteral("-")});
    p.waitForFinished(60000);
    const QByteArray bytes = p.readAllStandardOutput();
    std::vector<int16_t> samples(size_t(bytes.size()) / 2);
    memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

double zeroCrossingFrequency(const int16_t* samples, size_t count, int sampleRate, int stride) {
    if (count < 2 || sampleRate <= 0)
        return 0;
    size_t crossings = 0;
    size_t first = 0, last = 0;
    for (size_t i = 1; i < count; ++i) {
        const int a = samples[(i - 1) * stride], b = samples[i * stride];
        if (a < 0 && b >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return double(crossings - 1) * sampleRate / double(last - first);
}

bool underCi() {
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

bool havePulseServer() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

QString pactl(const QStringList& args) {
    QString out;
    run(QStringLiteral("pactl"), args, &out, 10000);
    return out;
}

int recordStreamsOnServer() {
    const QString ours =
        QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    const QStringList streams = pactl({QStringLiteral("list"), QStringLiteral("source-outputs")})
                                    .split(QStringLiteral("Source Output #"), Qt::SkipEmptyParts);
    return int(std::count_if(streams.begin(), streams.end(),
                             [&](const QString& stream) { return stream.contains(ours); }));
}

ServerModule::ServerModule(const QStringList& args) {
    QString out;
    if (run(QStringLiteral("pactl"), QStringList{QStringLiteral("load-module")} + args, &out,
            10000) == 0)
        m_index = out.trimmed();
}

ServerModule::~ServerModule() {
    if (ok())
        pactl({QStringLiteral("unload-module"), m_index});
}

QString uniqueServerName(const QString& prefix) {
    return prefix + QString::number(QCoreApplication::applicationPid());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString toolsFolder() {
    // The stand-ins are built beside the test programs; CTest also says so explicitly.
    const QString folder = qEnvironmentVariable("CHIMORA_TEST_TOOLS");
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

} // namespace testsupport
