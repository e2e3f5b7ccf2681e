#include "render/RingtoneRender.h"

#include "platform/bass/Bass.h"
#include "platform/bass/BassEncode.h"
#include "platform/bass/BassStream.h"
#include "platform/core/AppFolder.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/FileName.h"
#include "platform/core/UniqueFd.h"
#include "platform/ffmpeg/AudioProbe.h"
#include "render/EncoderCommands.h"
#include "render/RenderState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>

namespace chimora {

void RenderObserver::processEvents() {
    QCoreApplication::processEvents();
}

namespace {

constexpr DWORD kPullBytes = 20000;
const QString kTempWavName = QStringLiteral("output1-temp.wav");

/// The output file, reserved beside `target` under a temporary name: checks first what would
/// make writing it pointless, so the messages can say what to choose instead.
Result<std::unique_ptr<AtomicFile>> reserveOutput(const QString& target, LinkPolicy links) {
    const QFileInfo info(target);
    if (info.fileName().isEmpty() || info.isDir())
        return Error::badInput(
            QStringLiteral("%1 is a folder, not a file name. Choose a file name for the "
                           "ringtone.")
                .arg(QDir::toNativeSeparators(target)));
    if (const QString problem = fileNameProblem(info.fileName()); !problem.isEmpty())
        return Error::badInput(
            QStringLiteral("\"%1\" cannot be used as a file name: %2. Choose a shorter name.")
                .arg(info.fileName(), problem));
    if (info.exists() && !info.isWritable())
        return Error::environment(
            QStringLiteral("%1 is read-only and was left as it is. Choose another name or "
                           "folder.")
                .arg(QDir::toNativeSeparators(target)));
    if (!info.dir().exists())
        return Error::badInput(
            QStringLiteral("The folder %1 does not exist. Choose another folder.")
                .arg(QDir::toNativeSeparators(info.absolutePath())));
    auto file = std::make_unique<AtomicFile>(target, links);
    if (!file->open())
        return Error::environment(
            QStringLiteral("The ringtone cannot be written in the folder %1: %2. Choose "
                           "another folder.")
                .arg(QDir::toNativeSeparators(info.absolutePath()), file->errorString()));
    return file;
}

Result<void> copyInto(const QString& source, QFile& target) {
    // The scratch file of a fixed name: a link put in its place is not followed.
    UniqueFd fd(::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    QFile in;
    if (!fd.isOpen() || !in.open(fd.get(), QIODevice::ReadOnly))
        return Error::internal(
            QStringLiteral("The prepared audio (%1) could not be read.").arg(kTempWavName),
            fd.isOpen() ? in.errorString() : QString::fromLocal8Bit(std::strerror(errno)));
    std::vector<char> buf(1 << 20);
    for (;;) {
        const qint64 n = in.read(buf.data(), qint64(buf.size()));
        if (n < 0)
            return Error::internal(
                QStringLiteral("The prepared audio (%1) could not be read.").arg(kTempWavName),
                in.errorString());
        if (n == 0)
            break;
        if (target.write(buf.data(), n) != n)
            return Error::environment(
                QStringLiteral("The ringtone could not be written: %1").arg(target.errorString()));
    }
    if (!target.flush())
        return Error::environment(
            QStringLiteral("The ringtone could not be written: %1").arg(target.errorString()));
    return {};
}

struct EncoderChoice {
    QString name;        ///< program name
    QString description; ///< for people
    QString package;     ///< where it comes from
};

EncoderChoice encoderFor(RingtoneFormat format) {
    if (format == RingtoneFormat::Mp3)
        return {QStringLiteral("lame"), QStringLiteral("MP3 encoder"), QStringLiteral("lame")};
    return {QStringLiteral("oggenc"), QStringLiteral("Ogg Vorbis encoder"),
            QStringLiteral("vorbis-tools")};
}

/// Streams the temporary WAV through the encoder into `pending`, pulling it through a decode
/// stream that feeds the encoder's input, while the progress window follows.
Result<void> encode(const QString& wavPath, RingtoneFormat format, int channels, int bitrateKbps,
                    int sampleRateHz, AtomicFile& pending, RenderObserver& observer,
                    bool& finishedCalled) {
    BASS_StreamFree(EncodeStream); // the previous render's, if any is left
    EncodeStream = BASS_StreamCreateFile(FALSE, QFile::encodeName(wavPath).constData(), 0, 0,
                                         BASS_STREAM_DECODE);
    if (!EncodeStream)
        return Error::internal(
            QStringLiteral("The prepared audio (%1) could not be read (audio error %2).")
                .arg(kTempWavName)
                .arg(BASS_ErrorGetCode()));

    const EncoderChoice encoder = encoderFor(format);
    const QString program = findProgram(encoder.name);
    if (program.isEmpty()) {
        BASS_StreamFree(EncodeStream);
        EncodeStream = 0;
        return Error::environment(
            QStringLiteral("The %1 (%2) was not found. Install the package %3, or put %2 into "
                           "%4.")
                .arg(encoder.description, encoder.name, encoder.package,
                     QDir::toNativeSeparators(appFolder())));
    }

    // The WAV the editor wrote decides what the encoder gets; its header travels with the PCM.
    BASS_CHANNELINFO fed{};
    BASS_ChannelGetInfo(EncodeStream, &fed);
    const int fedRate = int(fed.freq);
    const int fedChannels = int(fed.chans);
    const EncoderCommand command =
        format == RingtoneFormat::Mp3
            ? lameCommand(program, channels, bitrateKbps, sampleRateHz, fedRate,
                          pending.temporaryPath())
            : oggencCommand(program, channels, bitrateKbps, fedChannels, pending.temporaryPath());

    if (!BASS_Encode_Start(EncodeStream, command, BASS_ENCODE_AUTOFREE, nullptr, nullptr)) {
        BASS_ChannelStop(EncodeStream);
        BASS_StreamFree(EncodeStream);
        EncodeStream = 0;
        const EncoderOutcome outcome = bass::lastEncoderOutcome();
        return Error::environment(QStringLiteral("The %1 could not be started: %2")
                                      .arg(encoder.description, outcome.failure));
    }

    observer.encodingStarted();
    std::vector<char> buffer(kPullBytes + 1);
    while (BASS_ChannelIsActive(EncodeStream)) {
        BASS_ChannelGetData(EncodeStream, buffer.data(), kPullBytes);
        observer.processEvents();
        // An encoder that has given up gets nothing more: no reason to decode on.
        if (!BASS_Encode_IsActive(EncodeStream))
            break;
    }

    finishedCalled = true;
    observer.finished();
    observer.processEvents();
    BASS_StreamFree(EncodeStream); // closes the encoder's input and waits for it to finish

    const EncoderOutcome outcome = bass::lastEncoderOutcome();
    if (!outcome.succeeded())
        return Error::environment(
            QStringLiteral("The ringtone could not be encoded: %1").arg(outcome.failure),
            QString::fromLocal8Bit(outcome.errorOutput));
    return {};
}

/// The loudness target and peak ceiling for the WAV an encoder is fed, so that the decoded
/// ringtone meets them. lame 3.100 gives back every signal 0.4 dB lower than it got (measured
/// at every rate, on sines and noise), but short peaks come out of both lossy encoders up to
/// about 0.6 dB higher or lower, unpredictably; and other meters oversample differently from
/// libebur128 by about 0.1 dB.
void aimShapingAt(RingtoneFormat format, RenderShaping& shaping) {
    const double encoderLossDb = format == RingtoneFormat::Mp3 ? 0.4 : 0.0;
    const double peakHeadroomDb = format == RingtoneFormat::Wav ? 0.2 : 1.0;
    shaping.loudnessTargetLufs = kTargetLoudnessLufs + encoderLossDb;
    shaping.peakCeilingDbtp = kTruePeakCeilingDbtp - peakHeadroomDb;
}

QString describeDifferences(const QString& outputPath, const AudioFileInfo& got, int rateHz,
                            int channels, int bitrateKbps) {
    QStringList gotParts, askedParts;
    if (rateHz > 0 && got.sampleRate != rateHz) {
        gotParts << QStringLiteral("%1 Hz").arg(got.sampleRate);
        askedParts << QStringLiteral("%1 Hz").arg(rateHz);
    }
    auto channelText = [](int n) {
        return n == 1   ? QStringLiteral("mono")
               : n == 2 ? QStringLiteral("stereo")
                        : QStringLiteral("%1 channels").arg(n);
    };
    if (channels > 0 && got.channels != channels) {
        gotParts << channelText(got.channels);
        askedParts << channelText(channels);
    }
    if (bitrateKbps > 0 && got.bitrateKbps > 0 && got.bitrateKbps != bitrateKbps) {
        gotParts << QStringLiteral("%1 kbit/s").arg(got.bitrateKbps);
        askedParts << QStringLiteral("%1 kbit/s").arg(bitrateKbps);
    }
    if (gotParts.isEmpty())
        return {};
    return QStringLiteral("The ringtone %1 was made with %2 instead of the chosen %3: the "
                          "encoder changes what the chosen bitrate cannot carry at that sample "
                          "rate.")
        .arg(QDir::toNativeSeparators(outputPath), gotParts.join(QStringLiteral(", ")),
             askedParts.join(QStringLiteral(", ")));
}

} // namespace

Result<RenderReport> renderRingtone(const QString& outputPath, const RenderChoices& choices,
                                    const RenderEditor& editor, RenderObserver& observer,
                                    LinkPolicy outputLinks) {
    RingtoneFile = outputPath;
    observer.processEvents();

    const int channels = channelsFromIndex(choices.channelsIndex);
    const int rateHz = sampleRateFromText(choices.sampleRateText);
    const int bitrateKbps = bitrateFromText(choices.bitrateText);

    const QString wavPath = appFilePath(kTempWavName);
    if (editor.outAudioFile)
        *editor.outAudioFile = wavPath;
    QFile::remove(wavPath);
    observer.processEvents();

    if (editor.setFormat)
        editor.setFormat(rateHz, channels, bitrateKbps);

    observer.preparing();
    bool finishedCalled = false;
    struct FinishGuard {
        RenderObserver& observer;
        bool& called;
        ~FinishGuard() {
            if (!called)
                observer.finished();
        }
    } finishGuard{observer, finishedCalled};
    observer.processEvents();

    if (choices.sectionIndex != 0 && choices.sectionIndex != 1)
        return Error::badInput(QStringLiteral(
            "Choose on the editing page whether the entire song or only the selected section "
            "becomes the ringtone."));
    if (!choices.format)
        return Error::badInput(QStringLiteral("Choose the audio file format of the ringtone."));
    if (!editor.save)
        return Error::internal(QStringLiteral("The audio editor is not available."));
    const auto saved = editor.save(wavPath, choices.sectionIndex == 1, 1);
    if (!saved.ok())
        return saved.error();

    if (choices.shaping.changesAudio()) {
        RenderShaping shaping = choices.shaping;
        aimShapingAt(*choices.format, shaping);
        const auto shaped = shapeWavFile(wavPath, shaping);
        if (!shaped.ok())
            return shaped.error();
    }

    observer.converting();
    observer.processEvents();

    auto pending = reserveOutput(outputPath, outputLinks);
    if (!pending.ok())
        return pending.error();

    if (*choices.format == RingtoneFormat::Wav) {
        const auto copied = copyInto(wavPath, pending.value()->file());
        if (!copied.ok())
            return copied.error();
        observer.processEvents();
    } else {
        const auto encoded = encode(wavPath, *choices.format, channels, bitrateKbps, rateHz,
                                    *pending.value(), observer, finishedCalled);
        if (!encoded.ok())
            return encoded.error();
    }
    if (!finishedCalled) {
        finishedCalled = true;
        observer.finished();
        observer.processEvents();
    }

    if (!pending.value()->commit())
        return Error::environment(
            QStringLiteral("The ringtone could not be put in place as %1: %2")
                .arg(QDir::toNativeSeparators(outputPath), pending.value()->errorString()));

    RenderReport report;
    report.outputPath = outputPath;
    const auto got = probeAudioFile(outputPath);
    if (got.ok()) {
        const int askedBitrate = *choices.format == RingtoneFormat::Wav ? 0 : bitrateKbps;
        report.note = describeDifferences(outputPath, *got, rateHz, channels, askedBitrate);
    }
    return report;
}

} // namespace chimora
