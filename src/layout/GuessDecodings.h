#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"

#include <optional>
#include <vector>

namespace GuessDetail
{

// Step 1: every type, byte order and phase, rated (Decoding::smooth and
// score) from chunks spread over the sampled file, best first; over the
// bytes [begin, end) of it where given (end < 0: the file's end).
std::vector<Decoding> rateDecodings(Sampler& sampler, std::int64_t begin = 0, std::int64_t end = -1);

// Of two readings in chosen that show every sampled value alike signed and
// unsigned, only one is kept: the named type where it is one of them, else
// the better rated of the two in ranked; it is marked signAlike, so that its
// reasons say the other reads the same.
std::vector<Decoding> oneOfEachSignTwin(const std::vector<Decoding>& chosen, const std::vector<Decoding>& ranked,
                                        std::optional<TVoxelDataType> named);

} // namespace GuessDetail
