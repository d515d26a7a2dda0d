#include "volume/GreyKernelsAvx512.h"

#include "volume/GreyKernelsRule.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)

// GCC 12's AVX-512 intrinsics start some results from an "undefined"
// register that is its own initialiser, which its flow analysis then reports
// once they are inlined; the registers are always written in full.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define KELVOX_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))

namespace GreyKernels::Avx512
{
namespace
{

using namespace Rule;

// Voxels per step: four registers of sixteen grey levels, one of 64 bytes.
constexpr std::size_t Step = 64;

// Pixel byte b of a step shows voxel b / 3. Grey levels packed from four
// registers of sixteen (voxels 16k .. 16k + 15 in register k) by the two
// saturating packs sit lane by lane: voxel 16k + 4L + m at byte
// 16L + 4k + m. Bytes taken straight from the file sit in order.
constexpr std::array<std::uint8_t, 3 * Step> pixelOrder(bool packed)
{
    std::array<std::uint8_t, 3 * Step> order{};
    for (std::size_t b = 0; b < order.size(); ++b) {
        const std::size_t j = b / 3;
        order[b] = static_cast<std::uint8_t>(packed ? 16 * ((j % 16) / 4) + 4 * (j / 16) + j % 4 : j);
    }
    return order;
}

constexpr std::array<std::uint8_t, 3 * Step> PackedOrder = pixelOrder(true);
constexpr std::array<std::uint8_t, 3 * Step> NaturalOrder = pixelOrder(false);

// 64 grey levels as 192 bytes of pixels (g, g, g).
KELVOX_AVX512 inline void storePixels(std::uint8_t* out, __m512i grey, const std::uint8_t* order)
{
    for (int part = 0; part < 3; ++part) {
        const __m512i index = _mm512_loadu_si512(order + 64 * part);
        _mm512_storeu_si512(out + 64 * part, _mm512_permutexvar_epi8(index, grey));
    }
}

// The same pixels written past the caches; out lies on a 64-byte line.
KELVOX_AVX512 inline void streamPixels(std::uint8_t* out, __m512i grey, const std::uint8_t* order)
{
    for (int part = 0; part < 3; ++part) {
        const __m512i index = _mm512_loadu_si512(order + 64 * part);
        _mm512_stream_si512(reinterpret_cast<__m512i*>(out + 64 * part), _mm512_permutexvar_epi8(index, grey));
    }
}

// Pixels written past the caches (StreamingPixels) fill whole lines: the
// voxels painted one by one before the steps so that a step's 192 bytes
// start on a line, n (none streamed) where the run is too short for a step
// after them. 3 * 43 = 1 modulo 64.
inline std::size_t voxelsBeforeLines(const std::uint8_t* dst, std::size_t n)
{
    if (!streamingPixels())
        return n;
    const auto misaligned = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(dst) % 64);
    const std::size_t lead = (64 - misaligned) % 64 * 43 % 64;
    return lead + Step <= n ? lead : n;
}

// Grey levels of sixteen values whose t is the rule's t as a float: held
// below 256 and rounded to the nearest integer, halves to even; the packs
// then hold them to 0..255 (a t below -2^31 gives -2^31, packed to 0).
KELVOX_AVX512 inline __m512i greyOfT(__m512 t)
{
    return _mm512_cvt_roundps_epi32(_mm512_min_ps(t, _mm512_set1_ps(256.0f)),
                                    _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}

// Lanes whose t is NaN or infinite: a NaN voxel, an infinite one or an
// overflow, all left to the scalar rule.
KELVOX_AVX512 inline __mmask16 notFinite(__m512 t)
{
    constexpr int NaNs = 0x01 | 0x80, Infinities = 0x08 | 0x10;
    return _mm512_fpclass_ps_mask(t, NaNs | Infinities);
}

// How close to a rounding edge (a half between two grey levels) a t from
// single-precision arithmetic may lie and still be trusted: it and the
// rule's t both lie within 3 * 2^-24 * |t| of the exact product, under
// 2^-14 for |t| <= 257.
constexpr float EdgeMargin = 1.0f / 4096.0f;
// Beyond this |t| single precision proves nothing about overflow.
constexpr float SingleLimit = 0x1p100f;

// Lanes whose single-precision t may round to another grey level than the
// rule's: t within EdgeMargin of a half (below -0.75 every t is black and
// above 255.75 white in both routes), and for values that may not be finite
// a t that is NaN or very large.
template <bool Finite>
KELVOX_AVX512 inline __mmask16 unproven(__m512 t)
{
    const __m512 held = _mm512_min_ps(_mm512_max_ps(t, _mm512_set1_ps(-0.75f)), _mm512_set1_ps(255.75f));
    const __m512 off = _mm512_sub_ps(held, _mm512_roundscale_ps(held, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
    __mmask16 bad = _mm512_cmp_ps_mask(_mm512_abs_ps(off), _mm512_set1_ps(0.5f - EdgeMargin), _CMP_GE_OQ);
    if constexpr (!Finite)
        bad |= _mm512_cmp_ps_mask(_mm512_abs_ps(t), _mm512_set1_ps(SingleLimit), _CMP_NLT_UQ);
    return bad;
}

// The byte shuffle that reverses each element of Bytes bytes (the shuffle
// picks within 16-byte lanes).
template <int Bytes>
constexpr std::array<std::uint8_t, 64> SwapOrder = [] {
    std::array<std::uint8_t, 64> order{};
    for (int i = 0; i < 64; ++i)
        order[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 16 - i % Bytes + (Bytes - 1 - i % Bytes));
    return order;
}();

template <int Bytes>
KELVOX_AVX512 inline __m512i swapOrder(__m512i v)
{
    return _mm512_shuffle_epi8(v, _mm512_loadu_si512(SwapOrder<Bytes>.data()));
}

// Bytes just copied out of the page cache are not in the core's own caches
// (measured: read back at under half the speed of bytes just written), and
// the processor's own prefetching starts too late for loops this short: the
// lines a step will need a page ahead are asked for now.
constexpr std::size_t PrefetchDistance = 4096;

KELVOX_AVX512 inline void prefetchAhead(const std::uint8_t* p, std::size_t bytes)
{
    for (std::size_t at = 0; at < bytes; at += 64)
        _mm_prefetch(reinterpret_cast<const char*>(p + PrefetchDistance + at), _MM_HINT_T0);
}

// How a step's voxels reach the pixels:
//   voxels.block(p, t)  t of the 64 voxels at p (register k: voxels 16k ..
//                       16k + 15), their range met on the way;
//   voxels.value(p)     the voxel at p as the pixel rule takes it;
//   voxels.meet(p)      meets one voxel's value (the tail);
//   voxels.finish()     folds the lanes' range into the caller's.
// Checked: t comes from single-precision arithmetic that may differ from
// the rule near a half, and unproven lanes take the scalar rule; otherwise
// t is the rule's own and only lanes that are not finite do.
template <class Voxels, bool Checked>
KELVOX_AVX512 void paintSteps(Voxels& voxels, const std::uint8_t* src, std::size_t n, Window w, std::uint8_t* dst)
{
    constexpr std::size_t Bytes = Voxels::Bytes;
    const std::size_t lead = voxelsBeforeLines(dst, n);
    const bool stream = lead < n;
    std::size_t i = 0;
    for (; stream && i < lead; ++i) {
        voxels.meet(src + Bytes * i);
        storeRuled(dst + 3 * i, voxels.value(src + Bytes * i), w);
    }
    for (; i + Step <= n; i += Step) {
        const std::uint8_t* p = src + Bytes * i;
        prefetchAhead(p, Bytes * Step);
        __m512 t[4];
        voxels.block(p, t);
        __mmask16 bad[4]{};
        __m512i g[4];
        for (int k = 0; k < 4; ++k) {
            g[k] = greyOfT(t[k]);
            if constexpr (Checked)
                bad[k] = unproven<!Voxels::MaySpecial>(t[k]);
            else if constexpr (Voxels::MaySpecial)
                bad[k] = notFinite(t[k]);
        }
        std::uint8_t* out = dst + 3 * i;
        const __m512i grey =
            _mm512_packus_epi16(_mm512_packs_epi32(g[0], g[1]), _mm512_packs_epi32(g[2], g[3]));
        // Integers whose t is the rule's own have no lane to mend: no test
        // of masks in their loop. A step with lanes to mend is stored in
        // the caches, where the mending finds it.
        if constexpr (Checked || Voxels::MaySpecial) {
            if (_kortestz_mask16_u8(_kor_mask16(bad[0], bad[1]), _kor_mask16(bad[2], bad[3]))) {
                if (stream)
                    streamPixels(out, grey, PackedOrder.data());
                else
                    storePixels(out, grey, PackedOrder.data());
                continue;
            }
            storePixels(out, grey, PackedOrder.data());
            for (int k = 0; k < 4; ++k) {
                for (unsigned b = bad[k]; b != 0; b &= b - 1) {
                    const std::size_t at = 16 * static_cast<std::size_t>(k) + static_cast<std::size_t>(std::countr_zero(b));
                    storeRuled(out + 3 * at, voxels.value(p + Bytes * at), w);
                }
            }
        } else if (stream) {
            streamPixels(out, grey, PackedOrder.data());
        } else {
            storePixels(out, grey, PackedOrder.data());
        }
    }
    if (stream)
        _mm_sfence();
    voxels.finish();
    for (; i < n; ++i) {
        const std::uint8_t* p = src + Bytes * i;
        voxels.meet(p);
        storeRuled(dst + 3 * i, voxels.value(p), w);
    }
}

// The range of 8- and 16-bit lanes, folded into mn and mx.
template <typename T>
KELVOX_AVX512 void foldLanes(__m512i low, __m512i high, T* mn, T* mx)
{
    alignas(64) T lows[64 / sizeof(T)], highs[64 / sizeof(T)];
    _mm512_store_si512(lows, low);
    _mm512_store_si512(highs, high);
    for (std::size_t j = 0; j < 64 / sizeof(T); ++j) {
        *mn = lows[j] < *mn ? lows[j] : *mn;
        *mx = highs[j] > *mx ? highs[j] : *mx;
    }
}

// The window as single-precision constants: t = (v - lo) * scale, or
// v * scale where the low end is 0 (v - 0 is v itself).
template <bool AtZero>
struct SingleWindow
{
    __m512 lo, scale;

    KELVOX_AVX512 SingleWindow(Window w)
        : lo(_mm512_set1_ps(static_cast<float>(w.lo))), scale(_mm512_set1_ps(static_cast<float>(w.scale)))
    {
    }
    KELVOX_AVX512 __m512 t(__m512 v) const { return _mm512_mul_ps(AtZero ? v : _mm512_sub_ps(v, lo), scale); }
};

// What the voxels taken in single precision hold: the window, the byte
// order and the caller's range of values V.
template <typename V, bool AtZero>
struct SingleVoxels
{
    using Value = V;
    SingleWindow<AtZero> window;
    bool big;
    Value* mn;
    Value* mx;
};

// Int-16 / UInt-16: two loads of 32 values, widened sixteen at a time.
template <bool Range, bool AtZero, bool Unsigned>
struct Voxels16 : SingleVoxels<std::conditional_t<Unsigned, std::uint16_t, std::int16_t>, AtZero>
{
    using typename Voxels16::SingleVoxels::Value;
    using Voxels16::SingleVoxels::window, Voxels16::SingleVoxels::big, Voxels16::SingleVoxels::mn,
        Voxels16::SingleVoxels::mx;
    static constexpr std::size_t Bytes = 2;
    static constexpr bool MaySpecial = false;

    __m512i low = _mm512_set1_epi16(static_cast<short>(Range ? *mn : 0));
    __m512i high = _mm512_set1_epi16(static_cast<short>(Range ? *mx : 0));

    KELVOX_AVX512 static __m512 widen(__m256i v)
    {
        return _mm512_cvtepi32_ps(Unsigned ? _mm512_cvtepu16_epi32(v) : _mm512_cvtepi16_epi32(v));
    }
    KELVOX_AVX512 void block(const std::uint8_t* p, __m512* t)
    {
        for (int h = 0; h < 2; ++h) {
            __m512i x = _mm512_loadu_si512(p + 64 * h);
            if (big)
                x = swapOrder<2>(x);
            if constexpr (Range && Unsigned) {
                low = _mm512_min_epu16(low, x);
                high = _mm512_max_epu16(high, x);
            } else if constexpr (Range) {
                low = _mm512_min_epi16(low, x);
                high = _mm512_max_epi16(high, x);
            }
            t[2 * h] = window.t(widen(_mm512_castsi512_si256(x)));
            t[2 * h + 1] = window.t(widen(_mm512_extracti64x4_epi64(x, 1)));
        }
    }
    Value load(const std::uint8_t* p) const { return static_cast<Value>(load16(p, big)); }
    double value(const std::uint8_t* p) const { return static_cast<double>(static_cast<float>(load(p))); }
    void meet(const std::uint8_t* p)
    {
        if constexpr (Range)
            Rule::meet(load(p), *mn, *mx);
    }
    KELVOX_AVX512 void finish()
    {
        if constexpr (Range)
            foldLanes(low, high, mn, mx);
    }
};

// Int-32 (converted to their nearest floats) and Float-32: sixteen values a
// load. The range is met in the lanes as integers or floats, kept in one
// register kind. For floats min_ps(v, m) is "v < m ? v : m", NaN passing
// by, lane by lane; only the sign of a zero extreme can differ from a scan
// in order.
template <bool Range, bool AtZero, bool Float>
struct Voxels32 : SingleVoxels<std::conditional_t<Float, float, std::int32_t>, AtZero>
{
    using typename Voxels32::SingleVoxels::Value;
    using Voxels32::SingleVoxels::window, Voxels32::SingleVoxels::big, Voxels32::SingleVoxels::mn,
        Voxels32::SingleVoxels::mx;
    static constexpr std::size_t Bytes = 4;
    static constexpr bool MaySpecial = Float;

    __m512i low = _mm512_set1_epi32(Range ? std::bit_cast<std::int32_t>(*mn) : 0);
    __m512i high = _mm512_set1_epi32(Range ? std::bit_cast<std::int32_t>(*mx) : 0);

    KELVOX_AVX512 void block(const std::uint8_t* p, __m512* t)
    {
        for (int k = 0; k < 4; ++k) {
            __m512i x = _mm512_loadu_si512(p + 64 * k);
            if (big)
                x = swapOrder<4>(x);
            if constexpr (Float) {
                const __m512 v = _mm512_castsi512_ps(x);
                if constexpr (Range) {
                    low = _mm512_castps_si512(_mm512_min_ps(v, _mm512_castsi512_ps(low)));
                    high = _mm512_castps_si512(_mm512_max_ps(v, _mm512_castsi512_ps(high)));
                }
                t[k] = window.t(v);
            } else {
                if constexpr (Range) {
                    low = _mm512_min_epi32(low, x);
                    high = _mm512_max_epi32(high, x);
                }
                t[k] = window.t(_mm512_cvtepi32_ps(x));
            }
        }
    }
    Value load(const std::uint8_t* p) const { return std::bit_cast<Value>(load32(p, big)); }
    double value(const std::uint8_t* p) const { return static_cast<double>(static_cast<float>(load(p))); }
    void meet(const std::uint8_t* p)
    {
        if constexpr (Range)
            Rule::meet(load(p), *mn, *mx);
    }
    KELVOX_AVX512 void finish()
    {
        if constexpr (Range) {
            Value l, h;
            if constexpr (Float) {
                l = _mm512_reduce_min_ps(_mm512_castsi512_ps(low));
                h = _mm512_reduce_max_ps(_mm512_castsi512_ps(high));
            } else {
                l = _mm512_reduce_min_epi32(low);
                h = _mm512_reduce_max_epi32(high);
            }
            *mn = l < *mn ? l : *mn;
            *mx = h > *mx ? h : *mx;
        }
    }
};

// Float-64: t is taken in double as the rule says and rounded to a float,
// eight at a time. The range is met in doubles and rounded once at the end:
// rounding to the nearest float keeps the order.
struct DoubleVoxels
{
    __m512d lo, scale;
    bool big;
    float* mn;
    float* mx;
};

template <bool Range, bool AtZero>
struct VoxelsF64 : DoubleVoxels
{
    static constexpr std::size_t Bytes = 8;
    static constexpr bool MaySpecial = true;

    __m512d low = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    __m512d high = _mm512_set1_pd(-std::numeric_limits<double>::infinity());

    KELVOX_AVX512 __m256 half(const std::uint8_t* p)
    {
        __m512i x = _mm512_loadu_si512(p);
        if (big)
            x = swapOrder<8>(x);
        const __m512d v = _mm512_castsi512_pd(x);
        if constexpr (Range) {
            low = _mm512_min_pd(v, low);
            high = _mm512_max_pd(v, high);
        }
        return _mm512_cvtpd_ps(_mm512_mul_pd(AtZero ? v : _mm512_sub_pd(v, lo), scale));
    }
    KELVOX_AVX512 void block(const std::uint8_t* p, __m512* t)
    {
        for (int k = 0; k < 4; ++k)
            t[k] = _mm512_insertf32x8(_mm512_castps256_ps512(half(p + 128 * k)), half(p + 128 * k + 64), 1);
    }
    double value(const std::uint8_t* p) const { return std::bit_cast<double>(loadVoxelBits(p, 8, big)); }
    void meet(const std::uint8_t* p)
    {
        if constexpr (Range)
            Rule::meet(nearestFloat(value(p)), *mn, *mx);
    }
    KELVOX_AVX512 void finish()
    {
        if constexpr (Range) {
            const float l = nearestFloat(_mm512_reduce_min_pd(low)), h = nearestFloat(_mm512_reduce_max_pd(high));
            *mn = l < *mn ? l : *mn;
            *mx = h > *mx ? h : *mx;
        }
    }
};

// Runs paintSteps with the range taken or not, and the low end at 0 or not.
template <template <bool, bool> class Voxels, bool Checked, typename... Args>
KELVOX_AVX512 void paintRanged(bool range, Window w, const std::uint8_t* src, std::size_t n, std::uint8_t* dst,
                               Args... args)
{
    const auto paint = [&](auto ranged, auto atZero) KELVOX_AVX512 {
        using Chosen = Voxels<decltype(ranged)::value, decltype(atZero)::value>;
        Chosen voxels{{args...}};
        paintSteps<Chosen, Checked>(voxels, src, n, w, dst);
    };
    using Yes = std::true_type;
    using No = std::false_type;
    if (w.lo == 0.0)
        return range ? paint(Yes{}, Yes{}) : paint(No{}, Yes{});
    return range ? paint(Yes{}, No{}) : paint(No{}, No{});
}

template <bool Range, bool AtZero>
using Int16Voxels = Voxels16<Range, AtZero, false>;
template <bool Range, bool AtZero>
using UInt16Voxels = Voxels16<Range, AtZero, true>;
template <bool Range, bool AtZero>
using Int32Voxels = Voxels32<Range, AtZero, false>;
template <bool Range, bool AtZero>
using Float32Voxels = Voxels32<Range, AtZero, true>;

} // namespace

bool available()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")
        && __builtin_cpu_supports("avx512vbmi");
    return has;
}

// The 256 levels as four quarters of 64: two two-table permutes give the
// lower and the upper half's level of each byte, its top bit chooses.
KELVOX_AVX512 void pixelsFromTable8(const std::uint8_t* src, std::size_t n, const std::uint8_t* table,
                                    std::uint8_t* dst, std::uint8_t* mn, std::uint8_t* mx)
{
    const bool range = mn && mx;
    const __m512i q0 = _mm512_loadu_si512(table), q1 = _mm512_loadu_si512(table + 64);
    const __m512i q2 = _mm512_loadu_si512(table + 128), q3 = _mm512_loadu_si512(table + 192);
    __m512i low = _mm512_set1_epi8(static_cast<char>(range ? *mn : 0));
    __m512i high = _mm512_set1_epi8(static_cast<char>(range ? *mx : 0));
    const std::size_t lead = voxelsBeforeLines(dst, n);
    const bool stream = lead < n;
    std::size_t i = 0;
    for (; stream && i < lead; ++i) {
        if (range)
            meet(src[i], *mn, *mx);
        storePixel(dst + 3 * i, table[src[i]]);
    }
    for (; i + Step <= n; i += Step) {
        prefetchAhead(src + i, Step);
        const __m512i x = _mm512_loadu_si512(src + i);
        low = _mm512_min_epu8(low, x);
        high = _mm512_max_epu8(high, x);
        const __m512i lower = _mm512_permutex2var_epi8(q0, x, q1);
        const __m512i upper = _mm512_permutex2var_epi8(q2, x, q3);
        const __m512i grey = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lower, upper);
        if (stream)
            streamPixels(dst + 3 * i, grey, NaturalOrder.data());
        else
            storePixels(dst + 3 * i, grey, NaturalOrder.data());
    }
    if (stream)
        _mm_sfence();
    if (range)
        foldLanes(low, high, mn, mx);
    for (; i < n; ++i) {
        if (range)
            meet(src[i], *mn, *mx);
        storePixel(dst + 3 * i, table[src[i]]);
    }
}

KELVOX_AVX512 void pixelsFromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                                   std::uint8_t* dst, std::int16_t* mn, std::int16_t* mx)
{
    paintRanged<Int16Voxels, false>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
}

KELVOX_AVX512 void pixelsFromUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                                    std::uint8_t* dst, std::uint16_t* mn, std::uint16_t* mx)
{
    paintRanged<UInt16Voxels, false>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
}

// With the window's low end at 0, v - lo is v itself and the single product
// of two floats is exact in double, so single precision gives the rule's t.
KELVOX_AVX512 void pixelsFromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                                   std::uint8_t* dst, std::int32_t* mn, std::int32_t* mx)
{
    if (window.lo == 0.0)
        return paintRanged<Int32Voxels, false>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
    paintRanged<Int32Voxels, true>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
}

KELVOX_AVX512 void pixelsFromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                                     std::uint8_t* dst, float* mn, float* mx)
{
    if (window.lo == 0.0)
        return paintRanged<Float32Voxels, false>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
    paintRanged<Float32Voxels, true>(mn && mx, window, src, n, dst, window, bigEndian, mn, mx);
}

KELVOX_AVX512 void pixelsFromFloat64(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                                     std::uint8_t* dst, float* mn, float* mx)
{
    paintRanged<VoxelsF64, false>(mn && mx, window, src, n, dst, _mm512_set1_pd(window.lo),
                                  _mm512_set1_pd(window.scale), bigEndian, mn, mx);
}

// Four registers a step: a lane whose bits are zero apart from the sign
// bit (the top bit of its first byte where the order is big-endian) is a zero.
KELVOX_AVX512 std::size_t firstFloatZero(const std::uint8_t* src, std::size_t n, int bytes, bool bigEndian)
{
    const std::size_t per = 64 / static_cast<std::size_t>(bytes);
    const __m512i bits = bytes == 4 ? _mm512_set1_epi32(bigEndian ? static_cast<int>(0xFFFFFF7Fu) : 0x7FFFFFFF)
                                    : _mm512_set1_epi64(bigEndian ? static_cast<long long>(0xFFFFFFFFFFFFFF7Full)
                                                                  : 0x7FFFFFFFFFFFFFFFll);
    const auto zeros = [&](const std::uint8_t* p) KELVOX_AVX512 {
        const __m512i x = _mm512_loadu_si512(p);
        return bytes == 4 ? static_cast<std::uint64_t>(_mm512_testn_epi32_mask(x, bits))
                          : static_cast<std::uint64_t>(_mm512_testn_epi64_mask(x, bits));
    };
    std::size_t i = 0;
    for (; i + 4 * per <= n; i += 4 * per) {
        const std::uint8_t* p = src + i * static_cast<std::size_t>(bytes);
        prefetchAhead(p, 256);
        if ((zeros(p) | zeros(p + 64) | zeros(p + 128) | zeros(p + 192)) != 0)
            break;
    }
    for (; i + per <= n; i += per) {
        if (const std::uint64_t found = zeros(src + i * static_cast<std::size_t>(bytes)); found != 0)
            return i + static_cast<std::size_t>(std::countr_zero(found));
    }
    for (; i < n; ++i) {
        const std::uint64_t v = loadVoxelBits(src + i * static_cast<std::size_t>(bytes), bytes, bigEndian);
        if ((v & ~(std::uint64_t{1} << (8 * bytes - 1))) == 0)
            return i;
    }
    return n;
}

} // namespace GreyKernels::Avx512

#else

namespace GreyKernels::Avx512
{

bool available()
{
    return false;
}

// Never called where available() is false.
void pixelsFromTable8(const std::uint8_t*, std::size_t, const std::uint8_t*, std::uint8_t*, std::uint8_t*,
                      std::uint8_t*)
{
}
void pixelsFromInt16(const std::uint8_t*, std::size_t, bool, Window, std::uint8_t*, std::int16_t*, std::int16_t*) {}
void pixelsFromUInt16(const std::uint8_t*, std::size_t, bool, Window, std::uint8_t*, std::uint16_t*, std::uint16_t*)
{
}
void pixelsFromInt32(const std::uint8_t*, std::size_t, bool, Window, std::uint8_t*, std::int32_t*, std::int32_t*) {}
void pixelsFromFloat32(const std::uint8_t*, std::size_t, bool, Window, std::uint8_t*, float*, float*) {}
void pixelsFromFloat64(const std::uint8_t*, std::size_t, bool, Window, std::uint8_t*, float*, float*) {}
std::size_t firstFloatZero(const std::uint8_t*, std::size_t n, int, bool)
{
    return n;
}

} // namespace GreyKernels::Avx512

#endif
