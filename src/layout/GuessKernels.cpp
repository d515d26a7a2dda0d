#include "layout/GuessKernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

// Each loop is written once, as an always-inlined body; the three variants
// below are that body compiled for the plain instruction set, for AVX2 and
// for AVX-512. The bodies run without branches (the noise in the data makes
// every condition a coin toss) and with sums that the compiler may widen
// into vectors but not reorder, so every variant gives the same sums.

namespace GuessDetail
{
namespace
{

#define KELVOX_KERNEL_BODY __attribute__((always_inline)) inline

KELVOX_KERNEL_BODY void countWrapJumpsBody(const double* s, const double* u, std::size_t n, double range,
                                           std::int64_t& signedJumps, std::int64_t& unsignedJumps)
{
    const double half = range / 2, sixteenth = range / 16;
    std::int64_t signedCount = 0, unsignedCount = 0;
    for (std::size_t k = 0; k + 2 < n; ++k) {
        const double s1 = s[k + 1] - s[k], s2 = s[k + 2] - s[k + 1];
        const double u1 = u[k + 1] - u[k], u2 = u[k + 2] - u[k + 1];
        // Back and forth: both steps longer than half the range, in
        // opposite directions; small: both steps shorter than a sixteenth.
        const bool signedBack = (std::fabs(s1) > half) & (std::fabs(s2) > half) & (s1 * s2 < 0.0);
        const bool unsignedBack = (std::fabs(u1) > half) & (std::fabs(u2) > half) & (u1 * u2 < 0.0);
        const bool signedSmall = (std::fabs(s1) < sixteenth) & (std::fabs(s2) < sixteenth);
        const bool unsignedSmall = (std::fabs(u1) < sixteenth) & (std::fabs(u2) < sixteenth);
        signedCount += signedBack & unsignedSmall;
        unsignedCount += unsignedBack & signedSmall;
    }
    signedJumps += signedCount;
    unsignedJumps += unsignedCount;
}

KELVOX_KERNEL_BODY void unsignedReadingBody(const double* s, double* u, std::size_t n, double range,
                                            std::int64_t& negatives, std::int64_t& nearEnds)
{
    const double nearEnd = range / 2 - 2.0;
    std::int64_t negativeCount = 0, nearCount = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double v = s[k];
        const double a = std::fabs(v);
        // range or +0 added, as range * 1 or range * 0 would (masked: a
        // branch on the sign mispredicts on bytes read out of phase).
        const std::uint64_t negative = 0 - static_cast<std::uint64_t>(v < 0.0);
        u[k] = v + std::bit_cast<double>(std::bit_cast<std::uint64_t>(range) & negative);
        negativeCount += v < 0.0;
        nearCount += (a <= 2.0) | (a >= nearEnd);
    }
    negatives += negativeCount;
    nearEnds += nearCount;
}

KELVOX_KERNEL_BODY bool fillNaNsBody(double* __restrict v, double* __restrict w, std::int64_t n)
{
    std::int64_t nans = 0;
    for (std::int64_t k = 0; k < n; ++k) {
        const bool value = v[k] == v[k];
        w[k] = value ? 1.0 : 0.0;
        v[k] = value ? v[k] : 0.0;
        nans += !value;
    }
    return nans == 0;
}

KELVOX_KERNEL_BODY std::int64_t countNonWholeBody(const double* v, std::int64_t n, double limit)
{
    // (A value too large or NaN is tried as 0.5, which is no whole number.
    // Adding and taking away 1.5 * 2^52 rounds a value below 2^51 in
    // magnitude to a whole number, exactly: the value is whole when that
    // changes nothing.)
    constexpr double Rounder = 6755399441055744.0; // 1.5 * 2^52
    std::int64_t fractions = 0;
    for (std::int64_t k = 0; k < n; ++k) {
        const double x = std::fabs(v[k]) < limit ? v[k] : 0.5;
        fractions += (x + Rounder) - Rounder != x;
    }
    return fractions;
}

KELVOX_KERNEL_BODY RatingSums ratingSumsBody(double* v, double* w, const std::size_t* from, std::size_t parts,
                                             bool wantSpread)
{
    const std::size_t n = from[parts];
    for (std::size_t i = 0; i < n; ++i) {
        const double x = v[i];
        w[i] = x == x ? 1.0 : 0.0;
        v[i] = x == x ? x : 0.0;
    }
    // Every sum in four interleaved parts (one chain of additions waits on
    // each addition, four keep the unit busy); the helpers are inlined, so
    // they are built for the wider vectors too.
    double a[4] = {}, b[4] = {};
    RatingSums r;
    const auto sum = [](const double* part) { return (part[0] + part[1]) + (part[2] + part[3]); };
    // Differences of v[i] and v[i + lag] for i in [begin, end) into a,
    // their weights into b.
    const auto pairs = [&](std::size_t begin, std::size_t end, std::ptrdiff_t lag) __attribute__((always_inline)) {
        std::fill(a, a + 4, 0.0);
        std::fill(b, b + 4, 0.0);
        std::size_t i = begin;
        for (; i + 4 <= end; i += 4) {
            for (std::size_t k = 0; k < 4; ++k) {
                const std::size_t j = i + k;
                const double both = w[j] * w[static_cast<std::ptrdiff_t>(j) + lag];
                a[k] += both * std::fabs(v[j] - v[static_cast<std::ptrdiff_t>(j) + lag]);
                b[k] += both;
            }
        }
        for (; i < end; ++i) {
            const double both = w[i] * w[static_cast<std::ptrdiff_t>(i) + lag];
            a[0] += both * std::fabs(v[i] - v[static_cast<std::ptrdiff_t>(i) + lag]);
            b[0] += both;
        }
    };
    for (std::size_t p = 0; p < parts; ++p) {
        if (from[p + 1] - from[p] < 2)
            continue;
        pairs(from[p], from[p + 1] - 1, 1);
        r.nearSum += sum(a);
        r.nearCount += sum(b);
    }
    // Value i against value i + half, around the end of the sample.
    const std::size_t half = n / 2, rest = n - half;
    pairs(0, rest, static_cast<std::ptrdiff_t>(half));
    r.farSum = sum(a);
    r.farCount = sum(b);
    pairs(rest, n, -static_cast<std::ptrdiff_t>(rest));
    r.farSum += sum(a);
    r.farCount += sum(b);
    // The sum of term(i) over all n values.
    const auto total = [&](const auto& term) __attribute__((always_inline)) {
        double part[4] = {};
        for (std::size_t i = 0; i + 4 <= n; i += 4)
            for (std::size_t k = 0; k < 4; ++k)
                part[k] += term(i + k);
        for (std::size_t i = n - n % 4; i < n; ++i)
            part[0] += term(i);
        return sum(part);
    };
    r.values = total([&](std::size_t i) __attribute__((always_inline)) { return w[i]; });
    if (wantSpread && n > 0) {
        r.mean = total([&](std::size_t i) __attribute__((always_inline)) { return v[i]; }) / static_cast<double>(n);
        r.deviation = total([&](std::size_t i) __attribute__((always_inline)) { return std::fabs(v[i] - r.mean); }) /
                      static_cast<double>(n);
    }
    return r;
}

// Doubles and singles in one vector of VectorBytes (GCC's vector extension),
// and their bits; lane by lane the arithmetic of doubles or singles.
template<int VectorBytes>
struct VectorOf
{
    typedef double Lanes __attribute__((vector_size(VectorBytes)));
    typedef std::uint64_t Bits __attribute__((vector_size(VectorBytes)));
    typedef float Floats __attribute__((vector_size(VectorBytes)));
    typedef std::uint32_t FloatBits __attribute__((vector_size(VectorBytes)));
};

KELVOX_KERNEL_BODY void addLagDifferencesBody(float a, const float* next, const float* weight, std::int64_t lags,
                                              float clip, float* sum, float* count)
{
    for (std::int64_t l = 1; l <= lags; ++l) {
        const float e = std::fabs(a - next[l]);
        sum[l] += weight[l] * (e < clip ? e : clip);
        count[l] += weight[l];
    }
}

// addLagDifferencesBody for each position in turn, a stretch of Vectors
// vectors of lags at a time: the stretch's sums and counts stay in registers
// while every position adds to them in order, so each sum adds the positions
// in the same order. A stretch that some position ends within is added lag by
// lag (no value past a position's last lag is read).
template<int VectorBytes, int Vectors>
KELVOX_KERNEL_BODY void addLagDifferencesAtBody(const float* v, const float* w, const std::int64_t* at,
                                                const std::int64_t* lags, std::size_t positions, float clip,
                                                float* sum, float* count)
{
    using Lanes = typename VectorOf<VectorBytes>::Floats;
    using LaneBits = typename VectorOf<VectorBytes>::FloatBits;
    constexpr std::int64_t LaneCount = VectorBytes / sizeof(float);
    constexpr std::int64_t Stretch = LaneCount * Vectors;
    const Lanes clips = clip - Lanes{}; // clip in every lane
    const LaneBits magnitude = ~LaneBits{} >> 1; // all bits but the sign
    std::int64_t most = 0;
    for (std::size_t p = 0; p < positions; ++p)
        most = std::max(most, lags[p]);
    for (std::int64_t first = 1; first <= most; first += Stretch) {
        const std::int64_t last = first + Stretch - 1;
        bool ends = false;
        for (std::size_t p = 0; p < positions; ++p)
            ends = ends || (lags[p] >= first && lags[p] < last);
        if (ends) {
            for (std::int64_t l = first; l <= std::min(last, most); ++l)
                for (std::size_t p = 0; p < positions; ++p) {
                    if (l > lags[p])
                        continue;
                    const float e = std::fabs(v[at[p]] - v[at[p] + l]);
                    sum[l] += w[at[p] + l] * (e < clip ? e : clip);
                    count[l] += w[at[p] + l];
                }
            continue;
        }
        Lanes sums[Vectors], counts[Vectors];
        std::memcpy(sums, sum + first, sizeof sums);
        std::memcpy(counts, count + first, sizeof counts);
        for (std::size_t p = 0; p < positions; ++p) {
            if (lags[p] < first)
                continue;
            const Lanes a = v[at[p]] - Lanes{};
            const float* next = v + at[p] + first;
            const float* weight = w + at[p] + first;
#pragma GCC unroll 8
            for (int j = 0; j < Vectors; ++j) {
                Lanes o, u;
                std::memcpy(&o, next + j * LaneCount, sizeof o);
                std::memcpy(&u, weight + j * LaneCount, sizeof u);
                const auto e = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(a - o) & magnitude);
                sums[j] += u * (e < clips ? e : clips);
                counts[j] += u;
            }
        }
        std::memcpy(sum + first, sums, sizeof sums);
        std::memcpy(count + first, counts, sizeof counts);
    }
}

// Rows of RowColumns values, all of them values (no weights): the sums of
// Lags lags at a time in registers, a lane per column in vectors of
// VectorBytes (the variant's registers), each base row's values read once for
// all the lags. Every column's sum adds the base rows in order and the
// columns are added in order, as in addRowDifferencesBody's loop.
template<int VectorBytes, int Lags>
KELVOX_KERNEL_BODY void addFullRowDifferencesBody(const double* values, const std::int64_t* baseAt,
                                                  std::int64_t baseCount, std::int64_t maxLag, double clip,
                                                  double* sums, std::int64_t* counts)
{
    using Lanes = typename VectorOf<VectorBytes>::Lanes;
    using LaneBits = typename VectorOf<VectorBytes>::Bits;
    constexpr std::int64_t Columns = RowColumns;
    constexpr std::int64_t LaneCount = VectorBytes / sizeof(double);
    static_assert(Columns % LaneCount == 0);
    constexpr int Vectors = static_cast<int>(Columns / LaneCount);
    const Lanes clips = clip - Lanes{}; // clip in every lane
    const LaneBits magnitude = ~LaneBits{} >> 1; // all bits but the sign
    // The lags [first, first + n) (n <= Lags).
    const auto addLags = [&](std::int64_t first, int n) __attribute__((always_inline)) {
        Lanes sum[Lags][Vectors] = {};
        for (std::int64_t k = 0; k < baseCount; ++k) {
            const double* base = values + baseAt[k];
#pragma GCC unroll 8
            for (int v = 0; v < Vectors; ++v) {
                Lanes b;
                std::memcpy(&b, base + v * LaneCount, sizeof b);
#pragma GCC unroll 8
                for (int l = 0; l < Lags; ++l) {
                    if (l >= n)
                        break;
                    Lanes o;
                    std::memcpy(&o, base + (first + l) * Columns + v * LaneCount, sizeof o);
                    const auto e = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(b - o) & magnitude);
                    sum[l][v] += e < clips ? e : clips;
                }
            }
        }
        for (int l = 0; l < n; ++l) {
            for (int v = 0; v < Vectors; ++v)
                for (std::int64_t c = 0; c < LaneCount; ++c)
                    sums[first + l] += sum[l][v][c];
            counts[first + l] += Columns * baseCount;
        }
    };
    std::int64_t lag = 1;
    for (; lag + Lags - 1 <= maxLag; lag += Lags)
        addLags(lag, Lags);
    if (lag <= maxLag)
        addLags(lag, static_cast<int>(maxLag - lag + 1));
}

// One sum per column (no chain of additions to keep in order), so the
// compiler vectorises it.
template<int VectorBytes, int FullRowLags>
KELVOX_KERNEL_BODY void addRowDifferencesBody(const double* values, const double* weights, std::int64_t columns,
                                              const std::int64_t* baseAt, std::int64_t baseCount,
                                              std::int64_t maxLag, double clip, double* sums, std::int64_t* counts)
{
    if (!weights && columns == RowColumns) {
        addFullRowDifferencesBody<VectorBytes, FullRowLags>(values, baseAt, baseCount, maxLag, clip, sums, counts);
        return;
    }
    for (std::int64_t lag = 1; lag <= maxLag; ++lag) {
        std::array<double, RowColumns> sum{};
        std::array<double, RowColumns> count{};
        for (std::int64_t k = 0; k < baseCount; ++k) {
            const double* base = values + baseAt[k];
            const double* other = base + lag * columns;
            if (!weights) {
                for (std::int64_t c = 0; c < columns; ++c) {
                    const double e = std::fabs(base[c] - other[c]);
                    sum[static_cast<std::size_t>(c)] += e < clip ? e : clip;
                }
                continue;
            }
            const double* baseWeight = weights + baseAt[k];
            const double* otherWeight = baseWeight + lag * columns;
            for (std::int64_t c = 0; c < columns; ++c) {
                const double e = std::fabs(base[c] - other[c]);
                const double w = baseWeight[c] * otherWeight[c];
                sum[static_cast<std::size_t>(c)] += w * (e < clip ? e : clip);
                count[static_cast<std::size_t>(c)] += w;
            }
        }
        if (!weights)
            count.fill(static_cast<double>(baseCount));
        for (std::int64_t c = 0; c < columns; ++c) {
            sums[lag] += sum[static_cast<std::size_t>(c)];
            counts[lag] += static_cast<std::int64_t>(count[static_cast<std::size_t>(c)]);
        }
    }
}

#undef KELVOX_KERNEL_BODY

struct Kernels
{
    decltype(&GuessDetail::countWrapJumps) wrapJumps;
    decltype(&GuessDetail::unsignedReading) unsignedOf;
    decltype(&GuessDetail::fillNaNs) fill;
    decltype(&GuessDetail::countNonWhole) nonWhole;
    decltype(&GuessDetail::ratingSums) rating;
    decltype(&GuessDetail::addLagDifferences) lagDifferences;
    decltype(&GuessDetail::addLagDifferencesAt) lagDifferencesAt;
    decltype(&GuessDetail::addRowDifferences) rowDifferences;
};

// The bodies built for one instruction set (Target: nothing for the plain
// one, else the target attribute), as a set of kernels. VectorBytes: the
// width of its registers; FullRowLags: the lags of full rows summed at a time
// (see addFullRowDifferencesBody; as many as its registers hold).
#define KELVOX_KERNEL_VARIANT(Name, Target, VectorBytes, FullRowLags)                                         \
    Target void countWrapJumps##Name(const double* s, const double* u, std::size_t n, double range,              \
                                     std::int64_t& sj, std::int64_t& uj)                                         \
    {                                                                                                            \
        countWrapJumpsBody(s, u, n, range, sj, uj);                                                              \
    }                                                                                                            \
    Target void unsignedReading##Name(const double* s, double* u, std::size_t n, double range,                  \
                                      std::int64_t& negatives, std::int64_t& nearEnds)                           \
    {                                                                                                            \
        unsignedReadingBody(s, u, n, range, negatives, nearEnds);                                                \
    }                                                                                                            \
    Target bool fillNaNs##Name(double* v, double* w, std::int64_t n)                                             \
    {                                                                                                            \
        return fillNaNsBody(v, w, n);                                                                            \
    }                                                                                                            \
    Target std::int64_t countNonWhole##Name(const double* v, std::int64_t n, double limit)                       \
    {                                                                                                            \
        return countNonWholeBody(v, n, limit);                                                                   \
    }                                                                                                            \
    Target RatingSums ratingSums##Name(double* v, double* w, const std::size_t* from, std::size_t parts,         \
                                       bool wantSpread)                                                          \
    {                                                                                                            \
        return ratingSumsBody(v, w, from, parts, wantSpread);                                                    \
    }                                                                                                            \
    Target void addLagDifferences##Name(float a, const float* next, const float* weight, std::int64_t lags,      \
                                        float clip, float* sum, float* count)                                    \
    {                                                                                                            \
        addLagDifferencesBody(a, next, weight, lags, clip, sum, count);                                          \
    }                                                                                                            \
    Target void addLagDifferencesAt##Name(const float* v, const float* w, const std::int64_t* at,                \
                                          const std::int64_t* lags, std::size_t positions, float clip,           \
                                          float* sum, float* count)                                              \
    {                                                                                                            \
        addLagDifferencesAtBody<VectorBytes, 4>(v, w, at, lags, positions, clip, sum, count);                    \
    }                                                                                                            \
    Target void addRowDifferences##Name(const double* values, const double* weights, std::int64_t columns,       \
                                        const std::int64_t* baseAt, std::int64_t baseCount, std::int64_t maxLag, \
                                        double clip, double* sums, std::int64_t* counts)                         \
    {                                                                                                            \
        addRowDifferencesBody<VectorBytes, FullRowLags>(values, weights, columns, baseAt, baseCount, maxLag,     \
                                                         clip, sums, counts);                                    \
    }                                                                                                            \
    constexpr Kernels Kernels##Name{countWrapJumps##Name,      unsignedReading##Name,     fillNaNs##Name,          \
                                    countNonWhole##Name,       ratingSums##Name,          addLagDifferences##Name, \
                                    addLagDifferencesAt##Name, addRowDifferences##Name};

KELVOX_KERNEL_VARIANT(Plain, , 16, 2)
KELVOX_KERNEL_VARIANT(Avx2, __attribute__((target("avx2"))), 32, 2)
KELVOX_KERNEL_VARIANT(Avx512, __attribute__((target("avx512f"))), 64, 4)
#undef KELVOX_KERNEL_VARIANT

const Kernels& kernelsOf(KernelVariant variant)
{
    switch (variant) {
    case KernelVariant::Plain: return KernelsPlain;
    case KernelVariant::Avx2: return KernelsAvx2;
    case KernelVariant::Avx512: return KernelsAvx512;
    }
    return KernelsPlain;
}

KernelVariant widestVariant()
{
    if (__builtin_cpu_supports("avx512f"))
        return KernelVariant::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return KernelVariant::Avx2;
    return KernelVariant::Plain;
}

KernelVariant g_variant = widestVariant();
const Kernels* g_kernels = &kernelsOf(g_variant);

} // namespace

bool canRunKernels(KernelVariant variant)
{
    switch (variant) {
    case KernelVariant::Plain: return true;
    case KernelVariant::Avx2: return __builtin_cpu_supports("avx2");
    case KernelVariant::Avx512: return __builtin_cpu_supports("avx512f");
    }
    return false;
}

bool useKernels(KernelVariant variant)
{
    if (canRunKernels(variant)) {
        g_variant = variant;
        g_kernels = &kernelsOf(variant);
    }
    return g_variant == variant;
}

KernelVariant kernelsInUse()
{
    return g_variant;
}

const char* kernelVariantName(KernelVariant variant)
{
    switch (variant) {
    case KernelVariant::Plain: return "Plain";
    case KernelVariant::Avx2: return "Avx2";
    case KernelVariant::Avx512: return "Avx512";
    }
    return "Unknown";
}

void countWrapJumps(const double* s, const double* u, std::size_t n, double range, std::int64_t& signedJumps,
                    std::int64_t& unsignedJumps)
{
    g_kernels->wrapJumps(s, u, n, range, signedJumps, unsignedJumps);
}

void unsignedReading(const double* s, double* u, std::size_t n, double range, std::int64_t& negatives,
                     std::int64_t& nearEnds)
{
    g_kernels->unsignedOf(s, u, n, range, negatives, nearEnds);
}

bool fillNaNs(double* v, double* w, std::int64_t n)
{
    return g_kernels->fill(v, w, n);
}

std::int64_t countNonWhole(const double* v, std::int64_t n, double limit)
{
    return g_kernels->nonWhole(v, n, limit);
}

RatingSums ratingSums(double* v, double* w, const std::size_t* from, std::size_t parts, bool wantSpread)
{
    return g_kernels->rating(v, w, from, parts, wantSpread);
}

void addLagDifferences(float a, const float* next, const float* weight, std::int64_t lags, float clip, float* sum,
                       float* count)
{
    g_kernels->lagDifferences(a, next, weight, lags, clip, sum, count);
}

void addLagDifferencesAt(const float* v, const float* w, const std::int64_t* at, const std::int64_t* lags,
                         std::size_t positions, float clip, float* sum, float* count)
{
    g_kernels->lagDifferencesAt(v, w, at, lags, positions, clip, sum, count);
}

void addRowDifferences(const double* values, const double* weights, std::int64_t columns, const std::int64_t* baseAt,
                       std::int64_t baseCount, std::int64_t maxLag, double clip, double* sums, std::int64_t* counts)
{
    g_kernels->rowDifferences(values, weights, columns, baseAt, baseCount, maxLag, clip, sums, counts);
}

} // namespace GuessDetail
