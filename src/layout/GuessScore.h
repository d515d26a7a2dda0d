#pragma once

#include "layout/GuessDataStart.h"
#include "layout/NameHints.h"
#include "layout/VolumeLayout.h"

#include <cstdint>

// How the evidence for one candidate layout becomes its score (0 .. 1).
// A new kind of evidence is a unit of its own that yields a part 0 .. 1, one
// field of Evidence, one weight in EvidenceWeights (the weights keep summing
// to 1) and one call where the guesser assembles a candidate (Guesser::add).

namespace GuessDetail
{

// What speaks for one candidate, each part 0 (against) .. 1 (for).
struct Evidence
{
    double decoding = 0.0; // step 1: the decoding's smoothness, with its sanity and preferences
    double rows = 0.0; // step 2: the row length as a period of the values
    double slices = 0.0; // step 3: the rows per slice as a period of the rows (or its prior)
    double name = 0.5; // the file name's dimensions (see nameEvidence)
    double header = 0.0; // the numbers the header states (GuessHeaderNumbers): the credence of one that places
                         // this layout, HeaderSilent when none does
    double statedType = 1.0; // a factor, not a weighed part: below 1 when the type or byte order differs from what
                             // the header's text states (GuessStatedType), else 1
};

// The type and order decide whether anything shows at all, so they weigh
// most; a wrong row length shears every slice, so it comes next.
inline constexpr double DecodingWeight = 0.2625;
inline constexpr double RowWeight = 0.225;
inline constexpr double SliceWeight = 0.15; // a wrong slice height still shows the right slices cut differently
inline constexpr double NameWeight = 0.1125; // names are often right but say nothing of most files
inline constexpr double HeaderWeight = 0.25; // dimensions a header states, placed where they fit the file, are what a
                                             // person reads in a hex dump; most headers state them, raw files do not

// Every part with its weight, in the order they are summed; the weights
// make 1.
struct WeightedPart
{
    double Evidence::*part;
    double weight;
};
inline constexpr WeightedPart EvidenceWeights[] = {
    {&Evidence::decoding, DecodingWeight},
    {&Evidence::rows, RowWeight},
    {&Evidence::slices, SliceWeight},
    {&Evidence::name, NameWeight},
    {&Evidence::header, HeaderWeight},
};
static_assert(DecodingWeight + RowWeight + SliceWeight + NameWeight + HeaderWeight > 0.9999 &&
              DecodingWeight + RowWeight + SliceWeight + NameWeight + HeaderWeight < 1.0001);

inline constexpr double HeaderSilent = 0.5; // header evidence of a candidate no statement places
// Where nothing tells a slice's two readings apart (its rows cannot be
// measured, its header labels both numbers alike), the one taller than wide
// is a little less likely: images are more often wide than tall.
inline constexpr double TallerThanWide = 0.99;

// Name evidence: the name states these dimensions, states others, or none.
inline constexpr double NameAgrees = 1.0;
inline constexpr double NameDisagrees = 0.2;
inline constexpr double NameSilent = 0.5;

// The name's dimensions (parseNameHints) are those of l: a triple with its
// volume count or a row and slice pair. A name's single volume is no match
// for the same slices split into volumes.
bool nameMatches(const NameHints& hints, const VolumeLayout& l);
// NameAgrees / NameDisagrees when the name states dimensions, else NameSilent.
double nameEvidence(const NameHints& hints, bool match);

// How well a header of h bytes fits (0 .. 1), given where the voxels seem
// to start: no header is the most common, then the usual sizes (of the
// whole file's header, where the bytes are a part of a file).
double headerFit(std::int64_t h, const DataStart& start);
inline constexpr double TrailingBytesFit = 0.7; // a header of the usual sizes, with bytes left over after the last
                                                // whole slice, fits this much less than headerFit says
// The usual header sizes (none, NIfTI-1 and Analyze headers, blocks).
inline constexpr std::int64_t CommonHeaders[] = {0, 256, 348, 352, 512, 1024, 2048, 4096, 8192};

// The candidate's score: the header fit times the weighted evidence, less
// when the name states another type or byte order (multiByte: the type has
// more than one byte, so the order matters).
double candidateScore(const Evidence& e, double fit, const NameHints& hints, const VolumeLayout& l, bool multiByte);

// One slice filling the file is seldom much taller or wider than 4:1 (a
// volume's slices read as one long strip are): its evidence is multiplied
// by this factor, 1 up to that shape, then shrinking with the square root
// of the excess.
double singleSliceShape(std::int64_t width, std::int64_t height);

} // namespace GuessDetail
