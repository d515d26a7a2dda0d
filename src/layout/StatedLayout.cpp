#include "layout/StatedLayout.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr std::int64_t SampleChunks = 16;
constexpr std::int64_t ChunkBytes = 16384;

// Float values no instrument writes: infinities, magnitudes past 1e30 and
// denormal-small ones (what other types' bytes read as a float look like).
constexpr double HugeFloat = 1e30;
constexpr double TinyFloat = 1e-30;

// Chunks of whole voxels spread evenly over the layout's data, at most
// byteBudget bytes in all.
std::vector<std::vector<std::uint8_t>> sampleData(const VolumeLayout& layout, const LayoutSource& source,
                                                  std::int64_t byteBudget)
{
    const std::int64_t width = bytesPerVoxelOf(layout.dataType);
    const std::int64_t dataBytes = layoutDataBytes(layout);
    const std::int64_t chunk = std::min({ChunkBytes, dataBytes, byteBudget}) / width * width;
    std::vector<std::vector<std::uint8_t>> chunks;
    if (chunk <= 0)
        return chunks;
    const std::int64_t count = std::min(dataBytes > chunk ? SampleChunks : 1, byteBudget / chunk);
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t within = count > 1 ? (dataBytes - chunk) / (count - 1) * k / width * width : 0;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(chunk));
        const std::size_t got = source.readAt(layout.headerBytes + within, bytes.data(), bytes.size());
        bytes.resize(got / static_cast<std::size_t>(width) * static_cast<std::size_t>(width));
        if (!bytes.empty())
            chunks.push_back(std::move(bytes));
    }
    return chunks;
}

struct Reading
{
    std::int64_t values = 0; // not NaN
    std::int64_t implausible = 0; // of values, for a float type
    double roughness = -1.0; // mean step between neighbours over mean deviation; -1 without spread
};

// Noise reads about 1.3 to 1.4 as roughness, smooth data far less.
Reading readAs(const std::vector<std::vector<std::uint8_t>>& chunks, TVoxelDataType type, bool bigEndian)
{
    const std::int64_t width = bytesPerVoxelOf(type);
    const bool isFloat = voxelTypeInfo(type)->isFloat;
    Reading r;
    double sum = 0.0;
    std::vector<double> values;
    double steps = 0.0;
    std::int64_t stepCount = 0;
    for (const std::vector<std::uint8_t>& bytes : chunks) {
        double previous = std::nan("");
        for (std::size_t at = 0; at + static_cast<std::size_t>(width) <= bytes.size(); at += static_cast<std::size_t>(width)) {
            const double v = voxelValue(bytes.data() + at, type, bigEndian);
            if (std::isnan(v)) {
                previous = v;
                continue;
            }
            ++r.values;
            const double magnitude = std::fabs(v);
            if (isFloat && (std::isinf(v) || magnitude > HugeFloat || (v != 0.0 && magnitude < TinyFloat))) {
                ++r.implausible;
                previous = std::nan("");
                continue;
            }
            values.push_back(v);
            sum += v;
            if (!std::isnan(previous)) {
                steps += std::fabs(v - previous);
                ++stepCount;
            }
            previous = v;
        }
    }
    if (values.empty() || stepCount == 0)
        return r;
    const double mean = sum / static_cast<double>(values.size());
    double deviation = 0.0;
    for (const double v : values)
        deviation += std::fabs(v - mean);
    deviation /= static_cast<double>(values.size());
    if (deviation > 0.0)
        r.roughness = steps / static_cast<double>(stepCount) / deviation;
    return r;
}

bool contradicted(const VolumeLayout& layout, const std::vector<std::vector<std::uint8_t>>& chunks)
{
    const bool big = layout.byteOrder == boBigEndian;
    const Reading stated = readAs(chunks, layout.dataType, big);
    if (stated.values > 0 && stated.implausible * 4 > stated.values)
        return true;
    if (bytesPerVoxelOf(layout.dataType) == 1)
        return false;
    const Reading other = readAs(chunks, layout.dataType, !big);
    return stated.roughness > 1.0 && other.roughness >= 0.0 && other.roughness < 0.5 &&
           other.implausible * 4 <= other.values;
}

} // namespace

bool statedLayoutContradicted(const VolumeLayout& layout, const LayoutSource& source)
{
    return contradicted(layout, sampleData(layout, source, SampleChunks * ChunkBytes));
}

std::optional<VolumeLayout> statedLayout(const NameHints& hints, const LayoutSource& source, std::int64_t byteBudget)
{
    if (!hints.dataType)
        return std::nullopt;
    for (const NameHints::Dims& t : hints.triples) {
        VolumeLayout l;
        l.dims = t.dims;
        l.volumes = t.volumes;
        l.dataType = *hints.dataType;
        l.byteOrder = boLittleEndian;
        l.headerBytes = 0;
        if (layoutDataBytes(l) != source.size())
            continue;
        const std::vector<std::vector<std::uint8_t>> chunks = sampleData(l, source, byteBudget);
        if (bytesPerVoxelOf(l.dataType) > 1) {
            if (hints.byteOrder) {
                l.byteOrder = *hints.byteOrder;
            } else {
                // The order that reads neighbours more alike; little-endian on a tie.
                const Reading little = readAs(chunks, l.dataType, false);
                const Reading big = readAs(chunks, l.dataType, true);
                const bool bigBetter = big.implausible * 4 <= big.values && big.roughness >= 0.0 &&
                                       (little.roughness < 0.0 || big.roughness < little.roughness ||
                                        little.implausible * 4 > little.values);
                l.byteOrder = bigBetter ? boBigEndian : boLittleEndian;
            }
        }
        if (contradicted(l, chunks))
            continue;
        return l;
    }
    return std::nullopt;
}

std::vector<LayoutCandidate> heedStatedLayout(std::vector<LayoutCandidate> guesses, const NameHints& hints,
                                              const LayoutSource& source, std::size_t maxCandidates,
                                              std::int64_t byteBudget)
{
    if (maxCandidates == 0)
        return guesses;
    const std::optional<VolumeLayout> stated = statedLayout(hints, source, byteBudget);
    // Never a layout the window cannot show, stated or not.
    if (!stated || !unshowableLayoutReason(*stated).empty())
        return guesses;
    LayoutCandidate first;
    first.layout = *stated;
    first.score = 0.5; // the name alone, when the bytes proposed nothing
    const auto found =
        std::find_if(guesses.begin(), guesses.end(), [&](const LayoutCandidate& c) { return c.layout == *stated; });
    std::string reason = "name states this layout, which fills the file exactly";
    if (found != guesses.end()) {
        first.score = found->score;
        reason += "; " + found->reason;
        guesses.erase(found);
    }
    if (!guesses.empty())
        first.score = std::max(first.score, guesses.front().score);
    first.reason = std::move(reason);
    guesses.insert(guesses.begin(), std::move(first));
    if (guesses.size() > maxCandidates)
        guesses.resize(maxCandidates);
    return guesses;
}
