#include "layout/LayoutGuess.h"

#include "layout/NameHints.h"
#include "layout/StatedLayout.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// How the guess works. Every statistic compares decoded voxel values at a
// lag: neighbouring voxels, rows one row length apart and rows one slice
// apart are alike in real volumes, voxels at an unrelated lag are not. A lag
// L counts as a period when the values L apart differ much less than the
// values L/2 and 3L/2 apart; that test prefers the fundamental period over
// its multiples (2L is alike but so is L) and its fractions (L/2 is not).
//   1. Type, byte order and voxel phase: for each, the neighbour difference
//      against the difference of unrelated voxels (a wrong byte order or
//      width turns smooth data into noise), the sanity of floats (no
//      denormals, huge magnitudes, all-NaN), the narrowest smooth width.
//   2. Voxels per row: the strongest period of the sampled values.
//   3. Rows per slice: the strongest period of whole rows, plus square slices.
//   4. Size: the header is what the slices leave over at the start.
//   5. Volumes: several only when slices one volume apart are alike.

namespace
{

constexpr std::int64_t WholeFileLimit = std::int64_t{8} << 20;
constexpr std::int64_t BlockBytes = std::int64_t{2} << 20;

// The k-th of a set of places spread over 10 % .. 90 % of a stretch, as a
// fraction of it. Steps of the golden ratio never fall on round fractions:
// a third, a fifth or a tenth of a file land on slice starts whenever the
// slice count is a round number, and the first rows of every slice are
// background (noise alone, in which neither rows nor a decoding show).
double spreadAt(int k)
{
    const double s = 0.318 + 0.6180339887498949 * k;
    return 0.1 + 0.8 * (s - std::floor(s));
}
constexpr std::array<std::int64_t, 9> CommonHeaders{0, 256, 348, 352, 512, 1024, 2048, 4096, 8192};
constexpr std::int64_t MaxRowVoxels = 4096;
constexpr std::int64_t MaxBlockRows = 2048;
// Slices of more rows are not looked for in the bytes (only in the name).
constexpr std::int64_t MaxSliceRows = 1024;
// Values beyond these magnitudes (and NaNs, infinities) are no plausible
// voxel values; they are what a float read in the wrong order looks like.
constexpr double MaxSaneMagnitude = 1e15;
constexpr double MinSaneMagnitude = 1e-15;
// A period needs the values at its lag to differ at most this much, relative
// to the values at half and one and a half times the lag.
constexpr double MaxPeriodRatio = 0.75;
// Pairs of values a dense difference compares at most (per sampled part).
constexpr std::int64_t DensePositions = 2048;

// Memory for a kept block, in huge pages where the system gives them: a
// fresh page costs a fault each, which on a virtual machine took longer than
// reading the bytes; a 2 MiB page costs one.
class BlockMemory
{
public:
    explicit BlockMemory(std::size_t size)
    {
        constexpr std::size_t Huge = std::size_t{2} << 20;
        const std::size_t rounded = (size + Huge - 1) / Huge * Huge;
        m_mapped = rounded + Huge; // room to start at a huge-page boundary
        void* p = ::mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_base = static_cast<std::uint8_t*>(p);
        const auto address = reinterpret_cast<std::uintptr_t>(p);
        m_data = m_base + ((Huge - address % Huge) % Huge);
        // Only a hint: without huge pages the memory works the same.
        ::madvise(m_data, rounded, MADV_HUGEPAGE);
    }
    ~BlockMemory() { ::munmap(m_base, m_mapped); }
    BlockMemory(const BlockMemory&) = delete;
    BlockMemory& operator=(const BlockMemory&) = delete;

    std::uint8_t* data() const { return m_data; }

private:
    std::uint8_t* m_base = nullptr;
    std::uint8_t* m_data = nullptr;
    std::size_t m_mapped = 0;
};

struct Block
{
    std::int64_t offset = 0;
    std::unique_ptr<BlockMemory> storage;
    std::size_t count = 0;

    std::span<const std::uint8_t> data() const { return {storage->data(), count}; }
};

// The sampled bytes of the file: one or two large blocks kept in memory plus
// small reads elsewhere, never more than GuessSampleLimit bytes in all.
class Sampler
{
public:
    explicit Sampler(const LayoutSource& source) : m_source(source), m_size(std::max<std::int64_t>(source.size(), 0))
    {
        if (m_size <= WholeFileLimit) {
            keep(0, m_size);
        } else {
            for (int k = 0; k < 2; ++k)
                keep(alignDown(static_cast<std::int64_t>(spreadAt(k) * static_cast<double>(m_size - BlockBytes))),
                     BlockBytes);
        }
    }

    std::int64_t size() const { return m_size; }
    const std::vector<Block>& blocks() const { return m_blocks; }

    // The bytes [offset, offset + count), clipped to the file, from a kept
    // block or read now; fewer once the budget is spent. Valid until the
    // next call.
    std::span<const std::uint8_t> bytes(std::int64_t offset, std::int64_t count)
    {
        if (offset < 0 || offset >= m_size || count <= 0)
            return {};
        count = std::min(count, m_size - offset);
        for (const Block& b : m_blocks) {
            const auto have = static_cast<std::int64_t>(b.data().size());
            if (offset >= b.offset && offset + count <= b.offset + have)
                return {b.data().data() + (offset - b.offset), static_cast<std::size_t>(count)};
        }
        // Small reads (a row's middle for the volume test) recur for
        // candidates that differ only in type: they are kept.
        constexpr std::int64_t SmallRead = 4096;
        const std::pair<std::int64_t, std::int64_t> key{offset, count};
        if (count <= SmallRead) {
            const auto kept = m_small.find(key);
            if (kept != m_small.end())
                return kept->second;
        }
        count = std::min(count, GuessSampleLimit - m_used);
        if (count <= 0)
            return {};
        if (count <= SmallRead && key.second == count) {
            std::vector<std::uint8_t> data(static_cast<std::size_t>(count));
            data.resize(m_source.readAt(offset, data.data(), data.size()));
            m_used += static_cast<std::int64_t>(data.size());
            return m_small.emplace(key, std::move(data)).first->second;
        }
        m_scratch.resize(static_cast<std::size_t>(count));
        const std::size_t got = m_source.readAt(offset, m_scratch.data(), m_scratch.size());
        m_used += static_cast<std::int64_t>(got);
        return {m_scratch.data(), std::min(got, m_scratch.size())};
    }

private:
    static std::int64_t alignDown(std::int64_t v) { return v - v % 8; }

    void keep(std::int64_t offset, std::int64_t count)
    {
        count = std::min({count, m_size - offset, GuessSampleLimit - m_used});
        if (count <= 0)
            return;
        Block b;
        b.offset = offset;
        b.storage = std::make_unique<BlockMemory>(static_cast<std::size_t>(count));
        b.count = m_source.readAt(offset, b.storage->data(), static_cast<std::size_t>(count));
        m_used += static_cast<std::int64_t>(b.count);
        m_blocks.push_back(std::move(b));
    }

    const LayoutSource& m_source;
    std::int64_t m_size;
    std::int64_t m_used = 0;
    std::vector<Block> m_blocks;
    std::vector<std::uint8_t> m_scratch;
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::uint8_t>> m_small;
};

// A way to decode voxels: type, byte order, and the voxels' phase (the
// offset of every voxel modulo its width).
struct Decoding
{
    TVoxelDataType type = vdtByte;
    TByteOrder order = boLittleEndian;
    int width = 1;
    int phase = 0;
    double smooth = 0.0; // 0 (noise) .. 1 (neighbours equal)
    double score = 0.0; // smooth with sanity and preferences

    bool bigEndian() const { return order == boBigEndian; }
};

// The values of n voxels into out, NaN for a value no volume holds (see
// MaxSaneMagnitude): the voxels from p on, or the voxels at p + offsets[i]
// when offsets are given. The type and order are template arguments of the
// loop, so voxelValue's choice of decoding is made once.
template<TVoxelDataType Type, bool BigEndian>
__attribute__((flatten)) void decodeLoop(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, double* out)
{
    constexpr std::size_t Width = static_cast<std::size_t>(VoxelTypes[Type].bytes);
    const auto sane = [](double v) {
        // Integers (at most 32 bits) are always within the bounds.
        if constexpr (!VoxelTypes[Type].isFloat)
            return v;
        const double a = v < 0.0 ? -v : v;
        return (a <= MaxSaneMagnitude && (a == 0.0 || a >= MinSaneMagnitude)) ? v : std::numeric_limits<double>::quiet_NaN();
    };
    if (offsets) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = sane(voxelValue(p + offsets[i], Type, BigEndian));
    } else {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = sane(voxelValue(p + i * Width, Type, BigEndian));
    }
}

template<TVoxelDataType Type>
void decodeOrder(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, bool bigEndian, double* out)
{
    if (bigEndian)
        decodeLoop<Type, true>(p, offsets, n, out);
    else
        decodeLoop<Type, false>(p, offsets, n, out);
}

void decodeAt(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, const Decoding& d, double* out)
{
    const bool big = d.bigEndian();
    switch (d.type) {
    case vdtByte: return decodeOrder<vdtByte>(p, offsets, n, big, out);
    case vdtInt16: return decodeOrder<vdtInt16>(p, offsets, n, big, out);
    case vdtInt32: return decodeOrder<vdtInt32>(p, offsets, n, big, out);
    case vdtFloat32: return decodeOrder<vdtFloat32>(p, offsets, n, big, out);
    case vdtUInt16: return decodeOrder<vdtUInt16>(p, offsets, n, big, out);
    case vdtInt8: return decodeOrder<vdtInt8>(p, offsets, n, big, out);
    case vdtUInt32: return decodeOrder<vdtUInt32>(p, offsets, n, big, out);
    case vdtFloat64: return decodeOrder<vdtFloat64>(p, offsets, n, big, out);
    }
    std::fill(out, out + n, 0.0);
}

void decodeInto(const std::uint8_t* p, std::size_t n, const Decoding& d, double* out)
{
    decodeAt(p, nullptr, n, d, out);
}

// The voxels of bytes that start at or after byte offset `at` of the file
// (bytes[0] lies at `at`), aligned to the decoding's phase, at most `limit`.
std::vector<double> decodeRun(std::span<const std::uint8_t> bytes, std::int64_t at, const Decoding& d,
                              std::size_t limit)
{
    const std::int64_t skip = ((d.phase - at) % d.width + d.width) % d.width;
    std::vector<double> values;
    if (static_cast<std::int64_t>(bytes.size()) <= skip)
        return values;
    const std::size_t n =
        std::min(limit, (bytes.size() - static_cast<std::size_t>(skip)) / static_cast<std::size_t>(d.width));
    values.resize(n);
    decodeInto(bytes.data() + skip, n, d, values.data());
    return values;
}

// Accumulates mean absolute differences of pairs of finite values.
struct DiffSum
{
    double sum = 0.0;
    std::int64_t count = 0;

    void add(double a, double b)
    {
        if (std::isfinite(a) && std::isfinite(b)) {
            sum += std::fabs(a - b);
            ++count;
        }
    }
    double mean() const { return count > 0 ? sum / static_cast<double>(count) : std::nan(""); }
};

// A robust scale of the differences: their upper quartile (edges between
// tissues are rare and huge; noise is everywhere and small). Differences are
// clipped at a few times this scale, so that a lag's mean difference tells
// how often values differ rather than by how much the rare edges do.
double clipLimit(std::span<double> diffs) // reorders diffs
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
    const auto q = diffs.begin() + static_cast<std::ptrdiff_t>(diffs.size() * 3 / 4);
    std::nth_element(diffs.begin(), q, diffs.end());
    double scale = *q;
    if (!(scale > 0.0)) {
        double sum = 0.0;
        for (const double d : diffs)
            sum += d;
        scale = sum / static_cast<double>(diffs.size());
    }
    return 6.0 * scale;
}

// 1 - how much the values at lag L differ relative to the values at L/2 and
// 3L/2 (the period test), from a mean difference by lag (NaN where not
// measured). NaN when it cannot be told.
template<typename DiffAt>
double periodEvidence(const DiffAt& at, std::int64_t lag)
{
    const double d = at(lag);
    const double half = at((lag + 1) / 2 == lag ? lag - 1 : (lag + 1) / 2);
    const double threeHalves = at(lag + lag / 2);
    double reference = 0.0;
    int n = 0;
    for (const double r : {half, threeHalves}) {
        if (std::isfinite(r)) {
            reference += r;
            ++n;
        }
    }
    if (!std::isfinite(d) || n == 0 || reference <= 0.0)
        return std::nan("");
    // Against one reference only, the test is weaker.
    return (1.0 - d / (reference / n)) * (n == 2 ? 1.0 : 0.85);
}

// Mean (clipped) differences of values by lag: a coarse table from a few
// positions for every lag, and the dense mean from every position of the
// sample for the few lags that are tested closely.
struct LagDiffs
{
    std::vector<double> coarse; // index = lag; NaN where not measured
    std::function<double(std::int64_t)> measure; // the dense mean; NaN where not measured
    std::shared_ptr<std::map<std::int64_t, double>> known = std::make_shared<std::map<std::int64_t, double>>();

    double dense(std::int64_t lag) const
    {
        const auto it = known->find(lag);
        if (it != known->end())
            return it->second;
        return known->emplace(lag, measure(lag)).first->second;
    }

    double coarseAt(std::int64_t lag) const
    {
        return lag >= 1 && lag < static_cast<std::int64_t>(coarse.size()) ? coarse[static_cast<std::size_t>(lag)]
                                                                          : std::nan("");
    }
    double evidence(std::int64_t lag) const
    {
        return periodEvidence([this](std::int64_t l) { return dense(l); }, lag);
    }
};

// The lags (>= 2) that are the strongest periods, best first: the peaks of
// the coarse table, each moved to the least dense difference within a few
// lags (a row one voxel shorter or longer pairs diagonal neighbours, which
// differ only a little more than vertical ones).
std::vector<std::pair<std::int64_t, double>> strongestPeriods(const LagDiffs& diffs, std::size_t count,
                                                             double closeCall = 0.0)
{
    const std::size_t size = diffs.coarse.size();
    std::vector<double> evidence(size, std::nan(""));
    const auto coarseAt = [&](std::int64_t l) { return diffs.coarseAt(l); };
    for (std::size_t l = 2; l < size; ++l)
        evidence[l] = periodEvidence(coarseAt, static_cast<std::int64_t>(l));
    std::vector<std::pair<std::int64_t, double>> peaks;
    for (std::size_t l = 2; l < size; ++l) {
        const double e = evidence[l];
        if (!std::isfinite(e) || e < 1.0 - MaxPeriodRatio - 0.1)
            continue;
        const bool peak = (l + 1 >= size || !(evidence[l + 1] > e)) && !(evidence[l - 1] > e);
        if (peak)
            peaks.emplace_back(static_cast<std::int64_t>(l), e);
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    // A multiple of a clear shorter period is that period again (two
    // volumes repeat every volume, but their slices every slice; a slice
    // repeats every row).
    const auto dropHarmonics = [](std::vector<std::pair<std::int64_t, double>>& list) {
        std::vector<std::pair<std::int64_t, double>> kept;
        for (const auto& item : list) {
            const std::int64_t l = item.first;
            const double e = item.second;
            const bool harmonic = std::any_of(list.begin(), list.end(), [&](const auto& q) {
                const std::int64_t times = std::llround(static_cast<double>(l) / static_cast<double>(q.first));
                return times >= 2 && std::llabs(l - q.first * times) <= 3 && q.second >= 0.35 && q.second >= 0.5 * e;
            });
            if (!harmonic)
                kept.emplace_back(l, e);
        }
        list = std::move(kept);
    };
    // Enough peaks that a fundamental period is among its multiples.
    if (peaks.size() > count + 5)
        peaks.resize(count + 5);
    dropHarmonics(peaks);
    if (peaks.size() > count + 1)
        peaks.resize(count + 1);

    std::vector<std::pair<std::int64_t, double>> found;
    for (const auto& [coarseLag, e] : peaks) {
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

double clamp01(double v)
{
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

// ---- 1. type, byte order, phase -------------------------------------------

// Counts the places k where the signed reading s jumps across nearly the
// whole range and straight back (s[k] -> s[k + 1] -> s[k + 2]) while the
// unsigned reading u moves little, and the other way round. Without a
// branch (the noise makes every condition a coin toss), built also for AVX2;
// the counts are the same.
__attribute__((target_clones("avx512f", "avx2", "default"))) void countWrapJumps(const double* s, const double* u, std::size_t n,
                                                                     double range, std::int64_t& signedJumps,
                                                                     std::int64_t& unsignedJumps)
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

// Signed or unsigned: +2 / -2 when the other reading wraps around where the
// values are continuous (noise about a wrap-around point makes that reading
// jump back and forth across nearly the whole range), +1 / -1 by preference
// otherwise: bytes unsigned; wider integers the reading whose values lie
// closer together (values at both ends of the range are one compact range
// read the wrong way), else signed. The unsigned reading is that of the same
// width, order and phase, worked out from the signed one.
int signedVerdict(Sampler& sampler, const Decoding& asSigned, double signedSpread, double unsignedSpread)
{
    constexpr std::size_t SampleVoxels = std::size_t{1} << 15;
    const double range = std::ldexp(1.0, 8 * asSigned.width);
    std::int64_t signedJumps = 0, unsignedJumps = 0;
    constexpr std::int64_t Runs = 8; // per block, spread over it
    std::vector<double> u;
    for (const Block& b : sampler.blocks())
    for (std::int64_t run = 0; run < Runs; ++run) {
        const auto from = static_cast<std::size_t>(static_cast<std::int64_t>(b.data().size()) / Runs * run);
        const std::span<const std::uint8_t> part = b.data().subspan(from);
        const auto at = b.offset + static_cast<std::int64_t>(from);
        const std::vector<double> s = decodeRun(part, at, asSigned, SampleVoxels / Runs);
        // The same bytes read unsigned: the negative values wrap around.
        u.resize(s.size());
        for (std::size_t k = 0; k < s.size(); ++k)
            u[k] = s[k] + range * static_cast<double>(s[k] < 0.0);
        countWrapJumps(s.data(), u.data(), s.size(), range, signedJumps, unsignedJumps);
    }
    if (unsignedJumps > 2 * signedJumps + 2)
        return 2;
    if (signedJumps > 2 * unsignedJumps + 2)
        return -2;
    if (asSigned.width == 1)
        return -1;
    return unsignedSpread > 1.5 * signedSpread || !(signedSpread > 1.5 * unsignedSpread) ? 1 : -1;
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

std::int64_t countNaNPatterns(const std::uint8_t* p, std::size_t n, const Decoding& d)
{
    if (d.width == 4)
        return d.bigEndian() ? countNaNPatternsOf<std::uint32_t>(p, n, true) : countNaNPatternsOf<std::uint32_t>(p, n, false);
    return d.bigEndian() ? countNaNPatternsOf<std::uint64_t>(p, n, true) : countNaNPatternsOf<std::uint64_t>(p, n, false);
}

// The sums that rate a decoding, from its n = from[parts] values in v, the
// parts' values from from[p] on (chunks of the file): NaNs become 0 with a
// weight w of 0 (1 for a value), so that the sums run without a branch (the
// wrong orders of floats are NaN at random). Built also for AVX2 and AVX-512;
// the sums are the same in every variant.
struct RatingSums
{
    double values = 0.0; // how many are no NaN
    double nearSum = 0.0, nearCount = 0.0; // neighbours within a part
    double farSum = 0.0, farCount = 0.0; // values half the sample apart
    double mean = 0.0, deviation = 0.0; // mean absolute deviation (wanted only)
};

__attribute__((target_clones("avx512f", "avx2", "default"))) RatingSums
ratingSums(double* v, double* w, const std::size_t* from, std::size_t parts, bool wantSpread)
{
    const std::size_t n = from[parts];
    for (std::size_t i = 0; i < n; ++i) {
        const double x = v[i];
        w[i] = x == x ? 1.0 : 0.0;
        v[i] = x == x ? x : 0.0;
    }
    // Every sum in four interleaved parts (one chain of additions waits on
    // each addition, four keep the unit busy), written out here: a helper
    // called from here would not be built for the wider vectors.
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

std::vector<Decoding> rateDecodings(Sampler& sampler)
{
    constexpr int Chunks = 8;
    constexpr std::size_t ChunkVoxels = 1024;
    constexpr std::int64_t ChunkBytes = static_cast<std::int64_t>(ChunkVoxels) * 8 + 8;

    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> chunks;
    const std::int64_t size = sampler.size();
    if (size <= Chunks * ChunkBytes) {
        // Past the first eighth, where a header would be.
        std::int64_t at = size / 8;
        at -= at % 8;
        const auto b = sampler.bytes(at, size - at);
        chunks.emplace_back(at, std::vector<std::uint8_t>(b.begin(), b.end()));
    } else {
        for (int c = 0; c < Chunks; ++c) {
            std::int64_t at = static_cast<std::int64_t>(spreadAt(c) * static_cast<double>(size - ChunkBytes));
            at -= at % 8;
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
    };
    const auto rate = [&](Decoding& d, std::size_t voxels) {
        const VoxelTypeInfo& info = *voxelTypeInfo(d.type);
        Figures figures;
        d.smooth = d.score = 0.0;
        all.clear();
        from.clear();
        const auto skipOf = [&](std::int64_t at) {
            return static_cast<std::size_t>(((d.phase - at) % d.width + d.width) % d.width);
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
        if (info.isFloat && n > 0 && static_cast<double>(insane) > 0.9 * static_cast<double>(n))
            return figures;
        // NaNs in the file (a NaN there is a NaN decoded).
        std::int64_t nans = 0;
        if (info.isFloat && insane > 0) {
            for (std::size_t c = 0; c + 1 < from.size(); ++c)
                nans += countNaNPatterns(chunks[c].second.data() + skipOf(chunks[c].first), from[c + 1] - from[c], d);
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
            sanity = clamp01(1.0 - 3.0 * weird);
        }
        d.score = d.smooth * sanity;
        // The spread tells signed from unsigned integers only (integers are
        // never NaN).
        figures.spread = sums.deviation;
        figures.logMagnitude = measured > 0 ? magnitude / static_cast<double>(measured) : 0.0;
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
            }
        }
    }
    double bestFirst = 0.0;
    for (const Decoding& d : decodings)
        bestFirst = std::max(bestFirst, d.score);
    for (std::size_t i = 0; i < decodings.size() && firstVoxels < ChunkVoxels; ++i) {
        if (decodings[i].score < 0.7 * bestFirst)
            continue;
        const Figures f = rate(decodings[i], ChunkVoxels);
        spread[i] = f.spread;
        logMagnitude[i] = f.logMagnitude;
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
            if (std::max(base[i], base[j]) < 0.85 * bestBase)
                continue;
            const int verdict = signedVerdict(sampler, d, spread[i], spread[j]);
            const double shared = std::max(base[i], base[j]);
            base[i] = base[j] = shared;
            decodings[i].score = decodings[j].score = shared;
            (verdict > 0 ? signFactor[j] : signFactor[i]) = std::abs(verdict) > 1 ? 0.8 : 0.95;
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
        if (narrower > 0.2 && narrower >= base[i] - 0.1)
            d.score *= 0.6;
        // Float bits read as integers are smooth too; a sane float reading
        // of the same bytes wins.
        if (!info.isFloat && d.width == 4) {
            for (std::size_t j = 0; j < decodings.size(); ++j) {
                const Decoding& f = decodings[j];
                if (f.type == vdtFloat32 && f.order == d.order && f.phase == d.phase && base[j] > 0.3 &&
                    base[j] >= 0.8 * base[i])
                    d.score *= 0.5;
            }
        }
        // Alike smoothness in both orders (a byte that is always zero): the
        // order with the smaller magnitudes.
        double least = logMagnitude[i];
        for (std::size_t j = 0; j < decodings.size(); ++j)
            if (decodings[j].width == d.width && base[j] > 0.0)
                least = std::min(least, logMagnitude[j]);
        d.score /= 1.0 + 0.004 * (logMagnitude[i] - least);
    }
    std::stable_sort(decodings.begin(), decodings.end(), [](const Decoding& a, const Decoding& b) { return a.score > b.score; });
    return decodings;
}

// ---- 2. voxels per row ------------------------------------------------------

// Adds to sum[l] and count[l] (l = 1 .. lags) the clipped difference of a
// and next[l], weighted by weight[l] (0 where next[l] is no value). In
// single precision (twice the lags in a vector): the sums only rank lags
// against each other. Built also for AVX2 and AVX-512 like
// addRowDifferences; the sums are the same.
__attribute__((target_clones("avx512f", "avx2", "default"))) void addLagDifferences(float a, const float* next,
                                                                        const float* weight, std::int64_t lags,
                                                                        float clip, float* sum, float* count)
{
    for (std::int64_t l = 1; l <= lags; ++l) {
        const float e = std::fabs(a - next[l]);
        sum[l] += weight[l] * (e < clip ? e : clip);
        count[l] += weight[l];
    }
}

// Differences of values by lag in voxels, from a few segments of the sample.
constexpr std::int64_t LagPositions = 64; // per segment, for the coarse table
constexpr std::int64_t LagStride = 29;
constexpr std::int64_t LagSegments = 8;
constexpr std::int64_t SegmentVoxels = LagPositions * LagStride + MaxRowVoxels + 1 + MaxRowVoxels / 2 + 1;
// Room for voxelLagDiffs' work: each segment's values and weights, and the
// same in single precision.
constexpr std::size_t LagScratchDoubles = static_cast<std::size_t>(3 * LagSegments * SegmentVoxels);

LagDiffs voxelLagDiffs(Sampler& sampler, const Decoding& d, double* scratch)
{
    const std::int64_t maxLag = MaxRowVoxels + 1;

    std::vector<std::int64_t> starts;
    const std::int64_t size = sampler.size();
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
    };
    auto segments = std::make_shared<std::vector<Segment>>();
    std::vector<double> neighbours;
    neighbours.reserve(starts.size() * static_cast<std::size_t>(LagPositions * LagStride));
    for (std::int64_t start : starts) {
        start = std::min(start, std::max<std::int64_t>(0, size - SegmentVoxels * d.width));
        const auto bytes = sampler.bytes(start, SegmentVoxels * d.width);
        const std::int64_t skip = ((d.phase - start) % d.width + d.width) % d.width;
        const std::int64_t n =
            static_cast<std::int64_t>(bytes.size()) > skip
                ? std::min(SegmentVoxels, (static_cast<std::int64_t>(bytes.size()) - skip) / d.width)
                : 0;
        double* v = scratch;
        double* w = scratch + n;
        scratch += 2 * n;
        decodeInto(bytes.data() + skip, static_cast<std::size_t>(n), d, v);
        for (std::int64_t i = 0; i + 1 < n && i < LagPositions * LagStride; ++i)
            if (v[i] == v[i] && v[i + 1] == v[i + 1])
                neighbours.push_back(std::fabs(v[i + 1] - v[i]));
        for (std::int64_t k = 0; k < n; ++k) {
            w[k] = v[k] == v[k] ? 1.0 : 0.0;
            v[k] = v[k] == v[k] ? v[k] : 0.0;
        }
        segments->push_back({v, w, n});
    }
    const double clip = clipLimit(neighbours);

    // The coarse table in single precision, from each segment's values
    // about their mean (small differences of large values stay apart).
    std::vector<float> sums(static_cast<std::size_t>(maxLag + 1), 0.0f);
    std::vector<float> counts(sums.size(), 0.0f);
    auto* single = reinterpret_cast<float*>(scratch);
    for (const Segment& s : *segments) {
        const std::int64_t n = s.n;
        if (n < 2)
            continue;
        double mean = 0.0, values = 0.0;
        for (std::int64_t k = 0; k < n; ++k) {
            mean += s.filled[k];
            values += s.weights[k];
        }
        mean = values > 0.0 ? mean / values : 0.0;
        float* v = single;
        float* w = single + n;
        single += 2 * n;
        for (std::int64_t k = 0; k < n; ++k) {
            v[k] = static_cast<float>(s.weights[k] * (s.filled[k] - mean));
            w[k] = static_cast<float>(s.weights[k]);
        }
        const std::int64_t positions = std::min(LagPositions, std::max<std::int64_t>(1, n / 3 / LagStride));
        for (std::int64_t p = 0; p < positions; ++p) {
            const std::int64_t i = p * LagStride;
            const std::int64_t lags = std::min(maxLag, n - 1 - i);
            if (w[i] == 0.0f)
                continue;
            addLagDifferences(v[i], v + i, w + i, lags, static_cast<float>(clip), sums.data(), counts.data());
        }
    }
    LagDiffs diffs;
    diffs.coarse.assign(sums.size(), std::nan(""));
    for (std::size_t l = 1; l < sums.size(); ++l)
        if (counts[l] >= 16.0f)
            diffs.coarse[l] = static_cast<double>(sums[l]) / static_cast<double>(counts[l]);
    diffs.measure = [segments, clip](std::int64_t lag) {
        double sum = 0.0, count = 0.0;
        if (lag >= 1) {
            for (const Segment& s : *segments) {
                const std::int64_t n = s.n;
                const std::int64_t step = std::max<std::int64_t>(1, (n - lag) / DensePositions);
                const double* v = s.filled;
                const double* w = s.weights;
                for (std::int64_t i = 0; i + lag < n; i += step) {
                    const double both = w[i] * w[i + lag];
                    sum += both * std::min(std::fabs(v[i] - v[i + lag]), clip);
                    count += both;
                }
            }
        }
        return count >= 16 ? sum / count : std::nan("");
    };
    return diffs;
}

// ---- 3. rows per slice --------------------------------------------------------

// Differences of whole rows (a few columns of each) by lag in rows, from the
// kept blocks.
// Room for rowLagDiffs' work, taken once per guess (fresh memory is slow to
// touch; see BlockMemory).
constexpr std::int64_t RowColumns = 24;
constexpr std::int64_t BaseRows = 32; // rows compared with the rows at every lag, per block
constexpr std::size_t RowScratchDoubles = static_cast<std::size_t>(2 * MaxBlockRows * RowColumns * 3);

// Adds to sums[lag] and counts[lag] (lag = 1 .. maxLag) the clipped
// differences of the rows at baseAt[k] (value offsets, k < baseCount) and the
// rows lag rows further, and how many there are: values holds the rows
// `columns` values apiece, weights 1 where a value is one and 0 where it is
// none (nullptr: all are values). Branch-free and with one sum per column
// (no chain of additions to keep in order), so the compiler vectorises it,
// with wider vectors where the processor has them: this is the guess's
// innermost loop. The sums are the same in every variant.
__attribute__((target_clones("avx512f", "avx2", "default"))) void
addRowDifferences(const double* values, const double* weights, std::int64_t columns, const std::int64_t* baseAt,
                  std::int64_t baseCount, std::int64_t maxLag, double clip, double* sums, std::int64_t* counts)
{
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
    // Scratch: per block the values and the weights, then the neighbour
    // differences of all blocks.
    double* free = scratch;
    double* neighbourStart = scratch + 2 * 2 * MaxBlockRows * Columns;
    std::size_t neighbourCount = 0;
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
        for (std::int64_t i = 0; i < rows * columns; ++i) {
            const double v = m.values[i];
            m.values[i] = v == v ? v : 0.0;
            m.weights[i] = v == v ? 1.0 : 0.0;
            m.complete = m.complete && v == v;
        }
        for (std::int64_t i = 0; i + columns < rows * columns; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (m.weights[at] * m.weights[at + static_cast<std::size_t>(columns)] > 0.0)
                neighbourStart[neighbourCount++] = std::fabs(m.values[at] - m.values[at + static_cast<std::size_t>(columns)]);
        }
        matrices->push_back(std::move(m));
    }
    const double clip = clipLimit(std::span<double>(neighbourStart, neighbourCount));

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
        if (counts[l] >= 16)
            diffs.coarse[l] = sums[l] / static_cast<double>(counts[l]);
    diffs.measure = [matrices, clip, columns](std::int64_t lag) {
        double sum = 0.0, count = 0.0;
        if (lag >= 1) {
            for (const Matrix& m : *matrices) {
                const std::int64_t pairs = m.rows - lag;
                const std::int64_t step = std::max<std::int64_t>(1, pairs * columns / DensePositions);
                for (std::int64_t r = 0; r < pairs; r += step) {
                    const double* v = m.values + r * columns;
                    const double* w = m.weights + r * columns;
                    for (std::int64_t c = 0; c < columns; ++c) {
                        const double both = w[c] * w[c + lag * columns];
                        sum += both * std::min(std::fabs(v[c] - v[c + lag * columns]), clip);
                        count += both;
                    }
                }
            }
        }
        return count >= 16 ? sum / count : std::nan("");
    };
    return diffs;
}

// ---- 4. header ------------------------------------------------------------------

// Where the voxels seem to start: the end of the rough run of values at the
// start of the file (a header's bytes decode to values that jump about,
// voxels are as smooth as in the middle of the file). A header of zeros looks
// like nothing and is not seen.
struct DataStart
{
    std::int64_t offset = 0; // 0 when no header is seen
    std::int64_t precision = 0; // bytes the offset may be off by
    bool dataFromStart = false; // the first bytes look like voxels, not a blank header
};

DataStart findDataStart(Sampler& sampler, const Decoding& d)
{
    constexpr std::int64_t Window = 16; // voxels
    const std::int64_t windowBytes = Window * d.width;
    const std::int64_t size = sampler.size();
    // The roughness of a window: the median neighbour difference (an edge
    // between tissues moves it little, noise and header bytes do).
    const auto roughness = [&](std::span<const std::uint8_t> bytes, std::int64_t at, std::vector<double>& out) {
        const std::vector<double> v = decodeRun(bytes, at, d, bytes.size());
        std::vector<double> diffs;
        for (std::size_t w = 0; w + Window <= v.size(); w += Window) {
            diffs.clear();
            for (std::size_t i = w; i + 1 < w + Window; ++i)
                diffs.push_back(v[i] == v[i] && v[i + 1] == v[i + 1] ? std::fabs(v[i + 1] - v[i])
                                                                     : std::numeric_limits<double>::infinity());
            std::nth_element(diffs.begin(), diffs.begin() + static_cast<std::ptrdiff_t>(diffs.size() / 2), diffs.end());
            out.push_back(diffs[diffs.size() / 2]);
        }
    };
    std::vector<double> reference;
    const std::int64_t middle = size / 2 - size / 2 % 8;
    roughness(sampler.bytes(middle, 64 * windowBytes), middle, reference);
    const std::int64_t scan = std::min<std::int64_t>(size / 2, 8192 + 1024);
    std::vector<double> start;
    roughness(sampler.bytes(0, scan), 0, start);
    DataStart found;
    found.precision = windowBytes + d.width;
    if (reference.empty() || start.empty())
        return found;
    std::nth_element(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(reference.size() * 3 / 4),
                     reference.end());
    const double typical = reference[reference.size() * 3 / 4];
    const auto rough = [&](double r) { return r > 4.0 * typical && r > 0.0; };
    std::int64_t roughCount = 0;
    std::int64_t last = -1;
    for (std::size_t w = 0; w < start.size(); ++w) {
        if (rough(start[w])) {
            ++roughCount;
            if (static_cast<double>(roughCount) >= 0.6 * static_cast<double>(w + 1))
                last = static_cast<std::int64_t>(w);
        }
    }
    const std::int64_t phase = d.phase;
    if (last >= 0)
        found.offset = phase + (last + 1) * windowBytes;
    found.dataFromStart = last < 0 && start.size() >= 4 &&
                          std::all_of(start.begin(), start.begin() + 4, [](double r) { return r > 0.0; });
    return found;
}

// ---- 5. volumes ----------------------------------------------------------------

// The number of volumes among `slices` slices: more than one only when slices
// one volume apart are much more alike than slices half a volume apart.
std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices)
{
    if (slices < 4)
        return 1;
    const std::int64_t rowVoxels = l.dims[0];
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t window = std::min<std::int64_t>(rowVoxels, 128);
    std::map<std::int64_t, std::vector<double>> signatures;
    const auto signature = [&](std::int64_t z) -> const std::vector<double>& {
        auto it = signatures.find(z);
        if (it != signatures.end())
            return it->second;
        // The middle of the middle row of slice z.
        const std::int64_t at =
            l.headerBytes + (z * l.dims[1] + l.dims[1] / 2) * rowBytes + (rowVoxels - window) / 2 * d.width;
        const auto bytes = sampler.bytes(at, window * d.width);
        return signatures.emplace(z, decodeRun(bytes, at, d, static_cast<std::size_t>(window))).first->second;
    };
    // From every `every`-th of the sampled slices (the rest a second look
    // adds).
    const auto sliceDiff = [&](std::int64_t lag, std::int64_t every = 1) {
        constexpr std::int64_t Samples = 12;
        DiffSum sum;
        if (lag < 1 || lag >= slices)
            return std::nan("");
        for (std::int64_t s = 0; s < Samples; s += every) {
            const std::int64_t z = s * (slices - lag) / Samples;
            // (A map: the first reference stays valid when the second is added.)
            const std::vector<double>& a = signature(z);
            const std::vector<double>& b = signature(z + lag);
            for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
                sum.add(a[i], b[i]);
        }
        return sum.count >= 8 ? sum.mean() : std::nan("");
    };

    std::int64_t best = 1;
    double bestEvidence = 0.5; // the slices one volume apart differ at most half as much
    for (const std::int64_t v : {2, 3, 4}) {
        if (slices % v != 0 || slices / v < 2)
            continue;
        const std::int64_t lag = slices / v;
        std::vector<double> diff(static_cast<std::size_t>(lag + lag / 2 + 1), std::nan(""));
        const std::int64_t half = (lag + 1) / 2;
        // Slices one volume apart that are no more alike than slices half a
        // volume apart show no volume: seen from half the samples first (a
        // volume boundary shows plainly), the rest and the third lag are not
        // read then.
        if (!(sliceDiff(lag, 2) < sliceDiff(half, 2)))
            continue;
        diff[static_cast<std::size_t>(lag)] = sliceDiff(lag);
        diff[static_cast<std::size_t>(half)] = sliceDiff(half);
        if (!(diff[static_cast<std::size_t>(lag)] < diff[static_cast<std::size_t>(half)]))
            continue;
        diff[static_cast<std::size_t>(lag + lag / 2)] = sliceDiff(lag + lag / 2);
        const double e = periodEvidence(
            [&](std::int64_t x) {
                return x >= 1 && x < static_cast<std::int64_t>(diff.size()) ? diff[static_cast<std::size_t>(x)] : std::nan("");
            },
            lag);
        if (std::isfinite(e) && e > bestEvidence) {
            bestEvidence = e;
            best = v;
        }
    }
    return best;
}

// ---- assembly -------------------------------------------------------------------

struct Scored
{
    LayoutCandidate candidate;
    Decoding decoding;
    std::int64_t slices = 0; // slices in the file (all volumes)
    bool nameMatch = false;
};

std::string typeWords(const Decoding& d)
{
    std::string s(voxelTypeInfo(d.type)->shortName);
    if (d.width > 1)
        s += d.order == boBigEndian ? " big-endian" : " little-endian";
    return s;
}

class Guesser
{
public:
    Guesser(const LayoutSource& source, std::string_view fileName)
        : m_sampler(source), m_hints(parseNameHints(fileName))
    {
    }

    std::vector<LayoutCandidate> run(std::size_t maxCandidates)
    {
        const std::int64_t size = m_sampler.size();
        if (size < 2 || maxCandidates == 0)
            return {};
        std::vector<Decoding> decodings = rateDecodings(m_sampler);
        const double best = decodings.front().score;

        // The decodings worth a closer look, and the name's type.
        std::vector<Decoding> chosen;
        for (const Decoding& d : decodings) {
            if (chosen.size() >= 3)
                break;
            if (d.score >= std::max(0.05, 0.5 * best))
                chosen.push_back(d);
        }
        if (m_hints.dataType) {
            // The name's type in every phase that reads nearly as well (a
            // header decides the phase).
            double bestNamed = -1.0;
            for (const Decoding& d : decodings) {
                if (d.type != *m_hints.dataType || (m_hints.byteOrder && d.width > 1 && d.order != *m_hints.byteOrder))
                    continue;
                bestNamed = std::max(bestNamed, d.score);
                if (d.score < 0.5 * bestNamed)
                    continue;
                if (std::none_of(chosen.begin(), chosen.end(), [&](const Decoding& c) {
                        return c.type == d.type && c.order == d.order && c.phase == d.phase;
                    }))
                    chosen.push_back(d);
            }
        }
        for (const Decoding& d : chosen)
            examine(d);
        // Volumes only for the candidates that could rank.
        std::stable_sort(m_found.begin(), m_found.end(),
                         [](const Scored& a, const Scored& b) { return a.candidate.score > b.candidate.score; });
        // The volumes change no score, and distinct layouts stay distinct,
        // so a layout seen before or past the last that can be listed is
        // left as it is.
        std::vector<VolumeLayout> seen;
        for (std::size_t i = 0; i < m_found.size() && i < maxCandidates + 2 && seen.size() < maxCandidates; ++i) {
            const VolumeLayout before = m_found[i].candidate.layout;
            if (std::find(seen.begin(), seen.end(), before) != seen.end())
                continue;
            seen.push_back(before);
            if (m_found[i].candidate.score >= 0.6 * m_found.front().candidate.score)
                refineVolumes(m_found[i]);
        }

        std::stable_sort(m_found.begin(), m_found.end(),
                         [](const Scored& a, const Scored& b) { return a.candidate.score > b.candidate.score; });
        std::vector<LayoutCandidate> out;
        for (const Scored& s : m_found) {
            if (out.size() >= maxCandidates)
                break;
            // Never a layout the window cannot show.
            if (!unshowableLayoutReason(s.candidate.layout).empty())
                continue;
            if (std::none_of(out.begin(), out.end(), [&](const LayoutCandidate& c) { return c.layout == s.candidate.layout; }))
                out.push_back(s.candidate);
        }
        return out;
    }

private:
    // Row lengths and rows per slice with their evidence, in voxels: the
    // same for every decoding of one width (the byte order, sign and phase
    // move no period), so worked out once per width.
    struct RowPlan
    {
        std::int64_t rowVoxels = 0;
        double rowEvidence = 0.0;
        std::vector<std::pair<std::int64_t, double>> sliceRows;
        double singleSliceEvidence = 0.0;
    };

    const std::vector<RowPlan>& plan(const Decoding& d)
    {
        auto it = m_plans.find(d.width);
        if (it != m_plans.end())
            return it->second;
        std::vector<RowPlan> plans;
        const LagDiffs voxelDiff = voxelLagDiffs(m_sampler, d, scratch() + RowScratchDoubles);
        std::vector<std::pair<std::int64_t, double>> rows = strongestPeriods(voxelDiff, 3);
        // Smooth data repeats almost as well a voxel or two beside its row
        // length; a round length there (a multiple of 8, as most are) is
        // tried too, and the size and the slices decide.
        const std::vector<std::pair<std::int64_t, double>> found = rows;
        for (const auto& [length, evidence] : found)
            for (std::int64_t q = length - 3; q <= length + 3; ++q)
                if (q > 0 && q != length && q % 8 == 0)
                    addRowLength(rows, voxelDiff, q);
        for (const NameHints::Dims& t : m_hints.triples)
            addRowLength(rows, voxelDiff, t.dims[0]);
        for (const auto& p : m_hints.pairs)
            addRowLength(rows, voxelDiff, p[0]);
        const double bestRow = rows.empty() ? 0.0 : rows.front().second;
        for (const auto& [rowVoxels, rowEvidence] : rows) {
            if (rowVoxels < 2 || rowVoxels > m_sampler.size() || rowEvidence < 0.75 * bestRow)
                continue;
            RowPlan row;
            row.rowVoxels = rowVoxels;
            row.rowEvidence = clamp01(rowEvidence);
            const LagDiffs rowDiff = rowLagDiffs(m_sampler, d, rowVoxels, scratch());
            // Thick slices: rows one slice apart are hardly more alike than
            // rows a slice and a row apart, so close calls are kept.
            row.sliceRows = strongestPeriods(rowDiff, 3, 0.08);
            const double strongest = row.sliceRows.empty() ? 0.0 : row.sliceRows.front().second;
            // Square slices are the most common (unmeasured: fair evidence);
            // a single slice has no slice period at all.
            addRowLength(row.sliceRows, rowDiff, rowVoxels);
            for (const NameHints::Dims& t : m_hints.triples)
                if (t.dims[0] == rowVoxels)
                    addRowLength(row.sliceRows, rowDiff, t.dims[1]);
            for (const auto& p : m_hints.pairs)
                if (p[0] == rowVoxels)
                    addRowLength(row.sliceRows, rowDiff, p[1]);
            for (auto& [k, e] : row.sliceRows)
                e = std::isfinite(e) ? clamp01(e) : 0.45;
            row.singleSliceEvidence = strongest > 0.5 ? 0.3 : 0.55;
            plans.push_back(std::move(row));
        }
        return m_plans.emplace(d.width, std::move(plans)).first->second;
    }

    void examine(const Decoding& d)
    {
        m_start = findDataStart(m_sampler, d);
        for (const RowPlan& row : plan(d)) {
            for (const auto& [sliceRowCount, sliceEvidence] : row.sliceRows)
                addGeometry(d, row.rowVoxels, row.rowEvidence, sliceRowCount, sliceEvidence, false);
            // One slice filling the file.
            addGeometry(d, row.rowVoxels, row.rowEvidence, 0, row.singleSliceEvidence, true);
        }
    }

    static void addRowLength(std::vector<std::pair<std::int64_t, double>>& list, const LagDiffs& diff,
                             std::int64_t length)
    {
        if (length < 1)
            return;
        for (const auto& [l, e] : list)
            if (l == length)
                return;
        list.emplace_back(length, diff.evidence(length));
    }

    void addGeometry(const Decoding& d, std::int64_t rowVoxels, double rowEvidence, std::int64_t sliceRows,
                     double sliceEvidence, bool singleSlice)
    {
        const std::int64_t size = m_sampler.size();
        const std::int64_t rowBytes = rowVoxels * d.width;
        std::int64_t sliceBytes = 0;
        if (singleSlice) {
            sliceBytes = rowBytes;
        } else if (sliceRows < 1 || __builtin_mul_overflow(rowBytes, sliceRows, &sliceBytes) || sliceBytes > size) {
            return;
        }
        // Header: what the whole slices leave over, and as many whole slices
        // more as the header seen at the start takes; it must start the
        // voxels at the decoding's phase. Otherwise a common header with
        // trailing bytes after the last whole slice.
        std::vector<std::pair<std::int64_t, double>> headers;
        const std::int64_t rest = size % sliceBytes;
        const auto fitOf = [&](std::int64_t h) {
            // No header is the most common, then the usual header sizes.
            const bool common = std::find(CommonHeaders.begin(), CommonHeaders.end(), h) != CommonHeaders.end();
            double fit = h == 0 ? 1.0 : common ? 0.98 : h <= 65536 ? 0.9 : 0.6;
            if (m_start.offset > 0 && std::llabs(h - m_start.offset) > m_start.precision)
                fit *= 0.85; // the bytes say the voxels start elsewhere
            if (m_start.offset == 0 && h > 0 && m_start.dataFromStart)
                fit *= 0.9; // the first bytes look like voxels already
            return fit;
        };
        if (rest % d.width == d.phase) {
            headers.emplace_back(rest, fitOf(rest));
            if (m_start.offset > rest + sliceBytes / 2) {
                const std::int64_t more = (m_start.offset - rest + sliceBytes / 2) / sliceBytes;
                const std::int64_t h = rest + more * sliceBytes;
                if (h + sliceBytes <= size)
                    headers.emplace_back(h, fitOf(h));
            }
        } else {
            for (const std::int64_t h : CommonHeaders)
                if (h % d.width == d.phase && h < rest) {
                    headers.emplace_back(h, 0.7 * fitOf(h));
                    break;
                }
        }
        for (const auto& [header, fit] : headers) {
            const std::int64_t count = (size - header) / sliceBytes;
            if (count < 1)
                continue;
            VolumeLayout l;
            l.dataType = d.type;
            l.byteOrder = d.width == 1 ? boLittleEndian : d.order;
            l.headerBytes = header;
            l.dims = singleSlice ? std::array<std::int64_t, 3>{rowVoxels, count, 1}
                                 : std::array<std::int64_t, 3>{rowVoxels, sliceRows, count};
            l.volumes = 1;
            if (singleSlice && count == 1)
                continue; // a single row is no image
            add(d, l, rowEvidence, sliceEvidence, fit, singleSlice ? 1 : count);
        }
    }

    bool nameMatches(const VolumeLayout& l) const
    {
        for (const NameHints::Dims& t : m_hints.triples)
            if (t.dims == l.dims && t.volumes == l.volumes)
                return true;
        for (const NameHints::Dims& t : m_hints.triples)
            if (t.volumes == 1 && l.volumes > 1 && t.dims[0] == l.dims[0] && t.dims[1] == l.dims[1] &&
                t.dims[2] == l.dims[2] * l.volumes)
                return false;
        for (const auto& p : m_hints.pairs)
            if (p[0] == l.dims[0] && p[1] == l.dims[1])
                return true;
        return false;
    }

    double score(const Scored& s, double rowEvidence, double sliceEvidence, double fit) const
    {
        const VolumeLayout& l = s.candidate.layout;
        double name = 0.5;
        if (!m_hints.triples.empty() || !m_hints.pairs.empty())
            name = s.nameMatch ? 1.0 : 0.2;
        double v = fit * (0.35 * s.decoding.score + 0.3 * rowEvidence + 0.2 * sliceEvidence + 0.15 * name);
        if (m_hints.dataType && *m_hints.dataType != l.dataType)
            v *= 0.85;
        if (m_hints.byteOrder && s.decoding.width > 1 && *m_hints.byteOrder != l.byteOrder)
            v *= 0.9;
        return clamp01(v);
    }

    void add(const Decoding& d, const VolumeLayout& l, double rowEvidence, double sliceEvidence, double fit,
             std::int64_t slices)
    {
        Scored s;
        s.decoding = d;
        s.candidate.layout = l;
        s.slices = slices;
        s.nameMatch = nameMatches(l);
        s.candidate.score = score(s, rowEvidence, sliceEvidence, fit);

        std::string reason;
        const auto append = [&](const std::string& part) {
            if (!reason.empty())
                reason += "; ";
            reason += part;
        };
        if (s.nameMatch)
            append("name says " + std::to_string(l.dims[0]) + "x" + std::to_string(l.dims[1]) + "x" +
                   std::to_string(l.dims[2]));
        if (rowEvidence >= 0.3)
            append("rows repeat every " + std::to_string(l.dims[0] * d.width) + " bytes");
        if (slices > 1 && sliceEvidence >= 0.3)
            append("slices repeat every " + std::to_string(l.dims[1]) + " rows");
        append((d.score >= 0.5 ? "smooth as " : "") + typeWords(d));
        if (l.headerBytes > 0)
            append("header " + std::to_string(l.headerBytes) + " bytes");
        const std::int64_t trailing = m_sampler.size() - l.headerBytes - layoutDataBytes(l);
        if (trailing > 0)
            append(std::to_string(trailing) + " trailing bytes");
        s.candidate.reason = std::move(reason);
        m_found.push_back(std::move(s));
    }

    // Splits the file's slices into volumes when the content shows a volume
    // boundary; only for the candidates that could rank.
    void refineVolumes(Scored& s)
    {
        VolumeLayout& l = s.candidate.layout;
        if (s.slices < 4 || s.candidate.score < 0.3)
            return;
        const std::int64_t v = detectVolumes(m_sampler, s.decoding, l, s.slices);
        if (v <= 1)
            return;
        l.dims[2] = s.slices / v;
        l.volumes = v;
        s.candidate.reason += "; " + std::to_string(v) + " volumes alike";
    }

    // Room for rowLagDiffs' work, then for voxelLagDiffs'.
    double* scratch()
    {
        if (!m_scratch)
            m_scratch = std::make_unique<BlockMemory>((RowScratchDoubles + LagScratchDoubles) * sizeof(double));
        return reinterpret_cast<double*>(m_scratch->data());
    }

    Sampler m_sampler;
    NameHints m_hints;
    std::unique_ptr<BlockMemory> m_scratch; // see scratch()
    DataStart m_start; // of the decoding being examined
    std::map<int, std::vector<RowPlan>> m_plans; // by voxel width
    std::vector<Scored> m_found;
};

} // namespace

FileLayoutSource::FileLayoutSource(const std::string& path)
{
    const std::runtime_error refused("Cannot open file " + path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw refused;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        ::close(fd);
        throw refused;
    }
    m_fd = fd;
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        m_size = end > 0 ? static_cast<std::int64_t>(end) : 0;
    } else {
        m_size = static_cast<std::int64_t>(st.st_size);
    }
}

FileLayoutSource::~FileLayoutSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0)
        return 0;
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(m_fd, dest + got, count - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

std::size_t MemoryLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= m_size)
        return 0;
    const std::size_t n = std::min(count, m_size - static_cast<std::size_t>(offset));
    std::memcpy(dest, m_data + offset, n);
    return n;
}

std::vector<LayoutCandidate> guessLayout(const LayoutSource& source, std::string_view fileName, std::size_t maxCandidates)
{
    const CountingLayoutSource counted(source);
    Guesser guesser(counted, fileName);
    std::vector<LayoutCandidate> guesses = guesser.run(maxCandidates);
    // A layout the name states in full and the size fits exactly is heard
    // after the bytes have spoken (layout/StatedLayout), within what is left
    // of the byte budget.
    return heedStatedLayout(std::move(guesses), parseNameHints(fileName), source, maxCandidates,
                            GuessSampleLimit - counted.bytesRead());
}

std::vector<LayoutCandidate> guessLayoutOfFile(const std::string& path, std::size_t maxCandidates)
{
    const FileLayoutSource source(path);
    return guessLayout(source, path, maxCandidates);
}

std::string guessLine(const LayoutCandidate& c)
{
    const VolumeLayout& l = c.layout;
    const VoxelTypeInfo* info = voxelTypeInfo(l.dataType);
    const std::string_view type = info ? info->shortName : std::string_view("u8");
    const bool big = info && info->bytes > 1 && l.byteOrder == boBigEndian;
    char score[32];
    std::snprintf(score, sizeof score, "%.3f", clamp01(c.score));
    return std::to_string(l.dims[0]) + "x" + std::to_string(l.dims[1]) + "x" + std::to_string(l.dims[2]) + " " +
           std::string(type) + (big ? " big" : " little") + " header=" + std::to_string(l.headerBytes) +
           " volumes=" + std::to_string(l.volumes) + " score=" + score;
}
