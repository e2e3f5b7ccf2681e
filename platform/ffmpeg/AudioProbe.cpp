#include "platform/ffmpeg/AudioProbe.h"

#include "platform/ffmpeg/AudioInput.h"

namespace chimora {

Result<AudioFileInfo> probeAudioFile(const QString& path) {
    auto opened = AudioInput::open(path);
    if (!opened)
        return opened.error();
    const AudioInput& input = *opened.value();
    const AVCodecParameters* par = input.stream().codecpar;

    AudioFileInfo info;
    info.codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    info.bitrateKbps = int((par->bit_rate + 500) / 1000);
    if (par->sample_rate > 0)
        info.durationSeconds = double(input.lengthFrames(par->sample_rate)) / par->sample_rate;
    return info;
}

} // namespace chimora
