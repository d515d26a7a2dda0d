#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The zoom the four views share. n:1 (in = n) repeats each voxel's pixel
// n x n; 1:k (out = k) shows the voxels whose column and row (in the
// cross-slice view: slice) are multiples of k, nearest, never averaged.
// At most one of in and out is above 1; 1:1 shows one pixel per voxel.
struct TViewZoom
{
    std::int32_t in = 1;
    std::int32_t out = 1;

    bool operator==(const TViewZoom&) const = default;

    // Pixels on screen along an axis of `voxels` voxels (0 for none or fewer).
    std::int64_t pixelsFor(std::int64_t voxels) const
    {
        if (voxels <= 0)
            return 0;
        return in > 1 ? voxels * in : (voxels + out - 1) / out;
    }

    // The voxel whose pixel lies at pixel (0 and on): floor(pixel * out / in).
    std::int64_t voxelAt(std::int64_t pixel) const
    {
        return in > 1 ? pixel / in : pixel * out;
    }
};

// The steps Zoom In and Zoom Out walk, from the farthest out to the nearest.
inline constexpr std::array<TViewZoom, 12> ZoomSteps{{
    {1, 64}, {1, 32}, {1, 16}, {1, 8}, {1, 4}, {1, 2}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {6, 1}, {8, 1},
}};

// The next step nearer than zoom (zoom itself at 8:1). A zoom between steps,
// such as Fit's 1:5, goes to the nearest step beyond it.
TViewZoom zoomedIn(TViewZoom zoom);
// The next step farther out than zoom (zoom itself at 1:64 and beyond).
TViewZoom zoomedOut(TViewZoom zoom);

// "n:1" or "1:k" with whole numbers from 1 to 1000000; nothing for any other
// text.
std::optional<TViewZoom> parseZoom(std::string_view text);
// "n:1", "1:k" or "1:1".
std::string zoomText(TViewZoom zoom);

// Columns x0 .. x0 + count - 1 of a row of 24-bit pixels magnified `in`
// times (each source pixel repeated in times) into dst, 3 * count bytes.
void magnifyRow24(const std::uint8_t* src, std::int32_t in, std::int64_t x0, std::size_t count, std::uint8_t* dst);
