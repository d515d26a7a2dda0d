#include "layout/VolumeLayout.h"

std::int64_t layoutDataBytes(const VolumeLayout& layout)
{
    std::int64_t total = bytesPerVoxelOf(layout.dataType);
    const std::array<std::int64_t, 4> factors{layout.dims[0], layout.dims[1], layout.dims[2], layout.volumes};
    for (const std::int64_t f : factors) {
        if (f < 1 || __builtin_mul_overflow(total, f, &total))
            return -1;
    }
    return total;
}
