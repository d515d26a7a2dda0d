#include "layout/GuessDecodings.h"

#include "layout/GuessKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

// Step 1 of the guess: type, byte order and voxel phase. For each, the
// neighbour difference against the difference of unrelated voxels (a wrong
// byte order or width turns smooth data into noise), the sanity of floats
// (no denormals, huge magnitudes, all-NaN), the narrowest smooth width.

namespace GuessDetail
{
namespace
{

// Step 1's tuning, each value with its reason beside it.
constexpr double MostlyNaN = 0.9; // a float reading with more than this share of insane values is rated 0 at
                                  // once: it is what the bits of integers mostly are as floats
constexpr double WeirdPenalty = 3.0; // each share of insane values that is no NaN in the file costs three times its
                                     // share of the smoothness: a wrong order makes many, a right one none
constexpr double SecondLookShare = 0.7; // decodings this near the best quick rating are rated again from the whole
                                        // chunks; the others are noise already in the quick one
constexpr double SignLookShare = 0.85; // signed against unsigned is worth telling only this close to the best
constexpr double WrongSignWraps = 0.8; // the reading that the wrap-around test rules out (decisive)
constexpr double WrongSignByPreference = 0.95; // the reading that is only the lesser preference (a nudge)
constexpr double CompactFactor = 1.5; // values spread this much wider in one reading than in the other are one
                                      // compact range read the wrong way
// A narrower reading at least NarrowerSmooth, and within NarrowerMargin of a
// wider one, means the wider reading pairs neighbours into one value.
constexpr double NarrowerSmooth = 0.2;
constexpr double NarrowerMargin = 0.1;
constexpr double WiderThanData = 0.6; // what the wider reading keeps of its score then
// Float bits read as integers are smooth too: a float reading of the same
// bytes at least SaneFloatSmooth and SaneFloatShare as smooth wins.
constexpr double SaneFloatSmooth = 0.3;
constexpr double SaneFloatShare = 0.8;
constexpr double FloatBitsAsInteger = 0.5; // what the integer reading keeps of its score then
// Floats of everyday magnitudes (2^-20 .. 2^40) read as 32-bit integers are
// all near +-10^9 (the exponent fills the top bits), with nothing small; a
// smooth float reading of such integers wins whatever their smoothness
// (positive floats read as integers are as monotonic as the floats).
constexpr int UsualLeastExponent = -20;
constexpr int UsualGreatestExponent = 40;
constexpr double FloatBitsShare = 0.9; // of the values that are not zero
constexpr double FloatBitsNonZero = 0.125; // the least share of values not zero that tells anything
constexpr double MagnitudePenalty = 0.004; // per binary order of magnitude above the least of the same width: the
                                           // tie-break between byte orders when a byte is always zero

// Values clipped to a type's range pile up at both of its ends: many at the
// least and at the greatest value, few just inside them.
struct EndCounts
{
    std::int64_t least = 0, aboveLeast = 0, greatest = 0, belowGreatest = 0;

    void add(double v, double low, double high)
    {
        least += v == low;
        aboveLeast += v == low + 1.0;
        greatest += v == high;
        belowGreatest += v == high - 1.0;
    }
    bool clipped(std::int64_t total) const
    {
        constexpr double PileShare = 0.01; // each end holds at least this share of the values
        constexpr std::int64_t PileOverInside = 8; // and this many times the value just inside it
        const auto pile = [&](std::int64_t end, std::int64_t inside) {
            return static_cast<double>(end) >= PileShare * static_cast<double>(total) && end >= PileOverInside * (inside + 1);
        };
        return pile(least, aboveLeast) && pile(greatest, belowGreatest);
    }
};

// Signed or unsigned: +2 / -2 when the values are clipped at both ends of
// one reading's range and not of the other's (data saturated in its type),
// else +2 / -2 when the other reading wraps around where the
// values are continuous (noise about a wrap-around point makes that reading
// jump back and forth across nearly the whole range), +1 / -1 by preference
// otherwise: bytes unsigned; wider integers the reading whose values lie
// closer together (values at both ends of the range are one compact range
// read the wrong way), else signed. The unsigned reading is that of the same
// width, order and phase, worked out from the signed one.
// alike: no sampled value is negative in the signed reading, so both
// readings show the same numbers.
int signedVerdict(Sampler& sampler, const Decoding& asSigned, double signedSpread, double unsignedSpread, bool& alike)
{
    alike = true;
    constexpr std::size_t SampleVoxels = std::size_t{1} << 15;
    const double range = std::ldexp(1.0, 8 * asSigned.width);
    std::int64_t signedJumps = 0, unsignedJumps = 0;
    constexpr std::int64_t Runs = 8; // per block, spread over it
    std::vector<double> u;
    EndCounts signedEnds, unsignedEnds;
    std::int64_t total = 0;
    for (const Block& b : sampler.blocks())
    for (std::int64_t run = 0; run < Runs; ++run) {
        const auto from = static_cast<std::size_t>(static_cast<std::int64_t>(b.data().size()) / Runs * run);
        const std::span<const std::uint8_t> part = b.data().subspan(from);
        const auto at = b.offset + static_cast<std::int64_t>(from);
        const std::vector<double> s = decodeRun(part, at, asSigned, SampleVoxels / Runs);
        // The same bytes read unsigned: the negative values wrap around.
        u.resize(s.size());
        const double* sv = s.data();
        const double* uv = u.data();
        const std::size_t n = s.size();
        const double nearEnd = range / 2 - 2.0;
        // (Only values within two of 0 or of a signed end can be at an end
        // of either reading or just inside it.)
        std::int64_t negatives = 0, near = 0;
        unsignedReading(sv, u.data(), n, range, negatives, near);
        alike = alike && negatives == 0;
        for (std::size_t k = 0; k < n && near > 0; ++k)
            if (std::fabs(sv[k]) <= 2.0 || std::fabs(sv[k]) >= nearEnd) {
                signedEnds.add(sv[k], -range / 2, range / 2 - 1.0);
                unsignedEnds.add(uv[k], 0.0, range - 1.0);
                --near;
            }
        total += static_cast<std::int64_t>(s.size());
        countWrapJumps(s.data(), u.data(), s.size(), range, signedJumps, unsignedJumps);
    }
    const bool signedClipped = signedEnds.clipped(total), unsignedClipped = unsignedEnds.clipped(total);
    if (signedClipped != unsignedClipped)
        return signedClipped ? 2 : -2;
    if (unsignedJumps > 2 * signedJumps + 2) // clearly more wraps one way
        return 2;
    if (signedJumps > 2 * unsignedJumps + 2)
        return -2;
    if (asSigned.width == 1)
        return -1;
    return unsignedSpread > CompactFactor * signedSpread || !(signedSpread > CompactFactor * unsignedSpread) ? 1 : -1;
}

// How many of the n float voxels from p on hold a NaN in the file
// (exponent all ones, fraction not zero), whatever their quiet bit.
template<typename Bits>
std::int64_t countNaNPatternsOf(const std::uint8_t* p, std::size_t n, bool bigEndian)
{
    constexpr int Width = static_cast<int>(sizeof(Bits));
    constexpr Bits Exponent = Width == 4 ? Bits{0x7F800000u} : static_cast<Bits>(0x7FF0000000000000u);
    constexpr Bits Fraction = Width == 4 ? Bits{0x007FFFFFu} : static_cast<Bits>(0x000FFFFFFFFFFFFFu);
    std::int64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = static_cast<Bits>(loadVoxelBits(p + i * Width, Width, bigEndian));
        count += ((bits & Exponent) == Exponent) & ((bits & Fraction) != 0);
    }
    return count;
}

// How many of the n float voxels from p on are huge and hold the same bits
// as the voxel before them: a fill value (land in an ocean grid, 1e20 or
// 9.97e36). A wrong order repeats only what repeats in the file, and the
// round values of a background (whose low bytes are zero) it makes tiny.
template<typename Bits, typename Float>
std::int64_t countFillRunsOf(const std::uint8_t* p, std::size_t n, bool bigEndian)
{
    constexpr int Width = static_cast<int>(sizeof(Bits));
    std::int64_t count = 0;
    Bits before = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = static_cast<Bits>(loadVoxelBits(p + i * Width, Width, bigEndian));
        if (i > 0 && bits == before) {
            Float f;
            std::memcpy(&f, &bits, sizeof f);
            const double a = std::fabs(static_cast<double>(f));
            count += std::isfinite(a) && a > MaxSaneMagnitude;
        }
        before = bits;
    }
    return count;
}

std::int64_t countFillRuns(const std::uint8_t* p, std::size_t n, const Decoding& d)
{
    if (d.width == 4)
        return d.bigEndian() ? countFillRunsOf<std::uint32_t, float>(p, n, true) : countFillRunsOf<std::uint32_t, float>(p, n, false);
    return d.bigEndian() ? countFillRunsOf<std::uint64_t, double>(p, n, true) : countFillRunsOf<std::uint64_t, double>(p, n, false);
}

std::int64_t countNaNPatterns(const std::uint8_t* p, std::size_t n, const Decoding& d)
{
    if (d.width == 4)
        return d.bigEndian() ? countNaNPatternsOf<std::uint32_t>(p, n, true) : countNaNPatternsOf<std::uint32_t>(p, n, false);
    return d.bigEndian() ? countNaNPatternsOf<std::uint64_t>(p, n, true) : countNaNPatternsOf<std::uint64_t>(p, n, false);
}


// Of the n 32-bit integer values that are not zero, the share whose bits
// read as floats of a usual magnitude (see UsualLeastExponent); 0 when too
// few are not zero to tell.
double floatBitsShare(const double* values, std::size_t n)
{
    std::size_t nonZero = 0, usual = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = static_cast<std::uint32_t>(static_cast<std::int64_t>(values[i]));
        if ((bits & 0x7FFFFFFFu) == 0)
            continue;
        ++nonZero;
        const int exponent = static_cast<int>((bits >> 23) & 0xFFu) - 127;
        usual += exponent >= UsualLeastExponent && exponent <= UsualGreatestExponent;
    }
    if (static_cast<double>(nonZero) < FloatBitsNonZero * static_cast<double>(n) || nonZero == 0)
        return 0.0;
    return static_cast<double>(usual) / static_cast<double>(nonZero);
}

} // namespace

std::vector<Decoding> rateDecodings(Sampler& sampler, std::int64_t begin, std::int64_t end)
{
    constexpr int Chunks = 8;
    constexpr std::size_t ChunkVoxels = 1024;
    constexpr std::int64_t ChunkBytes = static_cast<std::int64_t>(ChunkVoxels) * 8 + 8;

    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> chunks;
    end = end < 0 ? sampler.size() : std::min(end, sampler.size());
    begin = std::clamp<std::int64_t>(begin, 0, end);
    // Chunks start at offsets that are multiples of 8 (every phase is told
    // from them alike).
    const auto aligned = [&](std::int64_t at) { return std::max(begin, at - at % 8); };
    const std::int64_t size = end - begin;
    if (size <= Chunks * ChunkBytes) {
        // Past the first eighth, where a header would be.
        const std::int64_t at = aligned(begin + size / 8);
        const auto b = sampler.bytes(at, end - at);
        chunks.emplace_back(at, std::vector<std::uint8_t>(b.begin(), b.end()));
    } else {
        for (int c = 0; c < Chunks; ++c) {
            const std::int64_t at =
                aligned(begin + static_cast<std::int64_t>(spreadAt(c) * static_cast<double>(size - ChunkBytes)));
            const auto b = sampler.bytes(at, ChunkBytes);
            chunks.emplace_back(at, std::vector<std::uint8_t>(b.begin(), b.end()));
        }
    }
    // Reused for every decoding: fresh memory costs a page fault per page.
    std::vector<double> all, weight;
    std::vector<std::size_t> from;
    all.reserve(static_cast<std::size_t>(Chunks * ChunkVoxels));
    weight.reserve(all.capacity());
    // Rates d from the first `voxels` voxels of every chunk: sets its smooth
    // and score, and gives the spread of its values (integers only) and
    // their mean binary magnitude.
    struct Figures
    {
        double spread = 0.0; // mean absolute deviation of the values
        double logMagnitude = 0.0;
        double floatBits = 0.0; // 32-bit integers: the share of those not zero whose bits are usual floats
    };
    const auto rate = [&](Decoding& d, std::size_t voxels) {
        const VoxelTypeInfo& info = *voxelTypeInfo(d.type);
        Figures figures;
        d.smooth = d.score = 0.0;
        all.clear();
        from.clear();
        const auto skipOf = [&](std::int64_t at) {
            return static_cast<std::size_t>(d.skipFrom(at));
        };
        for (const auto& [at, data] : chunks) {
            from.push_back(all.size());
            const std::size_t skip = skipOf(at);
            const std::size_t run =
                data.size() > skip ? std::min(voxels, (data.size() - skip) / static_cast<std::size_t>(d.width)) : 0;
            all.resize(from.back() + run);
            decodeInto(data.data() + skip, run, d, all.data() + from.back());
        }
        from.push_back(all.size());
        const std::size_t n = all.size();
        weight.resize(n);
        const RatingSums sums = ratingSums(all.data(), weight.data(), from.data(), from.size() - 1, !info.isFloat);
        const auto insane = static_cast<std::int64_t>(static_cast<double>(n) - sums.values);
        // Nearly no value at all (what the bits of integers mostly are as
        // floats): rated 0 at once, its other figures unused.
        if (info.isFloat && n > 0 && static_cast<double>(insane) > MostlyNaN * static_cast<double>(n))
            return figures;
        // NaNs and fill values in the file (a NaN there is a NaN decoded).
        std::int64_t nans = 0;
        if (info.isFloat && insane > 0) {
            for (std::size_t c = 0; c + 1 < from.size(); ++c) {
                const std::uint8_t* p = chunks[c].second.data() + skipOf(chunks[c].first);
                nans += countNaNPatterns(p, from[c + 1] - from[c], d) + countFillRuns(p, from[c + 1] - from[c], d);
            }
        }
        // Magnitudes (in binary orders) from every eighth value.
        double magnitude = 0.0;
        std::size_t measured = 0;
        for (std::size_t i = 0; i < n; i += 8) {
            if (weight[i] != 0.0) {
                magnitude += static_cast<double>(std::ilogb(1.0 + std::fabs(all[i])));
                ++measured;
            }
        }
        if (sums.nearCount > 0.0 && sums.farCount > 0.0 && sums.farSum > 0.0)
            d.smooth = clamp01(1.0 - (sums.nearSum / sums.nearCount) / (sums.farSum / sums.farCount));
        // A float file may hold NaN regions; denormals and huge magnitudes
        // are what a wrong order makes of it. Integers are always sane.
        double sanity = 1.0;
        if (info.isFloat && n > 0) {
            const double weird = static_cast<double>(std::max<std::int64_t>(0, insane - nans)) / static_cast<double>(n);
            sanity = clamp01(1.0 - WeirdPenalty * weird);
        }
        d.score = d.smooth * sanity;
        // The spread tells signed from unsigned integers only (integers are
        // never NaN).
        figures.spread = sums.deviation;
        figures.logMagnitude = measured > 0 ? magnitude / static_cast<double>(measured) : 0.0;
        if (!info.isFloat && d.width == 4)
            figures.floatBits = floatBitsShare(all.data(), n);
        return figures;
    };

    // Every decoding from a quarter of each chunk, then those that could
    // matter (nearly as good as the best) from the whole chunks: most
    // readings of a file are noise, which a quarter of the chunks spread
    // over the file tells as well. A small file's one chunk is rated whole.
    const std::size_t firstVoxels = chunks.size() > 1 ? ChunkVoxels / 4 : ChunkVoxels;
    std::vector<Decoding> decodings;
    std::vector<double> logMagnitude;
    std::vector<double> spread;
    std::vector<double> floatBits;
    for (const VoxelTypeInfo& info : VoxelTypes) {
        const int orders = info.bytes == 1 ? 1 : 2;
        for (int o = 0; o < orders; ++o) {
            for (int phase = 0; phase < info.bytes; ++phase) {
                Decoding d;
                d.type = info.type;
                d.order = static_cast<TByteOrder>(o);
                d.width = info.bytes;
                d.phase = phase;
                const Figures f = rate(d, firstVoxels);
                decodings.push_back(d);
                spread.push_back(f.spread);
                logMagnitude.push_back(f.logMagnitude);
                floatBits.push_back(f.floatBits);
            }
        }
    }
    double bestFirst = 0.0;
    for (const Decoding& d : decodings)
        bestFirst = std::max(bestFirst, d.score);
    for (std::size_t i = 0; i < decodings.size() && firstVoxels < ChunkVoxels; ++i) {
        if (decodings[i].score < SecondLookShare * bestFirst)
            continue;
        const Figures f = rate(decodings[i], ChunkVoxels);
        spread[i] = f.spread;
        logMagnitude[i] = f.logMagnitude;
        floatBits[i] = f.floatBits;
    }
    // Signed against unsigned (see signedVerdict), only where it matters.
    // Both readings are the same bytes, differing only in where they wrap
    // around; their smoothness says nothing about which is right, so both
    // take the better one and the verdict alone sets them apart.
    std::vector<double> base(decodings.size());
    for (std::size_t i = 0; i < decodings.size(); ++i)
        base[i] = decodings[i].score;
    const double bestBase = *std::max_element(base.begin(), base.end());
    std::vector<double> signFactor(decodings.size(), 1.0);
    for (std::size_t i = 0; i < decodings.size(); ++i) {
        const Decoding& d = decodings[i];
        const VoxelTypeInfo& info = *voxelTypeInfo(d.type);
        if (info.isFloat || !info.isSigned)
            continue;
        for (std::size_t j = 0; j < decodings.size(); ++j) {
            const Decoding& o = decodings[j];
            const VoxelTypeInfo& oi = *voxelTypeInfo(o.type);
            if (oi.isFloat || oi.isSigned || o.width != d.width || o.order != d.order || o.phase != d.phase)
                continue;
            if (std::max(base[i], base[j]) < SignLookShare * bestBase)
                continue;
            bool alike = false;
            const int verdict = signedVerdict(sampler, d, spread[i], spread[j], alike);
            decodings[i].signAlike = decodings[j].signAlike = alike;
            const double shared = std::max(base[i], base[j]);
            base[i] = base[j] = shared;
            decodings[i].score = decodings[j].score = shared;
            double& loser = verdict > 0 ? signFactor[j] : signFactor[i];
            loser = std::abs(verdict) > 1 ? WrongSignWraps : WrongSignByPreference;
        }
    }
    // Preferences, each a small or a decisive factor:
    for (std::size_t i = 0; i < decodings.size(); ++i) {
        Decoding& d = decodings[i];
        const VoxelTypeInfo& info = *voxelTypeInfo(d.type);
        d.score *= signFactor[i];
        // A reading wider than the data pairs neighbours into one value and
        // stays almost as smooth: the narrowest smooth width wins.
        double narrower = 0.0;
        for (std::size_t j = 0; j < decodings.size(); ++j)
            if (decodings[j].width < d.width)
                narrower = std::max(narrower, base[j]);
        if (narrower > NarrowerSmooth && narrower >= base[i] - NarrowerMargin)
            d.score *= WiderThanData;
        // Float bits read as integers are smooth too; a sane float reading
        // of the same bytes wins.
        if (!info.isFloat && d.width == 4) {
            for (std::size_t j = 0; j < decodings.size(); ++j) {
                const Decoding& f = decodings[j];
                if (f.type == vdtFloat32 && f.order == d.order && f.phase == d.phase && base[j] > SaneFloatSmooth &&
                    (base[j] >= SaneFloatShare * base[i] || floatBits[i] >= FloatBitsShare))
                    d.score *= FloatBitsAsInteger;
            }
        }
        // Alike smoothness in both orders (a byte that is always zero): the
        // order with the smaller magnitudes.
        double least = logMagnitude[i];
        for (std::size_t j = 0; j < decodings.size(); ++j)
            if (decodings[j].width == d.width && base[j] > 0.0)
                least = std::min(least, logMagnitude[j]);
        d.score /= 1.0 + MagnitudePenalty * (logMagnitude[i] - least);
    }
    std::stable_sort(decodings.begin(), decodings.end(), [](const Decoding& a, const Decoding& b) { return a.score > b.score; });
    return decodings;
}

std::vector<Decoding> oneOfEachSignTwin(const std::vector<Decoding>& chosen, const std::vector<Decoding>& ranked,
                                        std::optional<TVoxelDataType> named)
{
    std::vector<Decoding> kept;
    for (const Decoding& d : chosen) {
        if (!d.signAlike) {
            kept.push_back(d);
            continue;
        }
        const auto twin = std::find_if(ranked.begin(), ranked.end(), [&](const Decoding& o) { return o.signTwinOf(d); });
        if (twin == ranked.end()) {
            kept.push_back(d);
            continue;
        }
        const bool isNamed = named && (*named == d.type || *named == twin->type);
        const bool keep = isNamed ? *named == d.type : d.score >= twin->score;
        Decoding one = keep ? d : *twin;
        one.signAlike = true;
        if (std::none_of(kept.begin(), kept.end(), [&](const Decoding& k) {
                return k.type == one.type && k.order == one.order && k.phase == one.phase;
            }))
            kept.push_back(one);
    }
    return kept;
}

} // namespace GuessDetail
