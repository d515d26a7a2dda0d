#pragma once

#include "layout/VolumeLayout.h"

#include <array>
#include <cstdint>

// A layout in one expression.
inline VolumeLayout layoutOf(std::array<std::int64_t, 3> dims, TVoxelDataType type, TByteOrder order,
                             std::int64_t header = 0, std::int64_t volumes = 1)
{
    VolumeLayout l;
    l.dims = dims;
    l.dataType = type;
    l.byteOrder = order;
    l.headerBytes = header;
    l.volumes = volumes;
    return l;
}
