// Each step of the layout guess on its own, on a small generated file that
// shows one thing plainly.

#include "layout/GuessDataStart.h"
#include "layout/GuessDecodings.h"
#include "layout/GuessPeriods.h"
#include "layout/GuessRowLengths.h"
#include "layout/GuessSampler.h"
#include "layout/GuessScore.h"
#include "layout/GuessVolumes.h"

#include "LayoutPhantom.h"
#include "support/LayoutBuilders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace
{

using namespace GuessDetail;

// The phantom's voxels of layout between the bytes before and after them.
std::vector<std::uint8_t> voxelsBetween(std::vector<std::uint8_t> before, const VolumeLayout& layout,
                                        const std::vector<std::uint8_t>& after = {})
{
    phantom::Spec spec;
    spec.layout = layout;
    const std::vector<std::uint8_t> voxels = phantom::make(spec);
    before.insert(before.end(), voxels.begin(), voxels.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

// A file in memory and the guesser's sample of it.
struct Sampled
{
    explicit Sampled(std::vector<std::uint8_t> file) : bytes(std::move(file))
    {
        source = std::make_unique<MemoryLayoutSource>(bytes.data(), bytes.size());
        sampler = std::make_unique<Sampler>(*source);
    }
    explicit Sampled(const VolumeLayout& layout) : Sampled(voxelsBetween({}, layout)) {}
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<MemoryLayoutSource> source;
    std::unique_ptr<Sampler> sampler;
};

Decoding decodingOf(TVoxelDataType type, TByteOrder order, int phase)
{
    Decoding d;
    d.type = type;
    d.order = order;
    d.width = voxelTypeInfo(type)->bytes;
    d.phase = phase;
    return d;
}

// A file of size bytes of a pattern that tells every offset from its
// neighbours, made as it is read.
class PatternSource final : public LayoutSource
{
public:
    explicit PatternSource(std::int64_t size) : m_size(size) {}
    static std::uint8_t byteAt(std::int64_t at) { return static_cast<std::uint8_t>(at * 7 + at / 251); }
    std::int64_t size() const override { return m_size; }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override
    {
        const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(m_size - offset, 0, static_cast<std::int64_t>(count)));
        for (std::size_t i = 0; i < n; ++i)
            dest[i] = byteAt(offset + static_cast<std::int64_t>(i));
        return n;
    }

private:
    std::int64_t m_size;
};

// bytes are the count bytes of a PatternSource at from.
bool arePatternAt(std::span<const std::uint8_t> bytes, std::int64_t from, std::int64_t count)
{
    if (static_cast<std::int64_t>(bytes.size()) != count)
        return false;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != PatternSource::byteAt(from + static_cast<std::int64_t>(i)))
            return false;
    return true;
}

// The sampler's ends of a file kept whole and of one read in blocks, asked
// for more and then for fewer bytes; once the budget is spent, fewer of the
// first bytes and none of the last (bytes short of the end are no tail).
TEST(GuessSteps, SamplerGivesTheEndsOfTheFile)
{
    for (const std::int64_t size : {std::int64_t{5000}, WholeFileLimit + 3 * EdgeBytes + 5}) {
        const PatternSource source(size);
        Sampler sampler(source);
        for (const std::int64_t count : {std::int64_t{100}, EdgeBytes + 1, std::int64_t{10}}) {
            const std::int64_t n = std::min({count, EdgeBytes, size});
            EXPECT_TRUE(arePatternAt(sampler.head(count), 0, n)) << size << ", " << count;
            EXPECT_TRUE(arePatternAt(sampler.tail(count), size - n, n)) << size << ", " << count;
        }
    }
    const PatternSource large(2 * GuessSampleLimit);
    Sampler sampler(large);
    const std::int64_t left = 50;
    const std::int64_t spend = GuessSampleLimit - 2 * BlockBytes - left;
    ASSERT_EQ(static_cast<std::int64_t>(sampler.bytes(GuessSampleLimit, spend).size()), spend);
    EXPECT_TRUE(arePatternAt(sampler.head(100), 0, left));
    EXPECT_TRUE(sampler.tail(100).empty());
}

// Step 1: the best decoding is the file's type and order, at the phase its
// header leaves.
TEST(GuessSteps, DecodingsRankTheFilesTypeFirst)
{
    struct Case
    {
        TVoxelDataType type;
        TByteOrder order;
        std::int64_t header;
    };
    for (const Case c : {Case{vdtInt16, boBigEndian, 0}, Case{vdtInt16, boLittleEndian, 1001}}) {
        const Sampled file(layoutOf({64, 64, 16}, c.type, c.order, c.header));
        const std::vector<Decoding> ranked = rateDecodings(*file.sampler);
        ASSERT_FALSE(ranked.empty());
        const Decoding& best = ranked.front();
        EXPECT_EQ(best.type, c.type) << voxelTypeInfo(best.type)->shortName << " for header " << c.header;
        EXPECT_EQ(best.order, c.order);
        EXPECT_EQ(best.phase, c.header % best.width);
        EXPECT_GT(best.score, 0.5);
        // Scores fall along the ranking, within 0 .. 1.
        for (std::size_t i = 1; i < ranked.size(); ++i) {
            EXPECT_GE(ranked[i - 1].score, ranked[i].score);
            EXPECT_GE(ranked[i].score, 0.0);
        }
    }
}

// Step 1 over a part of the file: a preview in the other byte order before
// the image rates nothing of the image's decoding.
TEST(GuessSteps, DecodingsAreRatedWithinTheGivenBytes)
{
    const VolumeLayout preview = layoutOf({64, 64, 24}, vdtInt16, boBigEndian, 0);
    const VolumeLayout image = layoutOf({64, 64, 24}, vdtInt16, boLittleEndian, 0);
    const std::vector<std::uint8_t> head = voxelsBetween({}, preview);
    const Sampled file(voxelsBetween(head, image));
    const auto imageStart = static_cast<std::int64_t>(head.size());
    const TByteOrder orders[] = {boBigEndian, boLittleEndian};
    for (const std::int64_t part : {std::int64_t{0}, std::int64_t{1}}) {
        const std::vector<Decoding> ranked =
            rateDecodings(*file.sampler, part * imageStart, part == 0 ? imageStart : -1);
        ASSERT_FALSE(ranked.empty());
        EXPECT_EQ(ranked.front().order, orders[part]) << part;
        EXPECT_EQ(ranked.front().width, 2) << part;
    }
}

// Steps 2 and 3: rows of 97 voxels are a period of 97 (not 194, its
// multiple, nor a lag beside it), and slices of 120 such rows one of 120.
TEST(GuessSteps, PeriodsFindTheFundamentalRowAndSlice)
{
    const Sampled file(layoutOf({97, 120, 40}, vdtByte, boLittleEndian, 0));
    const Decoding d = decodingOf(vdtByte, boLittleEndian, 0);
    std::vector<double> scratch(LagScratchDoubles + RowScratchDoubles);
    const LagDiffs voxels = voxelLagDiffs(*file.sampler, d, scratch.data() + RowScratchDoubles);
    const auto rows = strongestPeriods(voxels, 3);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().first, 97);
    EXPECT_GT(rows.front().second, 1.0 - MaxPeriodRatio);
    for (const auto& [lag, evidence] : rows)
        EXPECT_NE(lag, 194);
    const LagDiffs rowDiffs = rowLagDiffs(*file.sampler, d, 97, scratch.data());
    const auto slices = strongestPeriods(rowDiffs, 3);
    ASSERT_FALSE(slices.empty());
    EXPECT_EQ(slices.front().first, 120);
}

// Step 2: two-valued data (a mask, a disk on an empty background) whose
// first sampled voxels all lie in the background still shows its row: a
// coarse table of zeros confirms no period that the dense one does not.
TEST(GuessSteps, RowsOfATwoValuedImageAreFound)
{
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const float v = (x - 128) * (x - 128) + (y - 118) * (y - 118) < 24 * 24 ? 1.0f : 0.0f;
            std::uint8_t raw[4];
            std::memcpy(raw, &v, 4);
            bytes.insert(bytes.end(), raw, raw + 4);
        }
    const Sampled file(std::move(bytes));
    std::vector<double> scratch(LagScratchDoubles + RowScratchDoubles);
    const LagDiffs voxels =
        voxelLagDiffs(*file.sampler, decodingOf(vdtFloat32, boLittleEndian, 0), scratch.data() + RowScratchDoubles);
    const auto rows = strongestPeriods(voxels, 3);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().first, 256);
}

// Step 2: in volumes of small slices every multiple of the row near the
// slice repeats too; those multiples are the slice, the row is the
// shortest strong period.
TEST(GuessSteps, RowsOfSmallSlicesAreNotTheirSlices)
{
    const Decoding d = decodingOf(vdtByte, boLittleEndian, 0);
    std::vector<double> scratch(LagScratchDoubles + RowScratchDoubles);
    for (const std::array<std::int64_t, 3> dims : {std::array<std::int64_t, 3>{21, 26, 22}, {17, 21, 60}, {10, 10, 150}}) {
        const Sampled file(layoutOf(dims, vdtByte, boLittleEndian, 0));
        const LagDiffs voxels = voxelLagDiffs(*file.sampler, d, scratch.data() + RowScratchDoubles);
        const auto rows = strongestPeriods(voxels, 3);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.front().first, dims[0]) << dims[0] << "x" << dims[1];
    }
}

// Step 2: a strong period that is a whole number of a shorter clear
// period's rows (the volume of a series of short volumes, alike volume after
// volume) brings that shorter period in as a row, with its evidence; without
// a clear divisor nothing is added.
TEST(GuessSteps, APeriodOfWholeRowsBringsItsRow)
{
    for (const bool clearRow : {true, false}) {
        LagDiffs diffs;
        diffs.measure = [clearRow](std::int64_t lag) { return clearRow && lag % 17 == 0 ? 0.4 : 1.0; };
        RowLengths rows{{1071, 0.86}};
        addShorterRows(rows, rows, diffs);
        const auto row = std::find_if(rows.begin(), rows.end(), [](const auto& r) { return r.first == 17; });
        EXPECT_EQ(row != rows.end(), clearRow);
        if (row != rows.end()) {
            EXPECT_DOUBLE_EQ(row->second, 0.86);
        }
        EXPECT_EQ(rows.size(), clearRow ? 2u : 1u);
    }
}

// The dense differences' sums, in each of their forms (with and without
// weights; in order, or in any order for whole numbers), are bit for bit
// those of adding one weighted pair after another: values of every size up
// to the exact limit, noise that makes every order round differently, NaN
// weights, strides and pair counts that leave each remainder of four.
TEST(GuessSteps, DenseSumsOfEveryFormAreThoseInOrder)
{
    std::vector<double> whole(4000), fraction(4000), weights(4000);
    std::uint32_t noise = 987;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double big = i % 3 == 0 ? ExactMagnitude - 1.0 : 1.0;
        whole[i] = std::floor(big * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 2.0);
        fraction[i] = whole[i] * 1.000000119 + 0.1;
        weights[i] = noise % 7 == 0 ? 0.0 : 1.0;
    }
    ASSERT_TRUE(wholeNumbersBelowExactMagnitude(whole.data(), static_cast<std::int64_t>(whole.size())));
    ASSERT_FALSE(wholeNumbersBelowExactMagnitude(fraction.data(), 2));
    for (const double notExact : {0.5, -ExactMagnitude, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_FALSE(wholeNumbersBelowExactMagnitude(&notExact, 1)) << notExact;
    EXPECT_TRUE(clipKeepsWholeNumbers(156.0));
    EXPECT_TRUE(clipKeepsWholeNumbers(std::numeric_limits<float>::max()));
    EXPECT_FALSE(clipKeepsWholeNumbers(156.5));

    for (const bool exact : {true, false})
        for (const bool weighted : {true, false})
            for (const double clip : {3.0e9, static_cast<double>(std::numeric_limits<float>::max())})
                for (const auto& [start, pairs, step, lag] : {std::array<std::int64_t, 4>{0, 1001, 3, 7},
                                                              {5, 1002, 1, 24 * 9}, {17, 123, 29, 64},
                                                              {0, 3, 2, 1}}) {
                    const std::vector<double>& v = exact ? whole : fraction;
                    const double* w = weighted ? weights.data() : nullptr;
                    double inOrder = 1.5, inOrderCount = 2.0;
                    for (std::int64_t k = 0; k < pairs; ++k) {
                        const auto i = static_cast<std::size_t>(start + k * step);
                        const auto j = i + static_cast<std::size_t>(lag);
                        const double both = w ? w[i] * w[j] : 1.0;
                        inOrder += both * std::min(std::fabs(v[i] - v[j]), clip);
                        inOrderCount += both;
                    }
                    double sum = 1.5, count = 2.0;
                    addClippedPairs(exact, v.data(), w, start, pairs, step, lag, clip, sum, count);
                    EXPECT_EQ(sum, inOrder) << exact << weighted << " pairs " << pairs;
                    EXPECT_EQ(count, inOrderCount) << exact << weighted << " pairs " << pairs;
                }
}

// The counted quantile of small whole numbers is the value std::nth_element
// selects, at every rank, for few and many values, many ties, the largest
// value counted; anything else (a fraction, a negative, NaN, the limit
// itself, a rank past the end) is not counted.
TEST(GuessSteps, SmallWholeQuantilesAreTheSelectedValues)
{
    std::uint32_t noise = 31;
    for (const std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{100}, std::size_t{9000}}) {
        for (const std::uint32_t spread : {1u, 3u, 40u, static_cast<std::uint32_t>(SmallWholeLimit)}) {
            std::vector<double> v(n);
            for (double& x : v) {
                noise = noise * 1664525u + 1013904223u;
                x = static_cast<double>((noise >> 8) % spread);
            }
            for (const std::size_t k : {std::size_t{0}, n / 2, n * 3 / 4, n - 1}) {
                std::vector<double> sorted = v;
                std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
                const std::vector<double> before = v;
                EXPECT_EQ(smallWholeQuantile(v, k), sorted[k]) << "n " << n << " spread " << spread << " k " << k;
                EXPECT_EQ(v, before);
            }
        }
    }
    for (const double odd : {0.5, -1.0, static_cast<double>(SmallWholeLimit), std::nan(""),
                             std::numeric_limits<double>::infinity()}) {
        const std::vector<double> v{3.0, odd, 1.0};
        EXPECT_TRUE(std::isnan(smallWholeQuantile(v, 1))) << odd;
    }
    const std::vector<double> largest{static_cast<double>(SmallWholeLimit - 1), 0.0};
    EXPECT_EQ(smallWholeQuantile(largest, 1), static_cast<double>(SmallWholeLimit - 1));
    EXPECT_TRUE(std::isnan(smallWholeQuantile(largest, 2)));
}

// Whole numbers below ExactMagnitude, told by rounding: the same answer as a
// conversion to an integer and back, for values at every edge (halves that
// round either way, the limit, signed zeros, infinities, NaN), alone and
// among whole numbers at every place of a run (the vector loop's tail).
TEST(GuessSteps, WholeNumbersAreThoseAConversionKeeps)
{
    const auto rule = [](double x) {
        return std::fabs(x) < ExactMagnitude && static_cast<double>(static_cast<std::int64_t>(x)) == x;
    };
    const double edges[] = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1.5, 2.5, -2.5, 3.0000000000000004,
                            1e-300, 4e-324, ExactMagnitude - 1.0, -(ExactMagnitude - 1.0), ExactMagnitude - 0.5,
                            ExactMagnitude, -ExactMagnitude, 2147483648.5, 4503599627370496.0,
                            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                            std::nan(""), 123456789.0, -123456789.25};
    for (const double x : edges) {
        EXPECT_EQ(wholeNumbersBelowExactMagnitude(&x, 1), rule(x)) << x;
        for (std::size_t at = 0; at < 11; ++at) {
            std::vector<double> run(11, 7.0);
            run[at] = x;
            EXPECT_EQ(wholeNumbersBelowExactMagnitude(run.data(), static_cast<std::int64_t>(run.size())), rule(x))
                << x << " at " << at;
        }
    }
    EXPECT_TRUE(wholeNumbersBelowExactMagnitude(edges, 0));
}

// Step 4's window roughness: the median by a sorting network is the value
// std::nth_element selects, for every count of values. Every pattern of
// zeros and ones of up to 16 values is sorted (which proves the network
// sorts any values), and random values with many ties, of every magnitude.
TEST(GuessSteps, MedianOfFewIsTheSelectedValue)
{
    const auto selected = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    for (std::size_t n = 1; n <= 16; ++n) {
        for (std::uint32_t bits = 0; bits < (std::uint32_t{1} << n); ++bits) {
            std::vector<double> v(n);
            for (std::size_t i = 0; i < n; ++i)
                v[i] = (bits >> i) & 1u;
            ASSERT_EQ(medianOfFew(v.data(), n), selected(v)) << "n " << n << " bits " << bits;
        }
    }
    std::uint32_t noise = 7;
    const auto next = [&] {
        noise = noise * 1664525u + 1013904223u;
        return noise >> 8;
    };
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = 1 + next() % 16;
        std::vector<double> v(n);
        for (double& x : v)
            x = round % 2 == 0 ? static_cast<double>(next() % 5) : std::ldexp(static_cast<double>(next()), next() % 80 - 40);
        ASSERT_EQ(medianOfFew(v.data(), n), selected(v)) << "round " << round;
    }
}

// Step 4: a header of 1001 random bytes ends where the voxels start, within
// the precision the step states; a file without one shows its voxels from
// the start.
TEST(GuessSteps, DataStartFindsTheHeadersEnd)
{
    const Sampled headed(layoutOf({64, 64, 16}, vdtInt16, boLittleEndian, 1001));
    const DataStart start = findDataStart(*headed.sampler, decodingOf(vdtInt16, boLittleEndian, 1));
    EXPECT_GT(start.offset, 0);
    EXPECT_LE(std::llabs(start.offset - 1001), start.precision) << start.offset;

    const Sampled bare(layoutOf({64, 64, 16}, vdtInt16, boLittleEndian, 0));
    const DataStart none = findDataStart(*bare.sampler, decodingOf(vdtInt16, boLittleEndian, 0));
    EXPECT_EQ(none.offset, 0);
}

// Step 4: a magic and an offset before the voxels, too short to make a
// window unlike: the values far from the voxels after them end a header of
// whole words (8 bytes), in either order and width.
TEST(GuessSteps, DataStartFindsAShortHeader)
{
    struct Case
    {
        TVoxelDataType type;
        TByteOrder order;
        std::vector<std::uint8_t> head;
    };
    const Case cases[] = {{vdtUInt16, boLittleEndian, {'I', 'I', 42, 0, 8, 0, 5, 0}},
                          {vdtFloat32, boBigEndian, {'M', 'M', 0, 42, 0, 0x23, 0xA0, 0xF8}},
                          {vdtInt16, boBigEndian, {0x7F, 0xF0, 0x80, 0x01, 0, 0, 0, 0, 0x12, 0x34, 0xFF, 0xFF, 0, 1, 0, 2}}};
    for (const Case& c : cases) {
        const VolumeLayout l = layoutOf({64, 64, 8}, c.type, c.order, 0);
        const Sampled file(voxelsBetween(c.head, l));
        const DataStart start = findDataStart(*file.sampler, decodingOf(c.type, c.order, 0));
        EXPECT_EQ(start.offset, static_cast<std::int64_t>(c.head.size())) << voxelTypeInfo(c.type)->shortName;
    }
}

// Lines of a text header ("KEY     = value / words"), n bytes.
std::vector<std::uint8_t> textLines(std::size_t n)
{
    std::string text;
    for (int i = 0; text.size() < n; ++i)
        text += "KEY" + std::to_string(i % 97) + "   = " + std::to_string(i * 7919 % 10007) + " / a comment\n";
    text.resize(n);
    return {text.begin(), text.end()};
}

// Step 4 on real formats' shapes: text headers of any length (far past the
// first few KiB), text after the voxels, padding of a value the voxels never
// take, and a border of NaN rows, which are voxels.
TEST(GuessSteps, DataStartAndEndAreWhereTheBytesStopDecodingLikeTheData)
{
    const VolumeLayout body = layoutOf({64, 64, 16}, vdtInt16, boLittleEndian, 0);
    const std::int64_t dataBytes = layoutDataBytes(body);
    for (const std::int64_t header : {std::int64_t{6301}, std::int64_t{69120}, std::int64_t{350001}}) {
        const Sampled file(voxelsBetween(textLines(static_cast<std::size_t>(header)), body, textLines(700)));
        const DataStart start =
            findDataStart(*file.sampler, decodingOf(vdtInt16, boLittleEndian, static_cast<int>(header % 2)));
        EXPECT_LE(std::llabs(start.offset - header), start.precision) << header << ": " << start.offset;
        EXPECT_LE(std::llabs(start.end - (header + dataBytes)), start.precision) << header << ": " << start.end;
        // The whole guess lists exactly this layout first.
        const std::vector<LayoutCandidate> guesses = guessLayout(*file.source, "case.bin", 3);
        ASSERT_FALSE(guesses.empty());
        VolumeLayout want = body;
        want.headerBytes = header;
        EXPECT_EQ(guesses.front().layout, want) << guessLine(guesses.front());
    }
}

TEST(GuessSteps, PaddingIsTheRunOfAValueTheVoxelsNeverTake)
{
    // A 2880-byte block of text padded with spaces, UInt-16 voxels well
    // above zero, zeros to the next block.
    const VolumeLayout l = layoutOf({100, 50, 1}, vdtUInt16, boBigEndian, 0);
    std::vector<std::uint8_t> text = textLines(2000);
    text.resize(2880, ' ');
    std::vector<std::uint8_t> blocks = voxelsBetween(std::move(text), l);
    blocks.resize((blocks.size() + 2879) / 2880 * 2880, 0);
    const Sampled padded(std::move(blocks));
    const DataStart start = findDataStart(*padded.sampler, decodingOf(vdtUInt16, boBigEndian, 0));
    EXPECT_EQ(start.afterPadding, 2880);
    EXPECT_EQ(start.endBeforePadding, 2880 + 10000);
    EXPECT_EQ(start.end, static_cast<std::int64_t>(padded.bytes.size()));
    EXPECT_LE(start.offset, 2000 + start.precision);

    // Zeros the voxels do take (an empty background) are no padding.
    std::vector<std::uint8_t> background = voxelsBetween({}, l);
    std::fill(background.begin(), background.begin() + 3000, 0);
    background.resize(background.size() + 4000, 0);
    const Sampled bare(std::move(background));
    const DataStart none = findDataStart(*bare.sampler, decodingOf(vdtUInt16, boBigEndian, 0));
    EXPECT_EQ(none.endBeforePadding, static_cast<std::int64_t>(bare.bytes.size()));
}

// A short magic line in a block of zeros, and a final record of text after
// Float-64 voxels: the bytes of text read as values no volume holds.
TEST(GuessSteps, AFewBytesOfTextBoundFloatVoxelsExactly)
{
    std::vector<std::uint8_t> head(4096, 0);
    const std::string magic = "DUMP 1.0\n";
    std::copy(magic.begin(), magic.end(), head.begin());
    const VolumeLayout l = layoutOf({40, 30, 12}, vdtFloat64, boBigEndian, 0);
    const Sampled file(voxelsBetween(std::move(head), l, textLines(100)));
    const DataStart start = findDataStart(*file.sampler, decodingOf(vdtFloat64, boBigEndian, 0));
    EXPECT_GT(start.offset, 0);
    EXPECT_LE(start.offset, 4096);
    EXPECT_EQ(start.end, 4096 + layoutDataBytes(l));
}

// A directory of 12-byte entries after the voxels (tag, type, count,
// value): small numbers, smooth enough, but repeating entry by entry.
TEST(GuessSteps, RecordsAfterTheVoxelsAreTrailingBytes)
{
    std::vector<std::uint8_t> file = voxelsBetween({}, layoutOf({64, 64, 4}, vdtUInt16, boLittleEndian, 0));
    const auto dataEnd = static_cast<std::int64_t>(file.size());
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int b = 0; b < bytes; ++b)
            file.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    put(12, 2);
    for (std::uint32_t tag = 256; tag < 268; ++tag) {
        put(tag, 2);
        put(3, 2);
        put(1, 4);
        put(tag * 7 % 64, 4);
    }
    put(0, 4);
    const Sampled records(std::move(file));
    const DataStart start = findDataStart(*records.sampler, decodingOf(vdtUInt16, boLittleEndian, 0));
    // Records begin mid-window: seen to a window more than text is.
    EXPECT_LE(std::llabs(start.end - dataEnd), 2 * start.precision) << start.end;
    EXPECT_LT(start.end, static_cast<std::int64_t>(records.bytes.size()));
}

TEST(GuessSteps, NanRowsAreVoxelsNotAHeader)
{
    const VolumeLayout l = layoutOf({192, 192, 1}, vdtFloat32, boLittleEndian, 0);
    std::vector<std::uint8_t> file = voxelsBetween({}, l);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t row = 0; row < 192; ++row)
        for (std::size_t x = 0; x < 192; ++x)
            if (row < 12 || row >= 180 || x < 6 || x >= 186)
                std::memcpy(file.data() + (row * 192 + x) * 4, &nan, 4);
    const Sampled bordered(std::move(file));
    const DataStart start = findDataStart(*bordered.sampler, decodingOf(vdtFloat32, boLittleEndian, 0));
    EXPECT_EQ(start.offset, 0);
    EXPECT_EQ(start.end, static_cast<std::int64_t>(bordered.bytes.size()));
    const std::vector<LayoutCandidate> guesses = guessLayout(*bordered.source, "case.bin", 3);
    ASSERT_FALSE(guesses.empty());
    EXPECT_EQ(guesses.front().layout, l) << guessLine(guesses.front());
}

// Whole units are placed at the end of the file (after what they leave
// over, with as many more as the header seen takes) and from where the
// voxels seem to start to where they seem to end; the place the bytes show
// fits best.
TEST(GuessSteps, UnitsArePlacedWhereTheBytesShowTheData)
{
    Decoding d = decodingOf(vdtByte, boLittleEndian, 0);
    DataStart start;
    start.offset = start.afterPadding = 1000;
    start.precision = 10;
    start.end = start.endBeforePadding = 2000;
    const std::vector<Placement> places = placeUnits(2030, 100, d, start);
    const auto at = [&](std::int64_t header, std::int64_t count) {
        for (std::size_t i = 0; i < places.size(); ++i)
            if (places[i].header == header && places[i].count == count)
                return static_cast<int>(i);
        return -1;
    };
    EXPECT_EQ(at(1000, 10), 0); // between the header and the trailing bytes seen
    EXPECT_GT(at(1030, 10), 0); // at the end, the header one unit more than seen
    EXPECT_GT(at(30, 20), 0); // at the end, all the units that fit
    for (std::size_t i = 1; i < places.size(); ++i)
        EXPECT_GE(places[i - 1].fit, places[i].fit);
    // Units that start off the voxels' phase are never placed.
    d = decodingOf(vdtInt16, boLittleEndian, 1);
    for (const Placement& p : placeUnits(2030, 100, d, start))
        EXPECT_EQ(p.header % 2, 1) << p.header;
}

// Step 5: two volumes of 16 slices are told from one volume of 32, and a
// series of many short volumes is counted by its volume, not a multiple.
TEST(GuessSteps, VolumesAreSeenOnlyWhereTheyRepeat)
{
    const Decoding d = decodingOf(vdtByte, boLittleEndian, 0);
    for (const std::int64_t volumes : {1, 2}) {
        const Sampled file(layoutOf({48, 48, 32 / volumes}, vdtByte, boLittleEndian, 512, volumes));
        const VolumeLayout asOne = layoutOf({48, 48, 32}, vdtByte, boLittleEndian, 512);
        EXPECT_EQ(detectVolumes(*file.sampler, d, asOne, 32, 3), volumes);
    }
    for (const std::int64_t volumes : {5, 12}) {
        const Sampled file(layoutOf({40, 36, 60 / volumes}, vdtByte, boLittleEndian, 0, volumes));
        const VolumeLayout asOne = layoutOf({40, 36, 60}, vdtByte, boLittleEndian, 0);
        EXPECT_EQ(detectVolumes(*file.sampler, d, asOne, 60, 24), volumes);
    }
}

// Step 5's evidence by the plain rule: every slice's signature read again
// from the file's bytes for every pair, every lag measured afresh, one
// difference at a time.
std::vector<std::pair<std::int64_t, double>> plainVolumeCountEvidence(const std::vector<std::uint8_t>& file,
                                                                      const Decoding& d, const VolumeLayout& l,
                                                                      std::int64_t slices, std::size_t maxCounts)
{
    const auto size = static_cast<std::int64_t>(file.size());
    const std::int64_t rowVoxels = l.dims[0];
    const std::int64_t window = std::min<std::int64_t>(rowVoxels, 128);
    const auto signature = [&](std::int64_t z) {
        const std::int64_t at = l.headerBytes + (z * l.dims[1] + l.dims[1] / 2) * rowVoxels * d.width +
                                (rowVoxels - window) / 2 * d.width;
        const std::int64_t end = std::min(size, at + window * d.width);
        if (at >= end)
            return std::vector<double>{};
        const std::span<const std::uint8_t> bytes(file.data() + at, static_cast<std::size_t>(end - at));
        return decodeRun(bytes, at, d, static_cast<std::size_t>(window));
    };
    const auto sliceDiff = [&](std::int64_t lag, std::int64_t every) {
        if (lag < 1 || lag >= slices)
            return std::nan("");
        double sum = 0.0;
        std::int64_t count = 0;
        for (std::int64_t s = 0; s < 12; s += every) {
            std::int64_t z = s * slices / 12;
            if (z + lag >= slices)
                z -= lag;
            if (z < 0)
                continue;
            const std::vector<double> a = signature(z);
            const std::vector<double> b = signature(z + lag);
            for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
                if (std::isfinite(a[i]) && std::isfinite(b[i])) {
                    sum += std::fabs(a[i] - b[i]);
                    ++count;
                }
        }
        return count >= 8 ? sum / static_cast<double>(count) : std::nan("");
    };
    std::vector<std::pair<std::int64_t, double>> evidence;
    for (std::int64_t v = 2; v <= slices / 2 && evidence.size() < maxCounts; ++v) {
        if (slices % v != 0)
            continue;
        const std::int64_t lag = slices / v;
        const std::int64_t half = (lag + 1) / 2;
        double e = std::nan("");
        if (sliceDiff(lag, 2) < sliceDiff(half, 2) && sliceDiff(lag, 1) < sliceDiff(half, 1)) {
            std::vector<double> diff(static_cast<std::size_t>(lag + lag / 2 + 1), std::nan(""));
            for (const std::int64_t x : {lag, half, lag + lag / 2})
                diff[static_cast<std::size_t>(x)] = sliceDiff(x, 1);
            e = periodEvidence([&](std::int64_t x) { return x >= 1 && x < std::ssize(diff) ? diff[static_cast<std::size_t>(x)] : std::nan(""); },
                               lag);
        }
        evidence.emplace_back(v, e);
    }
    return evidence;
}

// Step 5, in files kept whole and in files larger than that, whose slices'
// signatures are small reads of their own: the volumes are counted, and the
// evidence of every volume count is the plain rule's to the bit (each lag is
// measured once however many volume counts ask for it). Rows of up to 128
// voxels are read whole, so the NaN left edge of the float slices is in every
// signature and must be left out.
TEST(GuessSteps, VolumeEvidenceIsThePlainRulesInSmallAndLargeFiles)
{
    struct Case
    {
        std::array<std::int64_t, 3> dims; // of the file's slices as one volume
        TVoxelDataType type;
        TByteOrder order;
        std::int64_t header;
        std::int64_t volumes;
        bool nanBackground;
    };
    const Case cases[] = {
        {{256, 256, 72}, vdtInt16, boLittleEndian, 512, 1, false},
        {{256, 256, 72}, vdtInt16, boLittleEndian, 512, 6, false},
        {{100, 100, 240}, vdtFloat32, boLittleEndian, 0, 1, true},
        {{100, 100, 240}, vdtFloat32, boLittleEndian, 0, 4, true},
        {{48, 48, 32}, vdtByte, boLittleEndian, 512, 2, false},
        {{40, 36, 60}, vdtInt16, boBigEndian, 349, 5, false},
        {{30, 20, 48}, vdtFloat64, boBigEndian, 0, 12, true},
    };
    for (const Case& c : cases) {
        phantom::Spec spec;
        spec.layout = layoutOf({c.dims[0], c.dims[1], c.dims[2] / c.volumes}, c.type, c.order, c.header, c.volumes);
        spec.nanBackground = c.nanBackground;
        const Sampled file(phantom::make(spec));
        const std::string name = std::to_string(c.dims[0]) + "x" + std::to_string(c.dims[1]) + " " +
                                 std::to_string(c.volumes) + " volumes of " + std::to_string(c.dims[2] / c.volumes);
        const VolumeLayout asOne = layoutOf(c.dims, c.type, c.order, c.header);
        const Decoding d = decodingOf(c.type, c.order, static_cast<int>(c.header % voxelTypeInfo(c.type)->bytes));
        EXPECT_EQ(detectVolumes(*file.sampler, d, asOne, c.dims[2], 24), c.volumes) << name;
        const auto evidence = volumeCountEvidence(*file.sampler, d, asOne, c.dims[2], 24);
        const auto plain = plainVolumeCountEvidence(file.bytes, d, asOne, c.dims[2], 24);
        ASSERT_EQ(evidence.size(), plain.size()) << name;
        int measured = 0;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            EXPECT_EQ(evidence[i].first, plain[i].first) << name;
            const double e = evidence[i].second;
            const double want = plain[i].second;
            EXPECT_TRUE(std::isnan(want) ? std::isnan(e) : e == want)
                << name << ", " << plain[i].first << " volumes: " << e << " against " << want;
            measured += std::isnan(want) ? 0 : 1;
        }
        // (Where the slices repeat, some volume counts get past both first
        // looks and are weighed in full.)
        EXPECT_TRUE(c.volumes == 1 || measured > 0) << name;
    }
}

// Step 5: a repeating slice much taller than wide is split into near-square
// slices of the height the rows show (sharp edges, or a change that repeats
// slice after slice); a weak or short period, one the rows show no height
// in, or one nothing near square divides, stays as it is.
TEST(GuessSteps, TallRepeatingSlicesSplitIntoSlicesOfTheirEdges)
{
    // A volume of 63 rows whose rows change sharply every 21 rows, at row 20.
    std::vector<double> edgesEvery21(63, 1.0);
    for (std::size_t r = 20; r < edgesEvery21.size(); r += 21)
        edgesEvery21[r] = 9.0;
    std::vector<double> edgesEvery9(63, 1.0);
    for (std::size_t r = 4; r < edgesEvery9.size(); r += 9)
        edgesEvery9[r] = 9.0;
    // Slices of 46 rows whose contents do not resemble each other, every
    // third edge sharper by chance: the edges of 138 rows are sharper, but
    // are those of 46 taken three at a time.
    std::vector<double> edgesEvery46(46 * 36, 1.0);
    for (std::size_t r = 45; r < edgesEvery46.size(); r += 46)
        edgesEvery46[r] = r % 138 == 137 ? 9.0 : 7.0;
    // ... but slices of 92 rows are not two of 46: nothing happens half way.
    std::vector<double> edgesEvery92(46 * 36, 1.0);
    for (std::size_t r = 91; r < edgesEvery92.size(); r += 92)
        edgesEvery92[r] = 9.0;
    // Quiet edges: each slice of 21 rows an empty rim round a busy middle.
    std::vector<double> rimsEvery21(63);
    for (std::size_t r = 0; r < rimsEvery21.size(); ++r)
        rimsEvery21[r] = std::sin(3.14159 * static_cast<double>(r % 21) / 21.0);
    struct Case
    {
        std::int64_t rowVoxels, volumeRows;
        double evidence;
        std::span<const double> change;
        std::vector<std::int64_t> heights; // best first; empty: not split
    };
    const Case cases[] = {
        {17, 63, 0.9, edgesEvery21, {21}},
        {17, 63, 0.9, edgesEvery9, {9}},
        {17, 63, 0.9, rimsEvery21, {21}},
        {72, 46 * 36, 0.9, edgesEvery46, {46, 69}},
        {72, 46 * 36, 0.9, edgesEvery92, {92, 46}},
        {17, 63, 0.9, {}, {}}, // unmeasured: no height shown
        {17, 63, 0.4, edgesEvery21, {}}, // no clear volume
        {64, 96, 0.9, {}, {}}, // not tall
        {5, 67, 0.9, {}, {}}, // nothing divides near square
    };
    for (const Case& c : cases) {
        const VolumeSlices split = slicesWithinVolume(c.rowVoxels, c.volumeRows, c.evidence, c.change);
        std::vector<std::int64_t> heights;
        for (const VolumeSlices::Height& h : split.heights) {
            heights.push_back(h.rows);
            EXPECT_EQ(h.rows * h.slices, c.volumeRows);
            EXPECT_LE(h.evidence, c.evidence);
        }
        EXPECT_EQ(heights, c.heights) << c.rowVoxels << "x" << c.volumeRows;
        if (heights.empty()) {
            EXPECT_EQ(split.tallFactor, 1.0);
        } else {
            EXPECT_EQ(split.heights.front().evidence, c.evidence);
            EXPECT_LT(split.tallFactor, 1.0);
        }
    }
}

// The change of the rows through a volume: four volumes of three slices of
// four rows, each slice one value, 50 more than the slice before.
TEST(GuessSteps, RowChangeThroughAVolumeShowsItsSliceEdges)
{
    constexpr std::int64_t RowVoxels = 8, VolumeRows = 12;
    std::vector<std::uint8_t> bytes;
    for (int v = 0; v < 4; ++v)
        for (std::int64_t r = 0; r < VolumeRows; ++r)
            bytes.insert(bytes.end(), RowVoxels, static_cast<std::uint8_t>(r / 4 * 50));
    const Sampled file(bytes);
    const Decoding d = decodingOf(vdtByte, boLittleEndian, 0);
    std::vector<double> expected(VolumeRows, 0.0);
    expected[3] = expected[7] = 50.0;
    expected[11] = 100.0; // into the next volume's first slice
    EXPECT_EQ(volumeRowChange(*file.sampler, d, RowVoxels, VolumeRows), expected);
    EXPECT_TRUE(volumeRowChange(*file.sampler, d, RowVoxels, 2 * VolumeRows + 1).empty()); // one volume
}

// The score: each part of the evidence counts by its weight alone, the
// weights make 1, and the name's other type or order lowers the score.
TEST(GuessSteps, ScoreWeighsEachPartOfTheEvidence)
{
    const NameHints silent;
    const VolumeLayout l = layoutOf({64, 64, 16}, vdtInt16, boBigEndian, 0);
    double sum = 0.0;
    Evidence all;
    for (const WeightedPart& w : EvidenceWeights) {
        Evidence alone;
        alone.name = 0.0;
        alone.*w.part = 1.0;
        all.*w.part = 1.0;
        EXPECT_DOUBLE_EQ(candidateScore(alone, 1.0, silent, l, true), w.weight);
        EXPECT_GT(w.weight, 0.0);
        sum += w.weight;
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
    EXPECT_NEAR(candidateScore(all, 1.0, silent, l, true), 1.0, 1e-12);
    EXPECT_NEAR(candidateScore(all, 0.5, silent, l, true), 0.5, 1e-12);
    NameHints other;
    other.dataType = vdtFloat32;
    other.byteOrder = boLittleEndian;
    EXPECT_LT(candidateScore(all, 1.0, other, l, true), 0.8);
    EXPECT_EQ(nameEvidence(silent, false), NameSilent);
    other.pairs.push_back({64, 64});
    EXPECT_TRUE(nameMatches(other, l));
    EXPECT_EQ(nameEvidence(other, true), NameAgrees);
    // Headers: none, then the usual sizes, then others, then huge ones.
    const DataStart unseen;
    EXPECT_GT(headerFit(0, unseen), headerFit(512, unseen));
    EXPECT_GT(headerFit(512, unseen), headerFit(1001, unseen));
    EXPECT_GT(headerFit(1001, unseen), headerFit(1 << 20, unseen));
    DataStart seen;
    seen.offset = 1001;
    seen.precision = 34;
    EXPECT_GT(headerFit(1001, seen), headerFit(512, seen));
    // Bytes 16 on of a file: 4080 of them before the voxels make the file's
    // usual 4096.
    DataStart part;
    part.origin = 16;
    EXPECT_EQ(headerFit(4080, part), headerFit(4096, unseen));
    EXPECT_LT(headerFit(4080, unseen), headerFit(4096, unseen));
}

} // namespace
