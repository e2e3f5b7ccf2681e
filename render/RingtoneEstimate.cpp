#include "render/RingtoneEstimate.h"

#include "platform/core/AppFolder.h"
#include "platform/core/ChildProcess.h"
#include "platform/wav/WavHeader.h"
#include "platform/wav/WavWriter.h"
#include "render/EncoderCommands.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>

namespace chimora {

namespace {

constexpr int kLameDefaultKbps = 128;
/// lame's encoder delay plus the decoder delay it pads for, in frames.
constexpr int64_t kLamePaddingFrames = 576 + 529;
/// Vorbis at oggenc's default quality 3, roughly, for when no bitrate is chosen.
constexpr int kVorbisDefaultKbps = 112;
/// The identification, comment and setup headers: a few KB, most of it the setup's codebooks.
constexpr int64_t kVorbisNominalHeaderBytes = 4000;

constexpr double kVorbisSampleSeconds = 8.0;
constexpr double kVorbisPieceSeconds = kVorbisSampleSeconds / 3;

struct VorbisRange {
    int rateHz;
    int mono[2];
    int stereo[2];
};
// oggenc 1.4.2's accepted bitrates at the rates of the list (measured).
constexpr std::array<VorbisRange, 7> kVorbisRanges{{
    {32000, {32, 160}, {48, 320}},
    {24000, {16, 80}, {32, 160}},
    {22050, {16, 80}, {32, 160}},
    {16000, {16, 96}, {32, 192}},
    {12000, {16, 48}, {16, 96}},
    {11025, {16, 48}, {16, 96}},
    {8000, {8, 32}, {16, 80}},
}};

QString channelText(int channels) {
    return channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
}

QString lengthText(double seconds) {
    const int64_t tenths = std::llround(std::max(0.0, seconds) * 10.0);
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600)
        .arg((tenths % 600) / 10, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString sizeText(int64_t bytes) {
    const double kb = double(bytes) / 1024.0;
    if (kb < 1024.0)
        return QStringLiteral("about %1 KB").arg(std::max<int64_t>(1, std::llround(kb)));
    return QStringLiteral("about %1 MB").arg(kb / 1024.0, 0, 'f', 1);
}

int64_t mp3Bytes(int64_t frames, int rateHz, int bitrateKbps) {
    const int64_t framesPerMp3Frame = rateHz >= 32000 ? 1152 : 576;
    // One more frame before the audio carries lame's information tag.
    const int64_t mp3Frames =
        (frames + kLamePaddingFrames + framesPerMp3Frame - 1) / framesPerMp3Frame + 1;
    return std::llround(double(mp3Frames * framesPerMp3Frame) * bitrateKbps * 125.0 / rateHz);
}

/// Sum of the sizes of the Ogg pages that come before the first audio page (granule 0).
std::optional<int64_t> oggHeaderBytes(const QByteArray& ogg) {
    int64_t at = 0;
    while (at + 27 <= ogg.size()) {
        if (ogg.mid(at, 4) != "OggS")
            return std::nullopt;
        const auto granule = qFromLittleEndian<qint64>(ogg.constData() + at + 6);
        const int segments = uchar(ogg[qsizetype(at + 26)]);
        if (at + 27 + segments > ogg.size())
            return std::nullopt;
        int64_t body = 0;
        for (int i = 0; i < segments; ++i)
            body += uchar(ogg[qsizetype(at + 27 + i)]);
        if (granule != 0)
            return at;
        at += 27 + segments + body;
    }
    return std::nullopt;
}

} // namespace

LameOutcome lameOutcome(int rateHz, int channels, int bitrateKbps) {
    int kbps = bitrateKbps > 0 ? bitrateKbps : kLameDefaultKbps;
    kbps = std::min(kbps, rateHz >= 32000 ? 320 : rateHz >= 16000 ? 160 : 64);
    int highestRate; // the highest rate the bitrate can fill
    if (channels == 2)
        highestRate = kbps >= 80   ? rateHz
                      : kbps >= 56 ? 24000
                      : kbps >= 48 ? 22050
                      : kbps >= 32 ? 16000
                                   : 8000;
    else
        highestRate = kbps >= 48 ? rateHz : kbps >= 32 ? 22050 : kbps >= 16 ? 16000 : 8000;
    return {std::min(rateHz, highestRate), kbps};
}

std::optional<std::pair<int, int>> vorbisBitrateRange(int rateHz, int channels) {
    for (const VorbisRange& r : kVorbisRanges)
        if (r.rateHz == rateHz)
            return channels == 2 ? std::pair{r.stereo[0], r.stereo[1]}
                                 : std::pair{r.mono[0], r.mono[1]};
    return std::nullopt;
}

RingtoneEstimate estimateRingtone(const EstimateRequest& request) {
    RingtoneEstimate estimate;
    const int sourceRate = std::max(1, request.sourceRateHz);
    const int rate = request.rateHz > 0 ? request.rateHz : sourceRate;
    const int channels =
        request.channels > 0 ? request.channels : std::clamp(request.sourceChannels, 1, 2);
    const int64_t frames = resampledFrames(std::max<int64_t>(0, request.frames), sourceRate, rate);
    estimate.seconds = double(frames) / rate;
    estimate.rateHz = rate;

    if (request.format == RingtoneFormat::Wav) {
        estimate.bytes = 44 + frames * channels * 2;
    } else if (request.format == RingtoneFormat::Mp3) {
        const LameOutcome lame = lameOutcome(rate, channels, request.bitrateKbps);
        estimate.rateHz = lame.rateHz;
        estimate.bitrateKbps = lame.bitrateKbps;
        estimate.bytes =
            mp3Bytes(resampledFrames(frames, rate, lame.rateHz), lame.rateHz, lame.bitrateKbps);
        QStringList got, asked;
        if (lame.rateHz != rate) {
            got << QStringLiteral("%1 Hz").arg(lame.rateHz);
            asked << QStringLiteral("%1 Hz").arg(rate);
        }
        if (request.bitrateKbps > 0 && lame.bitrateKbps != request.bitrateKbps) {
            got << QStringLiteral("%1 kbit/s").arg(lame.bitrateKbps);
            asked << QStringLiteral("%1 kbit/s").arg(request.bitrateKbps);
        }
        if (!got.isEmpty())
            estimate.warnings << QStringLiteral("The MP3 encoder will use %1 instead of %2.")
                                     .arg(got.join(QStringLiteral(", ")),
                                          asked.join(QStringLiteral(", ")));
    } else if (request.format == RingtoneFormat::Ogg) {
        const auto range = vorbisBitrateRange(rate, channels);
        if (request.bitrateKbps > 0 && range &&
            (request.bitrateKbps < range->first || request.bitrateKbps > range->second)) {
            estimate.warnings << QStringLiteral("The Ogg Vorbis encoder cannot make %1 kbit/s at "
                                                "%2 Hz %3: choose %4 to %5 kbit/s.")
                                     .arg(request.bitrateKbps)
                                     .arg(rate)
                                     .arg(channelText(channels))
                                     .arg(range->first)
                                     .arg(range->second);
        } else {
            estimate.bitrateKbps =
                request.bitrateKbps > 0 ? request.bitrateKbps : kVorbisDefaultKbps;
            estimate.bytes =
                request.vorbisBytesPerSecond > 0
                    ? request.vorbisHeaderBytes +
                          std::llround(request.vorbisBytesPerSecond * estimate.seconds)
                    : kVorbisNominalHeaderBytes +
                          std::llround(estimate.bitrateKbps * 125.0 * estimate.seconds);
        }
    }

    if (estimate.seconds > kIphoneMaxRingtoneSeconds)
        estimate.warnings.prepend(
            QStringLiteral("Longer than %1 seconds: an iPhone will not take it as a ringtone.")
                .arg(kIphoneMaxRingtoneSeconds));
    if (estimate.bytes > kMailMaxAttachmentBytes)
        estimate.warnings << QStringLiteral("Larger than %1 MB: many mail servers refuse it.")
                                 .arg(kMailMaxAttachmentBytes / (1024 * 1024));
    return estimate;
}

QString RingtoneEstimate::text() const {
    QString line = lengthText(seconds);
    if (bytes > 0)
        line += QStringLiteral(", ") + sizeText(bytes);
    if (!warnings.isEmpty())
        line += QStringLiteral(". ") + warnings.join(QLatin1Char(' '));
    return line;
}

Result<VorbisRate> measureVorbisRate(const AudioSnapshot& audio, int64_t from, int64_t to,
                                     const OutputFormat& format, int bitrateKbps) {
    from = std::clamp<int64_t>(from, 0, audio.frames());
    to = std::clamp<int64_t>(to, from, audio.frames());
    const int sourceRate = audio.format().sampleRate;
    if (to == from || sourceRate <= 0)
        return Error::badInput(QStringLiteral("There is no audio to measure."));
    const int rate = format.sampleRate > 0 ? format.sampleRate : sourceRate;
    const int channels = format.channels > 0 ? format.channels : audio.format().channels;

    // Pieces from the beginning, middle and end: a ringtone's parts differ in how much the
    // encoder spends on them.
    std::vector<std::pair<int64_t, int64_t>> pieces;
    const auto pieceFrames = int64_t(kVorbisPieceSeconds * sourceRate);
    if (to - from <= int64_t(kVorbisSampleSeconds * sourceRate)) {
        pieces.emplace_back(from, to);
    } else {
        for (const double where : {0.15, 0.5, 0.85}) {
            const int64_t start = from + int64_t((to - from - pieceFrames) * where);
            pieces.emplace_back(start, start + pieceFrames);
        }
    }

    QTemporaryDir work;
    if (!work.isValid())
        return Error::environment(QStringLiteral("No temporary folder for measuring the size."));
    QByteArray pcm;
    for (const auto& [start, end] : pieces) {
        const QString piece = work.filePath(QStringLiteral("piece.wav"));
        const auto written = writeWavFile(audio, start, end, {rate, channels, 0}, piece);
        if (!written.ok())
            return written.error();
        QFile in(piece);
        if (!in.open(QIODevice::ReadOnly))
            return Error::environment(QStringLiteral("The measuring sample could not be read."));
        pcm += in.readAll().mid(wavHeader(rate, channels, 0).size());
    }

    const QString program = findProgram(QStringLiteral("oggenc"));
    if (program.isEmpty())
        return Error::environment(QStringLiteral("The Ogg Vorbis encoder (oggenc) was not found."));
    const QString output = work.filePath(QStringLiteral("sample.ogg"));
    const EncoderCommand command = oggencCommand(program, channels, bitrateKbps, channels, output);
    ChildProcess encoder;
    const auto started = encoder.start(command.program, command.arguments);
    if (!started.ok())
        return started.error();
    auto fed = encoder.write(wavHeader(rate, channels, uint32_t(pcm.size())));
    if (fed.ok())
        fed = encoder.write(pcm);
    if (fed.ok())
        fed = encoder.finishInput();
    const ProcessExit exit = encoder.waitForExit(30000);
    if (!fed.ok() || !exit.succeeded())
        return Error::environment(QStringLiteral("The Ogg Vorbis encoder refused the sample."),
                                  QString::fromLocal8Bit(encoder.errorOutput()));

    QFile ogg(output);
    if (!ogg.open(QIODevice::ReadOnly))
        return Error::environment(QStringLiteral("The Ogg Vorbis sample could not be read."));
    const QByteArray bytes = ogg.readAll();
    const std::optional<int64_t> header = oggHeaderBytes(bytes);
    if (!header)
        return Error::environment(QStringLiteral("The Ogg Vorbis sample is not an Ogg stream."));
    const double seconds = double(pcm.size() / (2 * channels)) / rate;
    return VorbisRate{double(bytes.size() - *header) / seconds, *header};
}

} // namespace chimora
