#include "platform/audio/SongStructure.h"

#include "platform/audio/BeatGrid.h"
#include "platform/audio/BeatTimeline.h"
#include "platform/audio/SuggestionFeatures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace chimora {

namespace {

constexpr int kDims = BeatFeatures::kDims;
// Recurrences are looked for this far away at most, which bounds the work on an hour.
constexpr double kMaxLagSeconds = 420;
constexpr int kOccurrencesKept = 8;
// Mean similarity (-1 to 1) from which a stretch counts as heard again, and the agreement a bar
// needs to belong to a section whose recurrences are known.
constexpr double kRepeatThreshold = 0.5;
constexpr double kGrowThreshold = 0.5;
constexpr double kGrowMargin = 0.2;
constexpr double kContainedMargin = 0.05;
// How much of an instance's weight depends on clear edges.
constexpr double kEdgeShare = 0.6;
constexpr double kBoundaryWeight = 1.0;
constexpr double kLoudnessWeight = 0.5;
constexpr double kBoundaryStop = 0.5;
constexpr double kLevelStepDb = 3.0;
constexpr double kSidesAlike = 0.5;
// Seeds of distinct material fitted and compared as whole sections.
constexpr int kGroupsTried = 8;

bool isCancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

struct Occurrence {
    float value = 0;
    int lag = 0; ///< in beats; negative: heard earlier
};

struct Candidate {
    int startBar = 0, bars = 0;
    int start = 0, end = 0; ///< beats
    Occurrence found[kOccurrencesKept];
    int count = 0;
    double repeats = 0, boundary = 0, loudness = 0, score = 0;

    // Keeps the best recurrences, no two of them closer than half the section.
    void offer(float value, int lag) {
        const int separation = std::max(1, (end - start) / 2);
        for (int i = 0; i < count; ++i)
            if (std::abs(found[i].lag - lag) < separation) {
                if (found[i].value >= value)
                    return;
                std::copy(found + i + 1, found + count, found + i);
                --count;
                --i;
            }
        int at = count;
        while (at > 0 && found[at - 1].value < value)
            --at;
        if (at >= kOccurrencesKept)
            return;
        const int last = std::min(count, kOccurrencesKept - 1);
        std::copy_backward(found + at, found + last, found + last + 1);
        found[at] = {value, lag};
        count = std::min(count + 1, kOccurrencesKept);
    }
};

std::vector<Candidate> makeCandidates(const Timeline& t, const StructureLimits& limits) {
    std::vector<Candidate> out;
    for (size_t k = 0; k + 1 < t.bars.size(); ++k)
        for (size_t e = k + 1; e < t.bars.size(); ++e) {
            const double seconds = t.seconds(t.bars[e]) - t.seconds(t.bars[k]);
            if (seconds > limits.longestSeconds + 0.01)
                break;
            if (seconds < limits.shortestSeconds - 0.01)
                continue;
            Candidate c;
            c.startBar = int(k);
            c.bars = int(e - k);
            c.start = t.bars[k];
            c.end = t.bars[e];
            out.push_back(c);
        }
    return out;
}

// Every candidate's best recurrences: the mean similarity along each diagonal of the beats'
// self-similarity, one lag at a time, its local peaks over the lag kept.
bool findOccurrences(const BeatFeatures& bf, const Timeline& t, std::vector<Candidate>& cands,
                     const std::atomic<bool>* cancel) {
    const int n = t.beats();
    const int maxLag =
        std::min(n - 1, int(kMaxLagSeconds * n / std::max(1.0, t.seconds(n) - t.seconds(0))));
    std::vector<double> prefix(size_t(n) + 1, 0.0);
    // The two lags before, per candidate and direction (later, earlier).
    std::vector<float> before(cands.size() * 4, -2.0f);
    for (int lag = 1; lag <= maxLag + 1; ++lag) {
        if ((lag & 31) == 0 && isCancelled(cancel))
            return false;
        const bool beyond = lag > maxLag;
        if (!beyond)
            for (int i = 0; i + lag < n; ++i)
                prefix[size_t(i) + 1] = prefix[size_t(i)] + dot(bf.at(i), bf.at(i + lag));
        for (size_t c = 0; c < cands.size(); ++c) {
            Candidate& cand = cands[c];
            const int length = cand.end - cand.start;
            const bool allowed = !beyond && lag * 20 >= length * 17;
            float now[2] = {-2.0f, -2.0f};
            if (allowed && cand.end + lag <= n)
                now[0] = float((prefix[size_t(cand.end)] - prefix[size_t(cand.start)]) / length);
            if (allowed && cand.start - lag >= 0)
                now[1] = float((prefix[size_t(cand.end - lag)] - prefix[size_t(cand.start - lag)]) /
                               length);
            for (int d = 0; d < 2; ++d) {
                float* b = &before[c * 4 + size_t(d) * 2];
                if (b[1] > -2.0f && b[1] >= b[0] && b[1] > now[d])
                    cand.offer(b[1], d == 0 ? lag - 1 : -(lag - 1));
                b[0] = b[1];
                b[1] = now[d];
            }
        }
    }
    return true;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// A group of instances of one section, grown or shrunk bar by bar to where they agree.
struct Group {
    std::vector<int> starts; ///< beats, ascending
    int length = 0;          ///< beats
};

// How well bar `offset` (beats from each start) agrees across the instances: the median over
// the instances of their mean similarity to the others.
double barAgreement(const BeatFeatures& bf, const Timeline& t, const Group& g, int offset) {
    const int n = t.beats(), m = t.beatsPerBar;
    std::vector<double> agreement;
    for (size_t i = 0; i < g.starts.size(); ++i) {
        double sum = 0;
        int pairs = 0;
        for (size_t j = 0; j < g.starts.size(); ++j) {
            if (i == j)
                continue;
            const int a = g.starts[i] + offset, b = g.starts[j] + offset;
            if (a < 0 || b < 0 || a + m > n || b + m > n)
                continue;
            double s = 0;
            for (int u = 0; u < m; ++u)
                s += dot(bf.at(a + u), bf.at(b + u));
            sum += s / m;
            ++pairs;
        }
        if (pairs > 0)
            agreement.push_back(sum / pairs);
    }
    return agreement.size() < 2 ? -1.0 : median(agreement);
}

// The group with its instances `shift` beats earlier and `length` beats long. Instances that
// would run into the one before them (or after, when it grows backwards) are left out: a
// section heard twice in a row, or a phrase repeated within a section, is one longer section.
Group stretched(const Group& g, int shift, int length, int beats) {
    Group out;
    out.length = length;
    for (int s : g.starts) {
        const int a = s + shift;
        if (a < 0 || a + length > beats)
            continue;
        if (!out.starts.empty() && out.starts.back() + length > a) {
            if (shift < 0)
                out.starts.back() = a; // growing backwards: keep the later one
            continue;
        }
        out.starts.push_back(a);
    }
    return out;
}

// Mean novelty over the instances at `offset` beats from their starts.
double boundaryAt(const std::vector<double>& boundary, const Group& g, int offset) {
    double sum = 0;
    for (int s : g.starts)
        sum += boundary[size_t(std::clamp<int>(s + offset, 0, int(boundary.size()) - 1))];
    return sum / std::max<size_t>(1, g.starts.size());
}

void fitGroup(const BeatFeatures& bf, const Timeline& t, const std::vector<double>& boundary,
              const StructureLimits& limits, Group& g) {
    const int m = t.beatsPerBar, n = t.beats();
    const double beatSeconds = (t.seconds(n) - t.seconds(0)) / std::max(1, n);
    const int shortest = int(std::ceil(limits.shortestSeconds / beatSeconds / m)) * m;
    const int longest = int(std::floor(limits.longestSeconds / beatSeconds / m)) * m;
    // A bar belongs to the section when its instances agree about as well as they do within
    // the seed: in a song whose every chorus follows a verse, the verses' last bars agree too,
    // only less.
    std::vector<double> core;
    for (int offset = 0; offset + m <= g.length; offset += m)
        core.push_back(barAgreement(bf, t, g, offset));
    const double threshold = std::max(kGrowThreshold, median(core) - kGrowMargin);
    while (g.length - m >= shortest && barAgreement(bf, t, g, g.length - m) < threshold)
        g.length -= m;
    while (g.length - m >= shortest && barAgreement(bf, t, g, 0) < threshold) {
        for (int& s : g.starts)
            s += m;
        g.length -= m;
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (const int shift : {0, -m}) {
            if (g.length + m > longest)
                break;
            const Group wider = stretched(g, shift, g.length + m, n);
            if (wider.starts.size() >= 2 &&
                barAgreement(bf, t, wider, shift < 0 ? 0 : wider.length - m) >= threshold) {
                g = wider;
                grew = true;
            }
        }
        if (grew)
            continue;
        // A section made of two like halves is found as its half, heard twice as often; where
        // the halves always come together, the whole is the section.
        for (const int shift : {0, -g.length}) {
            if (2 * g.length > longest)
                break;
            const Group whole = stretched(g, shift, 2 * g.length, n);
            if (whole.starts.size() < 2 || whole.starts.size() == g.starts.size())
                continue;
            double weakest = 1;
            for (int offset = 0; offset + m <= whole.length; offset += m)
                weakest = std::min(weakest, barAgreement(bf, t, whole, offset));
            if (weakest >= threshold) {
                g = whole;
                grew = true;
                break;
            }
        }
    }
    // Sections heard together every time (a build-up and its drop) are still two: where the
    // music changes clearly and the level steps up or down most, the louder side is the section.
    int bestLine = -1;
    double bestStep = 0;
    for (int line = shortest; line + shortest <= g.length; line += m) {
        if (boundaryAt(boundary, g, line) < kBoundaryStop)
            continue;
        double before = 0, after = 0;
        for (int s : g.starts) {
            before += meanLevel(bf, s + line - 2 * m, s + line);
            after += meanLevel(bf, s + line, s + line + 2 * m);
        }
        const double step = (after - before) / double(g.starts.size());
        if (std::abs(step) > kLevelStepDb && std::abs(step) > std::abs(bestStep)) {
            bestStep = step;
            bestLine = line;
        }
    }
    // Too long to be one section: two heard together every time, even in level. The split is
    // where the music changes most; the side that is louder, or at even level busier, is kept.
    if (bestLine < 0 && t.seconds(g.length) - t.seconds(0) > limits.selectionSeconds) {
        // Only between two kinds of music: a long chorus sung twice over is one section. Each
        // side's average harmony and timbre is compared.
        const auto alike = [&](int line) {
            double x[kDims] = {}, y[kDims] = {};
            for (int s : g.starts)
                for (int u = 0; u < g.length; ++u)
                    for (int k = 0; k < kDims; ++k)
                        (u < line ? x : y)[k] += bf.at(s + u)[k];
            double xy = 0, xx = 1e-9, yy = 1e-9;
            for (int k = 0; k < kDims; ++k) {
                xy += x[k] * y[k];
                xx += x[k] * x[k];
                yy += y[k] * y[k];
            }
            return xy / std::sqrt(xx * yy);
        };
        double clearest = kBoundaryStop;
        for (int line = shortest; line + shortest <= g.length; line += m)
            if (boundaryAt(boundary, g, line) > clearest && alike(line) < kSidesAlike) {
                clearest = boundaryAt(boundary, g, line);
                bestLine = line;
            }
        if (bestLine > 0) {
            double level = 0, busy = 0, spread = 1e-9;
            for (int s : g.starts) {
                level += meanLevel(bf, s + bestLine, s + g.length) - meanLevel(bf, s, s + bestLine);
                busy += mean(bf.activity, s + bestLine, s + g.length) -
                        mean(bf.activity, s, s + bestLine);
                spread += mean(bf.activity, s, s + g.length);
            }
            bestStep = std::abs(level) / double(g.starts.size()) > 1.0 ? level : busy / spread;
        }
    }
    if (bestLine > 0 && bestStep > 0) {
        for (int& s : g.starts)
            s += bestLine;
        g.length -= bestLine;
    } else if (bestLine > 0) {
        g.length = bestLine;
    }
}

// The group of a candidate: itself and its recurrences, each put on its nearest bar line.
Group groupOf(const Candidate& c, const Timeline& t) {
    Group g;
    g.length = c.end - c.start;
    g.starts.push_back(c.start);
    for (int i = 0; i < c.count; ++i) {
        // Only recurrences about as close as the closest: a phrase that merely shares the
        // chords is other material.
        if (c.found[i].value < std::max<float>(kRepeatThreshold, c.found[0].value - 0.25f))
            continue;
        const int want = c.start + c.found[i].lag;
        const auto nearest = std::min_element(t.bars.begin(), t.bars.end(), [&](int a, int b) {
            return std::abs(a - want) < std::abs(b - want);
        });
        g.starts.push_back(*nearest);
    }
    std::sort(g.starts.begin(), g.starts.end());
    g.starts.erase(std::unique(g.starts.begin(), g.starts.end()), g.starts.end());
    return g;
}

struct FittedGroup {
    Group group;
    std::vector<double> quality; ///< per instance: its agreement with the others and loudness
    double agreement = 0;        ///< mean over the instances
    double score = 0;
};

// A fitted group's score: its instances counted by how closely they agree with the others
// (one that hardly does counts little), plus loudness and clear edges.
void rate(FittedGroup& f, const BeatFeatures& bf, const std::vector<double>& boundary,
          double levelMean, double levelSpread) {
    const Group& g = f.group;
    const size_t count = g.starts.size();
    double instances = 0, loudness = 0, edges = 0;
    f.quality.assign(count, 0.0);
    for (size_t i = 0; i < count; ++i) {
        double agreement = 0;
        for (size_t j = 0; j < count; ++j) {
            if (i == j)
                continue;
            double sum = 0;
            for (int u = 0; u < g.length; ++u)
                sum += dot(bf.at(g.starts[i] + u), bf.at(g.starts[j] + u));
            agreement += sum / g.length;
        }
        agreement /= double(count - 1);
        const double level =
            (meanLevel(bf, g.starts[i], g.starts[i] + g.length) - levelMean) / levelSpread;
        // An instance counts fully where the music changes at both its ends: a stretch that
        // starts halfway through a section is an echo of its phrases, not a section.
        const double edge =
            0.5 * (boundary[size_t(g.starts[i])] + boundary[size_t(g.starts[i] + g.length)]);
        // Closeness counts more than linearly: a chorus returns as it was, a verse with other
        // words. One that follows straight on from another is partly its continuation.
        const double closeness =
            std::clamp((agreement - kRepeatThreshold) / (1 - kRepeatThreshold), 0.0, 1.0);
        const bool follows = i > 0 && g.starts[i - 1] + g.length == g.starts[i];
        instances += closeness * closeness * (follows ? 0.5 : 1.0) *
                     (1 - kEdgeShare + kEdgeShare * std::min(1.0, 2 * edge));
        loudness += level;
        edges += edge;
        f.quality[i] = agreement + 0.3 * level;
        f.agreement += agreement / double(count);
    }
    f.score = instances + kLoudnessWeight * loudness / double(count) +
              kBoundaryWeight * edges / double(count);
}

FoundSection sectionAt(const Timeline& t, const StructureLimits& limits, int start, int end) {
    // A longer section is cut at its last bar line before the longest selection.
    if (t.seconds(end) - t.seconds(start) > limits.selectionSeconds + 0.01) {
        int cut = start;
        for (int bar : t.bars)
            if (bar > start && t.seconds(bar) - t.seconds(start) <= limits.selectionSeconds + 0.01)
                cut = bar;
        if (cut > start)
            end = cut;
    }
    FoundSection s;
    s.startHop = t.edges[size_t(start)];
    s.endHop = t.edges[size_t(end)];
    s.onBeat = t.onBeat;
    return s;
}

} // namespace

std::vector<FoundSection> findSections(const FeatureStream& f, const BeatGrid& grid,
                                       const StructureLimits& limits,
                                       const std::atomic<bool>* cancel) {
    std::vector<FoundSection> out;
    if (f.hops() < 2)
        return out;
    const Timeline t = makeTimeline(f, grid);
    const int n = t.beats();
    if (n < 4)
        return out;
    const BeatFeatures bf = beatFeatures(f, t);
    const std::vector<double> boundary = novelty(bf, t);
    std::vector<Candidate> cands = makeCandidates(t, limits);
    if (isCancelled(cancel) || !findOccurrences(bf, t, cands, cancel))
        return {};

    double levelMean = 0, levelSquare = 0;
    for (double l : bf.levelDb)
        levelMean += l;
    levelMean /= n;
    for (double l : bf.levelDb)
        levelSquare += (l - levelMean) * (l - levelMean);
    const double levelSpread = std::sqrt(levelSquare / n) + 1e-6;
    for (Candidate& c : cands) {
        for (int i = 0; i < c.count; ++i)
            c.repeats +=
                std::max(0.0, (c.found[i].value - kRepeatThreshold) / (1 - kRepeatThreshold));
        c.boundary = 0.5 * (boundary[size_t(c.start)] + boundary[size_t(c.end)]);
        c.loudness = (meanLevel(bf, c.start, c.end) - levelMean) / levelSpread;
        c.score = c.repeats + kBoundaryWeight * c.boundary + kLoudnessWeight * c.loudness;
    }
    std::sort(cands.begin(), cands.end(),
              [](const Candidate& a, const Candidate& b) { return a.score > b.score; });

    // Seeds of distinct material, each grown into its section and rated as a whole: how many
    // instances agree and how closely, how loud they are, how clearly they begin and end.
    std::vector<FittedGroup> groups;
    std::vector<std::pair<int, int>> claimed;
    const auto overlaps = [](const std::vector<std::pair<int, int>>& spans, int start, int end,
                             double share) {
        for (const auto& [a, b] : spans)
            if (std::min(b, end) - std::max(a, start) > share * (end - start))
                return true;
        return false;
    };
    for (const Candidate& c : cands) {
        if (int(groups.size()) == kGroupsTried || isCancelled(cancel))
            break;
        if (c.repeats <= 0 || overlaps(claimed, c.start, c.end, 0.25))
            continue;
        FittedGroup fitted;
        fitted.group = groupOf(c, t);
        fitGroup(bf, t, boundary, limits, fitted.group);
        if (fitted.group.starts.size() < 2)
            continue;
        if (std::any_of(groups.begin(), groups.end(), [&](const FittedGroup& o) {
                return o.group.starts == fitted.group.starts &&
                       o.group.length == fitted.group.length;
            }))
            continue;
        rate(fitted, bf, boundary, levelMean, levelSpread);
        for (int s : fitted.group.starts)
            claimed.emplace_back(s, s + fitted.group.length);
        groups.push_back(std::move(fitted));
    }
    // A section heard as part of a longer one that recurs as closely is that longer one (a
    // phrase repeated within the chorus is not the chorus).
    const auto within = [](const FittedGroup& inner, const FittedGroup& outer) {
        for (int s : inner.group.starts) {
            bool covered = false;
            for (int o : outer.group.starts)
                covered = covered || (s >= o && s + inner.group.length <= o + outer.group.length);
            if (!covered)
                return false;
        }
        return outer.group.length > inner.group.length &&
               outer.agreement >= inner.agreement - kContainedMargin;
    };
    std::vector<FittedGroup> kept;
    for (const FittedGroup& g : groups)
        if (std::none_of(groups.begin(), groups.end(),
                         [&](const FittedGroup& o) { return within(g, o); }))
            kept.push_back(g);
    groups = std::move(kept);
    std::sort(groups.begin(), groups.end(),
              [](const FittedGroup& a, const FittedGroup& b) { return a.score > b.score; });

    std::vector<std::pair<int, int>> taken;
    for (size_t group = 0; group < std::min<size_t>(2, groups.size()); ++group) {
        const FittedGroup& g = groups[group];
        std::vector<size_t> order(g.group.starts.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return g.quality[a] > g.quality[b]; });
        for (size_t i : order) {
            const int s = g.group.starts[i];
            if (int(out.size()) == limits.maxSections || overlaps(taken, s, s + g.group.length, 0))
                continue;
            FoundSection section = sectionAt(t, limits, s, s + g.group.length);
            section.group = int(group);
            section.instances = int(g.group.starts.size());
            section.score = g.score;
            out.push_back(section);
            taken.emplace_back(s, s + g.group.length);
            if (group == 1)
                break; // one instance of other material is enough
        }
    }
    if (!out.empty())
        return out;

    // Nothing repeats: the loudest stretch of the usual length, starting on a beat.
    int bestStart = 0, bestEnd = n;
    double bestLevel = -1e9;
    for (int b = 0, e = 0; b < n; ++b) {
        while (e < n && t.seconds(e) - t.seconds(b) < limits.fallbackSeconds)
            ++e;
        if (t.seconds(e) - t.seconds(b) < limits.fallbackSeconds - 0.01 && b > 0)
            break;
        const double level = meanLevel(bf, b, e);
        if (level > bestLevel) {
            bestLevel = level;
            bestStart = b;
            bestEnd = e;
        }
    }
    FoundSection s = sectionAt(t, limits, bestStart, bestEnd);
    s.endHop = std::min(s.endHop, s.startHop + limits.fallbackSeconds * t.hopsPerSecond);
    s.group = -1;
    out.push_back(s);
    return out;
}

} // namespace chimora
