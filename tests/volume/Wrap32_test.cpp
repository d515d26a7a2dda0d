#include "volume/Wrap32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace
{

constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();

struct WrapCase
{
    std::int32_t a;
    std::int32_t b;
    std::int32_t sum;
    std::int32_t product;
};

class Wrap32Table : public ::testing::TestWithParam<WrapCase>
{
};

TEST_P(Wrap32Table, AddsAndMultipliesModulo2To32)
{
    const WrapCase& c = GetParam();
    EXPECT_EQ(Wrap32::add(c.a, c.b), c.sum);
    EXPECT_EQ(Wrap32::mul(c.a, c.b), c.product);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Wrap32Table,
                         ::testing::Values(WrapCase{0, 0, 0, 0}, WrapCase{2, 3, 5, 6},
                                           WrapCase{Max, 1, Min, Max},
                                           WrapCase{Min, -1, Max, Min}, // -Min does not fit: it wraps to Min
                                           WrapCase{65536, 65536, 131072, 0},
                                           WrapCase{65536, 32768, 98304, Min},
                                           WrapCase{1073741824, 3, 1073741827, -1073741824},
                                           WrapCase{-7, 5, -2, -35}, WrapCase{Max, Max, -2, 1}));

TEST(Wrap32, IsUsableInConstantExpressions)
{
    static_assert(Wrap32::add(Max, 1) == Min);
    static_assert(Wrap32::mul(4, 1073741824) == 0);
    static_assert(Wrap32::fromBits(0xFFFFFFFFu) == -1);
}

} // namespace
