#pragma once

#include "layout/GuessHeaderNumbers.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The binary half of the numbers a header states (see statedNumbers):
// Int-16s and Int-32s of both byte orders, with the labels their records
// give them.

namespace GuessDetail
{

// Which of the binary numbers found are kept. Every number found counts
// toward the maximum all the same, so that whichever are kept, the same
// numbers are found.
enum class BinaryKeep : std::uint8_t
{
    All, // every one, each seen
    Seen, // those ending by seenEnd, and labelled ones past it (unseen)
    UnseenWide, // the others of 32 bits: unlabelled and past seenEnd (unseen)
};

// Adds the binary numbers of bytes (lying at file offset at) that keep asks
// for to out, in order of their offsets. The search stops where, counting
// foundBefore numbers found before (text), four more could exceed
// maxNumbers.
void addBinaryNumbers(std::span<const std::uint8_t> bytes, std::int64_t at, std::int64_t fileSize,
                      std::int64_t seenEnd, BinaryKeep keep, std::size_t foundBefore, std::size_t maxNumbers,
                      std::vector<StatedNumber>& out);

} // namespace GuessDetail
