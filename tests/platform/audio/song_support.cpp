#include "song_support.h"

#include "platform/audio/SampleBlock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <random>

using chimora::Selection;

namespace songtest {

std::vector<SongRecipe> knownSongs() {
    // name, bpm, pattern, chorus bars, verse bars, noise dB, chorus lift dB, drums, key change
    return {
        {"pop 120", 120, "IVCVCBCCO", 12, 8, -40, 5, true, false, 1},
        {"ballad 76", 76, "VCVCC", 8, 8, -35, 4, true, false, 2},
        {"rock 140", 140, "IVPCVPCBC", 16, 8, -30, 4, true, false, 3},
        {"dance 128", 128, "ICVCVCCO", 12, 8, -38, 5, true, false, 4},
        {"folk 96, even level", 96, "VCVCVC", 8, 8, -36, 0, true, false, 5},
        {"punk 170, noisy", 170, "VCVCBCC", 16, 8, -20, 4, true, false, 6},
        {"soul 88, key change", 88, "IVCVCBCO", 8, 8, -34, 4, true, true, 7},
        {"hip-hop 100, three verses", 100, "VCVCVCO", 12, 8, -25, 3, true, false, 8},
        {"short chorus 108", 108, "IVCVCCO", 8, 12, -38, 5, true, false, 9},
        {"no drums 110", 110, "VCVCBC", 12, 8, -36, 5, false, false, 10},
    };
}

namespace {

constexpr int kTable = 2048;
constexpr int kScale[7] = {0, 2, 4, 5, 7, 9, 11};

std::vector<float> wavetable(const std::vector<float>& harmonics) {
    std::vector<float> t(kTable);
    for (int i = 0; i < kTable; ++i) {
        double v = 0;
        for (size_t h = 0; h < harmonics.size(); ++h)
            v += harmonics[h] * std::sin(2 * M_PI * double(h + 1) * i / kTable);
        t[size_t(i)] = float(v);
    }
    return t;
}

double midiHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// A note of scale degree `degree` (any integer) above `root`.
int degreeNote(int root, int degree) {
    const int octave = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
    return root + 12 * octave + kScale[((degree % 7) + 7) % 7];
}

struct Mix {
    int rate;
    std::vector<float> left, right;

    void tone(double startSeconds, double seconds, double hz, const std::vector<float>& table,
              double amp, double attack, double release, double pan) {
        const int64_t a = std::llround(startSeconds * rate);
        const int64_t n = std::llround(seconds * rate);
        const double step = hz * kTable / rate;
        double phase = 0;
        const float gl = float(amp * (1 - pan)), gr = float(amp * pan);
        for (int64_t i = 0; i < n && a + i < int64_t(left.size()); ++i) {
            if (a + i < 0)
                continue;
            const double t = double(i) / rate;
            const double env = std::min({1.0, t / attack, (seconds - t) / release});
            const float v = table[size_t(int(phase)) & (kTable - 1)] * float(env);
            left[size_t(a + i)] += gl * v;
            right[size_t(a + i)] += gr * v;
            phase += step;
            if (phase >= kTable)
                phase -= kTable;
        }
    }

    template <class F> void hit(double startSeconds, double seconds, double amp, F&& sample) {
        const int64_t a = std::llround(startSeconds * rate);
        const int64_t n = std::llround(seconds * rate);
        for (int64_t i = 0; i < n && a + i < int64_t(left.size()); ++i) {
            if (a + i < 0)
                continue;
            const float v = float(amp * sample(double(i) / rate));
            left[size_t(a + i)] += v;
            right[size_t(a + i)] += v;
        }
    }
};

// Fast deterministic noise in [-1, 1); the standard engines cost more than the whole song.
struct Noise {
    uint32_t state;
    double operator()() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state / 2147483648.0 - 1.0;
    }
};

struct Section {
    char kind;
    int bars;
    int repeat; // how many of this kind came before
    double start;
};

} // namespace

Song makeSong(const SongRecipe& recipe, int rate, int channels) {
    const double beat = 60.0 / recipe.bpm;
    const double bar = 4 * beat;
    std::vector<Section> sections;
    double at = 0;
    int counts[128] = {};
    for (const QChar c : recipe.pattern) {
        const char kind = char(c.toLatin1());
        const int bars = kind == 'C'   ? recipe.chorusBars
                         : kind == 'V' ? recipe.verseBars
                         : kind == 'B' ? 8
                                       : 4;
        sections.push_back({kind, bars, counts[int(kind)]++, at});
        at += bars * bar;
    }
    const double seconds = at + 1.0; // a short tail of reverb-free silence and noise

    Mix mix{rate, std::vector<float>(size_t(seconds * rate)),
            std::vector<float>(size_t(seconds * rate))};
    const auto pad = wavetable({1, 0.5f, 0.25f});
    const auto bass = wavetable({1, 0.5f, 0.3f});
    const auto verseLead = wavetable({1, 0.2f});
    const auto chorusLead = wavetable({1, 0.6f, 0.5f, 0.4f, 0.3f, 0.2f});
    const auto bridgeLead = wavetable({1, 0, 0.4f});
    const int root = 55 + int(recipe.seed % 5);
    Noise noise{recipe.seed * 7919u + 1};
    const auto jitter = [&] { return 0.003 * noise(); };

    const auto progression = [&](char kind) -> std::vector<int> {
        switch (kind) {
        case 'V':
            return {0, 5, 3, 4};
        case 'C':
            return {3, 4, 2, 5};
        case 'P':
            return {1, 1, 4, 4};
        case 'B':
            return {5, 2, 6, 4};
        default:
            return {0, 3};
        }
    };
    // Each kind's melody: 16 eighth-note notes (two bars), -100 a rest; later verses change a
    // few notes, as different words would.
    const auto melody = [&](char kind, int repeat) {
        std::mt19937 r(recipe.seed * 131u + unsigned(kind));
        std::uniform_int_distribution<int> degree(0, 9);
        std::uniform_real_distribution<double> u(0, 1);
        std::vector<int> notes(16);
        for (int& s : notes)
            s = u(r) < 0.3 ? -100 : degree(r);
        std::mt19937 v(recipe.seed * 977u + unsigned(repeat) * 13u + unsigned(kind));
        if (repeat > 0 && kind == 'V')
            for (int& s : notes)
                if (u(v) < 0.2)
                    s = degree(v);
        return notes;
    };

    for (const Section& s : sections) {
        const bool lastChorus =
            s.kind == 'C' && s.repeat == recipe.pattern.count(QLatin1Char('C')) - 1;
        const int key = root + ((recipe.lastChorusUp && lastChorus) ? 2 : 0);
        const double level = s.kind == 'C' ? std::pow(10.0, recipe.chorusLiftDb / 20)
                             : s.kind == 'I' || s.kind == 'O' ? 0.5
                             : s.kind == 'B'                  ? 0.7
                                                              : 1.0;
        const std::vector<int> chords = progression(s.kind);
        const std::vector<int> tune = melody(s.kind, s.repeat);
        const auto& lead = s.kind == 'C' ? chorusLead : s.kind == 'B' ? bridgeLead : verseLead;
        const bool drums = recipe.drums && s.kind != 'I' && s.kind != 'O';
        for (int b = 0; b < s.bars; ++b) {
            const double t0 = s.start + b * bar;
            const int chord = chords[size_t(b) % chords.size()];
            for (int k = 0; k < 3; ++k)
                mix.tone(t0, bar, midiHz(degreeNote(key, chord + 2 * k)), pad, 0.05 * level, 0.04,
                         0.05, 0.3 + 0.1 * k);
            for (int q = 0; q < 4; ++q) {
                const double tb = t0 + q * beat + jitter();
                if (s.kind != 'I' && s.kind != 'O')
                    mix.tone(tb, beat * 0.9, midiHz(degreeNote(key - 24, chord)), bass,
                             0.12 * level, 0.005, 0.05, 0.5);
                if (!drums)
                    continue;
                if (s.kind == 'C' || q % 2 == 0)
                    mix.hit(tb, 0.25, 0.5 * level, [](double t) {
                        const double hz = 50 + 70 * std::exp(-t / 0.03);
                        return std::sin(2 * M_PI * hz * t) * std::exp(-t / 0.08);
                    });
                if (q % 2 == 1) {
                    mix.hit(tb, 0.15, 0.2 * level, [&](double t) {
                        return (noise() + 0.5 * std::sin(2 * M_PI * 190 * t)) * std::exp(-t / 0.04);
                    });
                }
                for (int e = 0; e < (s.kind == 'C' ? 2 : 1); ++e) {
                    double last = 0;
                    mix.hit(tb + e * beat / 2, 0.04, 0.06 * level, [&](double t) {
                        const double n = noise();
                        const double v = n - last;
                        last = n;
                        return v * std::exp(-t / 0.012);
                    });
                }
            }
            if (s.kind == 'I' || s.kind == 'O')
                continue;
            for (int e = 0; e < 8; ++e) {
                const int note = tune[size_t((b % 2) * 8 + e)];
                if (note < -50)
                    continue;
                mix.tone(t0 + e * beat / 2 + jitter(), beat / 2 * 0.95,
                         midiHz(degreeNote(key + 12, note)), lead, 0.07 * level, 0.01, 0.03, 0.65);
            }
        }
    }

    const double noiseAmp = std::pow(10.0, recipe.noiseDb / 20);
    float peak = 1e-6f;
    for (size_t i = 0; i < mix.left.size(); ++i) {
        // The sum of three uniform draws is near enough to Gaussian, with unit variance.
        mix.left[i] += float(noiseAmp * (noise() + noise() + noise()));
        mix.right[i] += float(noiseAmp * (noise() + noise() + noise()));
        peak = std::max({peak, std::abs(mix.left[i]), std::abs(mix.right[i])});
    }
    // Loud enough to use the 16 bits, but the noise floor is kept where the recipe puts it.
    const float gain = std::min(0.9f / peak, 2.0f) * 32767.0f;
    std::vector<int16_t> samples(mix.left.size() * size_t(channels));
    for (size_t i = 0; i < mix.left.size(); ++i) {
        if (channels == 1) {
            samples[i] = int16_t(std::lround(
                std::clamp(0.5f * (mix.left[i] + mix.right[i]) * gain, -32768.0f, 32767.0f)));
        } else {
            samples[2 * i] =
                int16_t(std::lround(std::clamp(mix.left[i] * gain, -32768.0f, 32767.0f)));
            samples[2 * i + 1] =
                int16_t(std::lround(std::clamp(mix.right[i] * gain, -32768.0f, 32767.0f)));
        }
    }

    Song song;
    song.seconds = seconds;
    song.beatFrames = beat * rate;
    chimora::BlockList blocks;
    const size_t perBlock = size_t(chimora::SampleBlock::kLoadFrames) * size_t(channels);
    for (size_t i = 0; i < samples.size(); i += perBlock)
        blocks.push_back(chimora::SampleBlock::make(
            channels,
            std::vector<int16_t>(samples.begin() + long(i),
                                 samples.begin() + long(std::min(samples.size(), i + perBlock)))));
    song.audio = chimora::AudioSnapshot::make({rate, channels}, std::move(blocks));
    for (const Section& s : sections)
        if (s.kind == 'C')
            song.choruses.push_back(
                {std::llround(s.start * rate), std::llround((s.start + s.bars * bar) * rate)});
    return song;
}

double chorusShare(const Song& song, Selection section) {
    if (section.isEmpty())
        return 0;
    int64_t inside = 0;
    for (const Selection& c : song.choruses)
        inside +=
            std::max<int64_t>(0, std::min(c.end, section.end) - std::max(c.start, section.start));
    return double(inside) / double(section.length());
}

double beatDistance(const Song& song, int64_t frame) {
    const double k = std::round(double(frame) / song.beatFrames);
    return std::abs(double(frame) - k * song.beatFrames);
}

} // namespace songtest

namespace songtest {

std::vector<RenderedSong> renderChorusSongs(const QString& folder, const QStringList& only,
                                            int rate, QString* error) {
    const QString script = QStringLiteral(CHIMORA_SOURCE_DIR "/tests/data/chorus_songs.py");
    QStringList args{script, folder, QStringLiteral("--rate"), QString::number(rate)};
    if (!only.isEmpty())
        args << QStringLiteral("--only") << only.join(QLatin1Char(','));
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    generator.start(QStringLiteral("/usr/bin/python3"), args);
    if (!generator.waitForFinished(-1) || generator.exitStatus() != QProcess::NormalExit ||
        generator.exitCode() != 0) {
        *error = QStringLiteral("the song generator failed: %1").arg(generator.errorString());
        return {};
    }
    QFile index(QDir(folder).filePath(QStringLiteral("songs.tsv")));
    if (!index.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no song index in %1").arg(folder);
        return {};
    }
    std::vector<RenderedSong> songs;
    for (const QByteArray& line : index.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 4)
            continue;
        RenderedSong song;
        song.name = QString::fromUtf8(fields[0]);
        song.wavPath = QDir(folder).filePath(song.name + QStringLiteral(".wav"));
        song.bpm = fields[1].toDouble();
        song.beatsPerBar = fields[2] == "6/8" ? 2 : fields[2].left(1).toInt();
        for (const QByteArray& part : fields[3].split(' ')) {
            const int colon = part.indexOf(':'), dash = part.indexOf('-');
            if (colon != 1 || dash < 0)
                continue;
            song.parts.push_back(
                {part[0], part.mid(2, dash - 2).toDouble(), part.mid(dash + 1).toDouble()});
        }
        songs.push_back(song);
    }
    return songs;
}

bool streamWav(const QString& path,
               const std::function<bool(chimora::AudioFormat, const int16_t*, int64_t)>& feed) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(12).mid(8) != "WAVE")
        return false;
    chimora::AudioFormat format;
    while (!file.atEnd()) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return false;
        const qint64 size = qFromLittleEndian<quint32>(head.constData() + 4);
        if (head.startsWith("fmt ")) {
            const QByteArray fmt = file.read(size);
            if (fmt.size() < 16 || qFromLittleEndian<quint16>(fmt.constData() + 14) != 16)
                return false;
            format.channels = qFromLittleEndian<quint16>(fmt.constData() + 2);
            format.sampleRate = int(qFromLittleEndian<quint32>(fmt.constData() + 4));
        } else if (head.startsWith("data") && format.isValid()) {
            const int64_t frameBytes = 2 * format.channels;
            std::vector<int16_t> block(size_t(65536) * size_t(format.channels));
            for (qint64 left = size; left >= frameBytes;) {
                const qint64 want = std::min<qint64>(left, qint64(block.size()) * 2);
                const qint64 got = file.read(reinterpret_cast<char*>(block.data()), want);
                if (got < frameBytes || !feed(format, block.data(), got / frameBytes))
                    break;
                left -= got;
            }
            return true;
        } else {
            file.skip(size + (size & 1));
        }
    }
    return false;
}

ChorusScore scoreSuggestion(const RenderedSong& song, double start, double end) {
    ChorusScore score;
    score.startError = 1e9;
    const double bar = song.beatsPerBar * 60.0 / song.bpm;
    const RenderedSong::Part* nearest = nullptr;
    for (const RenderedSong::Part& p : song.parts) {
        if (p.label != 'C')
            continue;
        const double overlap = std::min(end, p.end) - std::max(start, p.start);
        const double joined = std::max(end, p.end) - std::min(start, p.start);
        score.iou = std::max(score.iou, std::max(0.0, overlap) / joined);
        if (std::abs(start - p.start) < score.startError) {
            score.startError = std::abs(start - p.start);
            nearest = &p;
        }
    }
    if (nearest) {
        double expected = nearest->end;
        if (expected - nearest->start > 30.0 + 1e-3)
            expected = nearest->start + std::floor(30.0 / bar + 1e-6) * bar;
        score.endError = std::abs(end - expected);
    }
    return score;
}

} // namespace songtest
