#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewZoom.h"

#include "support/ReadObservers.h"
#include "support/TempDir.h"
#include "support/VectorImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

namespace
{

// 37 x 29 x 11 voxels of random bytes with some NaN-like patterns, cut off
// in the middle of slice 7 so that views at any step meet the file's end.
struct ZoomCase
{
    TVoxelDataType type;
    TViewKind view;
    std::int32_t sliceOrRow;
    std::int32_t step;
};

class ZoomOutRender : public ::testing::TestWithParam<ZoomCase>
{
protected:
    static constexpr std::array<std::int32_t, 3> dims{37, 29, 11};

    void SetUp() override
    {
        const ZoomCase& c = GetParam();
        const std::size_t bytes = static_cast<std::size_t>(bytesPerVoxelOf(c.type)) * 37 * 29 * 7 + 37 * 5 + 3;
        std::vector<std::uint8_t> data(bytes);
        std::mt19937 random(7);
        for (std::uint8_t& b : data)
            b = static_cast<std::uint8_t>(random() % 97);
        path = dir.write("data.raw", data);
        for (TKelvoxDataMgr* m : {&full, &zoomed}) {
            m->OpenFile(path);
            m->SetParams(dims[0], dims[1], dims[2], c.type, boLittleEndian, 3, 80);
        }
    }

    TempDir dir;
    std::string path;
    TKelvoxDataMgr full;
    TKelvoxDataMgr zoomed;
};

TEST_P(ZoomOutRender, ShowsEveryKthVoxelOfTheFullRenderAndItsRange)
{
    const ZoomCase& c = GetParam();
    const std::int32_t k = c.step;
    VectorImage fullImage, zoomedImage;
    full.RenderView(0, c.sliceOrRow, c.view, fullImage);
    zoomed.RenderView(0, c.sliceOrRow, c.view, zoomedImage, k);

    ASSERT_EQ(zoomedImage.width, (fullImage.width + k - 1) / k);
    ASSERT_EQ(zoomedImage.height, (fullImage.height + k - 1) / k);
    EXPECT_EQ(zoomed.LastRenderStep(c.view), k);
    float lo = 2147483648.0f, hi = -2147483648.0f;
    for (int y = 0; y < zoomedImage.height; ++y) {
        for (int x = 0; x < zoomedImage.width; ++x) {
            ASSERT_EQ(zoomedImage.at(x, y), fullImage.at(x * k, y * k)) << x << "," << y;
            const double value = full.ViewValue(c.view, x * k, y * k);
            const double shown = zoomed.ViewValue(c.view, x * k, y * k);
            ASSERT_TRUE(value == shown || (std::isnan(value) && std::isnan(shown)));
            if (!std::isnan(value)) {
                lo = std::min(lo, static_cast<float>(value));
                hi = std::max(hi, static_cast<float>(value));
            }
            // Voxels between the grid's were not read.
            if (x * k + 1 < fullImage.width && k > 1) {
                ASSERT_EQ(zoomed.ViewValue(c.view, x * k + 1, y * k), 0.0);
            }
        }
    }
    if (c.view == vkSlice) {
        EXPECT_EQ(zoomed.ObservedMin, lo);
        EXPECT_EQ(zoomed.ObservedMax, hi);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TypesViewsSteps, ZoomOutRender,
    ::testing::Values(ZoomCase{vdtByte, vkSlice, 3, 2}, ZoomCase{vdtByte, vkSlice, 6, 5},
                      ZoomCase{vdtInt16, vkSlice, 6, 3}, ZoomCase{vdtInt16, vkCrossSlice, 4, 3},
                      ZoomCase{vdtFloat32, vkSlice, 2, 4}, ZoomCase{vdtFloat32, vkCrossSlice, 28, 2},
                      ZoomCase{vdtFloat32, vkSlice, 6, 7}, ZoomCase{vdtInt32, vkOtherVolume, 6, 2},
                      ZoomCase{vdtUInt16, vkSlice, 1, 64}, ZoomCase{vdtFloat64, vkSlice, 3, 3},
                      ZoomCase{vdtFloat64, vkCrossSlice, 10, 4}, ZoomCase{vdtByte, vkSlice, -1, 2}));

TEST(ZoomOutReads, OneReadPerShownRowOfAboutAKthOfTheBytes)
{
    TempDir dir;
    const std::string path = dir.write("big.raw", std::vector<std::uint8_t>(4 * 400 * 300 * 3, 9));
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(400, 300, 3, vdtFloat32, boLittleEndian, 0, 1);
    for (const std::int32_t k : {1, 4, 16}) {
        CountingReads counted;
        VectorImage image;
        mgr.RenderView(0, 1, vkSlice, image, k);
        const std::int64_t rows = (300 + k - 1) / k;
        const std::int64_t rowBytes = ((400 + k - 1) / k - 1) * k * 4 + 4;
        // At 1:1 the slice comes in cache-sized pieces.
        const std::int64_t pieces = (400 * 300 * 4 + ReadPieceBytes - 1) / ReadPieceBytes;
        EXPECT_EQ(counted.reads, k == 1 ? pieces : rows) << k;
        EXPECT_EQ(counted.bytes, k == 1 ? 400 * 300 * 4 : rows * rowBytes) << k;
        EXPECT_LE(counted.bytes, 400 * 300 * 4 / k + rowBytes) << k;

        CountingReads crossCounted;
        mgr.RenderView(0, 5, vkCrossSlice, image, k);
        EXPECT_EQ(crossCounted.reads, (3 + k - 1) / k) << k;
    }
}

TEST(ZoomOutReads, ASupersededRenderReadsNoFurtherAndShowsNothing)
{
    TempDir dir;
    const std::string path = dir.write("s.raw", std::vector<std::uint8_t>(64 * 64, 5));
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(64, 64, 1, vdtByte, boLittleEndian, 0, 10);
    CountingReads counted;
    int asked = 0;
    mgr.Superseded = [&] { return ++asked > 3; };
    VectorImage image;
    EXPECT_THROW(mgr.RenderView(0, 0, vkSlice, image, 2), RenderSuperseded);
    EXPECT_EQ(counted.reads, 3);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 0.0);
    mgr.Superseded = nullptr;
    mgr.RenderView(0, 0, vkSlice, image, 2);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 5.0);
}

TEST(ViewZoom, StepsPixelsAndVoxelsUnderThePointer)
{
    // zoom, zoomedIn, zoomedOut, pixels for 10 voxels, voxel under pixel 7
    const std::vector<std::tuple<TViewZoom, TViewZoom, TViewZoom, std::int64_t, std::int64_t>> table{
        {{1, 1}, {2, 1}, {1, 2}, 10, 7},     {{1, 64}, {1, 32}, {1, 64}, 1, 448},
        {{8, 1}, {8, 1}, {6, 1}, 80, 0},      {{3, 1}, {4, 1}, {2, 1}, 30, 2},
        {{1, 5}, {1, 4}, {1, 8}, 2, 35},      {{1, 100}, {1, 64}, {1, 100}, 1, 700},
        {{6, 1}, {8, 1}, {4, 1}, 60, 1},
    };
    for (const auto& [zoom, in, out, pixels, voxel] : table) {
        EXPECT_EQ(zoomedIn(zoom), in) << zoomText(zoom);
        EXPECT_EQ(zoomedOut(zoom), out) << zoomText(zoom);
        EXPECT_EQ(zoom.pixelsFor(10), pixels) << zoomText(zoom);
        EXPECT_EQ(zoom.voxelAt(7), voxel) << zoomText(zoom);
        EXPECT_EQ(parseZoom(zoomText(zoom)), zoom);
    }
    for (const char* bad : {"", "2:2", "0:1", "1:0", "1:", ":4", "1:4x", "fit", "-1:1", "1:1:1"})
        EXPECT_FALSE(parseZoom(bad)) << bad;
}

TEST(ViewZoom, MagnifiedRowRepeatsEachPixelFromAnyColumn)
{
    const std::vector<std::uint8_t> src{1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (const std::int32_t n : {1, 3}) {
        for (std::int64_t x0 = 0; x0 < 3 * n; ++x0) {
            const std::size_t count = static_cast<std::size_t>(3 * n - x0);
            std::vector<std::uint8_t> dst(3 * count);
            magnifyRow24(src.data(), n, x0, count, dst.data());
            for (std::size_t i = 0; i < count; ++i)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(dst[3 * i + c], src[3 * ((x0 + static_cast<std::int64_t>(i)) / n) + c]);
        }
    }
}

} // namespace
