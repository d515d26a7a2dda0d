#include "volume/ViewPlace.h"

#include "volume/Wrap32.h"

#include <algorithm>

ViewSource viewSource(TViewKind view, const ShownPosition& at)
{
    switch (view) {
    case vkSlice: return {0, at.slice};
    case vkNextSlice: return {0, Wrap32::add(at.slice, 1)};
    case vkCrossSlice: return {0, at.crossSliceY};
    case vkOtherVolume: return {at.volume, at.slice};
    }
    return {0, at.slice};
}

std::array<std::int64_t, 2> viewVoxels(TViewKind view, const std::array<std::int32_t, 3>& dims)
{
    return {std::max<std::int32_t>(dims[0], 0), std::max<std::int32_t>(view == vkCrossSlice ? dims[2] : dims[1], 0)};
}

std::array<std::int32_t, 4> viewVoxelIndices(TViewKind view, const ShownPosition& at, std::int32_t x, std::int32_t y)
{
    const ViewSource source = viewSource(view, at);
    // The cross-slice view's rows are slices; its row index is the one chosen.
    if (view == vkCrossSlice)
        return {x, source.sliceOrRow, y, source.volume};
    return {x, y, source.sliceOrRow, source.volume};
}
