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

std::string unshowableLayoutReason(const VolumeLayout& layout)
{
    static constexpr std::array<const char*, 3> Axes{"voxels per row", "rows per slice", "slices per volume"};
    for (std::size_t i = 0; i < layout.dims.size(); ++i) {
        const std::int64_t size = layout.dims[i];
        if (size < 1)
            return std::to_string(size) + " " + Axes[i] + ", fewer than 1";
        if (size > MaxShownDim)
            return std::to_string(size) + " " + Axes[i] + ", more than the " + std::to_string(MaxShownDim)
                + " Kelvox can show";
    }
    return {};
}
