#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"

#include <cstdint>
#include <vector>

namespace GuessDetail
{

// Where the voxels seem to start and end. A header (and trailing bytes) is
// where the bytes do not decode like the data: text, values that jump about
// far more than the voxels do, values no volume holds. Runs of one value
// (zeros, spaces, NaN) are neither: they may be padding or an empty
// background, and the size decides. Headers and trailing bytes are looked
// for within EdgeBytes of either end.
struct DataStart
{
    std::int64_t offset = 0; // just past the header's last unlike bytes; 0 when no header is seen
    std::int64_t precision = 0; // bytes the offset and the end may be off by
    bool dataFromStart = false; // the first bytes look like voxels, not a blank header
    // Past a run of one value after the header that the voxels elsewhere
    // never hold (padding to a block); offset when there is none.
    std::int64_t afterPadding = 0;
    // Where the unlike bytes at the end start; the file's size when none are seen.
    std::int64_t end = 0;
    // Before a run of one value at the end that the voxels elsewhere never
    // hold (padding to a block); end when there is none.
    std::int64_t endBeforePadding = 0;
    // Where these bytes lie in their file (the voxels between a header and
    // trailing bytes, guessed again on their own): a header's usual sizes
    // count from the file's start.
    std::int64_t origin = 0;
};

// The median of n (1 .. 16) values, none of them NaN: the (n / 2)-th
// smallest, counting from 0 (what std::nth_element puts there). A window's
// roughness.
double medianOfFew(const double* values, std::size_t n);

// Step 4: where the voxels of decoding d seem to start and end.
DataStart findDataStart(Sampler& sampler, const Decoding& d);

// A place for count whole units (slices, or rows of one slice) after a
// header, with how well it fits what the bytes show (0 .. 1).
struct Placement
{
    std::int64_t header = 0;
    std::int64_t count = 0;
    double fit = 0.0;
};

// The places for whole units of unitBytes in a file of size bytes whose
// voxels are read by d: the data at the end of the file (the header is what
// the units leave over, with as many units more as the header seen takes),
// and the data from where it seems to start to where it seems to end, with
// trailing bytes. Distinct places, best fit first.
std::vector<Placement> placeUnits(std::int64_t size, std::int64_t unitBytes, const Decoding& d, const DataStart& start);

} // namespace GuessDetail
