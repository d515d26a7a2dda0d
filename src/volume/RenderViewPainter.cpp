#include "volume/RenderViewPainter.h"

#include "volume/GreyKernels.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <type_traits>

namespace
{

using GreyKernels::Window;

// Pixels computed per batch before they are stored into the bitmap row.
constexpr std::size_t ChunkPixels = 1024;

// The intensity window reduced once per render to what the pixel rule
// needs: lo and scale exactly as 32-bit floats.
Window greyWindow(double intensityMin, double intensityMax)
{
    // The difference of two integer ends is exact in double (the full 32-bit
    // window spans 2^32 - 1), so integer windows give the span as before.
    float span = static_cast<float>(intensityMax - intensityMin);
    if (span == 0.0f)
        span = 1.0f;
    // Single-precision division: 255 / span rounded to a float.
    return {static_cast<float>(intensityMin), static_cast<double>(255.0f / span)};
}

// Paints n voxels through grey levels in batches: fill(src, c, grey, red)
// turns c voxels into grey levels and returns whether it marked any red.
template <class Fill>
void paintThroughGrey(const std::uint8_t* src, std::size_t n, std::size_t bytesPerVoxel, std::uint8_t* dst,
                      Fill&& fill)
{
    std::uint8_t grey[ChunkPixels];
    std::uint8_t red[ChunkPixels];
    for (std::size_t x = 0; x < n;) {
        const std::size_t c = std::min(ChunkPixels, n - x);
        const bool anyRed = fill(src + x * bytesPerVoxel, c, grey, red);
        GreyKernels::expandGrey(grey, c, dst + 3 * x);
        for (std::size_t i = 0; anyRed && i < c; ++i) {
            if (red[i]) {
                dst[3 * (x + i)] = 255;
                dst[3 * (x + i) + 1] = 0;
                dst[3 * (x + i) + 2] = 0;
            }
        }
        x += c;
    }
}

// Float ranges are met lane by lane; only the sign of a zero extreme can
// differ from a scan in order: it is that of the first zero met. Each run is
// searched for it while its bytes are still in the cache, from the first run
// after which an end of the range is zero (an earlier zero would have made
// one zero then) until it is found; once the range spans both signs, no
// zero can become an end. Integer types only have the zero +0.
class FirstZero
{
public:
    // After a run of n voxels at src was painted and the range is lo .. hi.
    void afterRun(const std::uint8_t* src, std::size_t n, float lo, float hi, TVoxelDataType type, bool big)
    {
        if (m_settled || (lo != 0.0f && hi != 0.0f)) {
            m_settled = m_settled || (lo < 0.0f && hi > 0.0f);
            return;
        }
        const VoxelTypeInfo* info = voxelTypeInfo(type);
        if (!info || !info->isFloat) {
            m_settled = true;
            return;
        }
        const std::size_t at = GreyKernels::firstFloatZero(src, n, info->bytes, big);
        if (at < n) {
            m_zero = static_cast<float>(voxelValue(src + at * info->bytes, type, big)); // keeps the sign
            m_settled = true;
        }
    }

    // The range lo .. hi, a zero end taking the sign of the first zero.
    void take(ObservedRange& range, float lo, float hi) const
    {
        range.min = lo == 0.0f ? m_zero : lo;
        range.max = hi == 0.0f ? m_zero : hi;
    }

private:
    bool m_settled = false;
    float m_zero = 0.0f;
};

// Integer ranges: integer to float is monotonic, so the floats of the range
// are the range of the floats. Every value of these types lies within the
// start pair (+-2^31), so meeting the two ends is the scan in order.
template <typename T>
void meetIntegerRange(ObservedRange& range, T mn, T mx)
{
    range.meet(static_cast<float>(mn));
    range.meet(static_cast<float>(mx));
}

// The painters of integer types whose range is the least and greatest
// value met, kept as T.
template <typename T>
class IntegerRangePainter : public VoxelPainter
{
public:
    void observe(ObservedRange& range) const override
    {
        if (m_takeRange && m_any)
            meetIntegerRange(range, m_min, m_max);
    }

protected:
    explicit IntegerRangePainter(bool takeRange)
        : m_takeRange(takeRange)
    {
    }
    // Where the loops keep the range: nowhere when it is not taken.
    T* minOut() { return m_takeRange ? &m_min : nullptr; }
    T* maxOut() { return m_takeRange ? &m_max : nullptr; }

    bool m_takeRange;
    bool m_any = false;
    T m_min = std::numeric_limits<T>::max();
    T m_max = std::numeric_limits<T>::min();
};

// A type outside 0..7 decodes every voxel as 0.
class UnknownTypePainter final : public VoxelPainter
{
public:
    UnknownTypePainter(Window window, bool takeRange)
        : m_takeRange(takeRange)
    {
        const std::uint8_t zero[1] = {0};
        GreyKernels::fromUInt8(zero, 1, window, &m_grey);
    }
    void paint(const std::uint8_t*, std::size_t n, std::uint8_t* dst) override
    {
        std::memset(dst, m_grey, 3 * n);
        m_any = m_any || n > 0;
    }
    void observe(ObservedRange& range) const override
    {
        if (m_takeRange && m_any)
            range.meet(0.0f);
    }

private:
    bool m_takeRange;
    bool m_any = false;
    std::uint8_t m_grey = 0;
};

// Bytes go straight to pixels where the vector units give the rule's grey
// levels quickly, through a 256-entry table otherwise.
class BytePainter final : public IntegerRangePainter<std::uint8_t>
{
public:
    BytePainter(Window window, bool takeRange)
        : IntegerRangePainter(takeRange), m_window(window), m_direct(GreyKernels::directUInt8(window))
    {
        if (!m_direct)
            GreyKernels::greyOfIntegers(0, m_table.size(), window, m_table.data());
    }
    void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) override
    {
        m_any = m_any || n > 0;
        if (m_direct) {
            GreyKernels::pixelsFromUInt8(src, n, m_window, dst, minOut(), maxOut());
            return;
        }
        if (m_takeRange)
            GreyKernels::rangeUInt8(src, n, m_min, m_max);
        paintThroughGrey(src, n, 1, dst, [&](const std::uint8_t* s, std::size_t c, std::uint8_t* grey, std::uint8_t*) {
            GreyKernels::fromTable8(s, c, m_table.data(), grey);
            return false;
        });
    }

private:
    Window m_window;
    bool m_direct;
    std::array<std::uint8_t, 256> m_table{};
};

// Int-16 and UInt-16 voxels go straight to pixels where the vector units
// give the rule's grey levels quickly. Otherwise they map through a table
// over all 65536 values whose entries are computed for the values met so
// far: each run first widens the covered range to its own, so the table
// never needs the whole view's range before the first run is painted.
template <typename T>
class Table16Painter final : public IntegerRangePainter<T>
{
    static constexpr bool Signed = std::is_signed_v<T>;

public:
    Table16Painter(bool big, Window window, bool takeRange)
        : IntegerRangePainter<T>(takeRange), m_big(big), m_window(window),
          m_direct(Signed ? GreyKernels::directInt16(window) : GreyKernels::directUInt16(window))
    {
    }
    void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) override
    {
        if (n == 0)
            return;
        this->m_any = true;
        if (m_direct) {
            if constexpr (Signed)
                GreyKernels::pixelsFromInt16(src, n, m_big, m_window, dst, this->minOut(), this->maxOut());
            else
                GreyKernels::pixelsFromUInt16(src, n, m_big, m_window, dst, this->minOut(), this->maxOut());
            return;
        }
        T lo = std::numeric_limits<T>::max();
        T hi = std::numeric_limits<T>::min();
        if constexpr (Signed)
            GreyKernels::rangeInt16(src, n, m_big, lo, hi);
        else
            GreyKernels::rangeUInt16(src, n, m_big, lo, hi);
        cover(lo, hi);
        paintThroughGrey(src, n, 2, dst, [&](const std::uint8_t* s, std::size_t c, std::uint8_t* grey, std::uint8_t*) {
            GreyKernels::fromTable16(s, c, m_big, Signed, m_table.data(), grey);
            return false;
        });
    }

private:
    // Table entry i holds the grey level of the value i + Bias.
    static constexpr std::int32_t Bias = std::numeric_limits<T>::min();

    // Makes the table hold lo .. hi; the covered values are always one
    // interval, the range of the values met (m_min .. m_max).
    void cover(T lo, T hi)
    {
        const auto fill = [&](std::int32_t first, std::int32_t last) {
            GreyKernels::greyOfIntegers(first, static_cast<std::size_t>(last - first + 1), m_window,
                                        m_table.data() + (first - Bias));
        };
        T& covMin = this->m_min;
        T& covMax = this->m_max;
        if (covMin > covMax) {
            fill(lo, hi);
            covMin = lo;
            covMax = hi;
            return;
        }
        if (lo < covMin) {
            fill(lo, covMin - 1);
            covMin = lo;
        }
        if (hi > covMax) {
            fill(covMax + 1, hi);
            covMax = hi;
        }
    }

    bool m_big;
    Window m_window;
    bool m_direct;
    std::array<std::uint8_t, 65536> m_table{};
};

// Int-32 and Float-32: one loop straight to pixels where the window lets
// it, else the range first and then the grey levels' path.
struct Int32Kernels
{
    using Value = std::int32_t;
    static constexpr Value StartMin = std::numeric_limits<Value>::max();
    static constexpr Value StartMax = std::numeric_limits<Value>::min();
    static void pixels(const std::uint8_t* src, std::size_t n, bool big, Window w, std::uint8_t* dst, Value* mn,
                       Value* mx)
    {
        GreyKernels::pixelsFromInt32(src, n, big, w, dst, mn, mx);
    }
    static void range(const std::uint8_t* src, std::size_t n, bool big, Value& mn, Value& mx)
    {
        GreyKernels::rangeInt32(src, n, big, mn, mx);
    }
    static bool grey(const std::uint8_t* src, std::size_t n, bool big, Window w, std::uint8_t* grey, std::uint8_t*)
    {
        GreyKernels::fromInt32(src, n, big, w, grey);
        return false;
    }
    static constexpr bool Float = false;
    static void observe(ObservedRange& range, Value mn, Value mx, const FirstZero&)
    {
        meetIntegerRange(range, mn, mx);
    }
};

// Float-32 ranges start from the render's start pair, as a scan in order
// from it meets them.
struct Float32Kernels
{
    using Value = float;
    static constexpr Value StartMin = ObservedRange{}.min;
    static constexpr Value StartMax = ObservedRange{}.max;
    static void pixels(const std::uint8_t* src, std::size_t n, bool big, Window w, std::uint8_t* dst, Value* mn,
                       Value* mx)
    {
        GreyKernels::pixelsFromFloat32(src, n, big, w, dst, mn, mx);
    }
    static void range(const std::uint8_t* src, std::size_t n, bool big, Value& mn, Value& mx)
    {
        GreyKernels::rangeFloat32(src, n, big, mn, mx);
    }
    static bool grey(const std::uint8_t* src, std::size_t n, bool big, Window w, std::uint8_t* grey, std::uint8_t* red)
    {
        return GreyKernels::fromFloat32(src, n, big, w, grey, red);
    }
    static constexpr bool Float = true;
    static void observe(ObservedRange& range, Value mn, Value mx, const FirstZero& zero)
    {
        zero.take(range, mn, mx);
    }
};

template <class Kernels>
class Direct32Painter final : public VoxelPainter
{
public:
    using Value = typename Kernels::Value;

    Direct32Painter(bool big, Window window, bool takeRange)
        : m_big(big), m_window(window), m_takeRange(takeRange), m_direct(GreyKernels::directSingle(window))
    {
    }
    void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) override
    {
        m_any = m_any || n > 0;
        if (m_direct) {
            Kernels::pixels(src, n, m_big, m_window, dst, m_takeRange ? &m_min : nullptr,
                            m_takeRange ? &m_max : nullptr);
        } else {
            if (m_takeRange)
                Kernels::range(src, n, m_big, m_min, m_max);
            paintThroughGrey(src, n, 4, dst,
                             [&](const std::uint8_t* s, std::size_t c, std::uint8_t* grey, std::uint8_t* red) {
                                 return Kernels::grey(s, c, m_big, m_window, grey, red);
                             });
        }
        if constexpr (Kernels::Float) {
            if (m_takeRange)
                m_firstZero.afterRun(src, n, m_min, m_max, vdtFloat32, m_big);
        }
    }
    void observe(ObservedRange& range) const override
    {
        if (m_takeRange && m_any)
            Kernels::observe(range, m_min, m_max, m_firstZero);
    }

private:
    bool m_big;
    Window m_window;
    bool m_takeRange;
    bool m_direct;
    bool m_any = false;
    Value m_min = Kernels::StartMin;
    Value m_max = Kernels::StartMax;
    FirstZero m_firstZero;
};

// UInt-32 and Float-64 values lie beyond the start pair's +-2^31: the range
// of these types (and of the others painted by their description) is that
// of the values met, not folded into the start pair.
constexpr float NoneMet = std::numeric_limits<float>::infinity();

// The painters whose range is that of the values met as floats: Float-64
// and the types painted by their description.
class FloatRangePainter : public VoxelPainter
{
public:
    void observe(ObservedRange& range) const override
    {
        if (m_takeRange && m_lo <= m_hi)
            m_firstZero.take(range, m_lo, m_hi);
    }

protected:
    FloatRangePainter(TVoxelDataType type, bool big, Window window, bool takeRange)
        : m_type(type), m_big(big), m_window(window), m_takeRange(takeRange)
    {
    }
    float* lowest() { return m_takeRange ? &m_lo : nullptr; }
    float* highest() { return m_takeRange ? &m_hi : nullptr; }
    // After each run painted.
    void painted(const std::uint8_t* src, std::size_t n)
    {
        if (m_takeRange)
            m_firstZero.afterRun(src, n, m_lo, m_hi, m_type, m_big);
    }

    TVoxelDataType m_type;
    bool m_big;
    Window m_window;

private:
    bool m_takeRange;
    float m_lo = NoneMet, m_hi = -NoneMet;
    FirstZero m_firstZero;
};

class Float64Painter final : public FloatRangePainter
{
public:
    Float64Painter(bool big, Window window, bool takeRange)
        : FloatRangePainter(vdtFloat64, big, window, takeRange)
    {
    }
    void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) override
    {
        GreyKernels::pixelsFromFloat64(src, n, m_big, m_window, dst, lowest(), highest());
        painted(src, n);
    }
};

// Any type through the loops of its description: Int-8 and UInt-32.
class ByRulePainter final : public FloatRangePainter
{
public:
    ByRulePainter(TVoxelDataType type, bool big, Window window, bool takeRange)
        : FloatRangePainter(type, big, window, takeRange)
    {
    }
    void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) override
    {
        paintThroughGrey(src, n, static_cast<std::size_t>(bytesPerVoxelOf(m_type)), dst,
                         [&](const std::uint8_t* s, std::size_t c, std::uint8_t* grey, std::uint8_t* red) {
                             return GreyKernels::fromVoxels(m_type, s, c, m_big, m_window, grey, red, lowest(),
                                                            highest());
                         });
        painted(src, n);
    }
};

} // namespace

std::unique_ptr<VoxelPainter> VoxelPainter::make(TVoxelDataType type, bool bigEndian, double intensityMin,
                                                 double intensityMax, bool takeRange)
{
    const Window window = greyWindow(intensityMin, intensityMax);
    return withVoxelType(
        type,
        [&](auto t) -> std::unique_ptr<VoxelPainter> {
            constexpr TVoxelDataType T = decltype(t)::value;
            if constexpr (T == vdtByte)
                return std::make_unique<BytePainter>(window, takeRange);
            else if constexpr (T == vdtInt16)
                return std::make_unique<Table16Painter<std::int16_t>>(bigEndian, window, takeRange);
            else if constexpr (T == vdtUInt16)
                return std::make_unique<Table16Painter<std::uint16_t>>(bigEndian, window, takeRange);
            else if constexpr (T == vdtInt32)
                return std::make_unique<Direct32Painter<Int32Kernels>>(bigEndian, window, takeRange);
            else if constexpr (T == vdtFloat32)
                return std::make_unique<Direct32Painter<Float32Kernels>>(bigEndian, window, takeRange);
            else if constexpr (T == vdtFloat64)
                return std::make_unique<Float64Painter>(bigEndian, window, takeRange);
            else
                return std::make_unique<ByRulePainter>(T, bigEndian, window, takeRange);
        },
        [&]() -> std::unique_ptr<VoxelPainter> { return std::make_unique<UnknownTypePainter>(window, takeRange); });
}

void paintNoData(std::uint8_t* dst, std::size_t n)
{
    static const std::array<std::uint8_t, 3 * ChunkPixels> lightBlue = [] {
        std::array<std::uint8_t, 3 * ChunkPixels> a{};
        for (std::size_t i = 0; i < ChunkPixels; ++i) {
            a[3 * i + 1] = 255;
            a[3 * i + 2] = 255;
        }
        return a;
    }();
    for (std::size_t x = 0; x < n;) {
        const std::size_t c = std::min(ChunkPixels, n - x);
        std::memcpy(dst + 3 * x, lightBlue.data(), 3 * c);
        x += c;
    }
}
