#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"
#include "layout/VolumeLayout.h"

#include <cstdint>

namespace GuessDetail
{

// Step 5: the number of volumes (1 .. 4) among `slices` slices of layout l
// read with decoding d: more than one only when slices one volume apart are
// much more alike than slices half a volume apart.
std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices);

} // namespace GuessDetail
