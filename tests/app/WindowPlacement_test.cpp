#include "app/WindowPlacement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PlacementCase
{
    QRect mainFrame;
    QSize own;
    QPoint expected;
};

class CentredTopLeft : public ::testing::TestWithParam<PlacementCase>
{
};

} // namespace

TEST_P(CentredTopLeft, HalvesTruncateTowardZero)
{
    EXPECT_EQ(centredTopLeft(GetParam().mainFrame, GetParam().own), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CentredTopLeft,
    ::testing::Values(PlacementCase{{100, 100, 1178, 541}, {306, 178}, {536, 281}},
                      PlacementCase{{100, 100, 1178, 541}, {560, 523}, {409, 109}},
                      PlacementCase{{0, 0, 101, 101}, {100, 100}, {0, 0}},
                      // Larger than the main window: -37 div 2 is -18.
                      PlacementCase{{0, 0, 100, 100}, {137, 137}, {-18, -18}},
                      PlacementCase{{-50, -20, 100, 100}, {100, 100}, {-50, -20}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });
