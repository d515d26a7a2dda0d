#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

// How a voxel is decoded. The values are the item indices of the data-type
// list and pass through unchanged; a value outside 0..7 decodes as 0.
enum TVoxelDataType : std::uint8_t
{
    vdtByte = 0, // unsigned 8-bit
    vdtInt16 = 1, // signed 16-bit, two's complement
    vdtInt32 = 2, // signed 32-bit, two's complement
    vdtFloat32 = 3, // IEEE 754 single
    vdtUInt16 = 4, // unsigned 16-bit
    vdtInt8 = 5, // signed 8-bit, two's complement
    vdtUInt32 = 6, // unsigned 32-bit
    vdtFloat64 = 7 // IEEE 754 double
};

// Byte order of multi-byte voxels (item indices of the byte-order list).
// Only boBigEndian reverses bytes; any other value reads little-endian.
enum TByteOrder : std::uint8_t
{
    boLittleEndian = 0, // first byte of a voxel is the least significant
    boBigEndian = 1 // first byte of a voxel is the most significant
};

// Number of voxel types (TVoxelDataType 0..VoxelTypeCount-1).
inline constexpr std::size_t VoxelTypeCount = 8;

// Everything the program needs to know of one voxel type, stated once: the
// decoding loops, ranges, presets, readout and file-format names all follow
// from this row.
struct VoxelTypeInfo
{
    TVoxelDataType type;
    std::uint8_t bytes; // bytes per voxel
    bool isSigned; // two's complement (integers) or sign bit (floats)
    bool isFloat; // IEEE 754 binary floating point
    std::string_view shortName; // "u8", "i16", ... as command lines and layout lines write it
    int readoutDecimals; // decimals of the readout's value
    // (min, max) of the intensity presets Full, Positive, 0 to 1, -1 to 1,
    // 0 to 255, 0 to 10000, in menu order.
    std::array<std::pair<std::int32_t, std::int32_t>, 6> presets;
};

namespace VoxelTypeDetail
{
inline constexpr std::int32_t Int32Min = -2147483647 - 1;
inline constexpr std::int32_t Int32Max = 2147483647;
} // namespace VoxelTypeDetail

// One row per TVoxelDataType, in item order.
inline constexpr std::array<VoxelTypeInfo, VoxelTypeCount> VoxelTypes{{
    {vdtByte, 1, false, false, "u8", 0, {{{0, 255}, {0, 255}, {0, 1}, {0, 1}, {0, 255}, {0, 255}}}},
    {vdtInt16, 2, true, false, "i16", 0, {{{-32768, 32767}, {0, 32767}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}}},
    {vdtInt32, 4, true, false, "i32", 0,
     {{{VoxelTypeDetail::Int32Min, VoxelTypeDetail::Int32Max},
       {0, VoxelTypeDetail::Int32Max},
       {0, 1},
       {-1, 1},
       {0, 255},
       {0, 10000}}}},
    {vdtFloat32, 4, true, true, "f32", 4, {{{-10000, 10000}, {0, 10000}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}}},
    {vdtUInt16, 2, false, false, "u16", 0, {{{0, 65535}, {0, 65535}, {0, 1}, {0, 1}, {0, 255}, {0, 10000}}}},
    {vdtInt8, 1, true, false, "i8", 0, {{{-128, 127}, {0, 127}, {0, 1}, {-1, 1}, {0, 255}, {0, 127}}}},
    {vdtUInt32, 4, false, false, "u32", 0,
     {{{0, VoxelTypeDetail::Int32Max}, {0, VoxelTypeDetail::Int32Max}, {0, 1}, {0, 1}, {0, 255}, {0, 10000}}}},
    {vdtFloat64, 8, true, true, "f64", 4, {{{-10000, 10000}, {0, 10000}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}}},
}};

// Whether a per-type table has one row per voxel type, in item order (row i
// states type i). Every table of per-type facts checks itself with this in a
// static_assert, so a type added to the enumeration but left out of a table,
// or a table in the wrong order, fails to compile.
template<typename Row, std::size_t N>
constexpr bool listsEveryVoxelTypeInOrder(const std::array<Row, N>& rows)
{
    if (N != VoxelTypeCount)
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(rows[i].type) != i)
            return false;
    }
    return true;
}
static_assert(listsEveryVoxelTypeInOrder(VoxelTypes), "VoxelTypes has one row per TVoxelDataType, in item order");

// The type of the row of a per-type table whose member code equals value (a
// file format's type code as a header states it); false when no row has it.
template<typename Row, std::size_t N, typename Code, typename Value>
constexpr bool voxelTypeOfCode(const std::array<Row, N>& rows, Code Row::*code, const Value& value,
                               TVoxelDataType& type)
{
    for (const Row& row : rows) {
        if (row.*code == value) {
            type = row.type;
            return true;
        }
    }
    return false;
}

// The row of type, or nullptr for a value outside 0..7.
constexpr const VoxelTypeInfo* voxelTypeInfo(TVoxelDataType type)
{
    return type < VoxelTypeCount ? &VoxelTypes[type] : nullptr;
}

// Bytes of one voxel of type; 1 for a value outside 0..7 (such a type reads
// one byte per voxel and decodes as 0).
constexpr std::int64_t bytesPerVoxelOf(TVoxelDataType type)
{
    const VoxelTypeInfo* info = voxelTypeInfo(type);
    return info ? info->bytes : 1;
}

// The type whose shortName is name ("u8", "i16", ...), if any.
constexpr bool voxelTypeFromShortName(std::string_view name, TVoxelDataType& type)
{
    for (const VoxelTypeInfo& info : VoxelTypes) {
        if (info.shortName == name) {
            type = info.type;
            return true;
        }
    }
    return false;
}

// The unsigned integer of `bytes` (1, 2, 4 or 8) bytes at p, read under the
// byte order (bigEndian: the first byte is the most significant).
inline std::uint64_t loadVoxelBits(const std::uint8_t* p, int bytes, bool bigEndian)
{
    switch (bytes) {
    case 1:
        return *p;
    case 2: {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return bigEndian ? __builtin_bswap16(v) : v;
    }
    case 4: {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return bigEndian ? __builtin_bswap32(v) : v;
    }
    case 8: {
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return bigEndian ? __builtin_bswap64(v) : v;
    }
    default:
        return 0;
    }
}

// The value of the voxel whose bytesPerVoxelOf(type) bytes start at p, as
// the exact double it is: integers widen exactly, a Float-32 widens to the
// double of that float, a Float-64 is itself. A NaN stays NaN (quiet NaNs
// keep their pattern). 0 for a type outside 0..7.
inline double voxelValue(const std::uint8_t* p, TVoxelDataType type, bool bigEndian)
{
    const VoxelTypeInfo* info = voxelTypeInfo(type);
    if (!info)
        return 0.0;
    const std::uint64_t bits = loadVoxelBits(p, info->bytes, bigEndian);
    if (info->isFloat) {
        return info->bytes == 4 ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)))
                                : std::bit_cast<double>(bits);
    }
    if (!info->isSigned)
        return static_cast<double>(bits);
    // Two's complement: sign-extend from the type's width.
    const int shift = 64 - 8 * info->bytes;
    return static_cast<double>(static_cast<std::int64_t>(bits << shift) >> shift);
}

// Whether the float voxel at p has a signalling-NaN pattern (exponent all
// ones, quiet bit clear, fraction not zero); false for integer types.
inline bool isSignallingNaN(const std::uint8_t* p, TVoxelDataType type, bool bigEndian)
{
    const VoxelTypeInfo* info = voxelTypeInfo(type);
    if (!info || !info->isFloat)
        return false;
    const std::uint64_t bits = loadVoxelBits(p, info->bytes, bigEndian);
    if (info->bytes == 4)
        return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x00400000u) == 0 && (bits & 0x003FFFFFu) != 0;
    constexpr std::uint64_t Exponent = 0x7FF0000000000000u;
    constexpr std::uint64_t Quiet = 0x0008000000000000u;
    constexpr std::uint64_t Payload = 0x0007FFFFFFFFFFFFu;
    return (bits & Exponent) == Exponent && (bits & Quiet) == 0 && (bits & Payload) != 0;
}

// Calls visit(std::integral_constant<TVoxelDataType, T>{}) with T the value
// of type, so that code written once as a generic lambda is built for every
// voxel type with the type known at compile time; returns what visit
// returns. A type outside 0..7 calls outside() instead. The switch has no
// default: a type added to the enumeration but not here fails to compile.
template<typename Visit, typename Outside>
constexpr decltype(auto) withVoxelType(TVoxelDataType type, Visit&& visit, Outside&& outside)
{
    static_assert(VoxelTypeCount == 8, "withVoxelType lists every voxel type");
    switch (type) {
    case vdtByte: return visit(std::integral_constant<TVoxelDataType, vdtByte>{});
    case vdtInt16: return visit(std::integral_constant<TVoxelDataType, vdtInt16>{});
    case vdtInt32: return visit(std::integral_constant<TVoxelDataType, vdtInt32>{});
    case vdtFloat32: return visit(std::integral_constant<TVoxelDataType, vdtFloat32>{});
    case vdtUInt16: return visit(std::integral_constant<TVoxelDataType, vdtUInt16>{});
    case vdtInt8: return visit(std::integral_constant<TVoxelDataType, vdtInt8>{});
    case vdtUInt32: return visit(std::integral_constant<TVoxelDataType, vdtUInt32>{});
    case vdtFloat64: return visit(std::integral_constant<TVoxelDataType, vdtFloat64>{});
    }
    return outside();
}
