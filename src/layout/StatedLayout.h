#pragma once

#include "layout/LayoutGuess.h"
#include "layout/NameHints.h"

#include <optional>
#include <vector>

// Another source's bytes, with a count of the bytes read through it.
class CountingLayoutSource final : public LayoutSource
{
public:
    explicit CountingLayoutSource(const LayoutSource& source) : m_source(source) {}
    std::int64_t size() const override { return m_source.size(); }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override
    {
        const std::size_t got = m_source.readAt(offset, dest, count);
        m_read += static_cast<std::int64_t>(got);
        return got;
    }
    std::int64_t bytesRead() const { return m_read; }

private:
    const LayoutSource& m_source;
    mutable std::int64_t m_read = 0;
};

// A layout the file name states in full: dimensions (and volumes), the
// voxel type and, for a multi-byte type, the byte order, filling the file
// exactly with no header ("noise_100x50x20_u8.raw" of 100,000 bytes). When
// the name gives no order, the order whose neighbouring voxels are the more
// alike is taken. Absent when the name states less, the layout does not fill
// the file exactly, or the bytes contradict it (see statedLayoutContradicted).
// Reads at most byteBudget bytes; with none left the name alone decides
// (little-endian where it gives no order).
std::optional<VolumeLayout> statedLayout(const NameHints& hints, const LayoutSource& source,
                                         std::int64_t byteBudget = GuessSampleLimit);

// Whether the bytes clearly contradict a stated layout: read as a float type,
// most sampled values are infinite, huge or denormal (NaN counts as neither
// way: NaN borders are float data); read in the stated byte order, the
// neighbouring voxels are as unlike as noise while the other order reads
// them smoothly. Samples at most 256 KiB through source.
bool statedLayoutContradicted(const VolumeLayout& layout, const LayoutSource& source);

// The guesser's ranking with the name heard: a stated layout (statedLayout)
// is listed first, with the best score, and its reason says so; a candidate
// of the same layout found by the bytes moves there instead of being added
// twice. Without a stated layout the ranking is returned unchanged. At most
// maxCandidates; scores stay in order, best first. Reads at most byteBudget
// bytes (what the guess's budget has left).
std::vector<LayoutCandidate> heedStatedLayout(std::vector<LayoutCandidate> guesses, const NameHints& hints,
                                              const LayoutSource& source, std::size_t maxCandidates,
                                              std::int64_t byteBudget);
