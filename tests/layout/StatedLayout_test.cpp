#include "layout/StatedLayout.h"
#include "support/LayoutBuilders.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace
{

// A smooth field with a little noise, offset by base, as type in order.
std::vector<std::uint8_t> field(std::array<std::int64_t, 3> dims, TVoxelDataType type, TByteOrder order, double base,
                                double amplitude, bool nanBorder = false)
{
    const std::int64_t width = bytesPerVoxelOf(type);
    std::vector<std::uint8_t> bytes;
    std::uint32_t noise = 7;
    for (std::int64_t z = 0; z < dims[2]; ++z)
        for (std::int64_t y = 0; y < dims[1]; ++y)
            for (std::int64_t x = 0; x < dims[0]; ++x) {
                noise = noise * 1664525u + 1013904223u;
                double v = base + amplitude * (std::sin(x / 7.0) * std::cos(y / 5.0) + 0.2 * std::sin(z / 3.0)) +
                           amplitude * 0.02 * (static_cast<double>(noise >> 24) / 255.0 - 0.5);
                const bool border = x < 3 || y < 3 || x >= dims[0] - 3 || y >= dims[1] - 3;
                std::uint64_t bits = 0;
                switch (type) {
                case vdtFloat32: {
                    const float f = nanBorder && border ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(v);
                    std::uint32_t b;
                    std::memcpy(&b, &f, 4);
                    bits = b;
                    break;
                }
                case vdtInt16:
                case vdtInt8:
                case vdtInt32:
                    bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(std::lround(v)));
                    break;
                default:
                    bits = static_cast<std::uint64_t>(std::llround(v));
                    break;
                }
                for (std::int64_t i = 0; i < width; ++i) {
                    const std::int64_t shift = 8 * (order == boBigEndian ? width - 1 - i : i);
                    bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
                }
            }
    return bytes;
}

// A name that states the whole layout and fits the size exactly is listed
// first, by the bytes or not; the byte order it leaves out is read from the
// bytes.
TEST(StatedLayout, NameThatFitsExactlyRanksFirst)
{
    std::vector<std::uint8_t> noise(100000);
    std::uint32_t state = 99;
    for (std::uint8_t& b : noise) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    const std::vector<std::uint8_t> counts = field({64, 48, 30}, vdtUInt32, boLittleEndian, 3.0e9, 1.0e8);
    const std::vector<std::uint8_t> bigCounts = field({64, 48, 30}, vdtUInt32, boBigEndian, 3.0e9, 1.0e8);
    const std::vector<std::uint8_t> nanBorder = field({40, 30, 2}, vdtFloat32, boLittleEndian, 0.0, 50.0, true);
    struct Case
    {
        const std::vector<std::uint8_t>* bytes;
        const char* name;
        VolumeLayout want;
    };
    const std::vector<Case> cases{
        {&noise, "noise_100x50x20_u8.raw", layoutOf({100, 50, 20}, vdtByte, boLittleEndian)},
        {&noise, "noise_100x50x10x2_u8.raw", layoutOf({100, 50, 10}, vdtByte, boLittleEndian, 0, 2)},
        {&counts, "scan7_64x48x30_u32.raw", layoutOf({64, 48, 30}, vdtUInt32, boLittleEndian)},
        {&bigCounts, "scan7_64x48x30_u32.raw", layoutOf({64, 48, 30}, vdtUInt32, boBigEndian)},
        {&nanBorder, "map_40x30x2_f32_le.raw", layoutOf({40, 30, 2}, vdtFloat32, boLittleEndian)},
    };
    for (const Case& c : cases) {
        const MemoryLayoutSource source(c.bytes->data(), c.bytes->size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, c.name);
        ASSERT_FALSE(guesses.empty()) << c.name;
        EXPECT_EQ(guesses.front().layout, c.want) << c.name << ": " << guessLine(guesses.front());
        EXPECT_NE(guesses.front().reason.find("name states"), std::string::npos) << guesses.front().reason;
        for (std::size_t i = 1; i < guesses.size(); ++i) {
            EXPECT_NE(guesses[i].layout, c.want) << c.name << " lists the stated layout twice";
            EXPECT_GE(guesses[i - 1].score, guesses[i].score);
        }
    }
}

// Bytes that clearly are not what the name says keep the ranking the bytes
// give; a name that does not fill the file exactly states nothing.
TEST(StatedLayout, BytesThatContradictTheNameAreNotOverruled)
{
    const std::vector<std::uint8_t> shorts = field({32, 32, 8}, vdtInt16, boLittleEndian, 200.0, 900.0);
    const MemoryLayoutSource source(shorts.data(), shorts.size());
    // Int-16 pairs read as Float-32 are tiny denormals.
    EXPECT_TRUE(statedLayoutContradicted(layoutOf({32, 32, 4}, vdtFloat32, boLittleEndian), source));
    EXPECT_FALSE(statedLayout(parseNameHints("a_32x32x4_f32_le.raw"), source));
    // The wrong byte order reads smooth data as noise.
    EXPECT_TRUE(statedLayoutContradicted(layoutOf({32, 32, 8}, vdtInt16, boBigEndian), source));
    EXPECT_FALSE(statedLayoutContradicted(layoutOf({32, 32, 8}, vdtInt16, boLittleEndian), source));
    EXPECT_FALSE(statedLayout(parseNameHints("a_32x32x8_i16_be.raw"), source));
    // One slice short of the size, or no type: nothing stated.
    EXPECT_FALSE(statedLayout(parseNameHints("a_32x32x7_i16_le.raw"), source));
    EXPECT_FALSE(statedLayout(parseNameHints("a_32x32x8.raw"), source));

    // Unchanged ranking without a stated layout; a stated one found by the
    // bytes moves first and is not listed twice, within maxCandidates.
    std::vector<LayoutCandidate> ranked(4);
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        ranked[i].layout = layoutOf({32, 32 >> i, 8 << i}, vdtInt16, boLittleEndian);
        ranked[i].score = 0.9 - 0.1 * static_cast<double>(i);
        ranked[i].reason = "bytes";
    }
    const auto same = heedStatedLayout(ranked, parseNameHints("a_32x32x7_i16_le.raw"), source, 8, GuessSampleLimit);
    ASSERT_EQ(same.size(), ranked.size());
    for (std::size_t i = 0; i < same.size(); ++i)
        EXPECT_EQ(same[i].layout, ranked[i].layout);
    const auto heard = heedStatedLayout(ranked, parseNameHints("a_32x8x32_i16_le.raw"), source, 3, GuessSampleLimit);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].layout, ranked[2].layout);
    EXPECT_DOUBLE_EQ(heard[0].score, 0.9);
    EXPECT_EQ(heard[1].layout, ranked[0].layout);
    EXPECT_EQ(heard[2].layout, ranked[1].layout);
}

// Hearing the name stays within the guess's byte budget: a 10 GB file whose
// name states it is listed first with no more than GuessSampleLimit bytes
// read in all, and with no budget left not a byte is read and the name alone
// decides.
TEST(StatedLayout, StaysWithinTheByteBudget)
{
    constexpr std::int64_t Size = std::int64_t{10} * 1000 * 1000 * 1000;
    const std::vector<std::uint8_t> counts = field({4096, 16, 1}, vdtUInt16, boLittleEndian, 900.0, 300.0);
    const TempDir dir;
    const std::string path = dir.sparse("scan.raw", Size, counts, {0, Size / 3, Size - 131072});
    std::vector<LayoutCandidate> guesses;
    std::int64_t read = 0;
    {
        const FileLayoutSource file(path);
        const CountingLayoutSource counting(file);
        guesses = guessLayout(counting, "scan_10000x10000x50_u16_le.raw");
        read = counting.bytesRead();
    }
    EXPECT_LE(read, GuessSampleLimit);
    ASSERT_FALSE(guesses.empty());
    EXPECT_EQ(guesses.front().layout, layoutOf({10000, 10000, 50}, vdtUInt16, boLittleEndian));

    const std::vector<std::uint8_t> shorts = field({32, 32, 8}, vdtInt16, boBigEndian, 200.0, 900.0);
    const MemoryLayoutSource memory(shorts.data(), shorts.size());
    const CountingLayoutSource counting(memory);
    const auto heard = heedStatedLayout({}, parseNameHints("a_32x32x8_i16.raw"), counting, 8, 0);
    EXPECT_EQ(counting.bytesRead(), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard.front().layout, layoutOf({32, 32, 8}, vdtInt16, boLittleEndian));
}

} // namespace
