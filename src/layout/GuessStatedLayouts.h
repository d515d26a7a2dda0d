#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessHeaderNumbers.h"
#include "layout/GuessStatedType.h"
#include "layout/VolumeLayout.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The layouts a header's statements give (GuessHeaderNumbers reads them):
// placed where they fit the file, then read and measured in their own data
// as candidates of their own, and weighed as evidence for the bytes'
// candidates they agree with.

namespace GuessDetail
{

// A layout a statement gives, placed in a file.
struct StatedPlace
{
    std::array<std::int64_t, 3> dims{1, 1, 1};
    std::int64_t volumes = 1;
    std::int64_t header = 0;
    int width = 1; // bytes per voxel
    double credence = 0.0; // 0.5 .. 1: how credible the statement and its place are
    std::array<std::int64_t, 2> said{0, 0}; // the first two numbers as stated, for the reason's words
    int count = 0; // numbers stated
    NumberForm form = NumberForm::Text; // how they are written
    std::int64_t statedAt = 0; // the statement's bytes [statedAt, statedEnd)
    std::int64_t statedEnd = 0;
    std::int64_t textEnd = -1; // text: the end of the statement's printable run (the header's text)
};

// Where the data a statement describes may lie in a file of size bytes, for
// voxels of width bytes: ending the file exactly (the statement in the
// header before it), right after the statement's printable run, after
// dataStart (where the bytes begin to look like voxels), or at an offset the
// header states. Two stated numbers take a slice count from another stated
// number where that ends the file exactly, else one slice (or one per
// repeat). The data never covers the statement, and a binary statement's
// data is most of the file or of what follows the header. Best first, each
// layout once, at most maxPlaces.
std::vector<StatedPlace> placeStatedDims(const std::vector<StatedDims>& statements,
                                         const std::vector<StatedNumber>& numbers, std::int64_t size, int width,
                                         const DataStart& start, const std::function<bool(std::int64_t)>& edgeAt,
                                         std::size_t maxPlaces = 16);

// The places worth reading as candidates, at most maxLooks, most credible
// first; of places equally credible, each width's best before any width's
// second. Places below the credence worth a look are left out.
std::vector<const StatedPlace*> statedLooks(const std::vector<StatedPlace>& places, std::size_t maxLooks);

// "the header states 62 x 44"
std::string statedWords(const StatedPlace& place);

// A stated layout read by one decoding and measured in the first bytes of
// its own data, for the guesser to score like the bytes' candidates.
struct StatedCandidate
{
    Decoding decoding;
    VolumeLayout layout;
    double rowEvidence = 0.0;
    double sliceEvidence = 0.0;
    double fit = 0.0;
    std::int64_t slices = 1; // slices in the file (all volumes)
    StatedPlace place; // its credence as read in the decoding's byte order
    bool rowsMeasured = false; // else rowEvidence is a prior
    bool slicesMeasured = false; // else sliceEvidence is a prior
};

// The guesser's priors for evidence that cannot be measured.
struct StatedPriors
{
    double unmeasured = 0.0; // a period that cannot be measured
    double singleSlice = 0.0; // one slice, without a slice period
};

// The header's statements placed in one file.
class StatedLayouts
{
public:
    // Reads the statements of the sampler's file and places them for every
    // voxel width. voxelsFromStart: the best decoding reads the bytes
    // smoothly (from the first, where start sees no header).
    void place(Sampler& sampler, const DataStart& start, bool voxelsFromStart);

    // The statement that places l (its dimensions, volumes and header), the
    // most credible; none when none does.
    const StatedPlace* placeOf(const VolumeLayout& l) const;

    // A place's credence for l: less where a binary statement is read in
    // the other byte order than l's data.
    static double credenceOf(const StatedPlace& p, const VolumeLayout& l);

    // The header evidence of a layout no statement places: none where its
    // voxels cover a credible statement or a statement of the type, or
    // begin well inside a credible statement's text, else silence.
    double unplacedEvidence(const VolumeLayout& l) const;

    // How l's type and order agree with those the header states in its text
    // (statedTypeFactor): 1 when they agree or none is stated.
    double typeFactor(const VolumeLayout& l, bool signAlike = false) const
    {
        return statedTypeFactor(m_types, l, signAlike);
    }

    // The most credible stated layouts as candidates, each read by the best
    // decodings of its width (those of the stated type first).
    // fileDecodings (the file's, rated over all of it): a stated layout
    // whose data is most of the file, and whose first bytes tell no
    // decoding from another (of one value), reads as smoothly as the file
    // does in the same decoding.
    std::vector<StatedCandidate> candidates(Sampler& sampler, const DataStart& start, StatedPriors priors,
                                            const std::vector<Decoding>* fileDecodings = nullptr) const;

private:
    std::vector<StatedPlace> m_places;
    std::vector<StatedType> m_types; // the type and order the header's text states
};

} // namespace GuessDetail
