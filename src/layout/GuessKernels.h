#pragma once

#include <cstddef>
#include <cstdint>

// The layout guesser's innermost loops, built three times: plainly, for AVX2
// and for AVX-512. Each variant does exactly the plain loop's arithmetic (no
// reordered sums, no fused multiply-adds), so the sums and the rankings are
// the same on every processor; the wider vectors only run them sooner.
namespace GuessDetail
{

enum class KernelVariant
{
    Plain,
    Avx2,
    Avx512
};

// Whether the processor can run variant.
bool canRunKernels(KernelVariant variant);
// Chooses the loops; a variant the processor cannot run leaves the choice
// as it was. Returns whether variant is now in use. The widest variant the
// processor runs is the default; tests force each in turn.
bool useKernels(KernelVariant variant);
KernelVariant kernelsInUse();
// "Plain", "Avx2" or "Avx512".
const char* kernelVariantName(KernelVariant variant);

// Counts the places k where the signed reading s jumps across nearly the
// whole range and straight back (s[k] -> s[k + 1] -> s[k + 2]) while the
// unsigned reading u moves little (added to signedJumps), and the other way
// round (added to unsignedJumps).
void countWrapJumps(const double* s, const double* u, std::size_t n, double range, std::int64_t& signedJumps,
                    std::int64_t& unsignedJumps);

// The unsigned reading u of the n signed integer values s of a type of range
// values (s + range where s is negative; no s is NaN), with how many s are
// negative (added to negatives) and how many lie within two of 0 or of
// either signed end, range / 2 - 2 and beyond (added to nearEnds).
void unsignedReading(const double* s, double* u, std::size_t n, double range, std::int64_t& negatives,
                     std::int64_t& nearEnds);

// Rewrites the n values v with NaN as 0 and sets their weights w to 0 there
// (1 for a value), so that sums run without a branch; whether every value is
// one. v and w do not overlap.
bool fillNaNs(double* v, double* w, std::int64_t n);

// How many of the n values v are no whole number of a magnitude below limit
// (at most 2^51); NaN and infinities are none.
std::int64_t countNonWhole(const double* v, std::int64_t n, double limit);

// The sums that rate a decoding, from its n = from[parts] values in v, the
// parts' values from from[p] on (chunks of the file): NaNs become 0 with a
// weight w of 0 (1 for a value), so that the sums run without a branch (the
// wrong orders of floats are NaN at random). v and w are rewritten so.
struct RatingSums
{
    double values = 0.0; // how many are no NaN
    double nearSum = 0.0, nearCount = 0.0; // neighbours within a part
    double farSum = 0.0, farCount = 0.0; // values half the sample apart
    double mean = 0.0, deviation = 0.0; // mean absolute deviation (wanted only)

    bool operator==(const RatingSums&) const = default; // bit for bit (a NaN equals nothing)
};
RatingSums ratingSums(double* v, double* w, const std::size_t* from, std::size_t parts, bool wantSpread);

// Adds to sum[l] and count[l] (l = 1 .. lags) the clipped difference of a
// and next[l], weighted by weight[l] (0 where next[l] is no value). In
// single precision: the sums only rank lags against each other.
void addLagDifferences(float a, const float* next, const float* weight, std::int64_t lags, float clip, float* sum,
                       float* count);

// addLagDifferences(v[at[p]], v + at[p], w + at[p], lags[p], ...) for each
// of the positions p in turn (lags[p] >= 1): the same sums, bit for bit, in
// one pass over the sums.
void addLagDifferencesAt(const float* v, const float* w, const std::int64_t* at, const std::int64_t* lags,
                         std::size_t positions, float clip, float* sum, float* count);

// Columns of a row that addRowDifferences compares at most.
inline constexpr std::int64_t RowColumns = 24;

// Adds to sums[lag] and counts[lag] (lag = 1 .. maxLag) the clipped
// differences of the rows at baseAt[k] (value offsets, k < baseCount) and the
// rows lag rows further, and how many there are: values holds the rows
// `columns` (<= RowColumns) values apiece, weights 1 where a value is one and
// 0 where it is none (nullptr: all are values). The guess's innermost loop.
void addRowDifferences(const double* values, const double* weights, std::int64_t columns, const std::int64_t* baseAt,
                       std::int64_t baseCount, std::int64_t maxLag, double clip, double* sums, std::int64_t* counts);

} // namespace GuessDetail
