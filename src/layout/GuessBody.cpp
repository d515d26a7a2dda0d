#include "layout/GuessBody.h"

#include <cstdlib>

namespace GuessDetail
{
namespace
{

// Candidates found in the voxels between a header and trailing bytes (read
// as a file of their own) fit this much: as a header seen where it ends.
constexpr double BodyFit = 0.9;
// The voxels between them are seen to about this many voxels.
constexpr std::int64_t BodySlackVoxels = 32;

} // namespace

// A candidate's reason with its words on the header and trailing bytes
// replaced with these.
std::string reasonWithPlacement(const std::string& reason, std::int64_t header, std::int64_t trailing)
{
    std::string out;
    std::size_t from = 0;
    while (from <= reason.size()) {
        std::size_t to = reason.find("; ", from);
        if (to == std::string::npos)
            to = reason.size();
        const std::string part = reason.substr(from, to - from);
        const bool placement = part.starts_with("header ") || part.ends_with(" trailing bytes");
        if (!placement && !part.empty())
            out += (out.empty() ? "" : "; ") + part;
        from = to + 2;
    }
    if (header > 0)
        out += "; header " + std::to_string(header) + " bytes";
    if (trailing > 0)
        out += "; " + std::to_string(trailing) + " trailing bytes";
    return out;
}

std::vector<LayoutCandidate> mergeBodyGuesses(std::vector<LayoutCandidate> guesses, std::vector<LayoutCandidate> inner,
                                              std::int64_t begin, std::int64_t fileSize, std::size_t maxCandidates)
{
    const std::int64_t size = fileSize;
    for (LayoutCandidate c : inner) {
        // The body's bounds are seen to a window or so: where its voxels
        // would end the file exactly, near there, they do.
        VolumeLayout& l = c.layout;
        const std::int64_t seen = begin + l.headerBytes;
        const std::int64_t atEnd = size - layoutDataBytes(l);
        const std::int64_t width = bytesPerVoxelOf(l.dataType);
        if (atEnd != seen && atEnd >= 0 && std::llabs(atEnd - seen) <= BodySlackVoxels * width &&
            (atEnd - seen) % width == 0) {
            l.headerBytes = atEnd;
            c.reason = reasonWithPlacement(c.reason, atEnd, 0);
        } else {
            l.headerBytes = seen;
        }
        c.score *= BodyFit;
        guesses.push_back(std::move(c));
    }
    std::stable_sort(guesses.begin(), guesses.end(),
                     [](const LayoutCandidate& a, const LayoutCandidate& b) { return a.score > b.score; });
    std::vector<LayoutCandidate> out;
    for (LayoutCandidate& c : guesses)
        if (out.size() < maxCandidates &&
            std::none_of(out.begin(), out.end(), [&](const LayoutCandidate& o) { return o.layout == c.layout; }))
            out.push_back(std::move(c));
    return out;
}

} // namespace GuessDetail
