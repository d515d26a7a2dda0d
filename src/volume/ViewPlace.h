#pragma once

#include <array>
#include <cstdint>

// The four views, numbered as the view buffers are.
enum TViewKind : std::uint8_t
{
    vkSlice = 0, // the selected slice
    vkNextSlice = 1, // the slice after it
    vkCrossSlice = 2, // one row index taken from every slice
    vkOtherVolume = 3 // the selected slice in another volume
};

// Where the window stands: the selected slice, the row every slice lends the
// cross-slice view, and the other volume.
struct ShownPosition
{
    std::int32_t slice = 0;
    std::int32_t crossSliceY = 0;
    std::int32_t volume = 0;
};

// What a view reads: for the slice views slice sliceOrRow of volume
// `volume`, for the cross-slice view row sliceOrRow of every slice of it.
struct ViewSource
{
    std::int32_t volume = 0;
    std::int32_t sliceOrRow = 0;
};

// The one statement of what each view shows. The slice view reads the
// selected slice of volume 0, the next-slice view the slice after it (slice
// 2^31 - 1 wraps, as every index sum does), the cross-slice view the chosen
// row of every slice of volume 0, the other-volume view the selected slice of
// the other volume.
ViewSource viewSource(TViewKind view, const ShownPosition& at);

// Voxels along a view's columns and rows under dims: voxels per row by rows
// per slice, for the cross-slice view (one row per slice) by slices per
// volume. A negative dimension counts as 0.
std::array<std::int64_t, 2> viewVoxels(TViewKind view, const std::array<std::int32_t, 3>& dims);

// The volume indices (column, row, slice, volume) of the voxel at column x,
// row y of a view shown at position at.
std::array<std::int32_t, 4> viewVoxelIndices(TViewKind view, const ShownPosition& at, std::int32_t x,
                                             std::int32_t y);
