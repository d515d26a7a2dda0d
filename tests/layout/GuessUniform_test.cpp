// Bytes of one value throughout: the simplest reading, as nothing can be
// measured.

#include "layout/GuessUniform.h"
#include "layout/LayoutGuess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

using namespace GuessDetail;

// count copies of the pattern's bytes.
std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t>& pattern, std::size_t count)
{
    std::vector<std::uint8_t> b;
    for (std::size_t k = 0; k < count; ++k)
        b.insert(b.end(), pattern.begin(), pattern.end());
    return b;
}

TEST(GuessUniform, FindsPeriodsSlicesAndRoundness)
{
    std::array<std::uint8_t, 8> pattern{};
    EXPECT_EQ(repeatPeriod(repeated({7}, 64), 0, pattern), 1);
    EXPECT_EQ(repeatPeriod(repeated({1, 2, 3, 4}, 16), 0, pattern), 4);
    // Counted from an odd offset, the pattern is the one at offsets of four.
    EXPECT_EQ(repeatPeriod(repeated({1, 2, 3, 4}, 16), 3, pattern), 4);
    EXPECT_EQ((std::vector<std::uint8_t>(pattern.begin(), pattern.begin() + 4)), (std::vector<std::uint8_t>{2, 3, 4, 1}));
    std::vector<std::uint8_t> varied = repeated({1, 2}, 32);
    varied[40] = 9;
    EXPECT_EQ(repeatPeriod(varied, 0, pattern), 0);

    const struct
    {
        std::int64_t voxels;
        std::array<std::int64_t, 2> slice;
    } slices[] = {{802816, {896, 896}}, {12, {4, 3}}, {2 * 3 * 5 * 7, {15, 14}}, {13, {0, 0}}, {3, {0, 0}}};
    for (const auto& c : slices)
        EXPECT_EQ(squarestSlice(c.voxels), c.slice) << c.voxels;

    const struct
    {
        double value;
        bool single;
        int digits;
    } values[] = {{0.0, false, 0},    {3e9, false, 1},     {-1294967296.0, false, 10}, {0.1, false, 1},
                  {1000.0, false, 1}, {0.3F, true, 1},     {0.3F, false, 17},          {1234.5, false, 5}};
    for (const auto& c : values)
        EXPECT_EQ(significantDigits(c.value, c.single), c.digits) << c.value;
}

// 3e9 in UInt-32 little-endian bytes fills the file: the UInt-32 reading is
// the roundest, with no header and a square slice; a file whose bytes
// differ gets no uniform reading.
TEST(GuessUniform, ReadsAFileOfOneValueAsItsRoundestReading)
{
    const std::uint32_t value = 3000000000U;
    std::vector<std::uint8_t> pattern(4);
    std::memcpy(pattern.data(), &value, 4);
    const std::vector<std::uint8_t> file = repeated(pattern, 60 * 60);
    const MemoryLayoutSource source(file.data(), file.size());
    Sampler sampler(source);
    const std::vector<UniformReading> readings = uniformReadings(sampler, 4);
    ASSERT_FALSE(readings.empty());
    EXPECT_EQ(readings.front().decoding.type, vdtUInt32);
    EXPECT_EQ(readings.front().decoding.order, boLittleEndian);
    EXPECT_EQ(readings.front().slice, (std::array<std::int64_t, 2>{60, 60}));
    for (const UniformReading& r : readings)
        EXPECT_EQ(r.decoding.width % 4, 0) << "a voxel narrower than the bytes' period reads two values";

    const std::vector<LayoutCandidate> guesses = guessLayout(source, "data.bin", 3);
    ASSERT_FALSE(guesses.empty());
    EXPECT_EQ(guesses.front().layout.dataType, vdtUInt32);
    EXPECT_EQ(guesses.front().layout.headerBytes, 0);
    EXPECT_EQ(guesses.front().layout.dims, (std::array<std::int64_t, 3>{60, 60, 1}));

    std::vector<std::uint8_t> varied = file;
    varied[5000] ^= 0x55;
    const MemoryLayoutSource other(varied.data(), varied.size());
    Sampler otherSampler(other);
    EXPECT_TRUE(uniformReadings(otherSampler, 4).empty());
}

} // namespace
