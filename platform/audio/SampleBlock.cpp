#include "platform/audio/SampleBlock.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <limits>

namespace chimora {

namespace {

std::atomic<int64_t> g_sampleBytesMade{0};

constexpr Peak kEmptyPeak{std::numeric_limits<int16_t>::max(), std::numeric_limits<int16_t>::min()};

inline void merge(Peak& acc, Peak p) {
    acc.min = std::min(acc.min, p.min);
    acc.max = std::max(acc.max, p.max);
}

inline int64_t ceilDiv(int64_t a, int64_t b) {
    return (a + b - 1) / b;
}

// Merges every `ratio` consecutive entries per channel of `src` into one entry of `dst`.
void summarise(const std::vector<Peak>& src, int channels, int64_t ratio, std::vector<Peak>& dst) {
    const int64_t units = int64_t(src.size()) / channels;
    const int64_t outUnits = ceilDiv(units, ratio);
    dst.assign(size_t(outUnits * channels), kEmptyPeak);
    for (int64_t u = 0; u < units; ++u)
        for (int c = 0; c < channels; ++c)
            merge(dst[size_t((u / ratio) * channels + c)], src[size_t(u * channels + c)]);
}

// Min/max of every channel per fine unit. The channel count is a constant for mono and
// stereo, so the compiler can vectorise the inner loop; this runs over every sample loaded.
template <int C>
void fineSummary(const int16_t* samples, int channelsAtRun, int64_t frames, Peak* out) {
    const int ch = C > 0 ? C : channelsAtRun;
    for (int64_t from = 0; from < frames; from += SampleBlock::kFineFrames) {
        const int64_t to = std::min(frames, from + SampleBlock::kFineFrames);
        for (int c = 0; c < ch; ++c) {
            int16_t lo = std::numeric_limits<int16_t>::max();
            int16_t hi = std::numeric_limits<int16_t>::min();
            const int16_t* p = samples + from * ch + c;
            for (int64_t f = 0; f < to - from; ++f) {
                lo = std::min(lo, p[f * ch]);
                hi = std::max(hi, p[f * ch]);
            }
            *out++ = {lo, hi};
        }
    }
}

} // namespace

SampleBlock::SampleBlock(int channels, std::shared_ptr<const void> owner, const int16_t* samples,
                         int64_t frames)
    : m_channels(channels), m_frames(frames), m_owner(std::move(owner)), m_data(samples) {
    g_sampleBytesMade.fetch_add(frames * channels * int64_t(sizeof(int16_t)),
                                std::memory_order_relaxed);
    const int64_t fineUnits = ceilDiv(m_frames, kFineFrames);
    m_fine.resize(size_t(fineUnits * channels));
    if (channels == 1)
        fineSummary<1>(m_data, 1, m_frames, m_fine.data());
    else if (channels == 2)
        fineSummary<2>(m_data, 2, m_frames, m_fine.data());
    else
        fineSummary<0>(m_data, channels, m_frames, m_fine.data());
    summarise(m_fine, channels, kCoarseFrames / kFineFrames, m_coarse);
    m_whole.assign(size_t(channels), kEmptyPeak);
    for (size_t i = 0; i < m_coarse.size(); ++i)
        merge(m_whole[i % size_t(channels)], m_coarse[i]);
    if (m_frames == 0)
        m_whole.assign(size_t(channels), Peak{});
}

BlockPtr SampleBlock::make(int channels, std::vector<int16_t> samples) {
    Q_ASSERT(channels > 0 && samples.size() % size_t(channels) == 0);
    auto owner = std::make_shared<const std::vector<int16_t>>(std::move(samples));
    const int16_t* data = owner->data();
    const int64_t frames = int64_t(owner->size()) / channels;
    return BlockPtr(new SampleBlock(channels, std::move(owner), data, frames));
}

BlockPtr SampleBlock::adopt(int channels, std::shared_ptr<const void> owner, const int16_t* samples,
                            int64_t frames) {
    Q_ASSERT(channels > 0 && frames >= 0 && owner);
    return BlockPtr(new SampleBlock(channels, std::move(owner), samples, frames));
}

BlockPtr SampleBlock::copyOf(const SampleBlock& source, int64_t from, int64_t to) {
    Q_ASSERT(0 <= from && from <= to && to <= source.m_frames);
    const int ch = source.m_channels;
    std::vector<int16_t> part(source.m_data + from * ch, source.m_data + to * ch);
    return make(ch, std::move(part));
}

int64_t SampleBlock::totalSampleBytesMade() {
    return g_sampleBytesMade.load(std::memory_order_relaxed);
}

Peak SampleBlock::rawPeak(int channel, int64_t from, int64_t to) const {
    Peak acc = kEmptyPeak;
    const int16_t* p = m_data + from * m_channels + channel;
    for (int64_t f = from; f < to; ++f, p += m_channels) {
        acc.min = std::min(acc.min, *p);
        acc.max = std::max(acc.max, *p);
    }
    return acc;
}

// Whole fine units inside [from, to) from the fine summary, the ragged ends from the samples.
// Unit k covers [k * size, min((k + 1) * size, frames)), so the last, short unit counts as
// whole when `to` is the end of the block.
Peak SampleBlock::finePeak(int channel, int64_t from, int64_t to) const {
    const int64_t first = ceilDiv(from, kFineFrames);
    const int64_t last = to == m_frames ? ceilDiv(m_frames, kFineFrames) : to / kFineFrames;
    if (first >= last)
        return rawPeak(channel, from, to);
    Peak acc = kEmptyPeak;
    for (int64_t u = first; u < last; ++u)
        merge(acc, m_fine[size_t(u * m_channels + channel)]);
    if (from < first * kFineFrames)
        merge(acc, rawPeak(channel, from, first * kFineFrames));
    const int64_t tail = std::min(last * kFineFrames, m_frames);
    if (tail < to)
        merge(acc, rawPeak(channel, tail, to));
    return acc;
}

Peak SampleBlock::peak(int channel, int64_t from, int64_t to) const {
    Q_ASSERT(0 <= from && from < to && to <= m_frames);
    if (from == 0 && to == m_frames)
        return m_whole[size_t(channel)];
    const int64_t first = ceilDiv(from, kCoarseFrames);
    const int64_t last = to == m_frames ? ceilDiv(m_frames, kCoarseFrames) : to / kCoarseFrames;
    if (first >= last)
        return finePeak(channel, from, to);
    Peak acc = kEmptyPeak;
    for (int64_t u = first; u < last; ++u)
        merge(acc, m_coarse[size_t(u * m_channels + channel)]);
    if (from < first * kCoarseFrames)
        merge(acc, finePeak(channel, from, first * kCoarseFrames));
    const int64_t tail = std::min(last * kCoarseFrames, m_frames);
    if (tail < to)
        merge(acc, finePeak(channel, tail, to));
    return acc;
}

} // namespace chimora
