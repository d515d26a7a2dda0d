#pragma once

#include "layout/LayoutGuess.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// The voxels between a header and trailing bytes of a small file, guessed
// again as a file of their own (see withBodyGuesses in LayoutGuess.cpp).

namespace GuessDetail
{

// The bytes [begin, end) of a source, as a source of their own.
class BodySource final : public LayoutSource
{
public:
    BodySource(const LayoutSource& whole, std::int64_t begin, std::int64_t end)
        : m_whole(whole), m_begin(begin), m_size(end - begin)
    {
    }
    std::int64_t size() const override { return m_size; }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override
    {
        if (offset < 0 || offset >= m_size)
            return 0;
        count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), m_size - offset));
        return m_whole.readAt(m_begin + offset, dest, count);
    }

private:
    const LayoutSource& m_whole;
    std::int64_t m_begin;
    std::int64_t m_size;
};

// A candidate's reason with its words on the header and trailing bytes
// replaced with these.
std::string reasonWithPlacement(const std::string& reason, std::int64_t header, std::int64_t trailing);

// The candidates found in the body [begin, ...) of a file of fileSize bytes
// joined to the file's own guesses: placed in the file (where the body's
// voxels would end the file exactly, near where they were seen, they do),
// scored as a header seen where it ends, best first, each layout once, at
// most maxCandidates.
std::vector<LayoutCandidate> mergeBodyGuesses(std::vector<LayoutCandidate> guesses, std::vector<LayoutCandidate> inner,
                                              std::int64_t begin, std::int64_t fileSize, std::size_t maxCandidates);

} // namespace GuessDetail
