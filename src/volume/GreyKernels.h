#pragma once

#include <cstddef>
#include <cstdint>

// The renderer's inner loops over one run of voxels: raw file bytes in,
// grey levels (0..255) out. Kept apart so that each can be compiled for the
// wider vector units the processor offers, chosen once at load time.
namespace GreyKernels
{

// The intensity window as the pixel rule uses it: t = (v - lo) * scale in
// double precision, lo and scale being exactly the window's 32-bit floats.
struct Window
{
    double lo;
    double scale;
};

// Integer voxels never overflow the scaled range (|v - lo| <= 2^33,
// |scale| <= 255), so they are always grey.
void fromTable8(const std::uint8_t* src, std::size_t n, const std::uint8_t* table, std::uint8_t* grey);
// table[v - base] is the grey level of int16 value v.
void fromTable16(const std::uint8_t* src, std::size_t n, bool bigEndian, const std::uint8_t* table,
                 std::int32_t base, std::uint8_t* grey);
void fromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey);
// Also sets red[i] to 1 for a NaN or a finite value whose scaled form
// overflows a float, 0 otherwise; returns whether any was red.
bool fromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey,
                 std::uint8_t* red);

// Writes grey level g as the pixel (g, g, g): 3 * n bytes at dst.
void expandGrey(const std::uint8_t* grey, std::size_t n, std::uint8_t* dst);

// Range of int16 / int32 voxels, folded into mn and mx.
void rangeInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int16_t& mn, std::int16_t& mx);
void rangeInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int32_t& mn, std::int32_t& mx);

} // namespace GreyKernels
