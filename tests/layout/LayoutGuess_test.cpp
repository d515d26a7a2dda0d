#include "layout/LayoutGuess.h"

#include "LayoutPhantom.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

VolumeLayout layoutOf(std::array<std::int64_t, 3> dims, TVoxelDataType type, TByteOrder order, std::int64_t header,
                      std::int64_t volumes = 1)
{
    VolumeLayout l;
    l.dims = dims;
    l.dataType = type;
    l.byteOrder = voxelTypeInfo(type)->bytes == 1 ? boLittleEndian : order;
    l.headerBytes = header;
    l.volumes = volumes;
    return l;
}

struct CorpusCase
{
    phantom::Spec spec;
    std::string name;
};

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

std::string describe(const VolumeLayout& l)
{
    LayoutCandidate c;
    c.layout = l;
    return guessLine(c);
}

// Rank of want among the guesses (0 = first), or -1.
int rankOf(const std::vector<LayoutCandidate>& guesses, const VolumeLayout& want)
{
    for (std::size_t i = 0; i < guesses.size(); ++i)
        if (guesses[i].layout == want)
            return static_cast<int>(i);
    return -1;
}

TEST(LayoutGuess, CorpusRanksTheTrueLayoutFirst)
{
    const std::vector<CorpusCase> cases = corpus();
    int first = 0;
    int top3 = 0;
    for (const CorpusCase& c : cases) {
        const std::vector<std::uint8_t> bytes = phantom::make(c.spec);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, c.name);
        const int rank = rankOf(guesses, c.spec.layout);
        first += rank == 0 ? 1 : 0;
        top3 += rank >= 0 && rank < 3 ? 1 : 0;
        if (rank != 0) {
            std::string got;
            for (std::size_t i = 0; i < std::min<std::size_t>(3, guesses.size()); ++i)
                got += "\n    " + guessLine(guesses[i]) + "  (" + guesses[i].reason + ")";
            ADD_FAILURE() << "rank " << rank << " for " << describe(c.spec.layout) << got;
        }
    }
    const double n = static_cast<double>(cases.size());
    std::printf("corpus %zu files: first %.1f %%, top 3 %.1f %%\n", cases.size(), 100.0 * first / n, 100.0 * top3 / n);
}

} // namespace
