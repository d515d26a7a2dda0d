#include "layout/GuessDataStart.h"

#include "layout/GuessScore.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace GuessDetail
{
namespace
{

// Voxels per window: the unit in which bytes are told like or unlike the data.
constexpr std::int64_t Window = 16;
// A window is rough when its roughness exceeds this many times the upper
// quartile of the voxels elsewhere: header bytes jump about far more.
constexpr double RoughFactor = 4.0;
// The header is the stretch from the start in which unlike windows outweigh
// data-like ones at this share (blank windows count for neither): a rough
// window among the voxels is no header, nor is a data-like record in a header.
constexpr double UnlikeShare = 1.0 / 3.0;
// Records of up to this many voxels are seen (see looksLikeRecords).
constexpr std::int64_t MaxRecordVoxels = 8;
// A window with at least this many values no volume holds is unlike (a
// float reading of a few bytes of text or of small integers).
constexpr int InsaneValues = 2;
// A run of one value is padding, not voxels, when the voxels elsewhere take
// that value at most this share of the time.
constexpr double PaddingValueShare = 0.01;
// The voxels elsewhere: this many places over the file, Window voxels each.
constexpr int ReferencePlaces = 64;

enum class Kind : std::uint8_t
{
    Data,
    Blank, // one value throughout
    Unlike, // text, rough, or values no volume holds
};

bool isLetter(std::uint8_t c)
{
    const int lower = c | 0x20;
    return (lower >= 'a' && lower <= 'z') || c == '_';
}

bool isPrintable(std::uint8_t c)
{
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r';
}

// A word of four letters, or mostly printable bytes with letters among them.
bool looksLikeText(std::span<const std::uint8_t> bytes)
{
    std::size_t run = 0, longest = 0, printable = 0, letters = 0;
    for (const std::uint8_t c : bytes) {
        run = isLetter(c) ? run + 1 : 0;
        longest = std::max(longest, run);
        letters += isLetter(c) ? 1 : 0;
        printable += isPrintable(c) ? 1 : 0;
    }
    return longest >= 4 || (printable * 4 >= bytes.size() * 3 && letters * 4 >= bytes.size());
}

// A float's NaN or infinity: valid data (a NaN border), unlike a huge value.
bool isNanPattern(const std::uint8_t* p, const Decoding& d)
{
    if (d.type != vdtFloat32 && d.type != vdtFloat64)
        return false;
    // The byte holding the sign and the top of the exponent, and the next.
    const std::uint8_t top = d.bigEndian() ? p[0] : p[d.width - 1];
    const std::uint8_t next = d.bigEndian() ? p[1] : p[d.width - 2];
    const std::uint8_t nextMask = d.type == vdtFloat32 ? 0x80 : 0xF0;
    return (top & 0x7F) == 0x7F && (next & nextMask) == nextMask;
}

struct WindowStats
{
    double roughness = 0.0; // median neighbour difference
    bool blank = false;
    bool text = false;
    int insane = 0;
};

// Fixed-size records (directory entries, tags with small numbers): many
// values repeat exactly a few voxels on, while neighbours differ. Voxels
// repeat a few voxels on hardly more often than beside each other.
bool looksLikeRecords(const double* values)
{
    const auto equalAt = [&](std::int64_t lag) {
        int n = 0;
        for (std::int64_t i = 0; i + lag < Window; ++i)
            n += values[i] == values[i + lag] ? 1 : 0;
        return n;
    };
    const int neighbours = equalAt(1);
    for (std::int64_t lag = 2; lag <= MaxRecordVoxels; ++lag) {
        const int same = equalAt(lag);
        if (2 * same >= Window - lag && same >= 2 * neighbours + 2)
            return true;
    }
    return false;
}

// values: Window voxels decoded from bytes. (Whether they look like records
// is asked by kindOf, only of a window nothing else tells unlike.)
WindowStats statsOf(const double* values, const std::uint8_t* bytes, const Decoding& d)
{
    WindowStats s;
    double diffs[Window - 1];
    std::size_t count = 0;
    double largest = 0.0;
    for (std::int64_t i = 0; i < Window; ++i) {
        const bool nan = values[i] != values[i];
        if (nan && !isNanPattern(bytes + i * d.width, d))
            ++s.insane;
        if (i + 1 == Window)
            break;
        const double a = values[i], b = values[i + 1];
        if (a == a && b == b)
            diffs[count++] = std::fabs(b - a);
        else if (a != a && b != b)
            diffs[count++] = 0.0;
        if (count > 0)
            largest = std::max(largest, diffs[count - 1]);
    }
    // Numbers of more than one byte hold their top bytes alike from voxel
    // to voxel even where every byte is printable; text does not.
    std::uint32_t tops[8] = {};
    int distinctTops = 0;
    for (std::int64_t i = 0; i < Window; ++i) {
        const std::uint8_t top = bytes[i * d.width + (d.bigEndian() ? 0 : d.width - 1)];
        std::uint32_t& word = tops[top / 32];
        const std::uint32_t bit = std::uint32_t{1} << (top % 32);
        distinctTops += (word & bit) ? 0 : 1;
        word |= bit;
    }
    s.text = (d.width == 1 || distinctTops >= Window / 4) &&
             looksLikeText({bytes, static_cast<std::size_t>(Window * d.width)});
    if (count == 0)
        return s;
    s.blank = s.insane == 0 && largest == 0.0 && static_cast<std::int64_t>(count) == Window - 1;
    s.roughness = medianOfFew(diffs, count);
    return s;
}

// values: the window's Window voxels, as statsOf had them.
Kind kindOf(const WindowStats& s, const double* values, const Decoding& d, double typical)
{
    if (s.insane >= InsaneValues)
        return Kind::Unlike;
    if (s.blank)
        return Kind::Blank;
    const bool rough = s.roughness > RoughFactor * typical && s.roughness > 0.0;
    // Bytes of text are printable voxels too; read as bytes, text must also
    // jump about more than the voxels do.
    const bool text = s.text && (d.width > 1 || s.roughness > 2.0 * typical);
    return rough || text || looksLikeRecords(values) ? Kind::Unlike : Kind::Data;
}

// The scan of a stretch stops once data-like windows outweigh the unlike
// part found so far by this much: the voxels have clearly begun.
constexpr double SettledMargin = 256.0;
// The stretch first scanned at either end; the whole EdgeBytes only when the
// voxels have not clearly begun within it.
constexpr std::int64_t FirstScanBytes = std::int64_t{64} << 10;

// A stretch of the file told window by window, from its start or
// (fromEnd) from its end, up to where the voxels have clearly begun. Its
// values are decoded as they are first asked for, a few windows' worth at
// a time, so that a scan that settles soon decodes (and touches the memory
// of) little of the stretch.
struct Stretch
{
    std::int64_t first = 0; // file offset of value 0
    std::int64_t count = 0; // values in the stretch
    const std::uint8_t* bytes = nullptr; // of value 0; valid while the stretch's bytes are
    const Decoding* decoding = nullptr;

    // Values i .. i + n - 1 (within the stretch), decoded.
    const double* values(std::int64_t i, std::int64_t n)
    {
        constexpr std::int64_t Piece = 64 * Window;
        if (m_lo == m_hi)
            m_lo = m_hi = i;
        if (i < m_lo) {
            const std::int64_t lo = std::max<std::int64_t>(0, std::min(i, m_lo - Piece));
            decodeInto(bytes + lo * decoding->width, static_cast<std::size_t>(m_lo - lo), *decoding, m_values.get() + lo);
            m_lo = lo;
        }
        if (i + n > m_hi) {
            const std::int64_t hi = std::min(count, std::max(i + n, m_hi + Piece));
            decodeInto(bytes + m_hi * decoding->width, static_cast<std::size_t>(hi - m_hi), *decoding, m_values.get() + m_hi);
            m_hi = hi;
        }
        return m_values.get() + i;
    }
    double value(std::int64_t i) { return *values(i, 1); }
    // Room for every value, written only where decoded.
    void make(std::int64_t n)
    {
        count = n;
        m_values = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(n));
    }

    // Voxel i holds a value no volume holds (not a float's NaN).
    bool insane(std::int64_t i, const Decoding& d)
    {
        const double v = value(i);
        return v != v && !isNanPattern(bytes + i * d.width, d);
    }
    std::int64_t origin = 0; // index of the first window's first value
    std::int64_t windows = 0; // whole windows in the stretch
    std::vector<Kind> kinds; // in the order told
    // The unlike part: the windows told first up to where unlike windows
    // most outweigh data-like ones (blank windows count for neither).
    std::int64_t unlike = 0;
    bool settled = false; // the voxels clearly began

private:
    std::unique_ptr<double[]> m_values;
    std::int64_t m_lo = 0, m_hi = 0; // the values decoded
};

Stretch tell(std::span<const std::uint8_t> bytes, std::int64_t at, const Decoding& d, double typical, bool fromEnd)
{
    Stretch s;
    const std::int64_t skip = d.skipFrom(at);
    s.first = at + skip;
    s.decoding = &d;
    const std::int64_t n = static_cast<std::int64_t>(bytes.size()) <= skip
        ? 0
        : (static_cast<std::int64_t>(bytes.size()) - skip) / d.width;
    s.make(n);
    s.windows = n / Window;
    s.origin = fromEnd ? n - s.windows * Window : 0;
    const std::uint8_t* base = bytes.data() + std::min<std::int64_t>(skip, static_cast<std::int64_t>(bytes.size()));
    s.bytes = base;
    const double dataWeight = UnlikeShare / (1.0 - UnlikeShare);
    double sum = 0.0, best = 0.0;
    for (std::int64_t k = 0; k < s.windows; ++k) {
        const std::int64_t i = s.origin + (fromEnd ? s.windows - 1 - k : k) * Window;
        const double* values = s.values(i, Window);
        const Kind kind = kindOf(statsOf(values, base + i * d.width, d), values, d, typical);
        s.kinds.push_back(kind);
        sum += kind == Kind::Unlike ? 1.0 : kind == Kind::Data ? -dataWeight : 0.0;
        if (sum > best) {
            best = sum;
            s.unlike = k + 1;
        }
        if (best - sum > SettledMargin) {
            s.settled = true;
            break;
        }
    }
    return s;
}

// A window's median by Batcher's odd-even merge sort of NetworkSize values
// (63 exchanges), unrolled into minima and maxima without a branch: the
// branches of a selection among a window's few values go either way at random.
constexpr int NetworkSize = 16;

template<typename Exchange>
constexpr void forEachExchange(Exchange&& exchange)
{
    for (int p = 1; p < NetworkSize; p *= 2)
        for (int q = p; q >= 1; q /= 2)
            for (int j = q % p; j + q < NetworkSize; j += 2 * q)
                for (int i = 0; i < std::min(q, NetworkSize - j - q); ++i)
                    if ((i + j) / (2 * p) == (i + j + q) / (2 * p))
                        exchange(i + j, i + j + q);
}

constexpr std::size_t exchangeCount()
{
    std::size_t count = 0;
    forEachExchange([&count](int, int) { ++count; });
    return count;
}

constexpr auto SortNetwork = [] {
    std::array<std::pair<int, int>, exchangeCount()> pairs{};
    std::size_t k = 0;
    forEachExchange([&](int a, int b) { pairs[k++] = {a, b}; });
    return pairs;
}();
static_assert(SortNetwork.size() == 63);

// Trailing bytes where the voxels seem to end fit nearly as well as none.
constexpr double SeenTrailingFit = 0.95;

// a and b, a voxel or two apart, are alike as neighbouring voxels are.
bool smoothStep(double a, double b, double typical)
{
    return a == a && b == b && std::fabs(b - a) <= RoughFactor * typical;
}

// A short header (a magic and an offset, as many formats begin with): up to
// ShortHeaderBytes before the voxels, too few to make a window unlike. Its
// values lie far outside those of the voxels just after it (or no volume
// holds them) where the voxels' own first values do not.
constexpr std::int64_t ShortHeaderBytes = 16;
constexpr std::int64_t ShortHeaderSizes[] = {8, 16}; // a header seen to end at or before one of these is taken
                                                     // to end there: headers are whole numbers of words

// The bytes of a short header before the voxels of the stretch told from
// the file's start, 0 when there is none.
std::int64_t shortHeader(Stretch& start, const Decoding& d, double typical)
{
    const std::int64_t headVoxels = ShortHeaderBytes / d.width;
    const auto n = start.count;
    if (start.first != d.phase || n < headVoxels + 2 * Window)
        return 0;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::int64_t i = headVoxels; i < headVoxels + 2 * Window; ++i) {
        const double v = start.value(i);
        if (v == v) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (!(lo <= hi))
        return 0;
    const double reach = RoughFactor * typical + (hi - lo);
    std::int64_t end = 0; // past the last voxel far from the data
    for (std::int64_t i = 0; i < headVoxels; ++i) {
        const double v = start.value(i);
        if (start.insane(i, d) || (v == v && (v < lo - reach || v > hi + reach)))
            end = start.first + (i + 1) * d.width;
    }
    if (end == 0)
        return 0;
    for (const std::int64_t h : ShortHeaderSizes)
        if (h >= end && h % d.width == d.phase)
            return h;
    return 0;
}

} // namespace

double medianOfFew(const double* values, std::size_t n)
{
    assert(n >= 1 && n <= static_cast<std::size_t>(NetworkSize));
    // Past n, infinities sort last.
    double v[NetworkSize];
    for (std::size_t i = 0; i < static_cast<std::size_t>(NetworkSize); ++i)
        v[i] = i < n ? values[i] : std::numeric_limits<double>::infinity();
#pragma GCC unroll 64
    for (const auto& [a, b] : SortNetwork) {
        const double low = std::min(v[a], v[b]);
        const double high = std::max(v[a], v[b]);
        v[a] = low;
        v[b] = high;
    }
    return v[n / 2];
}

DataStart findDataStart(Sampler& sampler, const Decoding& d)
{
    const std::int64_t size = sampler.size();
    const std::int64_t width = d.width;
    const std::int64_t windowBytes = Window * width;
    DataStart found;
    found.precision = windowBytes + width;
    found.end = found.endBeforePadding = size;

    // The roughness of the voxels elsewhere: windows spread over the file,
    // text and blank ones left out (a large header shows among them).
    std::vector<double> roughness;
    for (int k = 0; k < ReferencePlaces; ++k) {
        const auto at = static_cast<std::int64_t>(spreadAt(k) * static_cast<double>(size));
        const std::span<const std::uint8_t> bytes = sampler.bytes(at, windowBytes + width);
        const std::vector<double> v = decodeRun(bytes, at, d, Window);
        if (static_cast<std::int64_t>(v.size()) < Window)
            continue;
        const WindowStats s = statsOf(v.data(), bytes.data() + d.skipFrom(at), d);
        if (s.text || s.blank || s.insane >= InsaneValues)
            continue;
        roughness.push_back(s.roughness);
    }
    if (roughness.size() < 4)
        return found;
    std::nth_element(roughness.begin(), roughness.begin() + static_cast<std::ptrdiff_t>(roughness.size() * 3 / 4),
                     roughness.end());
    const double typical = roughness[roughness.size() * 3 / 4];
    // Whether the voxels of [from, to) (sampled) take value at most
    // PaddingValueShare of the time.
    const auto rarelyIn = [&](double value, std::int64_t from, std::int64_t to) {
        std::int64_t seen = 0, same = 0;
        for (int k = 0; k < ReferencePlaces && to - from >= windowBytes; ++k) {
            const std::int64_t at = from + (to - from - windowBytes) * k / ReferencePlaces;
            for (const double v : decodeRun(sampler.bytes(at, windowBytes), at, d, Window)) {
                ++seen;
                same += v == value || (v != v && value != value) ? 1 : 0;
            }
        }
        return seen > 0 && static_cast<double>(same) <= PaddingValueShare * static_cast<double>(seen);
    };

    // The header: not past three quarters of the file (the voxels are more).
    const auto headBytes = [&](std::int64_t most) {
        const std::span<const std::uint8_t> head = sampler.head(most);
        return head.first(std::min(head.size(), static_cast<std::size_t>(size - size / 4)));
    };
    Stretch start = tell(headBytes(FirstScanBytes), 0, d, typical, false);
    if (!start.settled && std::min(size - size / 4, EdgeBytes) > FirstScanBytes)
        start = tell(headBytes(EdgeBytes), 0, d, typical, false);
    const auto headerWindows = static_cast<std::size_t>(start.unlike);
    if (headerWindows > 0) {
        // Back over the last unlike window's voxels that lead smoothly into
        // the data.
        const auto n = start.count;
        auto i = static_cast<std::int64_t>(headerWindows) * Window;
        const std::int64_t least = i - Window + 1;
        while (i > least && i + 1 < n &&
               smoothStep(start.value(i - 1), start.value(i), typical) &&
               smoothStep(start.value(i - 1), start.value(i + 1), typical))
            --i;
        // Past values no volume holds that the window's smoothness let in.
        while (i < n && start.insane(i, d))
            ++i;
        found.offset = start.first + i * width;
        // Past a run of one value (padding) that starts soon after.
        const auto value = [&](std::int64_t k) { return start.value(k); };
        const auto same = [&](std::int64_t k, double pad) { return value(k) == pad || (pad != pad && value(k) != value(k)); };
        for (std::int64_t j = i; j < std::min(n, i + 2 * Window); ++j) {
            std::int64_t k = j;
            while (k < n && same(k, value(j)))
                ++k;
            if (k - j >= Window) {
                if (k < n && rarelyIn(value(j), start.first + k * width, size))
                    found.afterPadding = start.first + k * width;
                break;
            }
            j = k - 1;
        }
    }
    if (headerWindows == 0)
        found.offset = shortHeader(start, d, typical);
    if (found.afterPadding == 0)
        found.afterPadding = found.offset;
    found.dataFromStart = headerWindows == 0 && start.kinds.size() >= 4 &&
                          std::all_of(start.kinds.begin(), start.kinds.begin() + 4, [](Kind k) { return k == Kind::Data; });

    // Trailing bytes: the same from the end, not before the header's end.
    const auto tailStretch = [&](std::int64_t most) {
        const std::span<const std::uint8_t> bytes = sampler.tail(most);
        const std::int64_t at = size - static_cast<std::int64_t>(bytes.size());
        const std::int64_t from = std::max({at, found.afterPadding, size / 4});
        return bytes.empty() || from >= size ? Stretch{}
                                             : tell(bytes.subspan(static_cast<std::size_t>(from - at)), from, d, typical, true);
    };
    Stretch tail = tailStretch(FirstScanBytes);
    if (!tail.settled && size - FirstScanBytes > std::max(found.afterPadding, size / 4))
        tail = tailStretch(EdgeBytes);
    if (tail.count == 0)
        return found;
    const std::int64_t trailingWindows = tail.unlike;
    const std::int64_t windows = tail.windows;
    // Index of the first voxel after the voxels.
    std::int64_t e = tail.origin + (windows - trailingWindows) * Window;
    if (trailingWindows > 0) {
        const std::int64_t most = e + Window - 1;
        while (e < most && e > 1 &&
               smoothStep(tail.value(e - 1), tail.value(e), typical) &&
               smoothStep(tail.value(e - 2), tail.value(e), typical))
            ++e;
        while (e > 0 && tail.insane(e - 1, d))
            --e;
        found.end = tail.first + e * width;
    } else {
        e = tail.count;
    }
    found.endBeforePadding = found.end;
    // Before a run of one value the voxels never take (padding to a block).
    if (e >= 2 * Window) {
        const double pad = tail.value(e - 1);
        std::int64_t k = e;
        while (k > 0 && (tail.value(k - 1) == pad ||
                         (pad != pad && tail.value(k - 1) != tail.value(k - 1))))
            --k;
        if (e - k >= Window && k > 0 && rarelyIn(pad, 0, tail.first + k * width))
            found.endBeforePadding = tail.first + k * width;
    }
    return found;
}

std::vector<Placement> placeUnits(std::int64_t size, std::int64_t unitBytes, const Decoding& d, const DataStart& start)
{
    std::vector<Placement> out;
    if (unitBytes < 1 || unitBytes > size)
        return out;
    const auto voxelStart = [&](std::int64_t h) { return h >= 0 && h % d.width == d.phase; };
    const auto near = [&](std::int64_t a, std::int64_t b) { return std::llabs(a - b) <= start.precision; };
    const auto place = [&](std::int64_t h, std::int64_t count, double trailingFit) {
        if (!voxelStart(h) || count < 1 || h > size - count * unitBytes)
            return;
        const std::int64_t dataEnd = h + count * unitBytes;
        // Trailing bytes fit where unlike bytes or padding are seen to start.
        const bool seen = (start.end < size && near(dataEnd, start.end)) ||
                          (start.endBeforePadding < size && near(dataEnd, start.endBeforePadding));
        const double fit = headerFit(h, start) * (dataEnd == size ? 1.0 : seen ? SeenTrailingFit : trailingFit);
        for (Placement& p : out)
            if (p.header == h && p.count == count) {
                p.fit = std::max(p.fit, fit);
                return;
            }
        out.push_back({h, count, fit});
    };
    // The data at the end: what whole units leave over, and as many units
    // more as the header seen takes.
    const std::int64_t rest = size % unitBytes;
    if (voxelStart(rest)) {
        place(rest, size / unitBytes, 1.0);
        for (const std::int64_t s : {start.offset, start.afterPadding})
            if (s > rest + unitBytes / 2) {
                const std::int64_t more = (s - rest + unitBytes / 2) / unitBytes;
                place(rest + more * unitBytes, size / unitBytes - more, 1.0);
            }
    }
    // The data from where it seems to start to where it seems to end.
    for (const std::int64_t s : {start.offset, start.afterPadding})
        for (const std::int64_t e : {start.end, start.endBeforePadding})
            if (e > s) {
                place(s, (e - s + start.precision) / unitBytes, TrailingBytesFit);
                // Ending where the voxels seem to end, starting near s.
                const std::int64_t count = (e - s + start.precision) / unitBytes;
                const std::int64_t h = e - count * unitBytes;
                if (near(h, s))
                    place(h, count, TrailingBytesFit);
            }
    // Otherwise a common header with trailing bytes after the last whole unit.
    if (out.empty())
        for (const std::int64_t h : CommonHeaders)
            if (voxelStart(h) && h < size) {
                place(h, (size - h) / unitBytes, TrailingBytesFit);
                if (!out.empty())
                    break;
            }
    std::stable_sort(out.begin(), out.end(), [](const Placement& a, const Placement& b) { return a.fit > b.fit; });
    return out;
}

} // namespace GuessDetail
