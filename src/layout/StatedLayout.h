#pragma once

#include "layout/LayoutGuess.h"
#include "layout/NameHints.h"

#include <optional>
#include <vector>

// A layout the file name states in full: dimensions (and volumes), the
// voxel type and, for a multi-byte type, the byte order, filling the file
// exactly with no header ("noise_100x50x20_u8.raw" of 100,000 bytes). When
// the name gives no order, the order whose neighbouring voxels are the more
// alike is taken. Absent when the name states less, the layout does not fill
// the file exactly, or the bytes contradict it (see statedLayoutContradicted).
std::optional<VolumeLayout> statedLayout(const NameHints& hints, const LayoutSource& source);

// Whether the bytes clearly contradict a stated layout: read as a float type,
// most sampled values are infinite, huge or denormal (NaN counts as neither
// way: NaN borders are float data); read in the stated byte order, the
// neighbouring voxels are as unlike as noise while the other order reads
// them smoothly. Samples at most a few hundred KiB through source.
bool statedLayoutContradicted(const VolumeLayout& layout, const LayoutSource& source);

// The guesser's ranking with the name heard: a stated layout (statedLayout)
// is listed first, with the best score, and its reason says so; a candidate
// of the same layout found by the bytes moves there instead of being added
// twice. Without a stated layout the ranking is returned unchanged. At most
// maxCandidates; scores stay in order, best first.
std::vector<LayoutCandidate> heedStatedLayout(std::vector<LayoutCandidate> guesses, const NameHints& hints,
                                              const LayoutSource& source, std::size_t maxCandidates);
