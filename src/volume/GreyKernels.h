#pragma once

#include "volume/VoxelType.h"

#include <cstddef>
#include <cstdint>

// The renderer's inner loops over one run of voxels: raw file bytes in,
// grey levels (0..255) out. Where the processor has AVX2 (AVX-512) they run
// eight (sixteen) voxels at a time with exactly the arithmetic of the scalar loops (double
// products, float rounding, halves to even), so the pixels never differ.
namespace GreyKernels
{

// The intensity window as the pixel rule uses it: t = (v - lo) * scale in
// double precision, lo and scale being exactly the window's 32-bit floats.
struct Window
{
    double lo;
    double scale;
};

// The loops in use, each level serving what the one above it leaves: the
// AVX-512 loops take the pixel loops of the types and windows they state,
// the AVX2 ones the rest, the plain ones all without vector units.
enum class VectorUnits
{
    Plain,
    Avx2,
    Avx512
};

// Chooses the loops of units, or the best below them the processor has;
// returns the loops now in use. The best there is is the default; tests
// force each in turn and compare them.
VectorUnits useVectorUnits(VectorUnits units);
// The best loops there are (enable) or the plain ones; returns whether
// vector loops are now in use.
bool useVectorUnits(bool enable);

// Pixels of views larger than the caches are written past them (streaming
// stores) by the loops that can, on the calling thread while a scope of
// StreamingPixels(true) lasts: such pixels leave the caches before they are
// shown anyway, and a store past the caches need not read the line first.
// The pixels are the same either way. An inner scope cannot turn off what
// an outer one turned on.
class StreamingPixels
{
public:
    explicit StreamingPixels(bool on);
    ~StreamingPixels();
    StreamingPixels(const StreamingPixels&) = delete;
    StreamingPixels& operator=(const StreamingPixels&) = delete;

private:
    bool m_was;
};
bool streamingPixels();

// Integer voxels never overflow the scaled range (|v - lo| <= 2^33,
// |scale| <= 255), so they are always grey.
void fromUInt8(const std::uint8_t* src, std::size_t n, Window window, std::uint8_t* grey);
void fromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey);
void fromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey);
// Also sets red[i] to 1 for a NaN or a finite value whose scaled form
// overflows a float, 0 otherwise; returns whether any was red.
bool fromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey,
                 std::uint8_t* red);

// Grey levels of the consecutive integers first, first + 1, ... (count of
// them) into table, for the table-driven narrow types below.
void greyOfIntegers(std::int32_t first, std::size_t count, Window window, std::uint8_t* table);
// grey[i] = table[src[i]] for bytes, table[v + 32768] for int16 values v
// (isSigned) and table[v] for uint16 ones (the caller's table covers every
// value of the run).
void fromTable8(const std::uint8_t* src, std::size_t n, const std::uint8_t* table, std::uint8_t* grey);
void fromTable16(const std::uint8_t* src, std::size_t n, bool bigEndian, bool isSigned, const std::uint8_t* table,
                 std::uint8_t* grey);

// Writes grey level g as the pixel (g, g, g): 3 * n bytes at dst.
void expandGrey(const std::uint8_t* grey, std::size_t n, std::uint8_t* dst);

// Pixels of 3 bytes (red, green, blue) as the 32-bit words 0xFFrrggbb that
// screens take: n of them from rgb to xrgb.
void widenPixels(const std::uint8_t* rgb, std::size_t n, std::uint32_t* xrgb);

// Pixels (g, g, g) straight from bytes / int16 voxels, 3 * n bytes at dst,
// the grey levels being those of fromUInt8 / fromInt16. When mn and mx are
// given, the range of the voxels is folded into them as by rangeUInt8 /
// rangeInt16. Exact for every window; quick when directUInt8 / directInt16
// says so, otherwise the table route is the quicker one.
void pixelsFromUInt8(const std::uint8_t* src, std::size_t n, Window window, std::uint8_t* dst,
                     std::uint8_t* mn = nullptr, std::uint8_t* mx = nullptr);
void pixelsFromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int16_t* mn = nullptr, std::int16_t* mx = nullptr);

// Whether the vector units are in use and the window lets the pixel rule
// run in single precision for every value of the type: that holds when the
// window's low end lies within about 2^23 of the values (the difference v - lo
// is then exact in a float, and so is the product with the float scale).
// Bytes also go direct when a fixed-point form (v * a + c) >> shift gives
// the rule's grey level for each of the 256 values (checked once per window).
bool directUInt8(Window window);
bool directInt16(Window window);

// Pixels straight from int32 / float32 voxels, 3 * n bytes at dst, float
// voxels that are NaN or overflow the scaled range as red (255, 0, 0), the
// others (g, g, g) by the pixel rule. When mn and mx are given, the range of
// the voxels is folded into them as by rangeInt32 / rangeFloat32. Exact for
// every window; quick when directSingle says so.
void pixelsFromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int32_t* mn = nullptr, std::int32_t* mx = nullptr);
void pixelsFromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn = nullptr, float* mx = nullptr);

// Whether the vector units are in use and the window is one of floats (as
// the renderer's always is) with |scale| <= 256: the pixel rule then runs in
// single precision, the few values whose scaled form lies too near a half
// between two grey levels (or is not finite, or very large) taking the
// double-precision rule.
bool directSingle(Window window);

// UInt-16 voxels straight to pixels as pixelsFromInt16 does for Int-16;
// quick when directUInt16 says so.
void pixelsFromUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                      std::uint16_t* mn = nullptr, std::uint16_t* mx = nullptr);
bool directUInt16(Window window);

// Float-64 voxels straight to pixels by the pixel rule, (v - lo) * scale
// taken in double as the value is, NaNs and finite values whose scaled form
// overflows a float red. When mn and mx are given, the voxels' range as
// nearest floats is folded into them as by rangeVoxels (in lanes: only the
// sign of a zero extreme can differ from a scan in order).
void pixelsFromFloat64(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn = nullptr, float* mx = nullptr);

// Any voxel type, from its description: grey levels of n voxels by the pixel
// rule (integers as their nearest float, a Float-32 as itself, a Float-64 as
// the double it is, so that (v - lo) * scale is taken in double and rounded
// to a float), red as fromFloat32 marks it; returns whether any was red. A
// type outside 0..7 gives grey 0 and no red. When mn and mx are given, the
// range of the voxels is folded into them as by rangeVoxels.
bool fromVoxels(TVoxelDataType type, const std::uint8_t* src, std::size_t n, bool bigEndian, Window window,
                std::uint8_t* grey, std::uint8_t* red, float* mn = nullptr, float* mx = nullptr);
// The range of n voxels of any type as 32-bit floats (a Float-64 beyond the
// float range as an infinity of its sign), folded into mn and mx as
// "if v < mn then mn := v" meets them in scan order, NaNs passing by.
// Nothing for a type outside 0..7.
void rangeVoxels(TVoxelDataType type, const std::uint8_t* src, std::size_t n, bool bigEndian, float& mn,
                 float& mx);

// Index of the first of the n float voxels of `bytes` bytes (4 or 8) at src
// that is a zero of either sign; n if none.
std::size_t firstFloatZero(const std::uint8_t* src, std::size_t n, int bytes, bool bigEndian);

// Range of the voxels, folded into mn and mx. For floats each value is met
// as "if v < mn then mn := v" (NaNs pass by), in lanes: the result is that of
// a scan in order except for the sign of a zero extreme.
void rangeUInt8(const std::uint8_t* src, std::size_t n, std::uint8_t& mn, std::uint8_t& mx);
void rangeInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int16_t& mn, std::int16_t& mx);
void rangeUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::uint16_t& mn, std::uint16_t& mx);
void rangeInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int32_t& mn, std::int32_t& mx);
void rangeFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, float& mn, float& mx);

} // namespace GreyKernels
