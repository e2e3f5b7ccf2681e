#include "platform/ffmpeg/AudioDecoder.h"

#include "platform/audio/SampleBlock.h"
#include "platform/ffmpeg/AudioInput.h"
#include "platform/ffmpeg/PcmConverter.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstring>
#include <future>
#include <mutex>

#include <sys/mman.h>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcDecode, "chimora.decode")

int64_t g_availableMemoryForTesting = -1;

// Memory the system can give us without swapping, from the kernel's own estimate.
int64_t availableMemoryBytes() {
    if (g_availableMemoryForTesting >= 0)
        return g_availableMemoryForTesting;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

QString byteText(int64_t bytes) {
    return bytes >= (int64_t(1) << 30)
               ? QStringLiteral("%1 GiB").arg(double(bytes) / double(int64_t(1) << 30), 0, 'f', 1)
               : QStringLiteral("%1 MiB").arg((bytes + (1 << 20) - 1) >> 20);
}

// The decoded audio is held in memory whole; a file whose audio could not be held (a
// headerless file of several gigabytes, say) is refused before the memory runs out.
Result<void> checkFitsInMemory(const QString& path, const AudioInput& input) {
    const int rate = input.decoder().sample_rate;
    const int channels = std::min(2, std::max(1, input.decoder().ch_layout.nb_channels));
    const int64_t frames = rate > 0 ? input.lengthFrames(rate) : 0;
    const int64_t available = availableMemoryBytes();
    const int64_t needed = frames * channels * int64_t(sizeof(int16_t));
    if (frames <= 0 || available < 0 || needed <= available)
        return {};
    const int64_t seconds = frames / rate;
    const QString length = QStringLiteral("%1:%2:%3")
                               .arg(seconds / 3600)
                               .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return Error::environment(
        QStringLiteral("%1 could not be read: its audio lasts %2 and would need %3 of memory, "
                       "more than the %4 free now. Open a shorter file, or close other "
                       "programs and try again.")
            .arg(QFileInfo(path).fileName(), length, byteText(needed), byteText(available)));
}

// A large buffer of samples that many blocks share, mapped straight from the system.
// Ordinary pages on purpose: asked for huge pages, the system zeroed fresh 2 MiB pages at a
// far higher cost here (measured for an hour of stereo, 605 MiB: 1.4 to 1.8 s of system time
// against 0.13 to 0.27 s with 4 KiB pages).
class Slab {
public:
    /// `populate`: map every page now (one call, not a fault per page), for a slab made
    /// ahead on another thread so that the decoder meets no page faults.
    static std::shared_ptr<Slab> make(size_t bytes, bool populate) {
        const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        return std::shared_ptr<Slab>(new Slab(static_cast<int16_t*>(p), bytes));
    }
    ~Slab() { munmap(m_data, m_bytes); }
    int16_t* data() const { return m_data; }
    size_t samples() const { return m_bytes / sizeof(int16_t); }

private:
    Slab(int16_t* data, size_t bytes) : m_data(data), m_bytes(bytes) {}
    int16_t* m_data;
    size_t m_bytes;
};

// Gathers converted frames into blocks of SampleBlock::kLoadFrames frames and hands each one
// on when full. The blocks' memory comes from slabs that start small (short files stay small)
// and grow to 16 blocks; the next slab is prepared on another thread meanwhile.
class BlockBuilder {
public:
    BlockBuilder(int channels, const DecodeSink& sink) : m_channels(channels), m_sink(sink) {}

    /// Where `frames` frames can be written straight into the current block, or null when they
    /// do not fit (then use append()).
    int16_t* writePointer(int64_t frames) {
        if (!ensureBlock() || frames > SampleBlock::kLoadFrames - m_filled)
            return nullptr;
        return m_block + m_filled * m_channels;
    }
    /// Counts `frames` frames written at writePointer().
    void commit(int64_t frames) {
        m_filled += frames;
        m_total += frames;
        if (m_filled == SampleBlock::kLoadFrames)
            flush();
    }
    bool append(const int16_t* samples, int64_t frames) {
        while (frames > 0) {
            if (!ensureBlock())
                return false;
            const int64_t n = std::min(SampleBlock::kLoadFrames - m_filled, frames);
            std::memcpy(m_block + m_filled * m_channels, samples,
                        size_t(n * m_channels) * sizeof(int16_t));
            samples += n * m_channels;
            frames -= n;
            commit(n);
        }
        return true;
    }
    void flush() {
        if (m_filled > 0)
            m_sink.block(SampleBlock::adopt(m_channels, m_slab, m_block, m_filled));
        m_block = nullptr;
        m_filled = 0;
    }
    int64_t total() const { return m_total; }

private:
    bool ensureBlock() {
        if (m_block)
            return true;
        const size_t blockSamples = size_t(SampleBlock::kLoadFrames * m_channels);
        if (!m_slab || m_slabUsed + blockSamples > m_slab->samples()) {
            m_slab = m_next.valid() ? m_next.get() : makeSlab(m_slabBlocks, m_channels, false);
            m_slabBlocks = std::min(m_slabBlocks * 2, 16);
            m_next = std::async(std::launch::async, [n = m_slabBlocks, ch = m_channels] {
                return makeSlab(n, ch, true);
            });
            m_slabUsed = 0;
            if (!m_slab)
                return false;
        }
        m_block = m_slab->data() + m_slabUsed;
        m_slabUsed += blockSamples;
        return true;
    }
    static std::shared_ptr<Slab> makeSlab(int blocks, int channels, bool populate) {
        return Slab::make(size_t(blocks) * size_t(SampleBlock::kLoadFrames) * size_t(channels) *
                              sizeof(int16_t),
                          populate);
    }

    int m_channels;
    const DecodeSink& m_sink;
    std::shared_ptr<Slab> m_slab;
    std::future<std::shared_ptr<Slab>> m_next; ///< the slab after this one, being prepared
    int m_slabBlocks = 1;
    size_t m_slabUsed = 0; ///< samples of m_slab given to blocks
    int16_t* m_block = nullptr;
    int64_t m_filled = 0; ///< frames in the current block
    int64_t m_total = 0;
};

} // namespace

void setAvailableMemoryForTesting(int64_t bytes) {
    g_availableMemoryForTesting = bytes;
}

Result<void> decodeAudioFile(const QString& path, const RawPcmParams* raw,
                             const std::atomic<bool>& cancel, const DecodeSink& sink) {
    auto opened = AudioInput::open(path, raw, &cancel);
    if (!opened)
        return cancel ? Result<void>{} : opened.error();
    AudioInput& input = *opened.value();
    if (auto fits = checkFitsInMemory(path, input); !fits)
        return fits.error();
    ff::FramePtr frame(av_frame_alloc());
    if (!frame)
        return Error::environment(QStringLiteral("Out of memory."));

    PcmConverter converter(input.decoder().sample_rate);
    std::unique_ptr<BlockBuilder> builder;
    std::vector<int16_t> converted;
    QString failure;
    while (failure.isEmpty() && input.nextFrame(frame.get())) {
        const Result<int> capacity = converter.prepare(*frame);
        if (!capacity) {
            failure = capacity.error().message;
        } else if (*capacity > 0) {
            if (!builder) {
                sink.format(converter.format());
                builder = std::make_unique<BlockBuilder>(converter.format().channels, sink);
            }
            // Straight into the block when it fits (nearly always), else through a buffer.
            int16_t* direct = builder->writePointer(*capacity);
            if (!direct)
                converted.resize(size_t(*capacity) * size_t(converter.format().channels));
            const Result<int> n =
                converter.convert(*frame, direct ? direct : converted.data(), *capacity);
            if (!n)
                failure = n.error().message;
            else if (direct)
                builder->commit(*n);
            else if (!builder->append(converted.data(), *n))
                failure = QStringLiteral("out of memory");
        }
        av_frame_unref(frame.get());
    }
    if (cancel)
        return {};
    if (builder) { // the converter may hold back a few frames
        converted.resize(size_t(4096) * size_t(converter.format().channels));
        const int n = converter.drain(converted.data(), 4096);
        if (n > 0 && !builder->append(converted.data(), n))
            failure = QStringLiteral("out of memory");
        builder->flush();
    }
    if (!failure.isEmpty())
        qCDebug(lcDecode) << path << "decoding stopped:" << failure;
    if (!builder || builder->total() == 0)
        return input.noDecodableAudio();
    return {};
}

} // namespace chimora
