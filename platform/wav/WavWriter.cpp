#include "platform/wav/WavWriter.h"

#include <QCoreApplication>

#include "platform/core/AtomicFile.h"
#include "platform/ffmpeg/PcmConverter.h"
#include "platform/wav/WavHeader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace chimora {

namespace {

constexpr int64_t kChunkFrames = 65536;

// Runs one job at a time on a thread that lives as long as the object, so that a long write
// does not start a thread for every chunk.
class SideThread {
public:
    explicit SideThread(std::function<void()> job)
        : m_job(std::move(job)), m_thread([this] { loop(); }) {}
    ~SideThread() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    /// Runs the job once on the side thread; wait() for it before the next start().
    void start() {
        {
            std::lock_guard lock(m_mutex);
            m_busy = true;
        }
        m_wake.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_busy; });
    }

private:
    void loop() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_busy || m_quit; });
            if (!m_busy)
                return;
            lock.unlock();
            m_job();
            lock.lock();
            m_busy = false;
            m_wake.notify_all();
        }
    }

    std::function<void()> m_job;
    std::mutex m_mutex; // guards m_busy and m_quit
    std::condition_variable m_wake;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread; // last: started once everything above exists
};

// Resamples interleaved s16 one channel per filter. Two channels run on two threads: the
// filters are independent, and a render waits for this file before its encoder can start.
class Resampler {
public:
    static std::unique_ptr<Resampler> make(int channels, int inRate, int outRate) {
        auto r = std::unique_ptr<Resampler>(new Resampler);
        AVChannelLayout mono;
        av_channel_layout_default(&mono, 1);
        for (int c = 0; c < channels; ++c) {
            r->m_channels.push_back(
                {ff::makeResampler(mono, AV_SAMPLE_FMT_S16, inRate, mono, AV_SAMPLE_FMT_S16,
                                   outRate, ff::ResampleQuality::High),
                 {},
                 {},
                 0});
            if (!r->m_channels.back().swr)
                return nullptr;
        }
        av_channel_layout_uninit(&mono);
        if (channels == 2)
            r->m_second = std::make_unique<SideThread>([p = r.get()] { p->run(1); });
        return r;
    }

    /// Converts `frames` interleaved frames (nullptr drains the filters). Returns the number of
    /// frames now in output(), or -1 on failure.
    int convert(const int16_t* samples, int frames) {
        const int channels = int(m_channels.size());
        for (int c = 0; c < channels; ++c) {
            Channel& ch = m_channels[size_t(c)];
            ch.in.resize(size_t(frames));
            for (int f = 0; f < frames; ++f)
                ch.in[size_t(f)] = samples[f * channels + c];
        }
        m_draining = samples == nullptr;
        m_frames = frames;
        if (m_second)
            m_second->start();
        run(0);
        if (m_second)
            m_second->wait();
        const int produced = m_channels[0].produced;
        for (const Channel& ch : m_channels) {
            // Identical filters fed identical counts give identical counts.
            if (ch.produced != produced || produced < 0)
                return -1;
        }
        m_out.resize(size_t(produced) * size_t(channels));
        for (int c = 0; c < channels; ++c) {
            const Channel& ch = m_channels[size_t(c)];
            for (int f = 0; f < produced; ++f)
                m_out[size_t(f * channels + c)] = ch.out[size_t(f)];
        }
        return produced;
    }

    const int16_t* output() const { return m_out.data(); }

private:
    Resampler() = default;
    void run(size_t c) {
        Channel& ch = m_channels[c];
        const int capacity = swr_get_out_samples(ch.swr.get(), m_frames) + 16;
        ch.out.resize(size_t(capacity));
        uint8_t* dst = reinterpret_cast<uint8_t*>(ch.out.data());
        const uint8_t* src = reinterpret_cast<const uint8_t*>(ch.in.data());
        ch.produced =
            swr_convert(ch.swr.get(), &dst, capacity, m_draining ? nullptr : &src, m_frames);
    }

    struct Channel {
        ff::ResamplerPtr swr;
        std::vector<int16_t> in;
        std::vector<int16_t> out;
        int produced;
    };
    std::vector<Channel> m_channels;
    std::vector<int16_t> m_out;
    // The chunk being converted, for both threads.
    bool m_draining = false;
    int m_frames = 0;
    std::unique_ptr<SideThread> m_second; // last: its thread uses the members above
};

// Converts interleaved frames between one and two channels.
void convertChannels(const int16_t* in, int inChannels, int16_t* out, int outChannels,
                     int64_t frames) {
    if (inChannels == outChannels) {
        std::copy(in, in + frames * inChannels, out);
    } else if (inChannels == 2) {
        for (int64_t f = 0; f < frames; ++f)
            out[f] = int16_t((int(in[2 * f]) + int(in[2 * f + 1])) / 2);
    } else {
        for (int64_t f = 0; f < frames; ++f)
            out[2 * f] = out[2 * f + 1] = in[f];
    }
}

Error writeError(const QString& path, const QString& why) {
    return Error::environment(
        QStringLiteral("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), why));
}

} // namespace

int64_t resampledFrames(int64_t frames, int inRate, int outRate) {
    if (inRate == outRate)
        return frames;
    return int64_t(std::llround(double(frames) * outRate / inRate));
}

Result<void> writeWavFile(const AudioSnapshot& audio, int64_t from, int64_t to,
                          const OutputFormat& format, const QString& path) {
    const AudioFormat src = audio.format();
    from = std::clamp<int64_t>(from, 0, audio.frames());
    to = std::clamp<int64_t>(to, from, audio.frames());
    if (!src.isValid() || to <= from)
        return Error::badInput(QStringLiteral("There is no audio to save."));
    if (format.channels < 0 || format.channels > 2 || format.sampleRate < 0 ||
        format.sampleRate > 768000)
        return Error::badInput(QStringLiteral("A WAV file cannot be written with %1 Hz and %2 "
                                              "channels.")
                                   .arg(format.sampleRate)
                                   .arg(format.channels));
    const int outRate = format.sampleRate > 0 ? format.sampleRate : src.sampleRate;
    const int outChannels = format.channels > 0 ? format.channels : src.channels;
    const int64_t outFrames = resampledFrames(to - from, src.sampleRate, outRate);
    const uint64_t dataBytes = uint64_t(outFrames) * uint64_t(outChannels) * 2;
    if (dataBytes > kWavMaxDataBytes)
        return Error::badInput(QStringLiteral("The audio is too long for a WAV file (4 GiB at "
                                              "most). Choose a shorter section."));

    std::unique_ptr<Resampler> swr;
    if (outRate != src.sampleRate) {
        swr = Resampler::make(outChannels, src.sampleRate, outRate);
        if (!swr)
            return Error::internal(
                QStringLiteral("The audio could not be converted to %1 Hz.").arg(outRate));
    }

    // The editor's saves go to the program's scratch file (output1-temp.wav): a link found
    // there was not made by us and is replaced, never written through.
    AtomicFile file(path, LinkPolicy::Replace);
    if (!file.open())
        return writeError(path, file.errorString());
    auto put = [&](const int16_t* samples, int64_t frames) {
        const qint64 bytes = frames * outChannels * 2;
        return bytes == 0 || file.write(reinterpret_cast<const char*>(samples), bytes);
    };
    if (!file.write(wavHeader(outRate, outChannels, uint32_t(dataBytes))))
        return writeError(path, file.errorString());

    std::vector<int16_t> in(size_t(kChunkFrames * src.channels));
    std::vector<int16_t> mixed(size_t(kChunkFrames * outChannels));
    int64_t written = 0;
    // Writes what the resampler gives, never past the exact target length.
    auto deliver = [&](const int16_t* samples, int64_t frames) {
        frames = std::min(frames, outFrames - written);
        if (frames <= 0)
            return true;
        written += frames;
        return put(samples, frames);
    };
    auto resample = [&](const int16_t* samples, int frames) -> bool {
        const int n = swr->convert(samples, frames);
        return n >= 0 && deliver(swr->output(), n);
    };

    for (int64_t pos = from; pos < to;) {
        const int64_t n = audio.read(pos, std::min(kChunkFrames, to - pos), in.data());
        if (n <= 0)
            break;
        pos += n;
        convertChannels(in.data(), src.channels, mixed.data(), outChannels, n);
        const bool ok = swr ? resample(mixed.data(), int(n)) : deliver(mixed.data(), n);
        if (!ok)
            return writeError(path, file.errorString());
    }
    if (swr) {
        // Drain what the filter holds back; a few frames may still be missing after that.
        for (int i = 0; i < 64 && written < outFrames; ++i) {
            const int64_t before = written;
            if (!resample(nullptr, 0))
                return writeError(path, file.errorString());
            if (written == before)
                break;
        }
    }
    if (written < outFrames) {
        const std::vector<int16_t> silence(size_t((outFrames - written) * outChannels), 0);
        if (!deliver(silence.data(), outFrames - written))
            return writeError(path, file.errorString());
    }
    if (!file.commit())
        return writeError(path, file.errorString());
    return {};
}

Result<void> writeWav(AudioDocument& document, const QString& path, const OutputFormat& format,
                      bool selectionOnly) {
    document.waitForLoad();
    if (document.isEmpty())
        return Error::badInput(QCoreApplication::translate(
            "AudioDocument", "There is no audio to save. Open an audio file or record one first."));
    const Selection selection = document.selection();
    if (selectionOnly && selection.isEmpty())
        return Error::badInput(QCoreApplication::translate(
            "AudioDocument", "Nothing is selected. Select the section of the song to use as the "
                             "ringtone, or choose to use the entire song."));
    const int64_t from = selectionOnly ? selection.start : 0;
    const int64_t to = selectionOnly ? selection.end : document.frameCount();
    return writeWavFile(*document.snapshot(), from, to, format, path);
}

} // namespace chimora
