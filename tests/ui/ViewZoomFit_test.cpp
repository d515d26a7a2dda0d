#include "ui/ViewZoomFit.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

using Dims = std::array<std::int32_t, 3>;

TEST(FitZoom, PicksTheNearestZoomAtWhichTheFourViewsFit)
{
    // dims, area width, area height, zoom
    const std::vector<std::tuple<Dims, int, int, TViewZoom>> table{
        {{256, 256, 256}, 1170, 387, {1, 2}},     // 1:1 is 1180 wide
        {{256, 256, 256}, 1180, 394, {1, 1}},     // exactly as wide and high as 1:1 needs
        {{33, 41, 25}, 1170, 387, {6, 1}},        // 8:1 is 1212 wide
        {{33, 41, 25}, 2000, 2000, {8, 1}},       // no step beyond 8:1
        {{10000, 10000, 4}, 1170, 387, {1, 40}},  // any whole k, not only the steps
        {{10000, 10000, 4}, 100, 100, {1, 65}},   // nothing fits: the panels' least size
        {{0, 0, 0}, 100, 100, {1, 1}},
    };
    for (const auto& [dims, width, height, expected] : table) {
        const TViewZoom zoom = fitZoom(dims, width, height, ViewPanelTop);
        EXPECT_EQ(zoom, expected) << dims[0] << "x" << dims[1] << " in " << width << "x" << height << ": "
                                  << zoomText(zoom);
    }
}

TEST(FitZoom, TheFitFitsAndTheNextNearerZoomDoesNot)
{
    for (const Dims dims : {Dims{2048, 2048, 2060}, Dims{512, 300, 90}, Dims{64, 64, 2000}}) {
        for (const int width : {1000, 1600, 2500}) {
            const TViewZoom zoom = fitZoom(dims, width, 700, ViewPanelTop);
            const auto [w, h] = viewsExtent(dims, zoom, ViewPanelTop);
            EXPECT_LE(w, width);
            EXPECT_LE(h, 700);
            const TViewZoom nearer = zoom.in > 1 ? zoomedIn(zoom) : TViewZoom{1, zoom.out - 1};
            if (nearer != zoom && zoom.out > 1) {
                const auto [nw, nh] = viewsExtent(dims, nearer, ViewPanelTop);
                EXPECT_TRUE(nw > width || nh > 700) << zoomText(zoom);
            }
        }
    }
}

} // namespace
