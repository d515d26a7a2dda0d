#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"
#include "layout/VolumeLayout.h"

#include <cstdint>

namespace GuessDetail
{

// Step 5: the number of volumes among `slices` slices of layout l read with
// decoding d: more than one only when slices one volume apart are much more
// alike than slices half a volume apart; of several such volume lengths the
// shortest that is nearly as clear as the clearest.
std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices);

} // namespace GuessDetail
