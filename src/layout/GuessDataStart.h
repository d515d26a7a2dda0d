#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"

#include <cstdint>

namespace GuessDetail
{

// Where the voxels seem to start: the end of the rough run of values at the
// start of the file (a header's bytes decode to values that jump about,
// voxels are as smooth as in the middle of the file). A header of zeros looks
// like nothing and is not seen.
struct DataStart
{
    std::int64_t offset = 0; // 0 when no header is seen
    std::int64_t precision = 0; // bytes the offset may be off by
    bool dataFromStart = false; // the first bytes look like voxels, not a blank header
};

// Step 4: where the voxels of decoding d seem to start.
DataStart findDataStart(Sampler& sampler, const Decoding& d);

} // namespace GuessDetail
