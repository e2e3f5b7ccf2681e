#include "platform/ffmpeg/AudioProbe.h"

#include "platform/ffmpeg/FfmpegPtr.h"

#include <QFile>
#include <QFileInfo>

namespace chimora {

Result<AudioFileInfo> probeAudioFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (rc < 0)
        return Error::badInput(QStringLiteral("%1 could not be opened.").arg(name),
                               ff::errorText(rc));
    ff::FormatContextPtr format(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0)
        return Error::badInput(QStringLiteral("%1 is not a readable audio file.").arg(name),
                               ff::errorText(rc));
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return Error::badInput(QStringLiteral("%1 holds no audio.").arg(name));
    const AVStream* stream = raw->streams[index];
    const AVCodecParameters* par = stream->codecpar;

    AudioFileInfo info;
    info.codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    info.bitrateKbps = int((par->bit_rate + 500) / 1000);
    if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
        info.durationSeconds = double(stream->duration) * av_q2d(stream->time_base);
    else if (raw->duration > 0)
        info.durationSeconds = double(raw->duration) / AV_TIME_BASE;
    return info;
}

} // namespace chimora
