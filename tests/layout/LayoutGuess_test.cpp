#include "layout/LayoutGuess.h"

#include "layout/GuessKernels.h"
#include "layout/StatedLayout.h"

#include "LayoutPhantom.h"
#include "support/LayoutBuilders.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

struct CorpusCase
{
    phantom::Spec spec;
    std::string name;
};

// Every type in both orders (one for bytes), each in five shapes: square
// slices, non-square slices, a single slice, two volumes, a non-square volume
// whose name states it; the headers go round 0, 348, 352, 512, 1024 and an
// odd size; floats have NaN background in two of the shapes.
std::vector<CorpusCase> corpus()
{
    std::vector<CorpusCase> cases;
    constexpr std::array<std::int64_t, 6> Headers{0, 348, 352, 512, 1024, 1001};
    std::size_t h = 0;
    std::uint32_t seed = 1;
    for (const VoxelTypeInfo& info : VoxelTypes) {
        for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
            if (info.bytes == 1 && order == boBigEndian)
                continue;
            const auto add = [&](std::array<std::int64_t, 3> dims, std::int64_t volumes, bool nan, std::string name) {
                CorpusCase c;
                c.spec.layout = layoutOf(dims, info.type, order, Headers[h++ % Headers.size()], volumes);
                c.spec.nanBackground = nan;
                c.spec.seed = seed++;
                c.name = std::move(name);
                cases.push_back(std::move(c));
            };
            add({64, 64, 32}, 1, false, "volume.raw");
            add({96, 80, 24}, 1, info.isFloat, "scan.img");
            add({128, 128, 1}, 1, false, "slice.raw");
            add({48, 48, 16}, 2, false, "series.raw");
            add({80, 112, 20}, 1, info.isFloat, "phantom_80x112x20.raw");
        }
    }
    return cases;
}

// Rank of want among the guesses (0 = first), or -1.
int rankOf(const std::vector<LayoutCandidate>& guesses, const VolumeLayout& want)
{
    for (std::size_t i = 0; i < guesses.size(); ++i)
        if (guesses[i].layout == want)
            return static_cast<int>(i);
    return -1;
}

std::string describe(const VolumeLayout& l)
{
    LayoutCandidate c;
    c.layout = l;
    return guessLine(c);
}

std::string topThree(const std::vector<LayoutCandidate>& guesses)
{
    std::string text;
    for (std::size_t i = 0; i < std::min<std::size_t>(3, guesses.size()); ++i)
        text += "\n    " + guessLine(guesses[i]) + "  (" + guesses[i].reason + ")";
    return text;
}

bool fitsIn(const VolumeLayout& l, std::int64_t size)
{
    const std::int64_t data = layoutDataBytes(l);
    return data > 0 && l.headerBytes >= 0 && l.headerBytes <= size - data && l.dims[0] >= 1 && l.dims[1] >= 1 &&
           l.dims[2] >= 1 && l.volumes >= 1;
}

// The guesses for every corpus case, worked out once for the tests below.
struct CorpusGuess
{
    CorpusCase c;
    std::int64_t size = 0;
    std::vector<LayoutCandidate> guesses;
};

std::vector<CorpusGuess> guessCorpus()
{
    std::vector<CorpusGuess> out;
    for (const CorpusCase& c : corpus()) {
        const std::vector<std::uint8_t> bytes = phantom::make(c.spec);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        out.push_back({c, source.size(), guessLayout(source, c.name)});
    }
    return out;
}

const std::vector<CorpusGuess>& corpusGuesses()
{
    static const std::vector<CorpusGuess> guesses = guessCorpus();
    return guesses;
}

TEST(LayoutGuess, CorpusRanksTheTrueLayoutFirst)
{
    const std::vector<CorpusGuess>& cases = corpusGuesses();
    int first = 0;
    for (const auto& [c, size, guesses] : cases) {
        const int rank = rankOf(guesses, c.spec.layout);
        first += rank == 0 ? 1 : 0;
        EXPECT_TRUE(rank >= 0 && rank < 3) << "rank " << rank << " for " << describe(c.spec.layout) << topThree(guesses);
        if (rank > 0)
            std::printf("second best: %s%s\n", describe(c.spec.layout).c_str(), topThree(guesses).c_str());
        for (const LayoutCandidate& g : guesses) {
            EXPECT_TRUE(fitsIn(g.layout, size)) << guessLine(g);
            EXPECT_GE(g.score, 0.0);
            EXPECT_LE(g.score, 1.0);
            EXPECT_FALSE(g.reason.empty());
        }
        for (std::size_t i = 1; i < guesses.size(); ++i)
            EXPECT_GE(guesses[i - 1].score, guesses[i].score);
    }
    const double share = static_cast<double>(first) / static_cast<double>(cases.size());
    std::printf("corpus of %zu files: true layout first in %.1f %%\n", cases.size(), 100.0 * share);
    EXPECT_GE(share, 0.95);
}

// The rankings of the corpus and of the sample volumes, pinned: the top three
// lines of every file as tests/layout/golden/guess_rankings.txt holds them.
// A change that means to rank differently rewrites the file with
//   KELVOX_UPDATE_GOLDEN=1 LayoutGuess_test --gtest_filter='*Golden*'
// and its commit says why; every other change leaves the file as it is.
std::string goldenRankings(const std::vector<CorpusGuess>& corpusGuesses)
{
    std::ostringstream text;
    const auto topLines = [&](const std::vector<LayoutCandidate>& guesses) {
        for (std::size_t i = 0; i < std::min<std::size_t>(3, guesses.size()); ++i)
            text << "  " << guessLine(guesses[i]) << "\n";
    };
    for (const CorpusGuess& g : corpusGuesses) {
        const std::string truth = describe(g.c.spec.layout);
        text << "corpus " << g.c.name << " " << truth.substr(0, truth.find(" score=")) << "\n";
        topLines(g.guesses);
    }
    for (const char* sample : {"head_256x256x64_u8.raw", "head_128x128x64x2_i16be.raw", "head_96x80x40_f32le.raw",
                               "head_64x64x32_i32le.raw", "head_160x128x48_u16le_header512.raw"}) {
        text << "sample " << sample << "\n";
        topLines(guessLayoutOfFile(std::string(KELVOX_SAMPLES_DIR) + "/" + sample));
    }
    return text.str();
}

// Under each variant of the vector loops the processor can run: the
// rankings may not depend on the processor.
class LayoutGuessGolden : public testing::TestWithParam<GuessDetail::KernelVariant>
{
protected:
    void SetUp() override
    {
        if (!GuessDetail::canRunKernels(GetParam()))
            GTEST_SKIP() << "the processor cannot run this variant";
    }
    void TearDown() override { GuessDetail::useKernels(m_default); }

    const GuessDetail::KernelVariant m_default = GuessDetail::kernelsInUse();
};

TEST_P(LayoutGuessGolden, RankingsMatchTheGoldenFile)
{
    const std::string path = std::string(KELVOX_SOURCE_DIR) + "/tests/layout/golden/guess_rankings.txt";
    const bool isDefault = GetParam() == m_default;
    ASSERT_TRUE(GuessDetail::useKernels(GetParam()));
    const std::string now = goldenRankings(isDefault ? corpusGuesses() : guessCorpus());
    const char* update = std::getenv("KELVOX_UPDATE_GOLDEN");
    if (isDefault && update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << now;
        std::printf("rewrote %s\n", path.c_str());
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "no golden file " << path;
    const std::string golden((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Line by line, so that a failure names the files whose ranking moved.
    std::istringstream want(golden), got(now);
    std::string wantLine, gotLine, title;
    int line = 0;
    while (true) {
        const bool moreWanted = static_cast<bool>(std::getline(want, wantLine));
        const bool moreGot = static_cast<bool>(std::getline(got, gotLine));
        if (!moreWanted && !moreGot)
            break;
        ++line;
        if (gotLine.rfind("  ", 0) != 0)
            title = gotLine;
        EXPECT_EQ(moreWanted ? wantLine : "(end)", moreGot ? gotLine : "(end)") << "line " << line << " of " << title;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, LayoutGuessGolden,
                         testing::Values(GuessDetail::KernelVariant::Plain, GuessDetail::KernelVariant::Avx2,
                                         GuessDetail::KernelVariant::Avx512),
                         [](const auto& info) { return std::string(GuessDetail::kernelVariantName(info.param)); });

// The same number of voxels as 256 x 256 x 256 and as 512 x 128 x 256: only
// the bytes tell the row length and the rows per slice. Larger than the part
// of a file that is read whole, so the sampled path is taken.
TEST(LayoutGuess, TellsSquareFromOblongSlicesOfTheSameSize)
{
    for (const auto& dims : {std::array<std::int64_t, 3>{256, 256, 256}, std::array<std::int64_t, 3>{512, 128, 256}}) {
        phantom::Spec spec;
        spec.layout = layoutOf(dims, vdtByte, boLittleEndian, 0);
        const std::vector<std::uint8_t> bytes = phantom::make(spec);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "volume.raw");
        ASSERT_FALSE(guesses.empty());
        EXPECT_EQ(guesses.front().layout, spec.layout) << topThree(guesses);
    }
}

// Round slice counts put even fractions of a file (a fifth, a tenth) on
// slice starts, where the rows are background; the sampled path must still
// find data to rate. 256 x 256 x 160 and x 100 Int-16 is a common scan size.
TEST(LayoutGuess, RoundSliceCountsOfLargeFilesStillGuess)
{
    for (const std::int64_t slices : {std::int64_t{64}, std::int64_t{100}, std::int64_t{160}, std::int64_t{200}}) {
        phantom::Spec spec;
        spec.layout = layoutOf({256, 256, slices}, vdtInt16, boLittleEndian, 0);
        const std::vector<std::uint8_t> bytes = phantom::make(spec);
        // 64 slices are kept whole (8 MiB); the others are sampled.
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "scan.raw");
        ASSERT_FALSE(guesses.empty()) << slices;
        EXPECT_EQ(guesses.front().layout.dims, spec.layout.dims) << topThree(guesses);
    }
}


struct DegenerateCase
{
    const char* name;
    std::vector<std::uint8_t> bytes;
};

class LayoutGuessDegenerate : public testing::TestWithParam<DegenerateCase>
{
};

// Files without a layout in them: few or no candidates, all of them poor.
TEST_P(LayoutGuessDegenerate, GivesFewPoorCandidates)
{
    const std::vector<std::uint8_t>& bytes = GetParam().bytes;
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    const std::vector<LayoutCandidate> guesses = guessLayout(source, GetParam().name);
    EXPECT_LE(guesses.size(), 8u);
    for (const LayoutCandidate& g : guesses) {
        EXPECT_LT(g.score, 0.5) << guessLine(g) << " (" << g.reason << ")";
        EXPECT_TRUE(fitsIn(g.layout, source.size())) << guessLine(g);
    }
}

std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed)
{
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed;
    for (std::uint8_t& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LayoutGuessDegenerate,
    testing::Values(DegenerateCase{"empty", {}}, DegenerateCase{"one", {42}}, DegenerateCase{"two", {1, 2}},
                    DegenerateCase{"img_8x8_f32", {'e', 3}},
                    DegenerateCase{"zeros", std::vector<std::uint8_t>(1 << 20, 0)},
                    DegenerateCase{"ones", std::vector<std::uint8_t>(65536, 0xFF)},
                    DegenerateCase{"random", randomBytes(1 << 20, 7)},
                    DegenerateCase{"primeRandom", randomBytes(1000003, 9)},
                    DegenerateCase{"largeRandom", randomBytes(9 << 20, 11)}),
    [](const testing::TestParamInfo<DegenerateCase>& info) { return std::string(info.param.name); });

TEST(LayoutGuess, NoCandidatesWantedGivesNone)
{
    phantom::Spec spec;
    spec.layout = layoutOf({32, 32, 8}, vdtInt16, boLittleEndian, 0);
    const std::vector<std::uint8_t> bytes = phantom::make(spec);
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    EXPECT_TRUE(guessLayout(source, "a.raw", 0).empty());
    EXPECT_LE(guessLayout(source, "a.raw", 2).size(), 2u);
}

// A 10 GB file (sparse: a hole but for a few bytes): the guess reads a
// bounded sample, fast, and proposes only layouts that fit.
TEST(LayoutGuess, SamplesAHugeSparseFileBoundedly)
{
    constexpr std::int64_t Size = std::int64_t{10} * 1000 * 1000 * 1000;
    const TempDir dir;
    const std::string path = dir.sparse("huge.raw", Size, randomBytes(4096, 3), {0, Size / 3, Size - 4096});

    const auto started = std::chrono::steady_clock::now();
    std::vector<LayoutCandidate> guesses;
    std::int64_t read = 0;
    {
        const FileLayoutSource file(path);
        EXPECT_EQ(file.size(), Size);
        const CountingLayoutSource counting(file);
        guesses = guessLayout(counting, path);
        read = counting.bytesRead();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(read, GuessSampleLimit);
    EXPECT_LT(seconds, 5.0);
    for (const LayoutCandidate& g : guesses)
        EXPECT_TRUE(fitsIn(g.layout, Size)) << guessLine(g);
}

TEST(LayoutGuess, RefusesWhatIsNoFile)
{
    EXPECT_THROW(guessLayoutOfFile("/nonexistent/kelvox/volume.raw"), std::runtime_error);
    EXPECT_THROW(guessLayoutOfFile("/tmp"), std::runtime_error);
}

TEST(LayoutGuess, LinesFollowTheCommandLineFormat)
{
    LayoutCandidate c;
    c.layout = layoutOf({256, 256, 108}, vdtInt16, boLittleEndian, 0);
    c.score = 0.9344;
    EXPECT_EQ(guessLine(c), "256x256x108 i16 little header=0 volumes=1 score=0.934");
    c.layout = layoutOf({64, 64, 32}, vdtFloat64, boBigEndian, 348, 2);
    c.score = 0.0;
    EXPECT_EQ(guessLine(c), "64x64x32 f64 big header=348 volumes=2 score=0.000");
    c.layout.dataType = vdtInt8; // one byte: the order is never "big"
    c.score = 1.0;
    EXPECT_EQ(guessLine(c), "64x64x32 i8 little header=348 volumes=2 score=1.000");
}

} // namespace
