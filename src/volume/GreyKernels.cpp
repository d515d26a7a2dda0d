#include "volume/GreyKernels.h"
#include "volume/GreyKernelsAvx512.h"
#include "volume/GreyKernelsRule.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KELVOX_HAVE_AVX2_PATH 1
// Plain loops built twice, for AVX2 and for the baseline; the loader picks.
#define KELVOX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KELVOX_HAVE_AVX2_PATH 0
#define KELVOX_VECTOR_CLONES
#endif

namespace GreyKernels
{
namespace
{

using namespace Rule;

// Values u in 0..top standing for v = u - bias: whether 2^23 + bias + lo is a
// float and u - (bias + lo) = v - lo is exact in a float for every u, so that
// the single-precision pipeline below gives the pixel rule's results. lo is
// integral (the float of an int32) and |scale| <= 255 (|span| >= 1).
bool singleIsExact(Window w, double bias, double top)
{
    const double shifted = bias + w.lo;
    return w.lo == std::floor(w.lo) && static_cast<double>(static_cast<float>(w.scale)) == w.scale
        && std::fabs(w.scale) <= 256.0 && shifted <= 8388608.0 && shifted >= top - 16777216.0;
}

// Bytes have 256 values only, so a fixed-point form g = (v * a + c) >> shift,
// held to 0..255, is as exact as the rule wherever it gives the rule's grey
// level for every one of them; that is checked when the form is chosen.
struct ByteForm
{
    double lo = 0.0, scale = 0.0; // the window it was chosen for
    bool found = false;
    std::int32_t a = 0, c = 0;
    int shift = 0;
    // The same in 16-bit lanes, twice as many at a time, where it is exact:
    // g = (((v << 7) * a + 2^14) >> 15) + c, saturated to 16 bits, >> shift:
    // what a rounding high multiply, a saturating add and a shift give.
    bool narrow = false;
    std::int16_t narrowA = 0, narrowC = 0;
    int narrowShift = 0;
    std::uint8_t table[256] = {};
};

// The narrow form's grey level of byte v, as the 16-bit lanes take it.
int narrowGrey(int v, std::int16_t a, std::int16_t c, int shift)
{
    const std::int32_t product = ((v << 7) * a + 0x4000) >> 15;
    const std::int32_t sum = std::clamp<std::int32_t>(product + c, -32768, 32767);
    return std::clamp(sum >> shift, 0, 255);
}

bool narrowFormGivesTable(std::int16_t a, std::int16_t c, int shift, const std::uint8_t* table)
{
    for (int v = 0; v < 256; ++v) {
        if (narrowGrey(v, a, c, shift) != table[v])
            return false;
    }
    return true;
}

// The finest narrow form for the window's table: a ~ scale * 2^(8 + shift),
// c ~ (1/2 - lo * scale) * 2^shift, a few neighbours of each tried.
void chooseNarrowForm(Window w, ByteForm& form)
{
    form.narrow = false;
    for (int shift = 7; shift >= 0; --shift) {
        const double a = std::nearbyint(std::ldexp(w.scale, 8 + shift));
        const double c = std::nearbyint(std::ldexp(0.5 - w.lo * w.scale, shift));
        if (std::fabs(a) > 32767.0 || !(std::fabs(c) <= 32767.0))
            continue;
        for (int da = -1; da <= 1; ++da) {
            for (int dc = -2; dc <= 2; ++dc) {
                const double ai = a + da, ci = c + dc;
                if (std::fabs(ai) > 32767.0 || std::fabs(ci) > 32767.0)
                    continue;
                const auto na = static_cast<std::int16_t>(ai), nc = static_cast<std::int16_t>(ci);
                if (narrowFormGivesTable(na, nc, shift, form.table)) {
                    form.narrow = true;
                    form.narrowA = na;
                    form.narrowC = nc;
                    form.narrowShift = shift;
                    return;
                }
            }
        }
    }
}

bool formGivesTable(std::int64_t a, std::int64_t c, int shift, const std::uint8_t* table)
{
    for (std::int64_t v = 0; v < 256; ++v) {
        const std::int64_t g = std::clamp<std::int64_t>((v * a + c) >> shift, 0, 255);
        if (g != table[v])
            return false;
    }
    return true;
}

// The form for the window, chosen once per window (a render asks per row).
const ByteForm& byteForm(Window w)
{
    thread_local ByteForm form;
    if (form.lo == w.lo && form.scale == w.scale && form.scale != 0.0)
        return form;
    form.lo = w.lo;
    form.scale = w.scale;
    form.found = false;
    std::uint8_t red;
    for (int v = 0; v < 256; ++v)
        form.table[v] = greyOf(static_cast<float>(v), w, red);
    // The multiplier is a signed 16-bit number and v * a + c stays well inside
    // 32 bits; the finest shift that allows it is tried first.
    for (int shift = 22; shift >= 0 && !form.found; --shift) {
        const double step = std::ldexp(1.0, shift);
        const double a = std::nearbyint(w.scale * step);
        const double c = std::nearbyint((0.5 - w.lo * w.scale) * step);
        if (std::fabs(a) > 32767.0 || std::fabs(c) > 0x1p29)
            continue;
        for (std::int64_t d = -2; d <= 2 && !form.found; ++d) {
            const auto ai = static_cast<std::int64_t>(a);
            const std::int64_t ci = static_cast<std::int64_t>(c) + d;
            if (formGivesTable(ai, ci, shift, form.table)) {
                form.found = true;
                form.a = static_cast<std::int32_t>(ai);
                form.c = static_cast<std::int32_t>(ci);
                form.shift = shift;
            }
        }
    }
    chooseNarrowForm(w, form);
    // A window that holds every byte at one grey level.
    if (!form.found && std::all_of(form.table, form.table + 256, [&](std::uint8_t g) { return g == form.table[0]; })) {
        form.found = true;
        form.a = 0;
        form.c = form.table[0];
        form.shift = 0;
    }
    return form;
}

#if KELVOX_HAVE_AVX2_PATH

const bool CpuHasAvx2 = __builtin_cpu_supports("avx2");
const bool CpuHasAvx512 = CpuHasAvx2 && Avx512::available();
bool HasAvx2 = CpuHasAvx2;
// The AVX-512 loops take the windows they serve; the AVX2 ones the rest.
bool HasAvx512 = CpuHasAvx512;

// Reverses the bytes of each 32-bit / 16-bit element of a 128-bit lane.
__attribute__((target("avx2"))) inline __m256i swap32(__m256i v)
{
    const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, //
                                           3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(v, order);
}

__attribute__((target("avx2"))) inline __m128i swap16(__m128i v)
{
    return _mm_shuffle_epi8(v, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

// The extremes of a register's lanes, folded in registers: a store and
// reloads of the lanes would stall on the store once per run.
__attribute__((target("avx2"))) inline std::uint8_t lowestU8(__m256i v)
{
    __m128i m = _mm_min_epu8(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_min_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_min_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_min_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_min_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<std::uint8_t>(_mm_cvtsi128_si32(m));
}

__attribute__((target("avx2"))) inline std::uint8_t highestU8(__m256i v)
{
    __m128i m = _mm_max_epu8(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<std::uint8_t>(_mm_cvtsi128_si32(m));
}

__attribute__((target("avx2"))) inline std::uint16_t lowestU16(__m256i v)
{
    __m128i m = _mm_min_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_min_epu16(m, _mm_srli_si128(m, 8));
    m = _mm_min_epu16(m, _mm_srli_si128(m, 4));
    m = _mm_min_epu16(m, _mm_srli_si128(m, 2));
    return static_cast<std::uint16_t>(_mm_cvtsi128_si32(m));
}

__attribute__((target("avx2"))) inline std::uint16_t highestU16(__m256i v)
{
    __m128i m = _mm_max_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu16(m, _mm_srli_si128(m, 2));
    return static_cast<std::uint16_t>(_mm_cvtsi128_si32(m));
}

__attribute__((target("avx2"))) inline std::int32_t lowestI32(__m256i v)
{
    __m128i m = _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_min_epi32(m, _mm_srli_si128(m, 8));
    m = _mm_min_epi32(m, _mm_srli_si128(m, 4));
    return _mm_cvtsi128_si32(m);
}

__attribute__((target("avx2"))) inline std::int32_t highestI32(__m256i v)
{
    __m128i m = _mm_max_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epi32(m, _mm_srli_si128(m, 8));
    m = _mm_max_epi32(m, _mm_srli_si128(m, 4));
    return _mm_cvtsi128_si32(m);
}

// For floats "a < b ? a : b" lane by lane, as the scan in order meets them
// (NaNs never reach the lanes).
__attribute__((target("avx2"))) inline float lowestPs(__m256 v)
{
    __m128 m = _mm_min_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    m = _mm_min_ps(m, _mm_movehl_ps(m, m));
    m = _mm_min_ps(m, _mm_shuffle_ps(m, m, 1));
    return _mm_cvtss_f32(m);
}

__attribute__((target("avx2"))) inline float highestPs(__m256 v)
{
    __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    m = _mm_max_ps(m, _mm_shuffle_ps(m, m, 1));
    return _mm_cvtss_f32(m);
}

// Four values as doubles through the pixel rule up to the rounding: t held
// to 0..255 (a NaN giving 0) as floats; bit j of the result is set when the
// t of value j overflows a float (or is NaN).
__attribute__((target("avx2"))) inline __m128 ruleOf4(__m256d x, Window w, unsigned& overflows)
{
    const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m256d top = _mm256_set1_pd(255.0);
    const __m256d t = _mm256_mul_pd(_mm256_sub_pd(x, _mm256_set1_pd(w.lo)), _mm256_set1_pd(w.scale));
    const __m256d fits = _mm256_cmp_pd(_mm256_and_pd(t, absMask), _mm256_set1_pd(FloatOverflow), _CMP_LT_OQ);
    overflows = static_cast<unsigned>(~_mm256_movemask_pd(fits) & 0xF);
    // t >= 0 ? (t <= 255 ? t : 255) : 0, a NaN giving 0.
    const __m256d upper = _mm256_blendv_pd(top, t, _mm256_cmp_pd(t, top, _CMP_LE_OQ));
    const __m256d clamped = _mm256_and_pd(upper, _mm256_cmp_pd(t, _mm256_setzero_pd(), _CMP_GE_OQ));
    return _mm256_cvtpd_ps(clamped);
}

// Held t of eight values rounded to grey levels, halves to even, into
// grey[0..7].
__attribute__((target("avx2"))) inline void storeRounded8(__m128 low, __m128 high, std::uint8_t* grey)
{
    const __m256 magic = _mm256_set1_ps(RoundToEven);
    const __m256 rounded = _mm256_sub_ps(_mm256_add_ps(_mm256_set_m128(high, low), magic), magic);
    const __m256i n = _mm256_cvttps_epi32(rounded);
    const __m128i n16 = _mm_packus_epi32(_mm256_castsi256_si128(n), _mm256_extracti128_si256(n, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(grey), _mm_packus_epi16(n16, n16));
}

// Eight values through the pixel rule: grey levels into grey[0..7]; the
// result has bit j set when value j is red.
__attribute__((target("avx2"))) inline unsigned greyOf8(__m256 v, Window w, std::uint8_t* grey)
{
    unsigned over0 = 0, over1 = 0;
    const __m128 low = ruleOf4(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), w, over0);
    const __m128 high = ruleOf4(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), w, over1);
    storeRounded8(low, high, grey);

    const __m256 absV = _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
    const auto finite = static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_cmp_ps(absV, _mm256_set1_ps(std::numeric_limits<float>::max()), _CMP_LE_OQ)));
    const auto nan = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(v, v, _CMP_UNORD_Q)));
    return nan | ((over0 | over1 << 4) & finite);
}

__attribute__((target("avx2"))) void fromUInt8Avx2(const std::uint8_t* src, std::size_t n, Window w,
                                                  std::uint8_t* grey)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i));
        greyOf8(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)), w, grey + i);
    }
    std::uint8_t red;
    for (; i < n; ++i)
        grey[i] = greyOf(src[i], w, red);
}

__attribute__((target("avx2"))) void fromInt16Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                  std::uint8_t* grey)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        if (big)
            raw = swap16(raw);
        greyOf8(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(raw)), w, grey + i);
    }
    std::uint8_t red;
    for (; i < n; ++i)
        grey[i] = greyOf(static_cast<std::int16_t>(load16(src + 2 * i, big)), w, red);
}

__attribute__((target("avx2"))) void fromInt32Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                  std::uint8_t* grey)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        if (big)
            raw = swap32(raw);
        greyOf8(_mm256_cvtepi32_ps(raw), w, grey + i);
    }
    std::uint8_t red;
    for (; i < n; ++i)
        grey[i] = greyOf(static_cast<float>(static_cast<std::int32_t>(load32(src + 4 * i, big))), w, red);
}

__attribute__((target("avx2"))) bool fromFloat32Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                    std::uint8_t* grey, std::uint8_t* red)
{
    unsigned anyRed = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        if (big)
            raw = swap32(raw);
        const unsigned bits = greyOf8(_mm256_castsi256_ps(raw), w, grey + i);
        for (std::size_t j = 0; j < 8; ++j)
            red[i + j] = static_cast<std::uint8_t>((bits >> j) & 1u);
        anyRed |= bits;
    }
    for (; i < n; ++i) {
        grey[i] = greyOf(std::bit_cast<float>(load32(src + 4 * i, big)), w, red[i]);
        anyRed |= red[i];
    }
    return anyRed != 0;
}

// Reverses the bytes of each 64-bit element of a 256-bit register.
__attribute__((target("avx2"))) inline __m256i swap64(__m256i v)
{
    const __m256i order = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, //
                                           7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    return _mm256_shuffle_epi8(v, order);
}

__attribute__((target("avx2"))) void greyOfIntegersAvx2(std::int32_t first, std::size_t count, Window w,
                                                       std::uint8_t* table)
{
    std::size_t i = 0;
    const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (; i + 8 <= count; i += 8) {
        const __m256i v = _mm256_add_epi32(_mm256_set1_epi32(first + static_cast<std::int32_t>(i)), steps);
        greyOf8(_mm256_cvtepi32_ps(v), w, table + i);
    }
    std::uint8_t red;
    for (; i < count; ++i)
        table[i] = greyOf(static_cast<float>(first + static_cast<std::int32_t>(i)), w, red);
}

// A 256-entry byte table looked up 32 bytes at a time: the low nibble picks
// within each 16-byte sixteenth of the table, the high nibble the sixteenth.
__attribute__((target("avx2"))) void fromTable8Avx2(const std::uint8_t* src, std::size_t n, const std::uint8_t* table,
                                                   std::uint8_t* grey)
{
    __m256i parts[16];
    for (int k = 0; k < 16; ++k)
        parts[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i low = _mm256_and_si256(x, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
        __m256i result = _mm256_setzero_si256();
        for (int k = 0; k < 16; ++k) {
            const __m256i hit = _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(k)));
            result = _mm256_or_si256(result, _mm256_and_si256(hit, _mm256_shuffle_epi8(parts[k], low)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey + i), result);
    }
    for (; i < n; ++i)
        grey[i] = table[src[i]];
}

// Sixteen grey levels become 48 bytes (g, g, g) with three byte shuffles.
__attribute__((target("avx2"))) void expandGreyAvx2(const std::uint8_t* grey, std::size_t n, std::uint8_t* dst)
{
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + i));
        std::uint8_t* out = dst + 3 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(g, first));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(g, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(g, third));
    }
    for (; i < n; ++i) {
        dst[3 * i] = grey[i];
        dst[3 * i + 1] = grey[i];
        dst[3 * i + 2] = grey[i];
    }
}

// Eight values u (0..2^23) held as the floats 2^23 + u through the pixel
// rule, c being 2^23 + bias + lo: u - c = v - lo is exact, the product is
// rounded once to a float (exact in double, so as the rule rounds it), and
// adding 2^23 rounds it to an integer, halves to even, into the low bits. A
// negative t lands at or below 2^23 and is held at 0 there; above 255 the
// packs saturate. The results are the grey levels as 32-bit integers >= 0.
__attribute__((target("avx2"))) inline __m256i greyOfBiased8(__m256i biased, __m256 c, __m256 scale)
{
    const __m256 t = _mm256_mul_ps(_mm256_sub_ps(_mm256_castsi256_ps(biased), c), scale);
    const __m256i bits = _mm256_castps_si256(_mm256_add_ps(t, _mm256_set1_ps(RoundToEven)));
    const __m256i magic = _mm256_set1_epi32(0x4B000000);
    return _mm256_sub_epi32(_mm256_max_epi32(bits, magic), magic);
}

// Eight t whose size lies below 2^30 (or already held below 256) as 32-bit
// integers: rounded to the nearest, halves to even (explicitly, not by the
// rounding mode), then converted exactly.
__attribute__((target("avx2"))) inline __m256i roundedGrey8(__m256 t)
{
    return _mm256_cvttps_epi32(_mm256_round_ps(t, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

// Grey levels of 32 values, each 128-bit lane holding 16 of them in order as
// four registers of four (r0: 0..3, r1: 4..7, ...), as 32 bytes in order.
__attribute__((target("avx2"))) inline __m256i packGrey(__m256i r0, __m256i r1, __m256i r2, __m256i r3)
{
    return _mm256_packus_epi16(_mm256_packs_epi32(r0, r1), _mm256_packs_epi32(r2, r3));
}

// Grey levels of 32 values, register k holding values 8k..8k+7, as 32 bytes
// in order: the packs leave four values in each 32-bit group, the groups
// of the low lanes (values 0..3, 8..11, ...) before those of the high ones.
__attribute__((target("avx2"))) inline __m256i packGreyInOrder(__m256i r0, __m256i r1, __m256i r2, __m256i r3)
{
    return _mm256_permutevar8x32_epi32(packGrey(r0, r1, r2, r3), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// 32 grey levels (16 per lane, in order) as 96 bytes of pixels (g, g, g).
__attribute__((target("avx2"))) inline void storePixels32(std::uint8_t* out, __m256i g)
{
    const __m256i first = _mm256_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, //
                                           0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m256i second = _mm256_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10, //
                                            5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m256i third = _mm256_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15, //
                                           10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    const __m256i a = _mm256_shuffle_epi8(g, first);
    const __m256i b = _mm256_shuffle_epi8(g, second);
    const __m256i c = _mm256_shuffle_epi8(g, third);
    // Bytes 0..47 are the low lanes of a, b, c, bytes 48..95 their high
    // lanes: three whole stores of lanes put side by side.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(a, b, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_blend_epi32(c, a, 0xF0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(b, c, 0x31));
}

// Bytes to pixels, 32 a step: grey32(x) gives the grey levels of the 32
// bytes in x, in order; the bytes after the last step take the window's
// table (every byte's grey level under the rule).
template <bool Range, class Grey32>
__attribute__((target("avx2"))) void pixelsFromBytesAvx2(const std::uint8_t* src, std::size_t n,
                                                        const std::uint8_t* table, std::uint8_t* dst,
                                                        std::uint8_t* mn, std::uint8_t* mx, Grey32 grey32)
{
    __m256i lo = _mm256_set1_epi8(static_cast<char>(Range ? *mn : 0));
    __m256i hi = _mm256_set1_epi8(static_cast<char>(Range ? *mx : 0));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if constexpr (Range) {
            lo = _mm256_min_epu8(lo, x);
            hi = _mm256_max_epu8(hi, x);
        }
        storePixels32(dst + 3 * i, grey32(x));
    }
    if constexpr (Range) {
        const std::uint8_t l = lowestU8(lo), h = highestU8(hi);
        *mn = l < *mn ? l : *mn;
        *mx = h > *mx ? h : *mx;
    }
    for (; i < n; ++i) {
        if constexpr (Range) {
            *mn = src[i] < *mn ? src[i] : *mn;
            *mx = src[i] > *mx ? src[i] : *mx;
        }
        storePixel(dst + 3 * i, table[src[i]]);
    }
}

// Bytes as the floats 2^23 + v through the single-precision rule.
template <bool Range>
__attribute__((target("avx2"))) void pixelsFromUInt8Avx2(const std::uint8_t* src, std::size_t n, const ByteForm& f,
                                                        std::uint8_t* dst, std::uint8_t* mn, std::uint8_t* mx)
{
    const __m256 c = _mm256_set1_ps(static_cast<float>(8388608.0 + f.lo));
    const __m256 scale = _mm256_set1_ps(static_cast<float>(f.scale));
    const __m256i high = _mm256_set1_epi16(0x4B00); // upper half of the float 2^23
    const __m256i zero = _mm256_setzero_si256();
    pixelsFromBytesAvx2<Range>(src, n, f.table, dst, mn, mx, [&](__m256i x) __attribute__((target("avx2"))) {
        // Lane by lane: w0 holds values 0..7, w1 8..15 as 16-bit words.
        const __m256i w0 = _mm256_unpacklo_epi8(x, zero);
        const __m256i w1 = _mm256_unpackhi_epi8(x, zero);
        return packGrey(greyOfBiased8(_mm256_unpacklo_epi16(w0, high), c, scale),
                        greyOfBiased8(_mm256_unpackhi_epi16(w0, high), c, scale),
                        greyOfBiased8(_mm256_unpacklo_epi16(w1, high), c, scale),
                        greyOfBiased8(_mm256_unpackhi_epi16(w1, high), c, scale));
    });
}

__attribute__((target("avx2"))) inline __m256i greyOfForm8(__m256i v, __m256i a, __m256i c, __m128i shift)
{
    return _mm256_sra_epi32(_mm256_add_epi32(_mm256_madd_epi16(v, a), c), shift);
}

// Bytes by their fixed-point form: each 32-bit lane holds v in its low
// half and 0 in its high one, so the multiply-add gives v * a.
template <bool Range>
__attribute__((target("avx2"))) void pixelsFromUInt8FormAvx2(const std::uint8_t* src, std::size_t n,
                                                            const ByteForm& f, std::uint8_t* dst, std::uint8_t* mn,
                                                            std::uint8_t* mx)
{
    const __m256i a = _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(f.a)));
    const __m256i c = _mm256_set1_epi32(f.c);
    const __m128i shift = _mm_cvtsi32_si128(f.shift);
    const __m256i zero = _mm256_setzero_si256();
    pixelsFromBytesAvx2<Range>(src, n, f.table, dst, mn, mx, [&](__m256i x) __attribute__((target("avx2"))) {
        const __m256i w0 = _mm256_unpacklo_epi8(x, zero);
        const __m256i w1 = _mm256_unpackhi_epi8(x, zero);
        return packGrey(greyOfForm8(_mm256_unpacklo_epi16(w0, zero), a, c, shift),
                        greyOfForm8(_mm256_unpackhi_epi16(w0, zero), a, c, shift),
                        greyOfForm8(_mm256_unpacklo_epi16(w1, zero), a, c, shift),
                        greyOfForm8(_mm256_unpackhi_epi16(w1, zero), a, c, shift));
    });
}

// Bytes by their narrow form: sixteen 16-bit lanes a register, each holding
// v << 7 (below 2^15, so the signed multiply takes it as it is).
template <bool Range>
__attribute__((target("avx2"))) void pixelsFromUInt8NarrowAvx2(const std::uint8_t* src, std::size_t n,
                                                              const ByteForm& f, std::uint8_t* dst, std::uint8_t* mn,
                                                              std::uint8_t* mx)
{
    const __m256i a = _mm256_set1_epi16(f.narrowA);
    const __m256i c = _mm256_set1_epi16(f.narrowC);
    const __m128i shift = _mm_cvtsi32_si128(f.narrowShift);
    const __m256i zero = _mm256_setzero_si256();
    const auto grey = [&](__m256i shifted) __attribute__((target("avx2"))) {
        return _mm256_sra_epi16(_mm256_adds_epi16(_mm256_mulhrs_epi16(_mm256_srli_epi16(shifted, 1), a), c), shift);
    };
    // Lane by lane: v << 8 of values 0..7, then of 8..15; the pack puts
    // them back in order.
    pixelsFromBytesAvx2<Range>(src, n, f.table, dst, mn, mx, [&](__m256i x) __attribute__((target("avx2"))) {
        return _mm256_packus_epi16(grey(_mm256_unpacklo_epi8(zero, x)), grey(_mm256_unpackhi_epi8(zero, x)));
    });
}

// 16-bit voxels held as u in 0..65535: u = v for UInt-16, u = v + 2^15 for
// Int-16 (the sign bit flipped), so that both go through one loop. mn and mx
// are the range in u. AtZero: the window's low end is 0.
template <bool Range, bool Unsigned, bool AtZero>
__attribute__((target("avx2"))) void pixels16Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                 std::uint8_t* dst, std::uint16_t* mn, std::uint16_t* mx)
{
    constexpr double Bias = Unsigned ? 0.0 : 32768.0;
    // u is held as the float 2^23 + u.
    const __m256 c = _mm256_set1_ps(static_cast<float>(8388608.0 + Bias + w.lo));
    const __m256 scale = _mm256_set1_ps(static_cast<float>(w.scale));
    const __m256i high = _mm256_set1_epi16(0x4B00);
    const __m256i flip = _mm256_set1_epi16(static_cast<short>(Unsigned ? 0 : 0x8000));
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, //
                                          1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    __m256i lo = _mm256_set1_epi16(static_cast<short>(Range ? *mn : 0));
    __m256i hi = _mm256_set1_epi16(static_cast<short>(Range ? *mx : 0));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        // Lane 0 takes values 0..7 and 8..15, lane 1 16..23 and 24..31, so
        // that the packs bring them back in order.
        const std::uint8_t* b = src + 2 * i;
        __m256i x0 = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 32), reinterpret_cast<const __m128i*>(b));
        __m256i x1 = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 48),
                                         reinterpret_cast<const __m128i*>(b + 16));
        if (big) {
            x0 = _mm256_shuffle_epi8(x0, swap);
            x1 = _mm256_shuffle_epi8(x1, swap);
        }
        if constexpr (!Unsigned) {
            x0 = _mm256_xor_si256(x0, flip);
            x1 = _mm256_xor_si256(x1, flip);
        }
        if constexpr (Range) {
            lo = _mm256_min_epu16(lo, _mm256_min_epu16(x0, x1));
            hi = _mm256_max_epu16(hi, _mm256_max_epu16(x0, x1));
        }
        if constexpr (AtZero) {
            // v * scale, v widened eight in a row, is the rule's t; |t| is
            // below 2^24, so it converts without holding.
            __m256i r[4];
            for (int k = 0; k < 4; ++k) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
                if (big)
                    v = swap16(v);
                const __m256i wide = Unsigned ? _mm256_cvtepu16_epi32(v) : _mm256_cvtepi16_epi32(v);
                const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(wide), scale);
                r[k] = roundedGrey8(t);
            }
            storePixels32(dst + 3 * i, packGreyInOrder(r[0], r[1], r[2], r[3]));
            continue;
        }
        const __m256i g = packGrey(greyOfBiased8(_mm256_unpacklo_epi16(x0, high), c, scale),
                                   greyOfBiased8(_mm256_unpackhi_epi16(x0, high), c, scale),
                                   greyOfBiased8(_mm256_unpacklo_epi16(x1, high), c, scale),
                                   greyOfBiased8(_mm256_unpackhi_epi16(x1, high), c, scale));
        storePixels32(dst + 3 * i, g);
    }
    if constexpr (Range) {
        const std::uint16_t l = lowestU16(lo), h = highestU16(hi);
        *mn = l < *mn ? l : *mn;
        *mx = h > *mx ? h : *mx;
    }
    std::uint8_t red;
    for (; i < n; ++i) {
        const std::uint16_t bits = load16(src + 2 * i, big);
        const auto u = static_cast<std::uint16_t>(Unsigned ? bits : bits ^ 0x8000u);
        if constexpr (Range) {
            *mn = u < *mn ? u : *mn;
            *mx = u > *mx ? u : *mx;
        }
        const float v = Unsigned ? static_cast<float>(bits) : static_cast<float>(static_cast<std::int16_t>(bits));
        storePixel(dst + 3 * i, greyOf(v, w, red));
    }
}

template <bool Range>
__attribute__((target("avx2"))) void pixelsFromInt16Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                        std::uint8_t* dst, std::int16_t* mn, std::int16_t* mx)
{
    std::uint16_t umn = Range ? static_cast<std::uint16_t>(*mn ^ 0x8000) : 0;
    std::uint16_t umx = Range ? static_cast<std::uint16_t>(*mx ^ 0x8000) : 0;
    if (w.lo == 0.0)
        pixels16Avx2<Range, false, true>(src, n, big, w, dst, &umn, &umx);
    else
        pixels16Avx2<Range, false, false>(src, n, big, w, dst, &umn, &umx);
    if constexpr (Range) {
        *mn = static_cast<std::int16_t>(umn ^ 0x8000);
        *mx = static_cast<std::int16_t>(umx ^ 0x8000);
    }
}

// How close to a rounding edge (a half between two grey levels) a
// single-precision t may lie and still be trusted: t from float arithmetic
// and the rule's t (double product rounded to a float) both lie within
// 3 * 2^-24 * |t| of the exact product, under 2^-14 for |t| <= 257.
constexpr float EdgeMargin = 1.0f / 4096.0f;
// Beyond this |t| single precision proves nothing about overflow.
constexpr float SingleLimit = 0x1p100f;

// Grey levels of eight t that are the rule's own (or already held to
// -0.75 .. 255.75), as 32-bit integers that packGrey holds to 0..255:
// rounded to an integer, halves to even, as the rule does. t is held below
// 256 first (a NaN becomes 256; its lane is mended), so that no positive t
// converts to the out-of-range integer -2^31 that every t below -2^31 gives
// (black after the packs).
__attribute__((target("avx2"))) inline __m256i greyOfRuleT8(__m256 t)
{
    return roundedGrey8(_mm256_min_ps(t, _mm256_set1_ps(256.0f)));
}

// Eight values through the pixel rule in single precision: grey levels as
// int32 lanes. Lanes whose result is not proven to be the rule's get their
// bit set in bad; the caller redoes them with the scalar rule. Values that
// are always finite (integers) skip the overflow test.
template <bool Finite>
__attribute__((target("avx2"))) inline __m256i greyOfSingle8(__m256 v, __m256 lo, __m256 scale, unsigned& bad)
{
    const __m256 t = _mm256_mul_ps(_mm256_sub_ps(v, lo), scale);
    // Below -0.75 every t is black, above 255.75 white, in both routes; in
    // between, the two agree unless t lies near a half.
    const __m256 held = _mm256_min_ps(_mm256_max_ps(t, _mm256_set1_ps(-0.75f)), _mm256_set1_ps(255.75f));
    const __m256 frac = _mm256_sub_ps(held, _mm256_round_ps(held, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 edge = _mm256_and_ps(_mm256_sub_ps(frac, _mm256_set1_ps(0.5f)), absMask);
    __m256 ok = _mm256_cmp_ps(edge, _mm256_set1_ps(EdgeMargin), _CMP_GT_OQ);
    if constexpr (!Finite) // NaN, infinity and possible overflow go the scalar way
        ok = _mm256_and_ps(ok, _mm256_cmp_ps(_mm256_and_ps(t, absMask), _mm256_set1_ps(SingleLimit), _CMP_LT_OQ));
    bad = static_cast<unsigned>(~_mm256_movemask_ps(ok)) & 0xFFu;
    return greyOfRuleT8(held);
}

// Eight four-byte voxels at p under the byte order.
__attribute__((target("avx2"))) inline __m256i loadEight(const std::uint8_t* p, bool big)
{
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return big ? swap32(raw) : raw;
}

// AtZero: the window's low end is 0, so v - lo is v itself and the single
// product of two floats, exact in double, rounds to the rule's t: no lane
// needs proving. Bounded (with AtZero): |scale| < 1/4, so every |t| lies
// below 2^29 and converts to an integer without being held below 256.
template <bool Range, bool AtZero, bool Bounded>
__attribute__((target("avx2"))) void pixelsFromInt32Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                        std::uint8_t* dst, std::int32_t* mn, std::int32_t* mx)
{
    const __m256 lo = _mm256_set1_ps(static_cast<float>(w.lo));
    const __m256 scale = _mm256_set1_ps(static_cast<float>(w.scale));
    __m256i low = _mm256_set1_epi32(Range ? *mn : 0);
    __m256i high = _mm256_set1_epi32(Range ? *mx : 0);
    std::uint8_t red;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const std::uint8_t* p = src + 4 * i;
        __m256i r[4];
        unsigned bad[4];
        for (int k = 0; k < 4; ++k) {
            const __m256i x = loadEight(p + 32 * k, big);
            bad[k] = 0;
            if constexpr (Range) {
                low = _mm256_min_epi32(low, x);
                high = _mm256_max_epi32(high, x);
            }
            if constexpr (AtZero && Bounded)
                r[k] = roundedGrey8(_mm256_mul_ps(_mm256_cvtepi32_ps(x), scale));
            else if constexpr (AtZero)
                r[k] = greyOfRuleT8(_mm256_mul_ps(_mm256_cvtepi32_ps(x), scale));
            else
                r[k] = greyOfSingle8<true>(_mm256_cvtepi32_ps(x), lo, scale, bad[k]);
        }
        std::uint8_t* out = dst + 3 * i;
        storePixels32(out, packGreyInOrder(r[0], r[1], r[2], r[3]));
        if (!AtZero && (bad[0] | bad[1] | bad[2] | bad[3]) != 0) {
            for (int k = 0; k < 4; ++k) {
                for (unsigned b = bad[k]; b != 0; b &= b - 1) {
                    const std::size_t at =
                        8 * static_cast<std::size_t>(k) + static_cast<std::size_t>(std::countr_zero(b));
                    const auto v = static_cast<std::int32_t>(load32(p + 4 * at, big));
                    storePixel(out + 3 * at, greyOf(static_cast<float>(v), w, red));
                }
            }
        }
    }
    if constexpr (Range) {
        const std::int32_t l = lowestI32(low), h = highestI32(high);
        *mn = l < *mn ? l : *mn;
        *mx = h > *mx ? h : *mx;
    }
    for (; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(load32(src + 4 * i, big));
        if constexpr (Range) {
            *mn = v < *mn ? v : *mn;
            *mx = v > *mx ? v : *mx;
        }
        storePixel(dst + 3 * i, greyOf(static_cast<float>(v), w, red));
    }
}

// AtZero: as for Int-32, t from single precision is the rule's own; only
// lanes whose t is not finite (a NaN voxel, an infinite one or an overflow)
// take the scalar rule.
template <bool Range, bool AtZero>
__attribute__((target("avx2"))) void pixelsFromFloat32Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                          std::uint8_t* dst, float* mn, float* mx)
{
    const __m256 lo = _mm256_set1_ps(static_cast<float>(w.lo));
    const __m256 scale = _mm256_set1_ps(static_cast<float>(w.scale));
    // _mm256_min_ps(v, m) is "v < m ? v : m", NaN passing by, lane by lane.
    __m256 low = _mm256_set1_ps(Range ? *mn : 0.0f);
    __m256 high = _mm256_set1_ps(Range ? *mx : 0.0f);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const std::uint8_t* p = src + 4 * i;
        __m256i r[4];
        unsigned bad[4];
        for (int k = 0; k < 4; ++k) {
            const __m256 v = _mm256_castsi256_ps(loadEight(p + 32 * k, big));
            if constexpr (Range) {
                low = _mm256_min_ps(v, low);
                high = _mm256_max_ps(v, high);
            }
            if constexpr (AtZero) {
                const __m256 t = _mm256_mul_ps(v, scale);
                const __m256 absT = _mm256_and_ps(t, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
                const __m256 finite = _mm256_cmp_ps(absT, _mm256_set1_ps(std::numeric_limits<float>::infinity()),
                                                    _CMP_LT_OQ);
                bad[k] = static_cast<unsigned>(~_mm256_movemask_ps(finite)) & 0xFFu;
                r[k] = greyOfRuleT8(t);
            } else {
                r[k] = greyOfSingle8<false>(v, lo, scale, bad[k]);
            }
        }
        std::uint8_t* out = dst + 3 * i;
        storePixels32(out, packGreyInOrder(r[0], r[1], r[2], r[3]));
        if ((bad[0] | bad[1] | bad[2] | bad[3]) != 0) {
            for (int k = 0; k < 4; ++k) {
                for (unsigned b = bad[k]; b != 0; b &= b - 1) {
                    const std::size_t at =
                        8 * static_cast<std::size_t>(k) + static_cast<std::size_t>(std::countr_zero(b));
                    storeRuled(out + 3 * at, std::bit_cast<float>(load32(p + 4 * at, big)), w);
                }
            }
        }
    }
    if constexpr (Range) {
        const float l = lowestPs(low), h = highestPs(high);
        *mn = l < *mn ? l : *mn;
        *mx = h > *mx ? h : *mx;
    }
    for (; i < n; ++i) {
        const float v = std::bit_cast<float>(load32(src + 4 * i, big));
        if constexpr (Range) {
            *mn = v < *mn ? v : *mn;
            *mx = v > *mx ? v : *mx;
        }
        storeRuled(dst + 3 * i, v, w);
    }
}

// Four Float-64 voxels at p under the byte order.
__attribute__((target("avx2"))) inline __m256d loadDoubles(const std::uint8_t* p, bool big)
{
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm256_castsi256_pd(big ? swap64(raw) : raw);
}

// Float-64 voxels straight to pixels. The rule's t is taken in double and
// rounded to a float as the rule says; holding it to 0..255 and rounding to
// a grey level can then run in single precision, eight at a time, since
// rounding to a float keeps 0 and 255 where they are. A t that is not a
// finite float (NaN, or beyond the float range: red or an infinite voxel)
// takes the scalar rule. The range folds the values' nearest floats, which
// the conversion gives as the scalar one does (an infinity beyond the range).
// AtZero: the window's low end is 0, and v - 0 is v itself.
template <bool Range, bool AtZero>
__attribute__((target("avx2"))) void pixelsFromFloat64Avx2(const std::uint8_t* src, std::size_t n, bool big, Window w,
                                                          std::uint8_t* dst, float* mn, float* mx)
{
    const __m256d lo = _mm256_set1_pd(w.lo);
    const __m256d scale = _mm256_set1_pd(w.scale);
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 infinity = _mm256_set1_ps(std::numeric_limits<float>::infinity());
    // The range is met in doubles and rounded once at the end: rounding to
    // the nearest float keeps the order, so the float of the least double
    // is the least float. min_pd(v, m) is "v < m ? v : m", NaN passing by.
    __m256d low = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    __m256d high = _mm256_set1_pd(-std::numeric_limits<double>::infinity());
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const std::uint8_t* p = src + 8 * i;
        __m256i r[4];
        unsigned bad[4];
        for (int k = 0; k < 4; ++k) {
            // Register k: voxels 8k..8k+3 in its low lane, 8k+4..8k+7 in its
            // high one.
            const __m256d a = loadDoubles(p + 64 * k, big);
            const __m256d b = loadDoubles(p + 64 * k + 32, big);
            if constexpr (Range) {
                low = _mm256_min_pd(b, _mm256_min_pd(a, low));
                high = _mm256_max_pd(b, _mm256_max_pd(a, high));
            }
            const __m256d ta = _mm256_mul_pd(AtZero ? a : _mm256_sub_pd(a, lo), scale);
            const __m256d tb = _mm256_mul_pd(AtZero ? b : _mm256_sub_pd(b, lo), scale);
            const __m256 t = _mm256_set_m128(_mm256_cvtpd_ps(tb), _mm256_cvtpd_ps(ta));
            bad[k] = static_cast<unsigned>(
                _mm256_movemask_ps(_mm256_cmp_ps(_mm256_and_ps(t, absMask), infinity, _CMP_NLT_UQ)));
            // A NaN's pixel is redone below.
            r[k] = greyOfRuleT8(t);
        }
        std::uint8_t* out = dst + 3 * i;
        storePixels32(out, packGreyInOrder(r[0], r[1], r[2], r[3]));
        if ((bad[0] | bad[1] | bad[2] | bad[3]) != 0) {
            for (int k = 0; k < 4; ++k) {
                for (unsigned b = bad[k]; b != 0; b &= b - 1) {
                    const std::size_t at =
                        8 * static_cast<std::size_t>(k) + static_cast<std::size_t>(std::countr_zero(b));
                    storeRuled(out + 3 * at, std::bit_cast<double>(loadVoxelBits(p + 8 * at, 8, big)), w);
                }
            }
        }
    }
    if constexpr (Range) {
        alignas(32) double lows[4], highs[4];
        _mm256_store_pd(lows, low);
        _mm256_store_pd(highs, high);
        for (int j = 0; j < 4; ++j) {
            const float l = nearestFloat(lows[j]), h = nearestFloat(highs[j]);
            *mn = l < *mn ? l : *mn;
            *mx = h > *mx ? h : *mx;
        }
    }
    for (; i < n; ++i) {
        const double v = std::bit_cast<double>(loadVoxelBits(src + 8 * i, 8, big));
        if constexpr (Range) {
            const float f = nearestFloat(v);
            *mn = f < *mn ? f : *mn;
            *mx = f > *mx ? f : *mx;
        }
        storeRuled(dst + 3 * i, v, w);
    }
}

__attribute__((target("avx2"))) void widenPixelsAvx2(const std::uint8_t* rgb, std::size_t n, std::uint32_t* xrgb)
{
    // Four pixels (12 of 16 bytes loaded) to four words at a time.
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = 0;
    // The last load of a step reaches 4 bytes past its pixels.
    for (; i + 10 <= n; i += 8) {
        const std::uint8_t* in = rgb + 3 * i;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(xrgb + i), _mm_or_si128(_mm_shuffle_epi8(a, order), opaque));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(xrgb + i + 4), _mm_or_si128(_mm_shuffle_epi8(b, order), opaque));
    }
    for (; i < n; ++i)
        xrgb[i] = 0xFF000000u | std::uint32_t{rgb[3 * i]} << 16 | std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
}

__attribute__((target("avx2"))) void rangeFloat32Avx2(const std::uint8_t* src, std::size_t n, bool big, float& mn,
                                                     float& mx)
{
    // _mm256_min_ps(v, m) is "v < m ? v : m", NaN passing by, lane by lane.
    __m256 lo = _mm256_set1_ps(mn);
    __m256 hi = _mm256_set1_ps(mx);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        if (big)
            raw = swap32(raw);
        const __m256 v = _mm256_castsi256_ps(raw);
        lo = _mm256_min_ps(v, lo);
        hi = _mm256_max_ps(v, hi);
    }
    alignas(32) float los[8], his[8];
    _mm256_store_ps(los, lo);
    _mm256_store_ps(his, hi);
    for (int j = 0; j < 8; ++j) {
        mn = los[j] < mn ? los[j] : mn;
        mx = his[j] > mx ? his[j] : mx;
    }
    for (; i < n; ++i) {
        const float v = std::bit_cast<float>(load32(src + 4 * i, big));
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
}

#else
constexpr bool CpuHasAvx2 = false;
constexpr bool HasAvx2 = false;
#endif

// Whether this thread's pixels go past the caches (StreamingPixels).
thread_local bool Streaming = false;

} // namespace

StreamingPixels::StreamingPixels(bool on)
    : m_was(Streaming)
{
    Streaming = m_was || on;
}

StreamingPixels::~StreamingPixels()
{
    Streaming = m_was;
}

bool streamingPixels()
{
    return Streaming;
}

VectorUnits useVectorUnits(VectorUnits units)
{
#if KELVOX_HAVE_AVX2_PATH
    HasAvx2 = units >= VectorUnits::Avx2 && CpuHasAvx2;
    HasAvx512 = units >= VectorUnits::Avx512 && CpuHasAvx512;
    return HasAvx512 ? VectorUnits::Avx512 : (HasAvx2 ? VectorUnits::Avx2 : VectorUnits::Plain);
#else
    (void)units;
    return VectorUnits::Plain;
#endif
}

bool useVectorUnits(bool enable)
{
    return useVectorUnits(enable ? VectorUnits::Avx512 : VectorUnits::Plain) != VectorUnits::Plain;
}

void fromUInt8(const std::uint8_t* src, std::size_t n, Window window, std::uint8_t* grey)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return fromUInt8Avx2(src, n, window, grey);
#endif
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i)
        grey[i] = greyOf(src[i], window, red);
}

void fromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return fromInt16Avx2(src, n, bigEndian, window, grey);
#endif
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i)
        grey[i] = greyOf(static_cast<std::int16_t>(load16(src + 2 * i, bigEndian)), window, red);
}

void fromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return fromInt32Avx2(src, n, bigEndian, window, grey);
#endif
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i)
        grey[i] = greyOf(static_cast<float>(static_cast<std::int32_t>(load32(src + 4 * i, bigEndian))), window, red);
}

bool fromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey,
                 std::uint8_t* red)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return fromFloat32Avx2(src, n, bigEndian, window, grey, red);
#endif
    std::uint8_t anyRed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        grey[i] = greyOf(std::bit_cast<float>(load32(src + 4 * i, bigEndian)), window, red[i]);
        anyRed |= red[i];
    }
    return anyRed != 0;
}

void greyOfIntegers(std::int32_t first, std::size_t count, Window window, std::uint8_t* table)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return greyOfIntegersAvx2(first, count, window, table);
#endif
    std::uint8_t red;
    for (std::size_t i = 0; i < count; ++i)
        table[i] = greyOf(static_cast<float>(first + static_cast<std::int32_t>(i)), window, red);
}

void fromTable8(const std::uint8_t* src, std::size_t n, const std::uint8_t* table, std::uint8_t* grey)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return fromTable8Avx2(src, n, table, grey);
#endif
    for (std::size_t i = 0; i < n; ++i)
        grey[i] = table[src[i]];
}

// Plain lookups: a vector unit without gathers gains nothing here. An
// int16's table index is its bits with the sign bit flipped.
void fromTable16(const std::uint8_t* src, std::size_t n, bool bigEndian, bool isSigned, const std::uint8_t* table,
                 std::uint8_t* grey)
{
    const std::uint16_t flip = isSigned ? 0x8000 : 0;
    if (bigEndian) {
        for (std::size_t i = 0; i < n; ++i)
            grey[i] = table[load16(src + 2 * i, true) ^ flip];
    } else {
        for (std::size_t i = 0; i < n; ++i)
            grey[i] = table[load16(src + 2 * i, false) ^ flip];
    }
}

void expandGrey(const std::uint8_t* __restrict grey, std::size_t n, std::uint8_t* __restrict dst)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return expandGreyAvx2(grey, n, dst);
#endif
    for (std::size_t i = 0; i < n; ++i) {
        dst[3 * i] = grey[i];
        dst[3 * i + 1] = grey[i];
        dst[3 * i + 2] = grey[i];
    }
}

void widenPixels(const std::uint8_t* rgb, std::size_t n, std::uint32_t* xrgb)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return widenPixelsAvx2(rgb, n, xrgb);
#endif
    for (std::size_t i = 0; i < n; ++i)
        xrgb[i] = 0xFF000000u | std::uint32_t{rgb[3 * i]} << 16 | std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
}

bool directUInt8(Window window)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx512)
        return true;
#endif
    return HasAvx2 && (singleIsExact(window, 0.0, 255.0) || byteForm(window).found || byteForm(window).narrow);
}

bool directInt16(Window window)
{
    return HasAvx2 && singleIsExact(window, 32768.0, 65535.0);
}

void pixelsFromUInt8(const std::uint8_t* src, std::size_t n, Window window, std::uint8_t* dst, std::uint8_t* mn,
                     std::uint8_t* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx512)
        return Avx512::pixelsFromTable8(src, n, byteForm(window).table, dst, mn, mx);
    if (HasAvx2) {
        if (const ByteForm& form = byteForm(window); form.narrow) {
            if (range)
                return pixelsFromUInt8NarrowAvx2<true>(src, n, form, dst, mn, mx);
            return pixelsFromUInt8NarrowAvx2<false>(src, n, form, dst, mn, mx);
        } else if (form.found) {
            if (range)
                return pixelsFromUInt8FormAvx2<true>(src, n, form, dst, mn, mx);
            return pixelsFromUInt8FormAvx2<false>(src, n, form, dst, mn, mx);
        }
    }
    if (directUInt8(window)) {
        if (range)
            return pixelsFromUInt8Avx2<true>(src, n, byteForm(window), dst, mn, mx);
        return pixelsFromUInt8Avx2<false>(src, n, byteForm(window), dst, mn, mx);
    }
#endif
    if (range)
        rangeUInt8(src, n, *mn, *mx);
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t g = greyOf(src[i], window, red);
        dst[3 * i] = g;
        dst[3 * i + 1] = g;
        dst[3 * i + 2] = g;
    }
}

void pixelsFromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int16_t* mn, std::int16_t* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (directInt16(window)) {
        if (HasAvx512)
            return Avx512::pixelsFromInt16(src, n, bigEndian, window, dst, mn, mx);
        if (range)
            return pixelsFromInt16Avx2<true>(src, n, bigEndian, window, dst, mn, mx);
        return pixelsFromInt16Avx2<false>(src, n, bigEndian, window, dst, mn, mx);
    }
#endif
    if (range)
        rangeInt16(src, n, bigEndian, *mn, *mx);
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t g = greyOf(static_cast<std::int16_t>(load16(src + 2 * i, bigEndian)), window, red);
        dst[3 * i] = g;
        dst[3 * i + 1] = g;
        dst[3 * i + 2] = g;
    }
}

bool directUInt16(Window window)
{
    return HasAvx2 && singleIsExact(window, 0.0, 65535.0);
}

void pixelsFromUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                      std::uint16_t* mn, std::uint16_t* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (directUInt16(window)) {
        if (HasAvx512)
            return Avx512::pixelsFromUInt16(src, n, bigEndian, window, dst, mn, mx);
        const bool atZero = window.lo == 0.0;
        if (range)
            return atZero ? pixels16Avx2<true, true, true>(src, n, bigEndian, window, dst, mn, mx)
                          : pixels16Avx2<true, true, false>(src, n, bigEndian, window, dst, mn, mx);
        return atZero ? pixels16Avx2<false, true, true>(src, n, bigEndian, window, dst, mn, mx)
                      : pixels16Avx2<false, true, false>(src, n, bigEndian, window, dst, mn, mx);
    }
#endif
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t v = load16(src + 2 * i, bigEndian);
        if (range) {
            *mn = v < *mn ? v : *mn;
            *mx = v > *mx ? v : *mx;
        }
        std::uint8_t red;
        const std::uint8_t g = greyOf(static_cast<float>(v), window, red);
        dst[3 * i] = g;
        dst[3 * i + 1] = g;
        dst[3 * i + 2] = g;
    }
}

void pixelsFromFloat64(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn, float* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx512)
        return Avx512::pixelsFromFloat64(src, n, bigEndian, window, dst, mn, mx);
    if (HasAvx2) {
        const bool atZero = window.lo == 0.0;
        if (range)
            return atZero ? pixelsFromFloat64Avx2<true, true>(src, n, bigEndian, window, dst, mn, mx)
                          : pixelsFromFloat64Avx2<true, false>(src, n, bigEndian, window, dst, mn, mx);
        return atZero ? pixelsFromFloat64Avx2<false, true>(src, n, bigEndian, window, dst, mn, mx)
                      : pixelsFromFloat64Avx2<false, false>(src, n, bigEndian, window, dst, mn, mx);
    }
#endif
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::bit_cast<double>(loadVoxelBits(src + 8 * i, 8, bigEndian));
        if (range) {
            const float f = nearestFloat(v);
            *mn = f < *mn ? f : *mn;
            *mx = f > *mx ? f : *mx;
        }
        storeRuled(dst + 3 * i, v, window);
    }
}

bool directSingle(Window window)
{
    // lo and scale must be the window's floats; |scale| <= 256 keeps every
    // integer's t far below a float's overflow.
    return HasAvx2 && static_cast<double>(static_cast<float>(window.lo)) == window.lo
        && static_cast<double>(static_cast<float>(window.scale)) == window.scale && std::fabs(window.lo) <= 0x1p31
        && std::fabs(window.scale) <= 256.0;
}

void pixelsFromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int32_t* mn, std::int32_t* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (directSingle(window)) {
        if (HasAvx512)
            return Avx512::pixelsFromInt32(src, n, bigEndian, window, dst, mn, mx);
        const auto paint = [&](auto atZero, auto bounded) {
            constexpr bool AtZero = decltype(atZero)::value, Bounded = decltype(bounded)::value;
            if (range)
                return pixelsFromInt32Avx2<true, AtZero, Bounded>(src, n, bigEndian, window, dst, mn, mx);
            return pixelsFromInt32Avx2<false, AtZero, Bounded>(src, n, bigEndian, window, dst, mn, mx);
        };
        if (window.lo != 0.0)
            return paint(std::false_type{}, std::false_type{});
        if (std::fabs(window.scale) < 0.25)
            return paint(std::true_type{}, std::true_type{});
        return paint(std::true_type{}, std::false_type{});
    }
#endif
    if (range)
        rangeInt32(src, n, bigEndian, *mn, *mx);
    std::uint8_t red;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(load32(src + 4 * i, bigEndian));
        const std::uint8_t g = greyOf(static_cast<float>(v), window, red);
        dst[3 * i] = g;
        dst[3 * i + 1] = g;
        dst[3 * i + 2] = g;
    }
}

void pixelsFromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn, float* mx)
{
    const bool range = mn && mx;
#if KELVOX_HAVE_AVX2_PATH
    if (directSingle(window)) {
        if (HasAvx512)
            return Avx512::pixelsFromFloat32(src, n, bigEndian, window, dst, mn, mx);
        const bool atZero = window.lo == 0.0;
        if (range)
            return atZero ? pixelsFromFloat32Avx2<true, true>(src, n, bigEndian, window, dst, mn, mx)
                          : pixelsFromFloat32Avx2<true, false>(src, n, bigEndian, window, dst, mn, mx);
        return atZero ? pixelsFromFloat32Avx2<false, true>(src, n, bigEndian, window, dst, mn, mx)
                      : pixelsFromFloat32Avx2<false, false>(src, n, bigEndian, window, dst, mn, mx);
    }
#endif
    if (range)
        rangeFloat32(src, n, bigEndian, *mn, *mx);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t red;
        const std::uint8_t g = greyOf(std::bit_cast<float>(load32(src + 4 * i, bigEndian)), window, red);
        dst[3 * i] = red ? 255 : g;
        dst[3 * i + 1] = red ? 0 : g;
        dst[3 * i + 2] = red ? 0 : g;
    }
}

KELVOX_VECTOR_CLONES
void rangeUInt8(const std::uint8_t* src, std::size_t n, std::uint8_t& mn, std::uint8_t& mx)
{
    std::uint8_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        lo = src[i] < lo ? src[i] : lo;
        hi = src[i] > hi ? src[i] : hi;
    }
    mn = lo;
    mx = hi;
}

KELVOX_VECTOR_CLONES
void rangeInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int16_t& mn, std::int16_t& mx)
{
    std::int16_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(load16(src + 2 * i, bigEndian));
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

KELVOX_VECTOR_CLONES
void rangeUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::uint16_t& mn, std::uint16_t& mx)
{
    std::uint16_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t v = load16(src + 2 * i, bigEndian);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

KELVOX_VECTOR_CLONES
void rangeInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int32_t& mn, std::int32_t& mx)
{
    std::int32_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(load32(src + 4 * i, bigEndian));
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

void rangeFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, float& mn, float& mx)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx2)
        return rangeFloat32Avx2(src, n, bigEndian, mn, mx);
#endif
    for (std::size_t i = 0; i < n; ++i) {
        const float v = std::bit_cast<float>(load32(src + 4 * i, bigEndian));
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
}

namespace
{

// The voxel at p as the pixel rule takes it: an integer as its nearest
// float, a Float-32 as itself, a Float-64 as the double it is.
template <TVoxelDataType T>
inline double ruleValue(const std::uint8_t* p, bool bigEndian)
{
    constexpr VoxelTypeInfo info = VoxelTypes[T];
    const double v = voxelValue(p, T, bigEndian);
    if constexpr (info.isFloat && info.bytes == 8)
        return v;
    else
        return static_cast<double>(static_cast<float>(v)); // exact double -> nearest float
}

// The voxel at p as the observed range records it: the nearest float, a
// Float-64 beyond the float range as an infinity of its sign.
template <TVoxelDataType T>
inline float rangeValue(const std::uint8_t* p, bool bigEndian)
{
    return nearestFloat(voxelValue(p, T, bigEndian));
}

template <TVoxelDataType T>
bool fromVoxelsOf(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey,
                  std::uint8_t* red)
{
    constexpr std::size_t Bytes = VoxelTypes[T].bytes;
    std::uint8_t anyRed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        grey[i] = greyOfValue(ruleValue<T>(src + Bytes * i, bigEndian), window, red[i]);
        anyRed |= red[i];
    }
    return anyRed != 0;
}

template <TVoxelDataType T>
void rangeVoxelsOf(const std::uint8_t* src, std::size_t n, bool bigEndian, float& mn, float& mx)
{
    constexpr std::size_t Bytes = VoxelTypes[T].bytes;
    float lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = rangeValue<T>(src + Bytes * i, bigEndian);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

// Index of the first float voxel of the n at src that is a zero of either
// sign (n if none): whole blocks are tested at once, so that the search runs
// at the speed of the memory.
template <typename Bits>
std::size_t firstZeroOf(const std::uint8_t* src, std::size_t n, bool big)
{
    // The raw bits of a zero of either sign, loaded in the machine's order,
    // are zero apart from the sign bit.
    constexpr Bits SignBit = Bits{1} << (8 * sizeof(Bits) - 1);
    const Bits sign = big ? static_cast<Bits>(0x80) : SignBit;
    const auto isZero = [&](std::size_t i) {
        Bits raw;
        std::memcpy(&raw, src + i * sizeof(Bits), sizeof raw);
        return (raw & ~sign) == 0;
    };
    constexpr std::size_t Block = 64;
    std::size_t i = 0;
    for (; i + Block <= n; i += Block) {
        bool any = false;
        for (std::size_t j = 0; j < Block; ++j)
            any |= isZero(i + j);
        if (any)
            break;
    }
    for (; i < n; ++i) {
        if (isZero(i))
            return i;
    }
    return n;
}

} // namespace

bool fromVoxels(TVoxelDataType type, const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                std::uint8_t* grey, std::uint8_t* red, float* mn, float* mx)
{
    const bool range = mn && mx;
    return withVoxelType(
        type,
        [&](auto t) {
            const bool anyRed = fromVoxelsOf<decltype(t)::value>(src, n, bigEndian, window, grey, red);
            if (range)
                rangeVoxelsOf<decltype(t)::value>(src, n, bigEndian, *mn, *mx);
            return anyRed;
        },
        [&] {
            std::memset(grey, 0, n);
            std::memset(red, 0, n);
            return false;
        });
}

std::size_t firstFloatZero(const std::uint8_t* src, std::size_t n, int bytes, bool bigEndian)
{
#if KELVOX_HAVE_AVX2_PATH
    if (HasAvx512)
        return Avx512::firstFloatZero(src, n, bytes, bigEndian);
#endif
    return bytes == 4 ? firstZeroOf<std::uint32_t>(src, n, bigEndian) : firstZeroOf<std::uint64_t>(src, n, bigEndian);
}

void rangeVoxels(TVoxelDataType type, const std::uint8_t* src, std::size_t n, bool bigEndian, float& mn, float& mx)
{
    withVoxelType(
        type, [&](auto t) { rangeVoxelsOf<decltype(t)::value>(src, n, bigEndian, mn, mx); }, [] {});
}

} // namespace GreyKernels
