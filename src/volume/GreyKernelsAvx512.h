#pragma once

#include "volume/GreyKernels.h"

#include <cstddef>
#include <cstdint>

// The AVX-512 loops behind GreyKernels' pixel functions: 64 voxels a step,
// their grey levels taken sixteen at a time in single precision where that
// is the pixel rule, and spread to 192 bytes of pixels by three byte
// permutes. GreyKernels calls them only where the processor has them and
// under the windows each one states.
namespace GreyKernels::Avx512
{

// Whether the processor and the system give AVX-512 F, BW, DQ, VL and VBMI.
bool available();

// Bytes through the window's 256 grey levels (table[v], by the rule).
void pixelsFromTable8(const std::uint8_t* src, std::size_t n, const std::uint8_t* table, std::uint8_t* dst,
                      std::uint8_t* mn, std::uint8_t* mx);

// Int-16 and UInt-16 under a window where v - lo is exact in a float for
// every value of the type (directInt16 / directUInt16).
void pixelsFromInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int16_t* mn, std::int16_t* mx);
void pixelsFromUInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                      std::uint16_t* mn, std::uint16_t* mx);

// Int-32 and Float-32 under a window directSingle takes.
void pixelsFromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                     std::int32_t* mn, std::int32_t* mx);
void pixelsFromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn, float* mx);

// Float-64 under any window.
void pixelsFromFloat64(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* dst,
                       float* mn, float* mx);

// As GreyKernels::firstFloatZero.
std::size_t firstFloatZero(const std::uint8_t* src, std::size_t n, int bytes, bool bigEndian);

} // namespace GreyKernels::Avx512
