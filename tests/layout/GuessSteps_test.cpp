// Each step of the layout guess on its own, on a small generated file that
// shows one thing plainly.

#include "layout/GuessDataStart.h"
#include "layout/GuessDecodings.h"
#include "layout/GuessPeriods.h"
#include "layout/GuessSampler.h"
#include "layout/GuessScore.h"
#include "layout/GuessVolumes.h"

#include "LayoutPhantom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace
{

using namespace GuessDetail;

// A phantom file and the guesser's sample of it.
struct Sampled
{
    explicit Sampled(const VolumeLayout& layout)
    {
        phantom::Spec spec;
        spec.layout = layout;
        bytes = phantom::make(spec);
        source = std::make_unique<MemoryLayoutSource>(bytes.data(), bytes.size());
        sampler = std::make_unique<Sampler>(*source);
    }
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<MemoryLayoutSource> source;
    std::unique_ptr<Sampler> sampler;
};

VolumeLayout layoutOf(std::array<std::int64_t, 3> dims, TVoxelDataType type, TByteOrder order, std::int64_t header,
                      std::int64_t volumes = 1)
{
    VolumeLayout l;
    l.dims = dims;
    l.dataType = type;
    l.byteOrder = order;
    l.headerBytes = header;
    l.volumes = volumes;
    return l;
}

Decoding decodingOf(TVoxelDataType type, TByteOrder order, int phase)
{
    Decoding d;
    d.type = type;
    d.order = order;
    d.width = voxelTypeInfo(type)->bytes;
    d.phase = phase;
    return d;
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
}

} // namespace
