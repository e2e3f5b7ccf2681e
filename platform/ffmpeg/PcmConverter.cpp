#include "platform/ffmpeg/PcmConverter.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QLoggingCategory>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcConvert, "chimora.convert")

// Frames that state no usable layout (unspecified order, or none) get the default layout for
// their channel count.
void frameLayout(const AVFrame& f, AVChannelLayout& layout) {
    if (f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f.ch_layout.nb_channels <= 0)
        av_channel_layout_default(&layout, std::max(1, f.ch_layout.nb_channels));
    else
        av_channel_layout_copy(&layout, &f.ch_layout);
}

} // namespace

namespace ff {

ResamplerPtr makeResampler(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate,
                           const AVChannelLayout& outLayout, AVSampleFormat outFormat, int outRate,
                           ResampleQuality quality) {
    const bool tryHigh = quality == ResampleQuality::High && inRate != outRate;
    for (bool soxr : {tryHigh, false}) {
        SwrContext* s = nullptr;
        // FFmpeg 5.1 takes the layouts as non-const but only reads them.
        if (swr_alloc_set_opts2(&s, const_cast<AVChannelLayout*>(&outLayout), outFormat, outRate,
                                const_cast<AVChannelLayout*>(&inLayout), inFormat, inRate, 0,
                                nullptr) < 0)
            return nullptr;
        ResamplerPtr candidate(s);
        // soxr dithers whatever it writes as integers, with noise seeded from the clock, so
        // two renders of one section differed by a unit or two in half their samples. Working
        // in float, it leaves the rounding to 16 bits to swresample, which does not dither.
        if (soxr && (av_opt_set(s, "resampler", "soxr", 0) < 0 ||
                     av_opt_set_sample_fmt(s, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0) < 0))
            continue;
        if (swr_init(s) >= 0)
            return candidate;
        if (!soxr)
            break;
        qCDebug(lcConvert) << "the soxr engine refused" << inRate << "to" << outRate;
    }
    return nullptr;
}

} // namespace ff

PcmConverter::~PcmConverter() {
    av_channel_layout_uninit(&m_inLayout);
}

Result<int> PcmConverter::prepare(const AVFrame& frame) {
    const int inRate = frame.sample_rate > 0 ? frame.sample_rate : m_fallbackRate;
    if (inRate <= 0)
        return Error::badInput(QStringLiteral("no sample rate"));
    AVChannelLayout inLayout{};
    frameLayout(frame, inLayout);
    if (!m_out.isValid())
        m_out = {inRate, std::min(2, inLayout.nb_channels)};
    if (!m_swr || frame.format != m_inFormat || inRate != m_inRate ||
        av_channel_layout_compare(&inLayout, &m_inLayout) != 0) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, m_out.channels);
        m_swr = ff::makeResampler(inLayout, AVSampleFormat(frame.format), inRate, outLayout,
                                  AV_SAMPLE_FMT_S16, m_out.sampleRate);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&m_inLayout);
        std::swap(m_inLayout, inLayout);
        m_inFormat = AVSampleFormat(frame.format);
        m_inRate = inRate;
    }
    av_channel_layout_uninit(&inLayout);
    if (!m_swr)
        return Error::badInput(QStringLiteral("the samples cannot be converted"));
    return std::max(0, swr_get_out_samples(m_swr.get(), frame.nb_samples));
}

Result<int> PcmConverter::convert(const AVFrame& frame, int16_t* dst, int capacity) {
    auto* out = reinterpret_cast<uint8_t*>(dst);
    const int n = swr_convert(m_swr.get(), &out, capacity,
                              const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    if (n < 0)
        return Error::badInput(ff::errorText(n));
    return n;
}

int PcmConverter::drain(int16_t* dst, int capacity) {
    if (!m_swr)
        return 0;
    auto* out = reinterpret_cast<uint8_t*>(dst);
    return std::max(0, swr_convert(m_swr.get(), &out, capacity, nullptr, 0));
}

} // namespace chimora
