#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"
#include "layout/VolumeLayout.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace GuessDetail
{

// Step 5: the number of volumes among `slices` slices of layout l read with
// decoding d: more than one only when slices one volume apart are much more
// alike than slices half a volume apart; of several such volume lengths the
// shortest that is nearly as clear as the clearest. The volume counts tried
// are the first maxCounts that divide the slices.
std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices,
                           std::size_t maxCounts);

// The evidence detectVolumes weighs: for each volume count tried, fewest
// first, the period evidence of slices one volume apart against slices half
// and one and a half volumes apart (periodEvidence); NaN where the slices one
// volume apart are no more alike than those half a volume apart.
std::vector<std::pair<std::int64_t, double>> volumeCountEvidence(Sampler& sampler, const Decoding& d, const VolumeLayout& l,
                                                                 std::int64_t slices, std::size_t maxCounts);

} // namespace GuessDetail

namespace GuessDetail
{

// Frames that differ (a difference frame beside a raw one): evidence 0 .. 1,
// indexed by the number of frames (2 .. maxFrames), that one slice of `rows`
// rows of rowVoxels voxels, from byte `header` on, is that many frames
// stacked: the rows change sharply at every frame boundary and nowhere else.
std::vector<double> frameEdgeEvidence(Sampler& sampler, const Decoding& d, std::int64_t header, std::int64_t rowVoxels,
                                      std::int64_t rows, std::int64_t maxFrames);

} // namespace GuessDetail

namespace GuessDetail
{

// A volume of a few slices read as one tall slice: the rows repeat every
// volume (a series of volumes, copies nearly alike), but the few slices
// inside barely resemble each other, so no period shows their height. A
// period of volumeRows rows (evidence volumeEvidence, at least 0.5) that is
// much taller than its rows are wide is split into the heights that divide
// it into slices near square (at most MaxVolumeSliceHeights): each with the
// evidence it takes over from the period, and the factor the tall reading's
// evidence is weighed by (1 where nothing divides). The heights are ranked
// by how sharply the rows change at their slice edges (rowChange: the mean
// change from row r to row r + 1 of a volume, see volumeRowChange; empty when
// not measured), then by how near square they are.
inline constexpr std::size_t MaxVolumeSliceHeights = 2;
struct VolumeSlices
{
    struct Height
    {
        std::int64_t rows = 0; // rows per slice
        std::int64_t slices = 0; // slices per volume
        double evidence = 0.0;
    };
    std::vector<Height> heights;
    double tallFactor = 1.0;
};
// Whether a period of volumeRows rows of rowVoxels with that evidence may be
// such a volume (the rows' change then tells its slices).
bool mayBeVolume(std::int64_t rowVoxels, std::int64_t volumeRows, double volumeEvidence);
VolumeSlices slicesWithinVolume(std::int64_t rowVoxels, std::int64_t volumeRows, double volumeEvidence,
                                std::span<const double> rowChange = {});

// How much row r of a volume of volumeRows rows of rowVoxels differs from
// row r + 1 (the last row from the next volume's first), over a few volumes
// spread over the file from its first byte (fewer of taller volumes, at
// most VolumeEdgeRowBudget rows): NaN where not measured. Empty when the
// file holds fewer than two such volumes or longer ones than
// MaxVolumeEdgeRows.
inline constexpr std::int64_t MaxVolumeEdgeRows = 4096;
inline constexpr std::int64_t VolumeEdgeRowBudget = 8192;
std::vector<double> volumeRowChange(Sampler& sampler, const Decoding& d, std::int64_t rowVoxels, std::int64_t volumeRows);

} // namespace GuessDetail
