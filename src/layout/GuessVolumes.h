#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"
#include "layout/VolumeLayout.h"

#include <cstdint>
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
