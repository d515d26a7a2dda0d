#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewPlace.h"

#include "support/TempDir.h"
#include "support/VectorImage.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{

// Every view at a position shows, at each of its pixels, the voxel whose
// indices the readout names: the read rule and the index rule agree. Each
// UInt-16 voxel of a 5 x 4 x 3 volume pair holds its own voxel number.
TEST(ViewPlace, EachPixelIsTheVoxelItsIndicesName)
{
    constexpr std::array<std::int32_t, 3> dims{5, 4, 3};
    std::vector<std::uint8_t> bytes;
    for (int v = 0; v < 2 * 5 * 4 * 3; ++v)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(v), 0});
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("pair.raw", bytes));
    mgr.SetParams(dims[0], dims[1], dims[2], vdtUInt16, boLittleEndian, 0, 120);
    const ShownPosition at{1, 2, 1};
    for (const TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
        VectorImage image;
        mgr.RenderView(view, at, image);
        const auto [width, height] = viewVoxels(view, dims);
        ASSERT_EQ(image.width, width) << int(view);
        ASSERT_EQ(image.height, height) << int(view);
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                const auto [i0, i1, i2, i3] = viewVoxelIndices(view, at, x, y);
                EXPECT_EQ(mgr.ViewValue(view, x, y), static_cast<double>(mgr.VoxelOffset(i0, i1, i2, i3)))
                    << "view " << int(view) << " at " << x << "," << y;
            }
        }
    }
}

TEST(ViewPlace, SizesAndTheNextSliceOfTheLastOne)
{
    EXPECT_EQ(viewVoxels(vkCrossSlice, {7, 5, 3}), (std::array<std::int64_t, 2>{7, 3}));
    EXPECT_EQ(viewVoxels(vkOtherVolume, {7, -5, 3}), (std::array<std::int64_t, 2>{7, 0}));
    const ShownPosition last{std::numeric_limits<std::int32_t>::max(), 0, 0};
    EXPECT_EQ(viewSource(vkNextSlice, last).sliceOrRow, std::numeric_limits<std::int32_t>::min());
}

} // namespace
