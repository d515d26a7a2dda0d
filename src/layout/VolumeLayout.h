#pragma once

#include "volume/VoxelType.h"

#include <array>
#include <cstdint>
#include <string>

// A complete statement of how a file holds its voxels: what the window's
// top strip asks for, plus the number of whole volumes. Shared by the layout
// guesser and the layout files.
struct VolumeLayout
{
    // Voxels per row, rows per slice, slices per volume (each >= 1 in a
    // usable layout).
    std::array<std::int64_t, 3> dims{0, 0, 0};
    // Whole volumes the file holds (>= 1).
    std::int64_t volumes = 1;
    TVoxelDataType dataType = vdtByte;
    TByteOrder byteOrder = boLittleEndian;
    // Bytes before the first voxel, 0 .. 2^63 - 1.
    std::int64_t headerBytes = 0;

    friend bool operator==(const VolumeLayout&, const VolumeLayout&) = default;
};

// Bytes of all voxels of the layout (dims x volumes x bytes per voxel), or -1
// when a dimension is below 1 or the product does not fit a signed 64-bit
// number.
std::int64_t layoutDataBytes(const VolumeLayout& layout);

// The most voxels per row, rows per slice and slices per volume the window's
// edits take, so the most any view, thumbnail or render shows along an axis.
inline constexpr std::int64_t MaxShownDim = 10000;

// Why the layout cannot be shown as it stands ("12000 voxels per row, more
// than the 10000 Kelvox can show"), or an empty text when every dimension
// lies within 1..MaxShownDim. The one rule for the window, the guess dialog
// and kelvox-render: a layout that fails it is never shown cut.
std::string unshowableLayoutReason(const VolumeLayout& layout);
