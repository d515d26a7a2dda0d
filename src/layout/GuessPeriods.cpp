#include "layout/GuessPeriods.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

namespace GuessDetail
{
namespace
{

// Steps 2 and 3's tuning, each value with its reason beside it.
constexpr double CoarseSlack = 0.1; // a peak of the coarse table counts when its evidence comes this near the
                                    // period test's bar (the dense differences decide then)
constexpr double HarmonicEvidence = 0.35; // a multiple of a period with at least this evidence, and at least half
                                          // a multiple's, is that period again
constexpr double MinPairs = 16.0; // pairs of values a lag's coarse or dense mean needs
constexpr double ClipScales = 6.0; // differences are clipped at this many times their upper quartile: a few
                                   // times the noise, far below an edge between tissues
constexpr std::int64_t BaseRows = 32; // rows compared with the rows at every lag, per block
constexpr std::size_t TallHeights = 4; // heights tried at most for tall slices
constexpr std::int64_t TallPositions = 32; // rows of a tall slice compared per lag
constexpr std::int64_t TallColumns = 24; // voxels of each such row
constexpr std::size_t MaxPeaks = 256; // peaks of the coarse table looked at for a fundamental period
// Peaks of the coarse table with this evidence are tried with the dense
// differences up to this many, however many fail.
constexpr double NearlyFullEvidence = 0.95;
constexpr std::size_t NearlyFullPeaksTried = 16;

} // namespace

bool wholeNumbersBelowExactMagnitude(const double* v, std::int64_t n)
{
    return countNonWhole(v, n, ExactMagnitude) == 0;
}

namespace
{

// Appends |v[i + step] - v[i]| for i in [0, n), where both are values (w of
// fillNaNs; complete: all are), in order of i.
void addNeighbourDiffs(const double* v, const double* w, bool complete, std::int64_t n, std::int64_t step,
                       double*& out)
{
    if (complete) {
        for (std::int64_t i = 0; i < n; ++i)
            out[i] = std::fabs(v[i + step] - v[i]);
        out += n;
        return;
    }
    for (std::int64_t i = 0; i < n; ++i)
        if (w[i] * w[i + step] > 0.0)
            *out++ = std::fabs(v[i + step] - v[i]);
}

// The sum of v[0 .. n) added in order, or, when every partial sum is exact
// (whole numbers below ExactMagnitude, fewer than 2^20 of them: every partial
// sum lies below 2^52), in four running sums, which gives the same sum.
double sumOf(const double* v, std::int64_t n, bool whole)
{
    double sum = 0.0;
    if (!whole || n >= (std::int64_t{1} << 20)) {
        for (std::int64_t k = 0; k < n; ++k)
            sum += v[k];
        return sum;
    }
    double part[4] = {0.0, 0.0, 0.0, 0.0};
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4)
        for (int j = 0; j < 4; ++j)
            part[j] += v[k + j];
    for (; k < n; ++k)
        part[0] += v[k];
    return (part[0] + part[1]) + (part[2] + part[3]);
}

} // namespace

bool clipKeepsWholeNumbers(double clip)
{
    return clip >= 2.0 * ExactMagnitude || clip == std::trunc(clip);
}

namespace
{

// In order, one pair after another, unless every sum is exact (whole
// numbers, see ExactMagnitude): then four running sums hide the latency of
// each addition and give the very same total. (1 * x is x: no weights.)
template<bool Exact, bool Weighted>
void addClippedPairsAs(const double* v, const double* w, std::int64_t start, std::int64_t pairs, std::int64_t step,
                     std::int64_t lag, double clip, double& sum, double& count)
{
    const auto term = [&](std::int64_t k) {
        const std::int64_t i = start + k * step;
        const double d = std::min(std::fabs(v[i] - v[i + lag]), clip);
        if constexpr (Weighted)
            return w[i] * w[i + lag] * d;
        else
            return d;
    };
    const auto weight = [&](std::int64_t k) {
        const std::int64_t i = start + k * step;
        return w[i] * w[i + lag];
    };
    if constexpr (Exact) {
        double s[4] = {0.0, 0.0, 0.0, 0.0};
        double c[4] = {0.0, 0.0, 0.0, 0.0};
        std::int64_t k = 0;
        for (; k + 4 <= pairs; k += 4) {
            for (int j = 0; j < 4; ++j) {
                s[j] += term(k + j);
                if constexpr (Weighted)
                    c[j] += weight(k + j);
            }
        }
        for (; k < pairs; ++k) {
            s[0] += term(k);
            if constexpr (Weighted)
                c[0] += weight(k);
        }
        sum += (s[0] + s[1]) + (s[2] + s[3]);
        count += Weighted ? (c[0] + c[1]) + (c[2] + c[3]) : static_cast<double>(pairs);
    } else {
        for (std::int64_t k = 0; k < pairs; ++k) {
            sum += term(k);
            if constexpr (Weighted)
                count += weight(k);
        }
        if constexpr (!Weighted)
            count += static_cast<double>(pairs);
    }
}

} // namespace

void addClippedPairs(bool exact, const double* v, const double* w, std::int64_t start, std::int64_t pairs,
                     std::int64_t step, std::int64_t lag, double clip, double& sum, double& count)
{
    if (exact && w)
        addClippedPairsAs<true, true>(v, w, start, pairs, step, lag, clip, sum, count);
    else if (exact)
        addClippedPairsAs<true, false>(v, w, start, pairs, step, lag, clip, sum, count);
    else if (w)
        addClippedPairsAs<false, true>(v, w, start, pairs, step, lag, clip, sum, count);
    else
        addClippedPairsAs<false, false>(v, w, start, pairs, step, lag, clip, sum, count);
}

double smallWholeQuantile(std::span<const double> values, std::size_t k)
{
    if (k >= values.size())
        return std::nan("");
    std::array<std::uint32_t, SmallWholeLimit> counts{};
    for (const double v : values) {
        if (!(v >= 0.0 && v < static_cast<double>(SmallWholeLimit)))
            return std::nan("");
        const auto whole = static_cast<std::size_t>(v);
        if (static_cast<double>(whole) != v)
            return std::nan("");
        ++counts[whole];
    }
    std::size_t seen = 0;
    std::size_t value = 0;
    for (; value < SmallWholeLimit; ++value) {
        seen += counts[value];
        if (seen > k)
            break;
    }
    return static_cast<double>(value);
}

double clipLimit(std::span<double> diffs)
{
    if (diffs.empty())
        return 0.0;
    // A quartile is as well told by an even spread of some thousands of the
    // differences as by all of them, at a fraction of the selection's cost.
    constexpr std::size_t Enough = 8192;
    if (diffs.size() > 2 * Enough) {
        const std::size_t step = diffs.size() / Enough;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < diffs.size(); i += step)
            diffs[kept++] = diffs[i];
        diffs = diffs.first(kept);
    }
    // (Counted where that tells a quartile above 0: the sum below adds the
    // differences in the order the selection leaves them.)
    const double counted = smallWholeQuantile(diffs, diffs.size() * 3 / 4);
    if (counted > 0.0)
        return ClipScales * counted;
    const auto q = diffs.begin() + static_cast<std::ptrdiff_t>(diffs.size() * 3 / 4);
    std::nth_element(diffs.begin(), q, diffs.end());
    double scale = *q;
    if (!(scale > 0.0)) {
        double sum = 0.0;
        for (const double d : diffs)
            sum += d;
        scale = sum / static_cast<double>(diffs.size());
    }
    // No sampled neighbours differ (a background of one value, two-valued
    // data): nothing is clipped, else every lag would differ alike, by 0.
    // (The greatest finite single: a weight of 0 times it stays 0, in the
    // single-precision sums too.)
    if (!(scale > 0.0))
        return std::numeric_limits<float>::max();
    return ClipScales * scale;
}

std::vector<std::pair<std::int64_t, double>> strongestPeriods(const LagDiffs& diffs, std::size_t count,
                                                             double closeCall)
{
    const std::size_t size = diffs.coarse.size();
    std::vector<double> evidence(size, std::nan(""));
    const auto coarseAt = [&](std::int64_t l) { return diffs.coarseAt(l); };
    for (std::size_t l = 2; l < size; ++l)
        evidence[l] = periodEvidence(coarseAt, static_cast<std::int64_t>(l));
    std::vector<std::pair<std::int64_t, double>> peaks;
    for (std::size_t l = 2; l < size; ++l) {
        const double e = evidence[l];
        if (!std::isfinite(e) || e < 1.0 - MaxPeriodRatio - CoarseSlack)
            continue;
        const bool peak = (l + 1 >= size || !(evidence[l + 1] > e)) && !(evidence[l - 1] > e);
        if (peak)
            peaks.emplace_back(static_cast<std::int64_t>(l), e);
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    // A multiple of a clear shorter period is that period again (two
    // volumes repeat every volume, but their slices every slice; a slice
    // repeats every row).
    // Only a period the dense differences confirm makes others its
    // multiples (a coarse table from an empty background confirms lag 2).
    const auto confirmedBase = [&](std::int64_t lag) {
        const double e = diffs.evidence(lag);
        return std::isfinite(e) && e >= HarmonicEvidence;
    };
    // Whether lag l of evidence e is a multiple of a period of list.
    const auto harmonicIn = [&](const std::vector<std::pair<std::int64_t, double>>& list, std::int64_t l, double e) {
        // (A coarse peak of a long period may lie a voxel or two beside
        // it, which a long multiple shows many times over.)
        return std::any_of(list.begin(), list.end(), [&](const auto& q) {
            if (q.second < HarmonicEvidence || q.second < 0.5 * e)
                return false;
            const std::int64_t beside = std::min<std::int64_t>(2, q.first / 32);
            for (std::int64_t p = std::max<std::int64_t>(2, q.first - beside); p <= q.first + beside; ++p) {
                const std::int64_t times = std::llround(static_cast<double>(l) / static_cast<double>(p));
                if (times >= 2 && std::llabs(l - p * times) <= 3)
                    return confirmedBase(q.first);
            }
            return false;
        });
    };
    const auto dropHarmonics = [&](std::vector<std::pair<std::int64_t, double>>& list) {
        std::vector<std::pair<std::int64_t, double>> kept;
        for (const auto& [l, e] : list)
            if (!harmonicIn(list, l, e))
                kept.emplace_back(l, e);
        list = std::move(kept);
    };
    // Enough peaks that a fundamental period is among its multiples: a
    // slice flattened into one long row repeats at every multiple of its
    // row near the slice, and those crowd the top places.
    if (peaks.size() > MaxPeaks)
        peaks.resize(MaxPeaks);

    // The strongest count + 1 peaks that are no multiple of another, as the
    // dense differences confirm them. A coarse table from a few positions in
    // an empty background gives many lags nearly full evidence; the dense
    // test tells them apart, a few more peaks at most.
    // (Whether a peak is a multiple is asked only of the peaks reached: the
    // answer for one does not depend on the others', and confirming a base
    // costs dense differences. The evidence falls along the list, so a
    // multiple where the tries are used up stops them as the next peak
    // would.)
    std::vector<std::pair<std::int64_t, double>> found;
    std::size_t confirmed = 0, tried = 0;
    for (const auto& [coarseLag, e] : peaks) {
        if (confirmed > count || tried >= (e >= NearlyFullEvidence ? NearlyFullPeaksTried : count + 1))
            break;
        if (harmonicIn(peaks, coarseLag, e))
            continue;
        ++tried;
        std::int64_t lag = coarseLag;
        double least = diffs.dense(lag);
        for (std::int64_t l = std::max<std::int64_t>(2, coarseLag - 3); l <= coarseLag + 3; ++l) {
            const double d = diffs.dense(l);
            if (d < least) {
                least = d;
                lag = l;
            }
        }
        const double refined = diffs.evidence(lag);
        if (!std::isfinite(refined) || refined < 1.0 - MaxPeriodRatio)
            continue;
        const auto add = [&](std::int64_t l, double ev) {
            if (std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.first == l; }))
                found.emplace_back(l, ev);
        };
        add(lag, refined);
        ++confirmed;
        // Lags nearly as good stay in the running: the size decides.
        if (closeCall > 0.0) {
            for (std::int64_t l = std::max<std::int64_t>(2, lag - 2); l <= lag + 2; ++l) {
                const double near = diffs.evidence(l);
                if (l != lag && near >= refined - closeCall)
                    add(l, near);
            }
        }
    }
    dropHarmonics(found);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (closeCall == 0.0) {
        // Without close calls, a lag beside a stronger one is that period
        // again, seen a voxel or two off.
        std::vector<std::pair<std::int64_t, double>> kept;
        for (const auto& f : found)
            if (std::none_of(kept.begin(), kept.end(), [&](const auto& k) { return std::llabs(k.first - f.first) <= 3; }))
                kept.push_back(f);
        found = std::move(kept);
    }
    if (found.size() > count * (closeCall > 0.0 ? 3 : 1))
        found.resize(count * (closeCall > 0.0 ? 3 : 1));
    return found;
}

LagDiffs voxelLagDiffs(Sampler& sampler, const Decoding& d, double* scratch)
{
    const std::int64_t size = sampler.size();
    // The period test of a row of MaxRowVoxels looks at one and a half rows;
    // a small file is looked at for shorter rows, its segments apart.
    const bool longRows = size / d.width >= LagSegments * SegmentVoxels;
    const std::int64_t maxLag = longRows ? MaxRowVoxels + MaxRowVoxels / 2 + 1 : ShortRowVoxels + 1;
    // Every other segment is long enough for the long lags (half the pairs
    // tell a long period as well, at half the cost).
    const auto segmentVoxelsAt = [&](std::size_t part) {
        return longRows && part % 2 == 0 ? SegmentVoxels : SegmentVoxelsFor(ShortRowVoxels);
    };

    std::vector<std::int64_t> starts;
    for (int k = 0; k < 3; ++k)
        starts.push_back(static_cast<std::int64_t>(spreadAt(k) * static_cast<double>(size)));
    if (size > WholeFileLimit) {
        // Inside the kept blocks, where reading costs nothing.
        starts.clear();
        for (const Block& b : sampler.blocks())
            for (int part = 1; part <= 4; ++part)
                starts.push_back(b.offset + static_cast<std::int64_t>(
                                                spreadAt(part) * static_cast<double>(b.data().size()) / 2));
    }
    if (static_cast<std::int64_t>(starts.size()) > LagSegments)
        starts.resize(static_cast<std::size_t>(LagSegments));

    // Each segment's values with NaN as 0 and a weight of 0 (1 for a
    // value), so that the sums below run without a branch.
    struct Segment
    {
        const double* filled = nullptr;
        const double* weights = nullptr;
        std::int64_t n = 0;
        bool complete = true; // every weight 1
        bool whole = false; // every value a whole number below ExactMagnitude
    };
    auto segments = std::make_shared<std::vector<Segment>>();
    bool exact = true; // the dense sums are exact in any order (whole numbers)
    std::vector<double> neighbours(starts.size() * static_cast<std::size_t>(LagPositions * LagStride));
    double* neighbourEnd = neighbours.data();
    for (std::size_t part = 0; part < starts.size(); ++part) {
        const std::int64_t segmentVoxels = segmentVoxelsAt(part);
        const std::int64_t start = std::min(starts[part], std::max<std::int64_t>(0, size - segmentVoxels * d.width));
        const auto bytes = sampler.bytes(start, segmentVoxels * d.width);
        const std::int64_t skip = ((d.phase - start) % d.width + d.width) % d.width;
        const std::int64_t n =
            static_cast<std::int64_t>(bytes.size()) > skip
                ? std::min(segmentVoxels, (static_cast<std::int64_t>(bytes.size()) - skip) / d.width)
                : 0;
        double* v = scratch;
        double* w = scratch + n;
        scratch += 2 * n;
        decodeInto(bytes.data() + skip, static_cast<std::size_t>(n), d, v);
        const bool complete = fillNaNs(v, w, n);
        addNeighbourDiffs(v, w, complete, std::clamp<std::int64_t>(n - 1, 0, LagPositions * LagStride), 1,
                          neighbourEnd);
        const bool whole = wholeNumbersBelowExactMagnitude(v, n);
        exact = exact && whole;
        segments->push_back({v, w, n, complete, whole});
    }
    neighbours.resize(static_cast<std::size_t>(neighbourEnd - neighbours.data()));
    const double clip = clipLimit(neighbours);
    exact = exact && clipKeepsWholeNumbers(clip);

    // The coarse table in single precision, from each segment's values
    // about their mean (small differences of large values stay apart).
    std::vector<float> sums(static_cast<std::size_t>(maxLag + 1), 0.0f);
    std::vector<float> counts(sums.size(), 0.0f);
    auto* single = reinterpret_cast<float*>(scratch);
    for (const Segment& s : *segments) {
        const std::int64_t n = s.n;
        if (n < 2)
            continue;
        // (The weights are whole numbers too.)
        const double values = sumOf(s.weights, n, true);
        const double mean = values > 0.0 ? sumOf(s.filled, n, s.whole) / values : 0.0;
        float* v = single;
        float* w = single + n;
        single += 2 * n;
        for (std::int64_t k = 0; k < n; ++k) {
            v[k] = static_cast<float>(s.weights[k] * (s.filled[k] - mean));
            w[k] = static_cast<float>(s.weights[k]);
        }
        const std::int64_t positions = std::min(LagPositions, std::max<std::int64_t>(1, n / 3 / LagStride));
        std::array<std::int64_t, LagPositions> at{}, lags{};
        std::size_t used = 0;
        for (std::int64_t p = 0; p < positions; ++p) {
            const std::int64_t i = p * LagStride;
            if (w[i] == 0.0f)
                continue;
            at[used] = i;
            lags[used++] = std::min(p % LongLagSparsity == 0 ? maxLag : DenseCoarseLags, n - 1 - i);
        }
        addLagDifferencesAt(v, w, at.data(), lags.data(), used, static_cast<float>(clip), sums.data(), counts.data());
    }
    LagDiffs diffs;
    diffs.coarse.assign(sums.size(), std::nan(""));
    for (std::size_t l = 1; l < sums.size(); ++l)
        if (counts[l] >= MinPairs)
            diffs.coarse[l] = static_cast<double>(sums[l]) / static_cast<double>(counts[l]);
    diffs.measure = [segments, clip, exact](std::int64_t lag) {
        double sum = 0.0, count = 0.0;
        if (lag >= 1) {
            for (const Segment& s : *segments) {
                const std::int64_t n = s.n;
                if (lag >= n)
                    continue;
                const std::int64_t step = std::max<std::int64_t>(1, (n - lag) / DensePositions);
                const std::int64_t pairs = (n - lag + step - 1) / step;
                addClippedPairs(exact, s.filled, s.complete ? nullptr : s.weights, 0, pairs, step, lag, clip, sum,
                                count);
            }
        }
        return count >= MinPairs ? sum / count : std::nan("");
    };
    return diffs;
}

LagDiffs rowLagDiffs(const Sampler& sampler, const Decoding& d, std::int64_t rowVoxels, double* scratch)
{
    constexpr std::int64_t Columns = RowColumns;
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t columns = std::min(Columns, rowVoxels);

    struct Matrix
    {
        double* values = nullptr; // rows x columns; 0 where no value
        double* weights = nullptr; // 1 where values holds a value, else 0
        std::int64_t rows = 0;
        bool complete = true; // every weight 1 (integers are never NaN)
    };
    auto matrices = std::make_shared<std::vector<Matrix>>();
    bool exact = true; // the dense sums are exact in any order (whole numbers)
    // Scratch: per block the values and the weights, then the neighbour
    // differences of all blocks.
    double* free = scratch;
    double* const neighbourStart = scratch + 2 * 2 * MaxBlockRows * Columns;
    double* neighbourEnd = neighbourStart;
    for (const Block& b : sampler.blocks()) {
        const std::int64_t skip = ((d.phase - b.offset) % d.width + d.width) % d.width;
        const auto have = static_cast<std::int64_t>(b.data().size()) - skip;
        const std::int64_t rows = std::min(MaxBlockRows, have / rowBytes);
        if (rows < 4)
            continue;
        // From the middle of a block longer than that (a small file kept
        // whole): its first slices are the ends of the volume, mostly
        // background.
        const std::int64_t firstRow = (have / rowBytes - rows) / 2;
        if (matrices->size() >= 2)
            break;
        Matrix m;
        m.rows = rows;
        m.values = free;
        m.weights = free + rows * columns;
        free += 2 * rows * columns;
        std::array<std::int64_t, Columns> columnBytes{};
        for (std::int64_t c = 0; c < columns; ++c)
            columnBytes[static_cast<std::size_t>(c)] = (2 * c + 1) * rowVoxels / (2 * columns) * d.width;
        for (std::int64_t r = 0; r < rows; ++r)
            decodeAt(b.data().data() + skip + (firstRow + r) * rowBytes, columnBytes.data(),
                     static_cast<std::size_t>(columns), d, m.values + r * columns);
        m.complete = fillNaNs(m.values, m.weights, rows * columns);
        exact = exact && wholeNumbersBelowExactMagnitude(m.values, rows * columns);
        addNeighbourDiffs(m.values, m.weights, m.complete, rows * columns - columns, columns, neighbourEnd);
        matrices->push_back(std::move(m));
    }
    const double clip = clipLimit(std::span<double>(neighbourStart, neighbourEnd));
    exact = exact && clipKeepsWholeNumbers(clip);

    std::vector<double> sums;
    std::vector<std::int64_t> counts;
    for (const Matrix& m : *matrices) {
        const std::int64_t baseSpan = std::max<std::int64_t>(1, m.rows / 3);
        const std::int64_t baseCount = std::min(BaseRows, baseSpan);
        const std::int64_t lastBase = (baseCount - 1) * baseSpan / baseCount;
        const std::int64_t maxLag = std::min(m.rows - 1 - lastBase, MaxSliceRows + MaxSliceRows / 2 + 1);
        if (static_cast<std::int64_t>(sums.size()) < maxLag + 1) {
            sums.resize(static_cast<std::size_t>(maxLag + 1), 0.0);
            counts.resize(sums.size(), 0);
        }
        std::array<std::int64_t, BaseRows> baseAt{};
        for (std::int64_t k = 0; k < baseCount; ++k)
            baseAt[static_cast<std::size_t>(k)] = k * baseSpan / baseCount * columns;
        addRowDifferences(m.values, m.complete ? nullptr : m.weights, columns, baseAt.data(), baseCount, maxLag, clip,
                          sums.data(), counts.data());
    }
    LagDiffs diffs;
    diffs.coarse.assign(sums.size(), std::nan(""));
    for (std::size_t l = 1; l < sums.size(); ++l)
        if (static_cast<double>(counts[l]) >= MinPairs)
            diffs.coarse[l] = sums[l] / static_cast<double>(counts[l]);
    diffs.measure = [matrices, clip, columns, exact](std::int64_t lag) {
        double sum = 0.0, count = 0.0;
        if (lag >= 1) {
            for (const Matrix& m : *matrices) {
                const std::int64_t pairs = m.rows - lag;
                const std::int64_t step = std::max<std::int64_t>(1, pairs * columns / DensePositions);
                for (std::int64_t r = 0; r < pairs; r += step)
                    addClippedPairs(exact, m.values, m.complete ? nullptr : m.weights, r * columns, columns, 1,
                                    lag * columns, clip, sum, count);
            }
        }
        return count >= MinPairs ? sum / count : std::nan("");
    };
    return diffs;
}

std::vector<std::pair<std::int64_t, double>> tallSlicePeriods(Sampler& sampler, const Decoding& d,
                                                              std::int64_t rowVoxels)
{
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t size = sampler.size();
    // Heights from the size's factorisation, the header a common one.
    std::vector<std::pair<std::int64_t, std::int64_t>> heights; // rows per slice, header
    for (const std::int64_t h : {std::int64_t{0}, std::int64_t{256}, std::int64_t{348}, std::int64_t{352},
                                 std::int64_t{512}, std::int64_t{1024}, std::int64_t{2048}, std::int64_t{4096}}) {
        if (size <= h || (size - h) % rowBytes != 0 || h % d.width != d.phase)
            continue;
        // Square slices first (the most common), then the lowest.
        const std::int64_t rows = (size - h) / rowBytes;
        const auto fits = [&](std::int64_t k) {
            return k > MaxSliceRows && k <= MaxTallSliceRows && k <= rows / 2 && rows % k == 0;
        };
        if (fits(rowVoxels))
            heights.emplace_back(rowVoxels, h);
        for (std::int64_t k = MaxSliceRows + 1; k <= std::min(MaxTallSliceRows, rows / 2); ++k)
            if (fits(k) && k != rowVoxels && heights.size() < TallHeights)
                heights.emplace_back(k, h);
        break;
    }
    std::vector<std::pair<std::int64_t, double>> found;
    if (heights.empty())
        return found;
    const std::int64_t header = heights.front().second;
    const std::int64_t rows = (size - header) / rowBytes;
    const std::int64_t columns = std::min(rowVoxels, TallColumns);
    std::map<std::int64_t, std::vector<double>> read;
    const auto rowAt = [&](std::int64_t r) -> const std::vector<double>& {
        auto it = read.find(r);
        if (it != read.end())
            return it->second;
        const std::int64_t at = header + r * rowBytes + (rowVoxels - columns) / 2 * d.width;
        return read.emplace(r, decodeRun(sampler.bytes(at, columns * d.width), at, d, static_cast<std::size_t>(columns)))
            .first->second;
    };
    // The same sampled rows for every lag, compared with the rows a lag on.
    const auto diffAt = [&](std::int64_t lag, double clip) {
        double sum = 0.0;
        std::int64_t count = 0;
        for (std::int64_t p = 0; p < TallPositions; ++p) {
            const std::int64_t r = p * (rows - lag) / TallPositions;
            if (r < 0 || r + lag >= rows)
                continue;
            const std::vector<double>& a = rowAt(r);
            const std::vector<double>& b = rowAt(r + lag);
            for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
                if (std::isfinite(a[i]) && std::isfinite(b[i])) {
                    sum += std::min(std::fabs(a[i] - b[i]), clip);
                    ++count;
                }
        }
        return count >= static_cast<std::int64_t>(MinPairs) ? sum / static_cast<double>(count) : std::nan("");
    };
    std::vector<double> neighbours;
    for (std::int64_t p = 0; p < TallPositions; ++p) {
        const std::int64_t r = p * (rows - 1) / TallPositions;
        const std::vector<double> a = rowAt(r);
        const std::vector<double>& b = rowAt(r + 1);
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            if (std::isfinite(a[i]) && std::isfinite(b[i]))
                neighbours.push_back(std::fabs(a[i] - b[i]));
    }
    const double clip = clipLimit(neighbours);
    if (!(clip > 0.0))
        return found;
    for (const auto& [k, h] : heights) {
        const double e = periodEvidence([&](std::int64_t lag) { return lag < rows ? diffAt(lag, clip) : std::nan(""); }, k);
        if (std::isfinite(e) && e >= 1.0 - MaxPeriodRatio)
            found.emplace_back(k, e);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return found;
}

} // namespace GuessDetail
