#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"

#include <vector>

namespace GuessDetail
{

// Step 1: every type, byte order and phase, rated (Decoding::smooth and
// score) from chunks spread over the sampled file, best first.
std::vector<Decoding> rateDecodings(Sampler& sampler);

} // namespace GuessDetail
